# Where `cmake --install` puts the programs and their manuals, and the
# packages CPack makes of them: a .deb on Linux, a .zip on Windows.
include(GNUInstallDirs)

if(WIN32)
  # A Windows user unpacks the .zip and runs the .exe files from where they
  # lie, with their manuals beside them as plain text.
  set(windows_programs vantrel-dim vantrel-fade vantrel-sim)
  install(TARGETS ${windows_programs} RUNTIME DESTINATION .)
  # How to try everything in cmd, in the line ends Notepad expects.
  configure_file(doc/README-windows.txt ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY
    NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)
  find_program(MANDOC mandoc)
  find_program(COL col)
  if(MANDOC AND COL)
    foreach(program IN LISTS windows_programs)
      set(text_manual ${CMAKE_CURRENT_BINARY_DIR}/${program}.txt)
      add_custom_command(OUTPUT ${text_manual}
        COMMAND ${CMAKE_COMMAND} -DMANDOC=${MANDOC} -DCOL=${COL} "-DOS=${program} ${PROJECT_VERSION}"
          -DPAGE=${PROJECT_SOURCE_DIR}/man/${program}.1 -DTEXT=${text_manual}
          -P ${PROJECT_SOURCE_DIR}/cmake/text_manual.cmake
        DEPENDS ${PROJECT_SOURCE_DIR}/man/${program}.1 ${PROJECT_SOURCE_DIR}/cmake/text_manual.cmake
        COMMENT "Rendering ${program}(1) as plain text")
      add_custom_target(${program}_text_manual ALL DEPENDS ${text_manual})
      install(FILES ${text_manual} DESTINATION .)
    endforeach()
  else()
    message(WARNING "mandoc or col not found: the package will lack the text manuals")
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
else()
  install(TARGETS vantrel-dim vantrel-fade vantrel-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES man/vantrel-dim.1 man/vantrel-fade.1 man/vantrel-sim.1 man/vantrel.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES man/vantrel.toml.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  # Computed from what the programs load, which is the C library alone.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_PACKAGE_NAME vantrel-dim)
set(CPACK_PACKAGE_CONTACT "vantrel-dim developers <vantrel-dim@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set the light output of a Vantrel power unit over TCP")
set(CPACK_PACKAGE_DESCRIPTION
  "vantrel-dim sends one level command to a dimmable lighting power unit and reports whether the unit echoed it. vantrel-fade takes a unit from one level to another over time. vantrel-sim stands in for a unit, for trying them out and for scripts' tests.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
