#!/usr/bin/env bash
# Runs the fuzz harnesses one after the other, SECONDS each (0: no time limit, e.g. with
# FUZZ_ARGS=-runs=1000000), over a working copy of each committed corpus; fails when any of them
# finds a fault (a crash, a sanitizer report, a broken check, an input running over 30 s) and
# says where the input is. Builds the clang configuration first when needed.
# Usage: tests/fuzz/run_fuzzers.sh SECONDS [HARNESS...]
#   FUZZ_BUILD_DIR  build directory of the harnesses (default build-fuzz)
#   FUZZ_ARGS       more libFuzzer options, e.g. "-runs=1000000" or "-max_len=8192"
set -euo pipefail
cd "$(dirname "$0")/../.."
usage="usage: tests/fuzz/run_fuzzers.sh SECONDS [HARNESS...]"
seconds=${1:?$usage}
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "## ERROR: SECONDS must be a whole number ($usage)" >&2; exit 2; }
shift
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(track_file_fuzzer track_source_fuzzer obj_fuzzer texture_image_fuzzer)
build=${FUZZ_BUILD_DIR:-build-fuzz}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DDEMO_FUZZ=ON >/dev/null
fi
cmake --build "$build" -j"$(nproc)" >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for harness in "${harnesses[@]}"; do
  binary="$build/tests/fuzz/$harness"
  seeds="tests/fuzz/corpus/$harness"
  [ -x "$binary" ] && [ -d "$seeds" ] || { echo "## ERROR: no harness \"$harness\"" >&2; exit 2; }
  work="$build/fuzz-work/$harness"
  mkdir -p "$work/corpus" "$work/findings"
  log="$work/last-run.log"
  limits=()
  # The PNG decoder under FreeImage trusts a chunk's length: a few hundred bytes can make it
  # allocate and clear up to 2 GB. That is the library's, not a fault of ours to find again.
  [ "$harness" = texture_image_fuzzer ] && limits=(-rss_limit_mb=4096 -malloc_limit_mb=4096)
  echo "# fuzzing $harness for ${seconds} s (log: $log)"
  # New inputs go to the working corpus; the committed seeds are only read.
  # shellcheck disable=SC2086
  if "$binary" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 "${limits[@]}" \
       -artifact_prefix="$work/findings/" ${FUZZ_ARGS:-} "$work/corpus" "$seeds" >"$log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 | sed 's/^/#   /' || true
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$log" | sed 's/^/#   /' || true
  else
    echo "## ERROR: $harness found a fault; the input is in $work/findings/ and the report in $log" >&2
    grep -E 'ERROR|fuzz check failed|runtime error' "$log" | head -5 | sed 's/^/##   /' >&2 || true
    failed+=("$harness")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "## ERROR: findings in: ${failed[*]}" >&2; exit 1; }
