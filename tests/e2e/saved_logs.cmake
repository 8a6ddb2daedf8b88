# Runs the program (under the emulator, if any) with /list and /time on each saved log of
# saved_logs.txt, from tests/data: standard output, standard error and the exit status must be
# the table's, so that both platforms read saved logs alike; then two logs with records. Paths
# are relative, and print the same on both. Wine reads the arguments as UTF-8 only under a UTF-8
# locale (LC_ALL=C.UTF-8).
#   cmake -DEMULATOR=wine -DPROGRAM=vlmaudit.exe -DDATA=tests/data -DDEVICE=NUL
#         -DSCRATCH=dir -P saved_logs.cmake
cmake_minimum_required(VERSION 3.16)
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/saved_logs.txt rows REGEX "^[^#]")
# A name outside ASCII, Latin and not: read by its wide path on Windows, its bytes on Linux.
set(copy "${SCRATCH}/résumé-日本.evt")
file(MAKE_DIRECTORY ${SCRATCH})
configure_file(${DATA}/xp-AppEvent.Evt ${copy} COPYONLY)
set(failures 0)
foreach(row IN LISTS rows)
  string(REGEX MATCH "^([^|]*)[|]([^|]*)[|](.*)$" fields "${row}")
  set(path "${CMAKE_MATCH_1}")
  set(want_rc "${CMAKE_MATCH_2}")
  set(want_err "${CMAKE_MATCH_3}")
  if(NOT want_err STREQUAL "")
    string(REPLACE "@DEVICE@" "${DEVICE}" want_err "${want_err}\n")
  endif()
  string(REPLACE "@DEVICE@" "${DEVICE}" path "${path}")
  string(REPLACE "@COPY@" "${copy}" path "${path}")
  # A file that cannot be opened fails before either report begins: one run shows its line.
  set(options /list /time)
  if(want_err MATCHES "^vlmaudit: /file: ")
    set(options /list)
  endif()
  foreach(option ${options})
    execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${option} /file:${path}
                    WORKING_DIRECTORY ${DATA} OUTPUT_VARIABLE out ERROR_VARIABLE err
                    RESULT_VARIABLE rc)
    string(REPLACE "\r" "" err "${err}")
    if(NOT out STREQUAL "" OR NOT err STREQUAL want_err OR NOT rc EQUAL want_rc)
      message(SEND_ERROR "${option} /file:${path}: exit ${rc}, output [${out}], errors [${err}]")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endforeach()
# Logs that hold records of wsxlum, written by the Linux build's evtutil from the log of
# cases/file_saved.case: their JSON forms, which no locale changes, are the Linux build's to the
# byte (under TZ=UTC).
foreach(log saved/sessions.evt saved/sessions.evtx)
  foreach(report list time)
    execute_process(COMMAND ${EMULATOR} ${PROGRAM} /${report} /format:json /file:${log}
                    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR} OUTPUT_VARIABLE out
                    ERROR_VARIABLE err RESULT_VARIABLE rc)
    string(REPLACE "\r" "" out "${out}")
    file(READ ${CMAKE_CURRENT_LIST_DIR}/${log}.${report}.json want)
    if(NOT out STREQUAL want OR NOT err STREQUAL "" OR NOT rc EQUAL 0)
      message(SEND_ERROR "/${report} /file:${log}: exit ${rc}, output [${out}], errors [${err}]")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endforeach()
# Both logs at once: copies of each other, merged with each record once, each computer apart.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} /time /format:json /computer:* /file:saved/sessions.evt
                        /file:saved/sessions.evtx
                WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR} OUTPUT_VARIABLE out
                ERROR_VARIABLE err RESULT_VARIABLE rc)
string(REPLACE "\r" "" out "${out}")
file(READ ${CMAKE_CURRENT_LIST_DIR}/saved/both.time.json want)
if(NOT out STREQUAL want OR NOT err STREQUAL "" OR NOT rc EQUAL 0)
  message(SEND_ERROR "/time of both logs: exit ${rc}, output [${out}], errors [${err}]")
  math(EXPR failures "${failures} + 1")
endif()
file(REMOVE_RECURSE ${SCRATCH})
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} runs differ from saved_logs.txt")
endif()
