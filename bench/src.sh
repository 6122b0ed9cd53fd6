#!/usr/bin/env bash
# Sample-rate conversion speed against a peer on the same PCM, in one run:
# five minutes of 44.1 kHz stereo to 48 kHz through tamsel-dev src, and
# sox rate -q when installed, else ffmpeg's resampler (-af aresample, one
# thread, which does more work per sample than sox -q). Median CPU time
# (user + system) of RUNS runs; fails when ours exceeds half of sox's.
# Usage: bench/src.sh TAMSEL_DEV [RUNS]
set -euo pipefail
dev=${1:?usage: src.sh TAMSEL_DEV [RUNS]}
runs=${2:-5}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
pcm=$dir/in.pcm
ffmpeg -nostdin -v error -f lavfi -i "anoisesrc=color=pink:amplitude=0.3:r=44100:d=300:seed=3" -ac 2 -f s16le "$pcm"

median() {
  local all=()
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%U %S" -o "$dir/t" "$@" >/dev/null 2>&1
    all+=("$(awk '{print $1 + $2}' "$dir/t")")
  done
  printf '%s\n' "${all[@]}" | sort -g | awk '{v[NR]=$1} END {print v[int((NR + 1) / 2)]}'
}

ours=$(median "$dev" src "$pcm" 44100 2 48000 2 "$dir/o.pcm")
if command -v sox >/dev/null; then
  peer=sox
  p=$(median sox -t s16 -r 44100 -c 2 "$pcm" -t s16 -r 48000 "$dir/s.pcm" rate -q)
else
  peer=ffmpeg-aresample
  p=$(median ffmpeg -nostdin -v error -y -threads 1 -f s16le -ar 44100 -ac 2 -i "$pcm" -af aresample=48000 \
    -f s16le "$dir/s.pcm")
fi
echo "src tamsel=${ours}s $peer=${p}s ratio=$(echo "scale=3; $ours / $p" | bc -l)"
if [ "$peer" = sox ] && [ "$(echo "$ours * 2 > $p" | bc -l)" = 1 ]; then
  echo "src: slower than half of sox" >&2
  exit 1
fi
