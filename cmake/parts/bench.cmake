# The transfer benchmark's programs (bench/). Built only when bench/run.py
# asks for them by name: they are no part of the default build, of make
# test or of any test.

# For the benchmark's own build only (bench/run.py configures a build
# directory of its own with it): every TRACE call site compiled out, to
# see what the design reaches without its trace. The product never sets it.
option(QUILLON_BENCH_TRACE_OFF "Benchmark build only: compile every trace call out" OFF)
if(QUILLON_BENCH_TRACE_OFF)
  target_compile_definitions(quillon_core PUBLIC QUILLON_TRACE_OFF=1)
endif()

if(WIN32)
  # The Win32 seam as an archive, so the transfer links only the parts it
  # calls. Linked as the object library, every part came along, with the
  # imports of the dialogs, boxes and visual styles; uxtheme's start-up
  # then loads Wine's whole display stack (the X11 driver, fonts, the
  # theme: some 7 MB) into a program that opens no window.
  add_library(bench_seam STATIC EXCLUDE_FROM_ALL $<TARGET_OBJECTS:quillon_win32>)
  add_executable(bench_quillon EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/quillon_transfer.cpp)
  target_link_libraries(bench_quillon PRIVATE quillon_core bench_seam setupapi advapi32 ws2_32 user32)
  add_executable(bench_client EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/win32_client.cpp)
  add_executable(bench_listener EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/dbwin_listener.cpp)
  foreach(program bench_quillon bench_client bench_listener)
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
