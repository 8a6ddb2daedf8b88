# Writes the demo root: the registry with auditing on, and an Application log that evtutil writes
# from the batch, its times moved to the day before today.
# Run with -DEVTUTIL=... -DBATCH=... -DREGISTRY=... -DROOT=...
file(REMOVE_RECURSE ${ROOT})
file(MAKE_DIRECTORY ${ROOT}/registry ${ROOT}/eventlog)
file(COPY ${REGISTRY} DESTINATION ${ROOT}/registry)

string(TIMESTAMP now "%s" UTC)
math(EXPR yesterday "${now} - ${now} % 86400 - 86400")
file(STRINGS ${BATCH} lines)
set(batch "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([a-z]+) ([0-9]+)(.*)$")
    math(EXPR time "${yesterday} + ${CMAKE_MATCH_2}")
    string(APPEND batch "${CMAKE_MATCH_1} ${time}${CMAKE_MATCH_3}\n")
  endif()
endforeach()
file(WRITE ${ROOT}/morning.batch "${batch}")
execute_process(COMMAND ${EVTUTIL} batch ${ROOT}/eventlog/Application.evt
                INPUT_FILE ${ROOT}/morning.batch RESULT_VARIABLE result)
file(REMOVE ${ROOT}/morning.batch)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "evtutil could not write the demo log")
endif()
