#!/usr/bin/env bash
# Installs what the tests need, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, makes the fixture streams and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
tamsel_install "${TAMSEL_BUILD_PACKAGES[@]}" "${TAMSEL_TEST_PACKAGES[@]}"

build=${TAMSEL_BUILD_DIR:-$root/build/asan}
jobs=$(nproc)
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DCMAKE_C_FLAGS_DEBUG="-O1 -g" \
  -DTAMSEL_SANITIZE=ON
cmake --build "$build" -j "$jobs"

bash "$root/tests/fixtures/make.sh" "$build/fixtures"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build"
ctest --output-on-failure -j "$jobs" "$@"
