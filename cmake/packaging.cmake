# Where `cmake --install` puts the programs and their manuals, and the
# packages CPack makes of them: a .deb on Linux, a .zip on Windows.
include(GNUInstallDirs)

if(WIN32)
  # A Windows user unpacks the .zip and runs the .exe files from where they
  # lie, with their manuals beside them as plain text.
  set(windows_programs vantrel-dim vantrel-fade vantrel-sim vantrel)
  install(TARGETS ${windows_programs} RUNTIME DESTINATION .)
  # How to try everything in cmd, and a units file for the simulator's three
  # units, in the line ends Notepad expects; vantrel.exe finds the file in
  # the folder it is run from.
  configure_file(doc/README-windows.txt ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY
    NEWLINE_STYLE CRLF)
  configure_file(doc/vantrel.toml ${CMAKE_CURRENT_BINARY_DIR}/vantrel.toml @ONLY
    NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/vantrel.toml
    DESTINATION .)
  find_program(MANDOC mandoc)
  find_program(COL col)
  if(MANDOC AND COL)
    foreach(page vantrel-dim.1 vantrel-fade.1 vantrel-sim.1 vantrel.1 vantrel.toml.5)
      string(REGEX REPLACE "\\.[0-9]$" "" name ${page})
      # The foot names the program the page belongs to.
      string(REGEX REPLACE "\\.toml$" "" program ${name})
      set(text_manual ${CMAKE_CURRENT_BINARY_DIR}/${name}.txt)
      add_custom_command(OUTPUT ${text_manual}
        COMMAND ${CMAKE_COMMAND} -DMANDOC=${MANDOC} -DCOL=${COL} "-DOS=${program} ${PROJECT_VERSION}"
          -DPAGE=${PROJECT_SOURCE_DIR}/man/${page} -DTEXT=${text_manual}
          -P ${PROJECT_SOURCE_DIR}/cmake/text_manual.cmake
        DEPENDS ${PROJECT_SOURCE_DIR}/man/${page} ${PROJECT_SOURCE_DIR}/cmake/text_manual.cmake
        COMMENT "Rendering ${page} as plain text")
      add_custom_target(${name}_text_manual ALL DEPENDS ${text_manual})
      install(FILES ${text_manual} DESTINATION .)
    endforeach()
  else()
    message(WARNING "mandoc or col not found: the package will lack the text manuals")
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
else()
  install(TARGETS vantrel-dim vantrel-fade vantrel-sim vantrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/vantrel.toml DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vantrel-dim/examples)
  install(FILES man/vantrel-dim.1 man/vantrel-fade.1 man/vantrel-sim.1 man/vantrel.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES man/vantrel.toml.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
  # vantreld's systemd unit and its user, for its own package.
  install(FILES packaging/vantreld.service DESTINATION lib/systemd/system COMPONENT vantreld
    EXCLUDE_FROM_ALL)
  install(FILES packaging/vantreld.sysusers DESTINATION lib/sysusers.d RENAME vantreld.conf
    COMPONENT vantreld EXCLUDE_FROM_ALL)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  if(CMAKE_CROSSCOMPILING)
    # CPack would name the build machine's architecture: dpkg names the
    # target's from its GNU type (aarch64-linux-gnu is arm64).
    execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
      OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
      ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  # Computed from what the programs load: the C library alone for the tools,
  # which carry their C++ runtime inside; libmosquitto too for vantreld.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Two packages: the tools, and the service with the libraries it needs.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL Unspecified vantreld)
  set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME vantrel-dim)
  set(CPACK_DEBIAN_VANTRELD_PACKAGE_NAME vantreld)
  set(CPACK_DEBIAN_VANTRELD_PACKAGE_DEPENDS "vantrel-dim (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_VANTRELD_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst)
  set(CPACK_DEBIAN_VANTRELD_DESCRIPTION
    "the units service: Vantrel power units over MQTT, with Home Assistant discovery\nvantreld serves the units, groups and scenes of a units file to home automation over MQTT, from one engine and one set of confirmed levels. Its systemd unit, vantreld.service, runs it as the user vantrel once enabled.")
endif()

set(CPACK_PACKAGE_NAME vantrel-dim)
set(CPACK_PACKAGE_CONTACT "vantrel-dim developers <vantrel-dim@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set the light output of a Vantrel power unit over TCP")
set(CPACK_PACKAGE_DESCRIPTION
  "vantrel-dim sends one level command to a dimmable lighting power unit and reports whether the unit echoed it. vantrel-fade takes a unit from one level to another over time. vantrel sets and fades many units at once, in step, by the names, groups and scenes of a units file, and remembers their levels. vantrel-sim stands in for units, for trying them out and for scripts' tests.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
