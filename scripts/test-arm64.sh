#!/usr/bin/env bash
# The arm64 stage of the tests: cross-builds everything but the benchmarks for 64-bit Arm Linux
# (the linux-arm64 preset) and runs it under qemu-user on this x86-64 host:
#   1. the checks' own tests;
#   2. no fused multiply-adds by contraction: every unit is compiled with -ffp-contract=off and
#      the cross-compiler honours it;
#   3. the tests (CTest, every program through qemu-aarch64; the viewer's end-to-end tests in
#      Xvfb are for native builds and are not registered here);
#   4. the same frames drawn by the x86-64 and the arm64 capture tool, with their call traces:
#      pixels and traces must be identical.
# Run by scripts/test.sh after the Linux tests; can be run alone. Environment:
#   JOBS              parallel build and test jobs (default 2)
#   NATIVE_BUILD_DIR  the x86-64 build whose capture tool draws the reference frames (default
#                     build/linux, the linux preset's; only the capture tool is built there)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --arm64

jobs=${JOBS:-2}
build=build/linux-arm64
native_build=${NATIVE_BUILD_DIR:-build/linux}
started=$SECONDS
mkdir -p "$build"
failures=()
fail() {
  echo "arm64: FAIL: $*"
  failures+=("$1")
}

echo "== arm64: tests of the checks"
if python3 tests/arm64/test_same_pixels.py >"$build/checks.log" 2>&1; then
  tail -n 3 "$build/checks.log"
else
  cat "$build/checks.log"
  fail "check tests"
fi

echo "== arm64: cross-build (linux-arm64 preset)"
cmake --preset linux-arm64 >/dev/null
cmake --build --preset linux-arm64 -j "$jobs"
built=$SECONDS

echo "== arm64: contraction"
python3 tests/arm64/check_contraction.py "$build" aarch64-linux-gnu-objdump || fail "contraction"

echo "== arm64: tests under qemu-user"
if ctest --preset linux-arm64 -j "$jobs" >"$build/ctest.log" 2>&1; then
  tail -n 3 "$build/ctest.log"
else
  grep -v -E '^ *Start |Passed +[0-9.]+ sec$' "$build/ctest.log"
  fail "tests under qemu-user"
fi
tested=$SECONDS

echo "== arm64: the same frames and traces as x86-64"
if [ ! -f "$native_build/CMakeCache.txt" ]; then
  cmake --preset linux -B "$native_build" >/dev/null
fi
cmake --build "$native_build" -j "$jobs" --target anemometer-capture >/dev/null
rm -rf "$build/same-pixels"
python3 tests/arm64/same_pixels.py --jobs "$jobs" --work "$build/same-pixels" --labels x86-64,arm64 \
  --emulator "qemu-aarch64 -L /usr/aarch64-linux-gnu" \
  "$native_build/tools/capture/anemometer-capture" "$build/tools/capture/anemometer-capture" ||
  fail "same pixels"

echo "arm64: build $((built - started)) s, tests $((tested - built)) s, frames $((SECONDS - tested)) s"
if [ ${#failures[@]} -gt 0 ]; then
  echo "arm64: FAILED after $((SECONDS - started)) s: ${failures[*]}"
  exit 1
fi
echo "arm64: all passed in $((SECONDS - started)) s"
