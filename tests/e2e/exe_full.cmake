# Runs the Windows program (under the emulator, if any) with its standard output on a full
# device: it must say so on standard error and exit with status 1.
#   cmake -DEMULATOR=wine -DPROGRAM=vlmaudit.exe -P exe_full.cmake
execute_process(COMMAND ${EMULATOR} ${PROGRAM} /help OUTPUT_FILE /dev/full ERROR_VARIABLE errors
                RESULT_VARIABLE rc)
string(REPLACE "\r" "" errors "${errors}")
if(NOT rc EQUAL 1 OR NOT errors STREQUAL
   "vlmaudit: the output could not be written; it is incomplete.\n")
  message(FATAL_ERROR "exit status ${rc}, standard error [${errors}]")
endif()
