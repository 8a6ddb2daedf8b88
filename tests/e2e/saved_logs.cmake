# Runs the program (under the emulator, if any) with /list and /time on each saved log of
# saved_logs.txt, from tests/data: standard output, standard error and the exit status must be
# the table's, so that both platforms read saved logs alike. Paths are relative, and print the
# same on both.
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
file(REMOVE_RECURSE ${SCRATCH})
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} runs differ from saved_logs.txt")
endif()
