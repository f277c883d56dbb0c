# End-to-end tests: the real Quillon.exe under Wine, driven from Python.
if(WIN32)
  add_executable(probe ${PROJECT_SOURCE_DIR}/tests/e2e/programs/probe.cpp)
  target_compile_options(probe PRIVATE ${QUILLON_WARNINGS})
  target_link_options(probe PRIVATE -static)
  # Handle counts and memory of other processes, for the soak run.
  target_link_libraries(probe PRIVATE psapi)

  quillon_find_python()
  set(e2e_dir ${PROJECT_SOURCE_DIR}/tests/e2e)
  set(e2e_environment "QUILLON_EXE=$<TARGET_FILE:Quillon>;QUILLON_BUILD_DIR=${CMAKE_BINARY_DIR};QUILLON_SOURCE_DIR=${PROJECT_SOURCE_DIR};QUILLON_E2E_RUN=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1")
  set(QUILLON_E2E_NAMES)

  # e2e_test(name unittest-selection [environment...]): one Wine test,
  # whose session keeps its artifacts under its own name.
  function(e2e_test name selection)
    set(environment ${e2e_environment} QUILLON_E2E_NAME=${name} ${ARGN})
    add_test(NAME e2e_${name} COMMAND ${QUILLON_PYTHON} -m unittest -v ${selection} WORKING_DIRECTORY ${e2e_dir})
    set_tests_properties(e2e_${name} PROPERTIES TIMEOUT 900
      ENVIRONMENT "${environment}")
    set(QUILLON_E2E_NAMES ${QUILLON_E2E_NAMES} e2e_${name} PARENT_SCOPE)
  endfunction()

  file(GLOB QUILLON_E2E_TESTS CONFIGURE_DEPENDS ${e2e_dir}/test_*.py)
  foreach(test_file ${QUILLON_E2E_TESTS})
    get_filename_component(test_name ${test_file} NAME_WE)
    if(test_name STREQUAL "test_fault_matrix")
      # The table's own checks here; its rows are tests of their own below.
      e2e_test(${test_name} ${test_name}.Table)
    elseif(test_name STREQUAL "test_linux_launcher")
      # Each case on its own: one Wine session after another, together they
      # were the suite's longest test. Each has device nodes of its own.
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${test_file})
      file(STRINGS ${test_file} launcher_cases REGEX "^    def test_[a-z0-9_]+\\(self\\):")
      foreach(line ${launcher_cases})
        string(REGEX REPLACE "^    def (test_[a-z0-9_]+).*" "\\1" case "${line}")
        string(REGEX REPLACE "^test_" "" short "${case}")
        e2e_test(linux_launcher_${short} ${test_name}.LinuxLauncher.${case})
      endforeach()
    else()
      e2e_test(${test_name} ${test_name})
    endif()
  endforeach()

  # Each row of the fault matrix is a test of its own, in a Wine session of
  # its own, so that the rows spread over the lanes and a failure names its
  # row. The rows are read from the table itself.
  set(fault_matrix_table ${e2e_dir}/quillon_e2e/fault_matrix.py)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${fault_matrix_table})
  file(STRINGS ${fault_matrix_table} fault_matrix_rows REGEX "^    row\\(\"[a-z0-9_]+\"")
  foreach(line ${fault_matrix_rows})
    string(REGEX REPLACE "^    row\\(\"([a-z0-9_]+)\".*" "\\1" row "${line}")
    e2e_test(fault_matrix_${row} test_fault_matrix.FaultMatrix.test_${row} QUILLON_FAULT_ROWS=${row})
    # Two runs of at most the row's own limit, 1800 s for the longest
    # (which run only with QUILLON_LONG_RUNS=1); the limit ends a hung run.
    set_tests_properties(e2e_fault_matrix_${row} PROPERTIES TIMEOUT 3900)
  endforeach()

  # The Wine tests wait on the module far more than they compute, so the
  # suite runs them side by side (the windows test preset's jobs). These
  # measure how long the program takes to answer: one at a time, though
  # alongside the others, so their limits hold on a busy machine.
  set_tests_properties(e2e_test_responsive e2e_test_serial e2e_test_device PROPERTIES RESOURCE_LOCK wall_clock)
  # The longest first (CTest starts the costliest first when it has no
  # times of its own yet, as in a fresh clone), so that the suite does not
  # end waiting on one of them: 180 s, 90 s and 80 s measured.
  set_tests_properties(e2e_test_update PROPERTIES COST 180)
  set_tests_properties(e2e_test_responsive e2e_test_pin_dialog PROPERTIES COST 90)

  # Runs after every end-to-end test: none may leave a process behind.
  add_test(NAME e2e_zz_no_leftovers
           COMMAND ${QUILLON_PYTHON} ${PROJECT_SOURCE_DIR}/tests/e2e/quillon_e2e/leftovers.py)
  set_tests_properties(e2e_zz_no_leftovers PROPERTIES DEPENDS "${QUILLON_E2E_NAMES}"
    ENVIRONMENT "QUILLON_E2E_RUN=${CMAKE_BINARY_DIR}")
endif()
