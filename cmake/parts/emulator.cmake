# The module emulator's own tests: plain Python, run with the native tests
# in both native configurations (make test builds only the sanitizer one).
if(NOT WIN32 AND NOT QUILLON_LIBFUZZER)
  quillon_find_python()
  set(QUILLON_EMULATOR_DIR ${PROJECT_SOURCE_DIR}/tools/module-emulator)
  set(emulator_environment "PYTHONDONTWRITEBYTECODE=1")
  # Placeholder images carry our maker header; the maker's own do not.
  if(NOT QUILLON_FULL_PACKAGE AND NOT QUILLON_OPTIONAL_IMAGE)
    list(APPEND emulator_environment "QUILLON_PACKAGE_DIR=${CMAKE_BINARY_DIR}/packages")
  endif()
  add_test(NAME module_emulator
           COMMAND ${QUILLON_PYTHON} -m unittest discover -s ${QUILLON_EMULATOR_DIR}/tests
                   -t ${QUILLON_EMULATOR_DIR} -v)
  set_tests_properties(module_emulator PROPERTIES
    TIMEOUT 300
    ENVIRONMENT "${emulator_environment}")
endif()
