# Renders a man page as the plain text a Windows user opens in Notepad:
# UTF-8 without the terminal's overstrikes, with CR LF line ends, and the
# program's name and version at its foot rather than the build machine's.
execute_process(COMMAND ${MANDOC} -T utf8 "-Ios=${OS}" ${PAGE}
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${COL} -bx
  OUTPUT_VARIABLE text RESULT_VARIABLE results COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
