#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, AddressSanitizer + UBSan) into
# build-fuzz and runs each for KOLM_FUZZ_SECONDS seconds (default 20), as many
# at once as there are cores. Prints each target's executions per second and
# coverage; fails when a target finds a fault, leaving the input that found
# it in build-fuzz/crashes/.
#
#   scripts/fuzz.sh                       every target, 20 s each (as CI runs it)
#   KOLM_FUZZ_SECONDS=3600 scripts/fuzz.sh reg_file    one target for an hour
#
# Inputs that add coverage collect in build-fuzz/corpus/TARGET and are used
# again by the next run; the seeds come from tests/fuzz/corpus/TARGET.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/deps.sh"
build="${KOLM_FUZZ_BUILD_DIR:-$here/build-fuzz}"
seconds="${KOLM_FUZZ_SECONDS:-20}"
all=(reg_file service_text sap_answer spx_packet mailbox_frame install_script response_file)
targets=("${@:-${all[@]}}")

# -O1 and line tables only: the build takes half the time, and reports
# still name the lines.
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=None -DKOLM_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  "-DCMAKE_C_FLAGS=-O1 -gline-tables-only" "-DCMAKE_CXX_FLAGS=-O1 -gline-tables-only" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null

mkdir -p "$build/crashes" "$build/logs"
# A private scratch root per target on a memory file system when there is
# one (the registry target writes its database at every input).
export TMPDIR="${TMPDIR:-$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )}"
export KOLM_UI=headless
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

run_one() {
  local t="$1"
  mkdir -p "$build/corpus/$t"
  "$build/bin/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -artifact_prefix="$build/crashes/$t-" "$build/corpus/$t" "$here/tests/fuzz/corpus/$t" \
    >"$build/logs/$t.log" 2>&1
}

pids=()
failed=0
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do
    wait -n || true
  done
  run_one "$t" &
  pids+=("$!")
done
for i in "${!pids[@]}"; do
  t="${targets[$i]}"
  if wait "${pids[$i]}"; then status=ok; else status=FAULT; failed=1; fi
  log="$build/logs/$t.log"
  execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  corp=$(grep -o 'corp: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-6s %-14s %8s exec/s  cov %6s  ft %6s  corpus %5s\n' "$status" "$t" "${execs:-?}" "${cov:-?}" \
    "${ft:-?}" "${corp:-?}"
  if [ "$status" != ok ]; then
    grep -E 'ERROR|fuzz check failed|SUMMARY|Test unit written' "$log" | head -5 | sed 's/^/         /'
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "A target found a fault: its input is in $build/crashes/. Mend the fault, then keep the input as" >&2
  echo "tests/fuzz/corpus/TARGET/crash-NAME so the normal suite replays it." >&2
  exit 1
fi
