#!/usr/bin/env bash
# The audio editor's Cut, Undo and Redo on a 2-hour track as the window
# runs them on its user-interface thread, against the engine's bare cut of
# the same range; prints the figures they are held to (each <= 100 ms and
# <= 1.5 x the engine's cut). Judge an optimised build, not the sanitizer's.
# Usage: bench/audio_edit.sh BENCH_AUDIO_EDIT
set -euo pipefail
bin=${1:?usage: audio_edit.sh BENCH_AUDIO_EDIT}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
track=$work/long.mp2
ffmpeg -nostdin -loglevel error -f lavfi -i "sine=f=440:r=32000:d=7200" -c:a mp2 -b:a 32k -ac 1 "$track"
out=$(TAMSEL_BENCH_TRACK=$track "$bin" --benchmark_min_time=0.5 --benchmark_format=csv 2>/dev/null)
t() { echo "$out" | awk -F, -v n="\"$1\"" '$1 == n {print $3}'; }
engine=$(t BM_EngineCut)
for b in BM_WindowCut BM_WindowUndo BM_WindowRedo; do
  awk -v n="$b" -v v="$(t $b)" -v e="$engine" 'BEGIN {
    printf "%s %.2f ms (<= 100), / engine cut %.2f ms = %.2f (<= 1.5)\n", n, v, e, v / e }'
done
