# cmake -DMODE=lint|gzip|text -DTOOL=<mandoc or gzip> -DINPUT=<page> [-DOUTPUT=<file>] [-DOS=<text>]
#   -P render.cmake
# lint: mandoc -T lint -W warning, failing on any message; gzip: gzip -9n (no name, no time, so
# the file is the same from build to build); text: mandoc -T ascii without the overstrikes a
# terminal turns into bold and underline, with CRLF line ends, for Windows.
if(MODE STREQUAL "lint")
  execute_process(COMMAND ${TOOL} -T lint -W warning ${INPUT}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0 OR NOT out STREQUAL "" OR NOT err STREQUAL "")
    message(FATAL_ERROR "mandoc -T lint -W warning ${INPUT} (exit ${result}):\n${out}${err}")
  endif()
elseif(MODE STREQUAL "gzip")
  execute_process(COMMAND ${TOOL} -9n -c ${INPUT} OUTPUT_FILE ${OUTPUT}.tmp
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    file(REMOVE ${OUTPUT}.tmp)
    message(FATAL_ERROR "gzip -9n ${INPUT} failed (exit ${result})")
  endif()
  file(RENAME ${OUTPUT}.tmp ${OUTPUT})
elseif(MODE STREQUAL "text")
  execute_process(COMMAND ${TOOL} -T ascii -I "os=${OS}" ${INPUT}
                  RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "mandoc -T ascii ${INPUT} failed (exit ${result}):\n${err}")
  endif()
  string(ASCII 8 backspace)
  string(REGEX REPLACE "[^\n]${backspace}" "" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${OUTPUT} "${text}")
else()
  message(FATAL_ERROR "render.cmake: MODE is lint, gzip or text")
endif()
