#!/usr/bin/env bash
# Second build of CI: clang, plain C++ kernels only (no x86 SIMD), release
# optimisation, warnings as errors. Builds every library and tamsel-dev, and
# runs the tests of the parts that have kernels (and frame access, which runs
# them end to end): the plain path stands alone and a second compiler accepts
# the code. The other test folders ran in the sanitizer build; building them
# again would double the run on a small machine. TAMSEL_PLAIN_ALL=1 builds and
# runs everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
tamsel_install "${TAMSEL_BUILD_PACKAGES[@]}" "${TAMSEL_TEST_PACKAGES[@]}" clang

build=${TAMSEL_PLAIN_BUILD_DIR:-$root/build/clang-plain}
jobs=${TAMSEL_JOBS:-$(nproc)}
t0=$(date +%s)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTAMSEL_SIMD=OFF -DTAMSEL_WERROR=ON -DTAMSEL_BENCH=OFF -DTAMSEL_QT=OFF
kernel_tests=(foundation picture decode encode audio access checkasm)
if [ "${TAMSEL_PLAIN_ALL:-0}" = 1 ]; then
  cmake --build "$build" -j "$jobs"
  select=()
else
  cmake --build "$build" -j "$jobs" --target tamsel-dev "${kernel_tests[@]/#/test_}"
  select=(-L "^($(IFS='|'; echo "${kernel_tests[*]}"))\$")
fi
echo "== clang plain build: $(($(date +%s) - t0)) s" >&2

# The fixtures are the same streams whichever build reads them: share the
# sanitizer build's when it made them (hard links, no copy).
if [ ! -e "$build/fixtures" ] && [ -d "$root/build/asan/fixtures" ]; then
  cp -al "$root/build/asan/fixtures" "$build/fixtures"
fi
bash "$root/tests/fixtures/make.sh" "$build/fixtures"

cd "$build"
t0=$(date +%s)
rc=0
ctest --output-on-failure -j "$jobs" "${select[@]}" "$@" || rc=$?
echo "== clang plain tests: $(($(date +%s) - t0)) s" >&2
exit $rc
