# The install script's own test: what each make command brings, and what
# it says without root or sudo. Plain Python, run with the native tests in
# both native configurations (make test builds only the sanitizer one).
if(NOT WIN32 AND NOT QUILLON_LIBFUZZER)
  quillon_find_python()
  add_test(NAME install_deps
           COMMAND ${QUILLON_PYTHON} -m unittest -v install_deps_test
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/tools)
  set_tests_properties(install_deps PROPERTIES ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1" TIMEOUT 120)
endif()
