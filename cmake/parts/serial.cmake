# serial_check.exe: the serial layer on real ports, for the Wine tests.
# A console program the end-to-end tests drive against a pseudo-terminal.
if(WIN32)
  add_executable(serial_check ${PROJECT_SOURCE_DIR}/tests/e2e/serial_check.cpp)
  target_compile_options(serial_check PRIVATE ${QUILLON_WARNINGS})
  target_link_libraries(serial_check PRIVATE quillon_win32)
  target_link_options(serial_check PRIVATE -static)
endif()
