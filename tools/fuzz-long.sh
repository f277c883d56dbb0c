#!/usr/bin/env bash
# Runs the libFuzzer targets long, one after another, each for a fixed time
# on one core, and prints what each reached: executions, speed, corpus and
# findings. The corpus grows in build/fuzz/corpus/<target> from run to run;
# a finding is written to build/fuzz/findings/<target>/.
#
#   tools/fuzz-long.sh [SECONDS_PER_TARGET] [TARGET...]
#
# Default: 900 seconds for every target. make test runs each for 5.
set -euo pipefail

if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,/^$/s/^# \{0,1\}//p' "$0"
  exit 0
fi
cd "$(dirname "$0")/.."
seconds=${1:-900}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(sed -n 's/^quillon_fuzz_target(\([a-z_]*\).*/\1/p' cmake/parts/fuzz.cmake) cmdline_fuzz)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 >/dev/null

printf '%-18s %8s %12s %8s %8s %s\n' target seconds executions exec/s corpus findings
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  findings=build/fuzz/findings/$target
  seeds=tests/fuzz/seeds/$target
  mkdir -p "$corpus" "$findings"
  [ -d "$seeds" ] || seeds=
  log=build/fuzz/$target-long.log
  status=0
  build/fuzz/$target -max_total_time="$seconds" -max_len=8192 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" $seeds >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  found=$(find "$findings" -type f | wc -l)
  printf '%-18s %8s %12s %8s %8s %s\n' "$target" "$seconds" "${executions:-?}" "${speed:-?}" \
    "$(find "$corpus" -type f | wc -l)" "$found"
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    echo "$target: stopped with $status; see $log and $findings" >&2
  fi
done
