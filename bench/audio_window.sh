#!/usr/bin/env bash
# The audio window's tick against the decode it drives, on a 48 kHz track:
# a tick (frames decoded and written to the sound ring) with the
# equalizer off and on, and the bare decode of the same frames; prints the
# ratios the window is held to (tick <= 1.2 x decode + 1 ms, equalizer on
# <= 1.3 x off).
# Usage: bench/audio_window.sh BENCH_AUDIO_WINDOW FIXTURES_DIR
set -euo pipefail
bin=${1:?usage: audio_window.sh BENCH_AUDIO_WINDOW FIXTURES_DIR}
fx=${2:?usage: audio_window.sh BENCH_AUDIO_WINDOW FIXTURES_DIR}
track=$fx/aw_48000.mp2
[ -f "$track" ] || { echo "missing $track (run tests/fixtures/make.sh)" >&2; exit 2; }
out=$(TAMSEL_BENCH_TRACK=$track "$bin" --benchmark_min_time=1 --benchmark_format=csv 2>/dev/null)
t() { echo "$out" | awk -F, -v n="\"$1\"" '$1 == n {print $4}'; }
off=$(t BM_TickEqualizerOff)
on=$(t BM_TickEqualizerOn)
dec=$(t BM_DecodeTickFrames)
echo "tick (equalizer off) ${off} us, tick (on) ${on} us, decode of the tick's frames ${dec} us"
awk -v off="$off" -v on="$on" -v dec="$dec" 'BEGIN {
  printf "tick / (1.2 x decode + 1000 us) = %.2f (<= 1)\n", off / (1.2 * dec + 1000)
  printf "equalizer on / off = %.2f (<= 1.3)\n", on / off
}'
