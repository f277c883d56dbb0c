# The transfer benchmark's programs (bench/). Built only when bench/run.py
# asks for them by name: they are no part of the default build, of make
# test or of any test.
if(WIN32)
  add_executable(bench_quillon EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/quillon_transfer.cpp)
  target_link_libraries(bench_quillon PRIVATE quillon_win32 quillon_core)
  add_executable(bench_client EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/win32_client.cpp)
  foreach(program bench_quillon bench_client)
    target_compile_options(${program} PRIVATE ${QUILLON_WARNINGS})
    target_link_options(${program} PRIVATE -static)
  endforeach()
elseif(NOT QUILLON_SANITIZERS AND NOT QUILLON_LIBFUZZER)
  # Optimised whatever the build type: the peers must cost the exchange
  # nothing, and the native client is the link's limit.
  foreach(program peer trivial_peer native_client)
    add_executable(bench_${program} EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/${program}.c)
    target_compile_options(bench_${program} PRIVATE -O2 -Wall -Wextra)
  endforeach()
endif()
