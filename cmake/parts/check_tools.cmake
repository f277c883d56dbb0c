# Console tools the Wine tests run against a module on a pseudo-terminal:
# serial_check drives the serial layer, module_check identification and
# the AT queries, protocol_check one package through the update protocol,
# each on real Win32 ports.
if(WIN32)
  foreach(tool serial_check module_check protocol_check)
    add_executable(${tool} ${PROJECT_SOURCE_DIR}/tests/e2e/programs/${tool}.cpp)
    target_compile_options(${tool} PRIVATE ${QUILLON_WARNINGS})
    target_link_libraries(${tool} PRIVATE quillon_win32)
    target_link_options(${tool} PRIVATE -static)
  endforeach()
endif()
