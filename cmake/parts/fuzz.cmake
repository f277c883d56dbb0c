# The command-line fuzz target: a libFuzzer binary with QUILLON_LIBFUZZER
# (the `fuzz` preset, clang), otherwise a deterministic run as a test.
if(NOT WIN32)
  add_executable(cmdline_fuzz ${PROJECT_SOURCE_DIR}/tests/fuzz/cmdline_fuzz.cpp)
  target_link_libraries(cmdline_fuzz PRIVATE quillon_core)
  target_compile_options(cmdline_fuzz PRIVATE ${QUILLON_WARNINGS})
  if(QUILLON_LIBFUZZER)
    target_compile_definitions(cmdline_fuzz PRIVATE QUILLON_LIBFUZZER)
    target_compile_options(cmdline_fuzz PRIVATE -fsanitize=fuzzer)
    target_link_options(cmdline_fuzz PRIVATE -fsanitize=fuzzer)
  else()
    add_test(NAME cmdline_fuzz_replay COMMAND cmdline_fuzz 20000)
  endif()
endif()
