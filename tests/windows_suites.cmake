# The Windows build, cross-compiled with mingw-w64 beside this one and run
# under wine by the same end-to-end cases, plus its own unit tests.
#
# VANTREL_WINE_TESTS: AUTO runs them when the cross compiler, wine and the
# ja_JP.UTF-8 locale are all present and says it skipped them otherwise; ON
# requires them (the default on CI, where nothing may be skipped); OFF leaves
# them out without a word.

if(DEFINED ENV{CI})
  set(wine_default ON)
else()
  set(wine_default AUTO)
endif()
set(VANTREL_WINE_TESTS ${wine_default} CACHE STRING "Cross-build for Windows and test it under wine: AUTO, ON or OFF")
set_property(CACHE VANTREL_WINE_TESTS PROPERTY STRINGS AUTO ON OFF)
if(VANTREL_WINE_TESTS STREQUAL "AUTO")
  set(wine_required FALSE)
elseif(VANTREL_WINE_TESTS)
  set(wine_required TRUE)
else()
  return()
endif()

find_program(VANTREL_MINGW_CXX x86_64-w64-mingw32-g++-posix)
find_program(VANTREL_WINE wine)
find_program(VANTREL_WINESERVER wineserver)
find_program(VANTREL_OBJDUMP x86_64-w64-mingw32-objdump)
execute_process(COMMAND locale -a OUTPUT_VARIABLE locales ERROR_QUIET)
string(TOLOWER "${locales}" locales)

set(missing "")
if(NOT VANTREL_MINGW_CXX OR NOT VANTREL_OBJDUMP)
  list(APPEND missing "mingw-w64 (apt-get install g++-mingw-w64-x86-64)")
endif()
if(NOT VANTREL_WINE OR NOT VANTREL_WINESERVER)
  list(APPEND missing "wine (apt-get install wine wine64)")
endif()
if(NOT locales MATCHES "ja_jp\\.utf-?8")
  list(APPEND missing "the ja_JP.UTF-8 locale (localedef -i ja_JP -f UTF-8 ja_JP.UTF-8)")
endif()
if(missing)
  string(JOIN ", " missing ${missing})
  if(wine_required)
    message(FATAL_ERROR "The Windows suites need ${missing}.")
  endif()
  message(WARNING "SKIPPING the Windows suites: they need ${missing}.")
  add_test(NAME windows_suites COMMAND ${CMAKE_COMMAND} -E echo "SKIPPED: the Windows suites need ${missing}")
  set_tests_properties(windows_suites PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED")
  return()
endif()

# Every wine command of the run goes through this, in a prefix of its own.
set(wine_dir ${CMAKE_BINARY_DIR}/wine)
set(wine_env ${wine_dir}/wine-env)
file(CONFIGURE OUTPUT ${wine_env} @ONLY CONTENT [[#!/bin/sh
# Runs a wine command in the tests' own wine prefix, without wine's chatter.
export WINEPREFIX='@wine_dir@/prefix'
export WINEDEBUG=-all
exec "$@"
]])
file(CHMOD ${wine_env} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

include(ExternalProject)
set(windows_dir ${CMAKE_BINARY_DIR}/windows)
ExternalProject_Add(windows_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${windows_dir}
  LIST_SEPARATOR |
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DVANTREL_BUILD_TESTS=ON
    -DVANTREL_WERROR=${VANTREL_WERROR}
    -DCMAKE_CROSSCOMPILING_EMULATOR=${wine_env}|${VANTREL_WINE}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
add_dependencies(end_to_end_tests windows_build)

target_compile_definitions(end_to_end_tests PRIVATE
  VANTREL_WINE_ENV="${wine_env}"
  VANTREL_WINE="${VANTREL_WINE}"
  VANTREL_WINDOWS_DIM_PATH="${windows_dir}/vantrel-dim.exe"
  VANTREL_WINDOWS_DIM_SCRIPTED_PATH="${windows_dir}/tests/vantrel-dim-scripted.exe"
  VANTREL_WINDOWS_FADE_PATH="${windows_dir}/vantrel-fade.exe"
  VANTREL_WINDOWS_SIM_PATH="${windows_dir}/vantrel-sim.exe"
  VANTREL_WINDOWS_VANTREL_PATH="${windows_dir}/vantrel.exe")

# Wine's first start in a prefix takes seconds; after that a running
# wineserver makes each start quick. One serves the whole run, started and
# its prefix booted before the first case: a server that a wine program
# starts by itself goes after 3 idle seconds, and a program started in such
# a server's first seconds sometimes fails in wine with no line of ours
# ("wine client error:0: recvmsg: ...", one new server in 25 here). It stays
# up across the run's longest stretch without wine (minutes); one left by a
# run cut short goes after half an hour idle, or at the next run's start.
# Its output goes nowhere: wine's helper processes inherit it and live as
# long as the server, and ctest would wait for them to close it.
set(quiet "</dev/null >/dev/null 2>&1")
add_test(NAME wine_start COMMAND ${wine_env} sh -c
  "'${VANTREL_WINESERVER}' -k ${quiet}; '${VANTREL_WINESERVER}' -w; '${VANTREL_WINESERVER}' -p1800 ${quiet} && '${VANTREL_WINE}' wineboot --init ${quiet}")
add_test(NAME wine_stop COMMAND ${wine_env} sh -c "'${VANTREL_WINESERVER}' -k ${quiet} || true")
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)

# A user copies an .exe alone to a Windows machine: it may need nothing
# beyond the DLLs that come with every Windows.
foreach(program vantrel-dim vantrel-fade vantrel-sim vantrel)
  add_test(NAME windows_${program}_needs_only_system_dlls COMMAND ${CMAKE_COMMAND}
    -DOBJDUMP=${VANTREL_OBJDUMP} -DEXE=${windows_dir}/${program}.exe
    -P ${CMAKE_CURRENT_SOURCE_DIR}/check_windows_imports.cmake)
endforeach()

# The Windows build's own tests, discovered under wine, run with these.
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${wine_dir}/windows_tests.cmake)
file(WRITE ${wine_dir}/windows_tests.cmake "subdirs(\"${windows_dir}/tests\")\n")
