# The fuzz targets, each built from the sources of the code it reads bytes
# with and the fakes that feed it: a libFuzzer binary with QUILLON_LIBFUZZER
# (the `fuzz` preset, clang), otherwise a deterministic replay of its seeds
# and their mutants, run as a test (so the sanitizer build runs it too).
# tools/fuzz-long.sh runs the libFuzzer binaries for as long as one likes.
if(WIN32)
  return()
endif()

set(QUILLON_FUZZ_DIR ${PROJECT_SOURCE_DIR}/tests/fuzz)
# A few seconds per target in make test; the long runs are separate.
set(QUILLON_FUZZ_SECONDS 5 CACHE STRING "How long make test runs each libFuzzer target")

# What every target that talks to the module needs: the AT channel and its
# trace, over the scripted module and the virtual clock.
set(QUILLON_FUZZ_CHANNEL
    ${PROJECT_SOURCE_DIR}/src/at/at.cpp
    ${PROJECT_SOURCE_DIR}/src/log/trace_log.cpp
    ${PROJECT_SOURCE_DIR}/src/log/trace_queue.cpp
    ${QUILLON_FUZZ_DIR}/fuzz_module.cpp
    ${QUILLON_FUZZ_DIR}/fuzz_seams.cpp
    ${PROJECT_SOURCE_DIR}/tests/fakes/fake_clock.cpp)

set(QUILLON_FUZZ_TARGETS)

# The code under test and the harness, each source compiled once per
# configuration: every target links the archive and takes from it only
# what it calls.
add_library(quillon_fuzz_code STATIC EXCLUDE_FROM_ALL
            ${QUILLON_FUZZ_CHANNEL}
            ${PROJECT_SOURCE_DIR}/src/at/at_cmd.cpp
            ${PROJECT_SOURCE_DIR}/src/version_control/identify.cpp
            ${PROJECT_SOURCE_DIR}/src/version_control/judge.cpp
            ${PROJECT_SOURCE_DIR}/src/version_control/rules.cpp
            ${PROJECT_SOURCE_DIR}/src/update/sf_link.cpp
            ${PROJECT_SOURCE_DIR}/src/update/sf_header.cpp
            ${PROJECT_SOURCE_DIR}/src/common/json_text.cpp
            ${PROJECT_SOURCE_DIR}/src/app/inventory/inventory_json.cpp
            ${PROJECT_SOURCE_DIR}/src/app/inventory/inventory_status.cpp
            ${PROJECT_SOURCE_DIR}/src/app/cmdline.cpp)
target_include_directories(quillon_fuzz_code PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests
                           PRIVATE ${PROJECT_SOURCE_DIR}/data)
target_compile_options(quillon_fuzz_code PRIVATE ${QUILLON_WARNINGS})
if(NOT QUILLON_LIBFUZZER)
  add_library(quillon_fuzz_replay STATIC EXCLUDE_FROM_ALL ${QUILLON_FUZZ_DIR}/fuzz_replay.cpp)
  target_include_directories(quillon_fuzz_replay PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(quillon_fuzz_replay PRIVATE ${QUILLON_WARNINGS})
endif()

# quillon_fuzz_target(name [REPLAY_RUNS n]): REPLAY_RUNS lowers the
# replay's 20000 mutants for a target whose inputs run long.
function(quillon_fuzz_target name)
  cmake_parse_arguments(PARSE_ARGV 1 fuzz "" "REPLAY_RUNS" "")
  if(NOT fuzz_REPLAY_RUNS)
    set(fuzz_REPLAY_RUNS 20000)
  endif()
  add_executable(${name} ${QUILLON_FUZZ_DIR}/${name}.cpp)
  target_compile_options(${name} PRIVATE ${QUILLON_WARNINGS})
  set(seeds ${QUILLON_FUZZ_DIR}/seeds/${name})
  if(QUILLON_LIBFUZZER)
    target_compile_definitions(${name} PRIVATE QUILLON_LIBFUZZER)
    # The preset instruments every source; the fuzzer's main is linked in here.
    target_compile_options(${name} PRIVATE -O1)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE quillon_fuzz_code)
    # New inputs go to the build's corpus, never to the seeds in the tree.
    set(corpus ${CMAKE_BINARY_DIR}/corpus/${name})
    file(MAKE_DIRECTORY ${corpus})
    add_test(NAME ${name}_libfuzzer
             COMMAND ${name} -max_total_time=${QUILLON_FUZZ_SECONDS} -seed=1 -max_len=8192
                     -timeout=10 -print_final_stats=1 ${corpus} ${seeds})
  else()
    target_link_libraries(${name} PRIVATE quillon_fuzz_replay quillon_fuzz_code)
    add_test(NAME ${name}_replay COMMAND ${name} ${seeds} ${fuzz_REPLAY_RUNS})
  endif()
  set(QUILLON_FUZZ_TARGETS ${QUILLON_FUZZ_TARGETS} ${name} PARENT_SCOPE)
endfunction()

quillon_fuzz_target(at_fuzz REPLAY_RUNS 5000)
quillon_fuzz_target(version_fuzz)
quillon_fuzz_target(pin_fuzz)
quillon_fuzz_target(query_line_fuzz)
quillon_fuzz_target(judge_fuzz)
quillon_fuzz_target(sf_version_fuzz)
quillon_fuzz_target(sf_reply_fuzz)
# The inventory's report: written, then read back by a strict reader.
quillon_fuzz_target(json_fuzz)

# The command line: splitter and option scanner, with its own driver.
add_executable(cmdline_fuzz ${QUILLON_FUZZ_DIR}/cmdline_fuzz.cpp)
target_compile_options(cmdline_fuzz PRIVATE ${QUILLON_WARNINGS})
target_link_libraries(cmdline_fuzz PRIVATE quillon_fuzz_code)
if(QUILLON_LIBFUZZER)
  target_compile_definitions(cmdline_fuzz PRIVATE QUILLON_LIBFUZZER)
  target_compile_options(cmdline_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(cmdline_fuzz PRIVATE -fsanitize=fuzzer)
  add_test(NAME cmdline_libfuzzer COMMAND cmdline_fuzz -runs=300000 -seed=1)
else()
  add_test(NAME cmdline_fuzz_replay COMMAND cmdline_fuzz 20000)
endif()
