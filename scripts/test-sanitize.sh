#!/usr/bin/env bash
# The sanitizer and fuzzing stage of the tests (run by scripts/test.sh after the Linux tests):
#   1. the whole suite built with clang under AddressSanitizer, LeakSanitizer and UBSan (the
#      linux-sanitize preset; leaks inside third-party libraries are suppressed in
#      tests/sanitizers/lsan.supp, each with its library and reason);
#   2. each libFuzzer target for FUZZ_SECONDS (default 20) from its committed seed corpus, on a
#      copy, so the checkout is not changed. A crash fails the stage; copy the input it leaves
#      into fuzz/regressions/TARGET/ (where it then runs as a test) and fix the fault.
# Environment: JOBS (default 2), FUZZ_SECONDS (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=${JOBS:-2}
seconds=${FUZZ_SECONDS:-20}
started=$SECONDS

echo "== sanitize: build (linux-sanitize preset)"
cmake --preset linux-sanitize >/dev/null
cmake --build --preset linux-sanitize -j "$jobs"
built=$SECONDS
echo "== sanitize: tests"
ctest --preset linux-sanitize -j "$jobs"
tested=$SECONDS

echo "== sanitize: fuzzing, ${seconds} s a target"
work=build/linux-sanitize/fuzz-run
rm -rf "$work"
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in trace options device; do
  mkdir -p "$work/$target"
  cp fuzz/corpus/$target/* "$work/$target/"
  if ! build/linux-sanitize/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/$target-" "$work/$target" >"$work/$target.log" 2>&1; then
    echo "sanitize: FAIL: fuzz_$target found a crash:"
    grep -E "ERROR|runtime error|Test unit written" "$work/$target.log" | head -n 5
    status=1
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$work/$target.log" | tr '\n' ' ' |
    sed "s/^/fuzz_$target: /; s/stat:://g"
  grep -oE "cov: [0-9]+ ft: [0-9]+" "$work/$target.log" | tail -n 1
done
echo "sanitize: build $((built - started)) s, tests $((tested - built)) s, fuzzing $((SECONDS - tested)) s"
exit $status
