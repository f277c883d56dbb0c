# Every command the documents name starts (--help, or its cheapest mode):
# plain Python, run with the native tests in both native configurations.
if(NOT WIN32 AND NOT QUILLON_LIBFUZZER)
  quillon_find_python()
  add_test(NAME documented_commands
           COMMAND ${QUILLON_PYTHON} -m unittest -v commands_test
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/tools)
  set_tests_properties(documented_commands PROPERTIES ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1" TIMEOUT 300)
endif()
