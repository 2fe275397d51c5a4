# Fails unless EXE loads no shared library but the C library: a C++ runtime
# loaded at start-up would multiply what one call of the tool costs, and the
# package promises to need nothing else. With ALLOW_LIBM, the C library's
# mathematics (libm.so.6, of the same package) too: vantrel's times of the sun.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} could not read ${EXE}")
endif()
string(REGEX MATCHALL "NEEDED +[^\n]+" needs "${dump}")
if(NOT needs)
  message(FATAL_ERROR "found no NEEDED entries in ${EXE}: not a dynamic executable?")
endif()
foreach(need IN LISTS needs)
  string(REGEX REPLACE "NEEDED +" "" library "${need}")
  # The dynamic loader comes with the C library (statically linked C++
  # runtimes ask it for thread-local storage).
  if(ALLOW_LIBM AND library STREQUAL "libm.so.6")
    continue()
  endif()
  if(NOT library MATCHES "^(libc\\.so\\.6|ld-linux-x86-64\\.so\\.2|ld-linux-aarch64\\.so\\.1)$")
    message(FATAL_ERROR "${EXE} needs ${library}")
  endif()
endforeach()
