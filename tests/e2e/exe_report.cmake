# Runs the Windows program (under the emulator, if any) twice: the status, then one report.
# The log is empty there, so the report must print exactly the not-enabled warning when the
# status says auditing is disabled, and nothing at all when it is enabled. Nothing is written.
#   cmake -DEMULATOR=wine -DPROGRAM=vlmaudit.exe -DOPTION=/list -P exe_report.cmake
execute_process(COMMAND ${EMULATOR} ${PROGRAM} OUTPUT_VARIABLE status RESULT_VARIABLE status_rc)
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${OPTION} OUTPUT_VARIABLE report
                RESULT_VARIABLE report_rc)
# execute_process hands CRLF over as LF (exe.help checks the CRLF itself); drop any CR left.
string(REPLACE "\r" "" status "${status}")
string(REPLACE "\r" "" report "${report}")
set(crlf "\n")
if(status STREQUAL "Velmor logon auditing is not currently enabled.${crlf}")
  set(expected "${crlf}WARNING: Velmor auditing not currently enabled.${crlf}")
  string(APPEND expected "Use /on option to enable and reboot.${crlf}${crlf}")
elseif(status STREQUAL "Velmor logon auditing is currently enabled.${crlf}")
  set(expected "")
else()
  message(FATAL_ERROR "unexpected status output: [${status}]")
endif()
if(NOT status_rc EQUAL 0 OR NOT report_rc EQUAL 0)
  message(FATAL_ERROR "exit status ${status_rc} and ${report_rc}, expected 0")
endif()
if(NOT report STREQUAL expected)
  message(FATAL_ERROR "${OPTION} printed [${report}], expected [${expected}]")
endif()
message(STATUS "${OPTION}: ${status}")
