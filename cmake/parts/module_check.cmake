# module_check.exe: identification and the AT queries against a module on a real port, for the Wine tests.
if(WIN32)
  add_executable(module_check ${PROJECT_SOURCE_DIR}/tests/e2e/module_check.cpp)
  target_compile_options(module_check PRIVATE ${QUILLON_WARNINGS})
  target_link_libraries(module_check PRIVATE quillon_win32)
  target_link_options(module_check PRIVATE -static)
endif()
