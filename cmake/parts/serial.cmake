# serial_check.exe: the serial layer on real ports, for the Wine tests.
# A console program the end-to-end tests drive against a pseudo-terminal.
if(WIN32)
  add_executable(serial_check
    ${PROJECT_SOURCE_DIR}/tests/e2e/serial_check.cpp
    ${PROJECT_SOURCE_DIR}/src/os/win32/comm.cpp
    ${PROJECT_SOURCE_DIR}/src/os/win32/devenum.cpp
    ${PROJECT_SOURCE_DIR}/src/os/win32/registry.cpp
    ${PROJECT_SOURCE_DIR}/src/os/win32/clock.cpp
    ${PROJECT_SOURCE_DIR}/src/os/win32/debug_output.cpp
    ${PROJECT_SOURCE_DIR}/src/os/win32/process.cpp)
  target_compile_options(serial_check PRIVATE ${QUILLON_WARNINGS})
  target_link_libraries(serial_check PRIVATE quillon_core setupapi advapi32)
  target_link_options(serial_check PRIVATE -static)
endif()
