# Checks of the programs and manuals as they ship: what the programs load,
# the manuals' lint, --help and --version, and the tools under valgrind.

# Sanitizer builds load their runtimes as shared libraries: only the
# programs as shipped are held to the C library.
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  foreach(program vantrel-dim vantrel-fade vantrel-sim vantrel)
    # vantrel's times of the sun (libnova, linked in) call the C library's mathematics.
    set(allow_libm $<STREQUAL:${program},vantrel>)
    add_test(NAME ${program}_needs_only_libc
      COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DEXE=$<TARGET_FILE:${program}>
        -DALLOW_LIBM=${allow_libm} -P ${CMAKE_CURRENT_SOURCE_DIR}/check_linux_needs.cmake)
  endforeach()
endif()

# The manuals ship in the packages: lint them like the code; a clean page
# gets no message at all. mandoc's style level is left out: it only says that
# each page's SEE ALSO names a page that is not installed yet.
if(DEFINED ENV{CI})
  set(lint_required REQUIRED)
endif()
find_program(MANDOC mandoc ${lint_required})
find_program(GROFF groff ${lint_required})
set(man_pages ${PROJECT_SOURCE_DIR}/man/vantrel-dim.1 ${PROJECT_SOURCE_DIR}/man/vantrel-fade.1
  ${PROJECT_SOURCE_DIR}/man/vantrel-sim.1 ${PROJECT_SOURCE_DIR}/man/vantrel.1
  ${PROJECT_SOURCE_DIR}/man/vantrel.toml.5 ${PROJECT_SOURCE_DIR}/man/vantreld.8)
if(MANDOC)
  add_test(NAME man_pages_mandoc_lint COMMAND ${MANDOC} -T lint -W warning ${man_pages})
  set_tests_properties(man_pages_mandoc_lint PROPERTIES FAIL_REGULAR_EXPRESSION ".")
endif()
if(GROFF)
  add_test(NAME man_pages_groff_warnings COMMAND ${GROFF} -ww -mandoc -z ${man_pages})
  set_tests_properties(man_pages_groff_warnings PROPERTIES FAIL_REGULAR_EXPRESSION ".")
endif()

foreach(program vantrel-fade vantrel-sim vantrel vantreld)
  add_test(NAME ${program}_version
    COMMAND sh -c "test \"$(${run_${program}} --version)\" = \"${program} ${PROJECT_VERSION}\"")
  add_test(NAME ${program}_help
    COMMAND sh -c "${run_${program}} --help >${program}-help.out && head -n 1 ${program}-help.out | grep -q '^usage: ${program} '")
endforeach()

# The shipped tool under valgrind: memory errors, leaks and stray
# descriptors, on the paths that release what open acquired. Required on CI;
# sanitizer builds turn it off, as valgrind cannot run them.
if(DEFINED ENV{CI})
  set(valgrind_default ON)
else()
  set(valgrind_default AUTO)
endif()
set(VANTREL_VALGRIND_TESTS ${valgrind_default} CACHE STRING "Run the tool under valgrind: AUTO, ON or OFF")
if(NOT VANTREL_VALGRIND_TESTS STREQUAL "OFF")
  if(VANTREL_VALGRIND_TESTS STREQUAL "ON")
    find_program(VALGRIND valgrind REQUIRED)
  else()
    find_program(VALGRIND valgrind)
  endif()
  if(VALGRIND)
    foreach(path success refused missing_reply fade units)
      set(program vantrel-dim)
      if(path STREQUAL "fade")
        set(program vantrel-fade)
      elseif(path STREQUAL "units")
        set(program vantrel)
      endif()
      add_test(NAME valgrind_${path}
        COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/under_valgrind.sh ${VALGRIND}
          $<TARGET_FILE:${program}> $<TARGET_FILE:vantrel-sim> ${path})
      set_tests_properties(valgrind_${path} PROPERTIES LABELS valgrind TIMEOUT 60)
    endforeach()
  else()
    message(WARNING "SKIPPING the valgrind runs: valgrind was not found")
  endif()
endif()
