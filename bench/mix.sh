#!/usr/bin/env bash
# Mixer speed against ffmpeg on the same PCM, in one run: 10 minutes of
# 48 kHz stereo 16-bit noise faded in over the whole span, tamsel-dev mix 1
# vs ffmpeg -threads 1 -af afade. Median CPU time (user + system) of RUNS
# runs each, interleaved; fails when ours exceeds half of ffmpeg's.
# Usage: bench/mix.sh TAMSEL_DEV [RUNS]
set -euo pipefail
dev=${1:?usage: mix.sh TAMSEL_DEV [RUNS]}
runs=${2:-5}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
in="$dir/in.s16"
ffmpeg -nostdin -loglevel error -f lavfi -i "anoisesrc=r=48000:a=0.5:d=600" -ac 2 -f s16le -acodec pcm_s16le "$in"

cpu() {  # user+system seconds of "$@"
  /usr/bin/time -f "%U %S" -o "$dir/t" "$@" >/dev/null 2>&1
  awk '{print $1 + $2}' "$dir/t"
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

: >"$dir/ours"
: >"$dir/ff"
for _ in $(seq "$runs"); do
  cpu "$dev" mix 1 600 48000 2 "$in" "$dir/out.s16" >>"$dir/ours"
  cpu ffmpeg -nostdin -loglevel error -threads 1 -f s16le -ar 48000 -ac 2 -i "$in" \
    -af "afade=t=in:st=0:d=600" -f s16le -y "$dir/ff.s16" >>"$dir/ff"
done
ours=$(median <"$dir/ours")
ff=$(median <"$dir/ff")
ratio=$(echo "$ours / $ff" | bc -l)
printf 'mix ours=%.3f ffmpeg=%.3f ratio_ffmpeg=%.2f\n' "$ours" "$ff" "$ratio"
[ "$(echo "$ratio <= 0.5" | bc -l)" = 1 ]
