#!/usr/bin/env bash
# Installs what the tests need, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, makes the fixture streams and runs every test;
# prints how long each step took and why any test was skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"

build=${TAMSEL_BUILD_DIR:-$root/build/asan}
jobs=${TAMSEL_JOBS:-$(nproc)}  # all cores unless told otherwise
timings=()

# step NAME COMMAND...: runs the command and notes its time.
step() {
  local name=$1 t0 t1 rc=0
  shift
  echo "== $name" >&2
  t0=$(date +%s%N)
  "$@" || rc=$?
  t1=$(date +%s%N)
  timings+=("$(printf '%-10s %7.1f s' "$name" "$(((t1 - t0) / 1000000))e-3")")
  echo "== $name: $(((t1 - t0) / 1000000000)) s" >&2
  return $rc
}

report_times() {
  echo "step times:" >&2
  local t
  for t in "${timings[@]}"; do echo "  $t" >&2; done
}
trap report_times EXIT

step install tamsel_install "${TAMSEL_BUILD_PACKAGES[@]}" "${TAMSEL_TEST_PACKAGES[@]}"
# Line tables only (-g1): reports still name files and lines, and the build
# takes far less time than with full debug information.
step configure cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" \
  -DTAMSEL_SANITIZE=ON -DTAMSEL_WERROR="${TAMSEL_WERROR:-OFF}"
step build cmake --build "$build" -j "$jobs"
step fixtures bash "$root/tests/fixtures/make.sh" "$build/fixtures"

# The suppressions name system libraries only (the windows' tests load X11,
# D-Bus and fontconfig).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:suppressions=$root/scripts/asan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}
cd "$build"
rc=0
step tests ctest --output-on-failure -j "$jobs" "$@" || rc=$?
# --output-on-failure shows nothing of a skipped test: list the reasons.
bash "$root/scripts/skips.sh" "$build/Testing/Temporary/LastTest.log" >&2 || true
exit $rc
