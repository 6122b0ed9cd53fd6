#!/usr/bin/env bash
# Builds the demultiplexer and frame-access tests with ThreadSanitizer into
# build/tsan and runs those that share caches between threads: the
# demultiplexer and GOP-index caches, the stamped file caches and forget(),
# the decoded-picture cache, frame access, the verified-clip cache and the
# audio decoders' process-wide tables; the long jobs under their JobControl (save, GOP trim, convert,
# demultiplex, multiplex, GOP fix, time-stamp scan, audio save) with the
# window's side on another thread; and every test of the windows' headless
# rules (tests/app), whose models hand work between the user-interface
# thread and playback or job threads. The Qt user interface is not built
# here. Any report fails the run.
# Usage: scripts/tsan.sh [extra ctest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAMSEL_TSAN_DIR:-$root/build/tsan}
jobs=${TAMSEL_JOBS:-$(nproc)}
# -O1 with line tables: quick to build, enough for ThreadSanitizer reports.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_C_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DTAMSEL_SANITIZE=OFF -DTAMSEL_BENCH=OFF \
  -DTAMSEL_WERROR="${TAMSEL_WERROR:-OFF}" -DTAMSEL_QT=OFF > /dev/null
# Only what these tests run: their executables (test_app_<folder> for each
# folder of tests/app) and tamsel-dev.
app_tests=($(ninja -C "$build" -t targets all | sed -n 's/^\(test_app_[a-z0-9_]*\): phony$/\1/p' | sort -u))
ninja -C "$build" -j "$jobs" test_foundation test_demux test_access test_audio test_engine "${app_tests[@]}" tamsel-dev
# Share the sanitizer build's fixtures when it made them (hard links).
if [ ! -e "$build/fixtures" ] && [ -d "$root/build/asan/fixtures" ]; then
  cp -al "$root/build/asan/fixtures" "$build/fixtures"
fi
bash "$root/tests/fixtures/make.sh" "$build/fixtures"
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
cd "$build"
rc=0
ctest -j "$jobs" --output-on-failure -R 'DemuxerCache|GoplistCache|DCache|FrameAccess|MpaThreads|ClipVerify.Cache|StampedCache|FileChange|Probe.Concurrent|FileInfo.Cache|JobControl' "$@" || rc=$?
if [ ${#app_tests[@]} -gt 0 ]; then
  ctest -j "$jobs" --output-on-failure -L '^app_' "$@" || rc=$?
fi
exit $rc
