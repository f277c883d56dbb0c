# End-to-end tests: the real Quillon.exe under Wine, driven from Python.
if(WIN32)
  add_executable(probe ${PROJECT_SOURCE_DIR}/tests/e2e/programs/probe.cpp)
  target_compile_options(probe PRIVATE ${QUILLON_WARNINGS})
  target_link_options(probe PRIVATE -static)
  # Handle counts and memory of other processes, for the soak run.
  target_link_libraries(probe PRIVATE psapi)

  find_program(QUILLON_PYTHON python3 REQUIRED)
  file(GLOB QUILLON_E2E_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/e2e/test_*.py)
  foreach(test_file ${QUILLON_E2E_TESTS})
    get_filename_component(test_name ${test_file} NAME_WE)
    add_test(NAME e2e_${test_name}
             COMMAND ${QUILLON_PYTHON} -m unittest -v ${test_name}
             WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/e2e)
    set_tests_properties(e2e_${test_name} PROPERTIES
      TIMEOUT 900
      ENVIRONMENT "QUILLON_EXE=$<TARGET_FILE:Quillon>;QUILLON_BUILD_DIR=${CMAKE_BINARY_DIR};QUILLON_SOURCE_DIR=${PROJECT_SOURCE_DIR};QUILLON_E2E_NAME=${test_name};QUILLON_E2E_RUN=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1")
    list(APPEND QUILLON_E2E_NAMES e2e_${test_name})
  endforeach()
  # Two whole runs per row of the fault matrix, in three Wine sessions
  # side by side: its fast rows take minutes.
  set_tests_properties(e2e_test_fault_matrix PROPERTIES TIMEOUT 2400 PROCESSORS 3)
  # The Wine tests wait on the module far more than they compute, so the
  # suite runs them side by side (the windows test preset's jobs). These
  # measure how long the program takes to answer, and run alone.
  set_tests_properties(e2e_test_responsive e2e_test_serial e2e_test_device PROPERTIES RUN_SERIAL TRUE)

  # Runs after every end-to-end test: none may leave a process behind.
  add_test(NAME e2e_zz_no_leftovers
           COMMAND ${QUILLON_PYTHON} ${PROJECT_SOURCE_DIR}/tests/e2e/quillon_e2e/leftovers.py)
  set_tests_properties(e2e_zz_no_leftovers PROPERTIES DEPENDS "${QUILLON_E2E_NAMES}"
    ENVIRONMENT "QUILLON_E2E_RUN=${CMAKE_BINARY_DIR}")
endif()
