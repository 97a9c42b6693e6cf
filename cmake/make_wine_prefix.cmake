# Creates a Wine prefix once (for the tests, the benchmark); later runs find it ready.
if(EXISTS ${PREFIX}/system.reg)
  return()
endif()
execute_process(COMMAND ${WINE} wineboot --init RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "wineboot failed: ${result}")
endif()
execute_process(COMMAND wineserver -w)
