# Runs the Windows program (under the emulator, if any) with modifiers after its reports: the
# log is empty there, so the machine formats must be exactly their empty documents, and wrong
# values and words that name no modifier one line on standard error with exit status 1.
#   cmake -DEMULATOR=wine -DPROGRAM=vlmaudit.exe -P exe_modifiers.cmake
set(bom "<BOM>") # the UTF-8 byte order mark, which CMake strings cannot spell

# Standard output, standard error and exit status of the program run with the arguments after
# them (CRLF is handed over as LF).
function(expect want_out want_err want_rc)
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err
                  RESULT_VARIABLE rc)
  string(REPLACE "\r" "" out "${out}")
  string(SUBSTRING "${out}" 0 3 start)
  string(HEX "${start}" start)
  if(start STREQUAL "efbbbf")
    string(SUBSTRING "${out}" 3 -1 out)
    set(out "<BOM>${out}")
  endif()
  # Moments of the JSON context that depend on the present time.
  string(REGEX REPLACE "\"(now|since)\": {\"time\": \"[^\"]*\", \"epoch\": [0-9]+}" "\"\\1\": <MOMENT>"
         out "${out}")
  string(REPLACE "\r" "" err "${err}")
  # With the machine formats the not-enabled warning goes to standard error: not checked here.
  string(REGEX REPLACE "vlmaudit: WARNING: [^\n]*\n" "" err "${err}")
  if(NOT out STREQUAL want_out OR NOT err STREQUAL want_err OR NOT rc EQUAL want_rc)
    message(FATAL_ERROR "${ARGN}: exit ${rc}, output [${out}], errors [${err}]")
  endif()
  message(STATUS "${ARGN}: ok")
endfunction()

# The machine's own log, empty: its name, no records.
set(log "\"logs\": [\n  {\"path\": \"Application\", \"records\": 0, \"oldest\": null, \"newest\": null, \"damaged\": false}\n]}\n")
expect("{\"events\": [], \"now\": <MOMENT>, \"window\": null, ${log}" "" 0 /list /format:json)
expect("{\"users\": [], \"now\": <MOMENT>, \"window\": {\"since\": <MOMENT>, \"until\": null}, ${log}"
       "" 0 /TIME /Daily /format:JSON /since:yesterday)
expect("{\"computers\": [], \"now\": <MOMENT>, \"window\": null, ${log}" "" 0
       /list /computer:* /format:json)
expect("${bom}domain,user,session,session_number,logon,logon_epoch,end,end_time,end_epoch,seconds\n"
       "" 0 /time /format:csv /user:CORP\\*)
expect("${bom}time,epoch,event,domain,user,session,session_number\n" "" 0
       /list /until:2025-12-01T09:00+01:00 /format:csv)
expect("Usage: vlmaudit [ /on | /off | /time | /list | /help ]\n"
       "vlmaudit: /time is not an option or a modifier of /list.\n" 1 /list /time)
expect("Usage: vlmaudit [ /on | /off | /time | /list | /help ]\n"
       "vlmaudit: /lst is not an option.\n" 1 /lst)
expect("" "vlmaudit: /since: expected YYYY-MM-DD[THH:MM[:SS]][Z|+HH:MM], today, yesterday or now.\n"
       1 /list /since:soon)
expect("" "vlmaudit: /daily: expected to follow /time, without a value.\n" 1 /list /daily)
expect("" "vlmaudit: /file: C:\\no\\such\\saved.evtx could not be opened (the file does not exist).\n"
       1 /time /file:C:\\no\\such\\saved.evtx)
expect("" "vlmaudit: /file: C:\\windows could not be opened (the path is a directory).\n"
       1 /time /file:C:\\windows)
expect("" "vlmaudit: /since: expected a date from 1970-01-01 to 2106-02-07.\n" 1
       /list /since:2106-02-08)
