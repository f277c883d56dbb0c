# The command-line fuzz target, built from the splitter and scanner alone:
# a libFuzzer binary with QUILLON_LIBFUZZER (the `fuzz` preset, clang),
# otherwise a deterministic replay run as a test.
if(NOT WIN32)
  add_executable(cmdline_fuzz ${PROJECT_SOURCE_DIR}/tests/fuzz/cmdline_fuzz.cpp
                              ${PROJECT_SOURCE_DIR}/src/app/cmdline.cpp)
  target_include_directories(cmdline_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(cmdline_fuzz PRIVATE ${QUILLON_WARNINGS})
  if(QUILLON_LIBFUZZER)
    target_compile_definitions(cmdline_fuzz PRIVATE QUILLON_LIBFUZZER)
    target_compile_options(cmdline_fuzz PRIVATE -fsanitize=fuzzer)
    target_link_options(cmdline_fuzz PRIVATE -fsanitize=fuzzer)
    add_test(NAME cmdline_libfuzzer COMMAND cmdline_fuzz -runs=300000 -seed=1)
  else()
    add_test(NAME cmdline_fuzz_replay COMMAND cmdline_fuzz 20000)
  endif()
endif()
