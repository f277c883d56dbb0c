# The module emulator's own tests: plain Python, run with the native tests.
if(NOT WIN32)
  find_program(QUILLON_PYTHON python3 REQUIRED)
  set(QUILLON_EMULATOR_DIR ${PROJECT_SOURCE_DIR}/tools/module-emulator)
  add_test(NAME module_emulator
           COMMAND ${QUILLON_PYTHON} -m unittest discover -s ${QUILLON_EMULATOR_DIR}/tests
                   -t ${QUILLON_EMULATOR_DIR} -v)
  set_tests_properties(module_emulator PROPERTIES
    TIMEOUT 300
    ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1")
endif()
