#!/usr/bin/env bash
# Layer II encoding speed against the peers on the same PCM, in one run:
# two minutes of 48 kHz stereo (tones, noise) at 192 kbit/s through
# tamsel-dev mpa-encode (model 2), twolame -P 2 when installed, else
# twolame through ffmpeg (-psymodel 2), and ffmpeg's own mp2 encoder.
# Each program's median CPU time (user + system) of RUNS runs; prints the
# ratios and fails when ours exceeds twolame's.
# Usage: bench/mpaenc.sh TAMSEL_DEV [RUNS]
set -euo pipefail
dev=${1:?usage: mpaenc.sh TAMSEL_DEV [RUNS]}
runs=${2:-5}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
pcm=$dir/in.pcm
ffmpeg -nostdin -v error -f lavfi \
  -i "aevalsrc=0.3*sin(2*PI*440*t)+0.2*sin(2*PI*3100*t)+0.05*random(0)|0.25*sin(2*PI*660*t)+0.05*random(1):s=48000:d=120" \
  -f s16le "$pcm"

median() {  # median user+system seconds of "$@" over $runs runs
  local all=()
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%U %S" -o "$dir/t" "$@" >/dev/null 2>&1
    all+=("$(awk '{print $1 + $2}' "$dir/t")")
  done
  printf '%s\n' "${all[@]}" | sort -g | awk '{v[NR]=$1} END {print v[int((NR + 1) / 2)]}'
}

ours=$(median "$dev" mpa-encode "$pcm" 48000 2 192000 2 "$dir/o.mp2")
if command -v twolame >/dev/null; then
  tl=$(median twolame -P 2 -r -s 48000 -N 2 -b 192 "$pcm" "$dir/t.mp2")
  peer=twolame
else
  tl=$(median ffmpeg -nostdin -v error -y -threads 1 -f s16le -ar 48000 -ac 2 -i "$pcm" -c:a libtwolame -psymodel 2 \
    -b:a 192k -f mp2 "$dir/t.mp2")
  peer=ffmpeg-libtwolame
fi
ff=$(median ffmpeg -nostdin -v error -y -threads 1 -f s16le -ar 48000 -ac 2 -i "$pcm" -c:a mp2 -b:a 192k -f mp2 "$dir/f.mp2")
echo "mpaenc tamsel=${ours}s $peer=${tl}s ratio=$(echo "scale=3; $ours / $tl" | bc -l)"
echo "mpaenc ffmpeg-mp2=${ff}s ratio=$(echo "scale=3; $ours / $ff" | bc -l)"
if [ "$(echo "$ours > $tl" | bc -l)" = 1 ]; then
  echo "mpaenc: slower than $peer" >&2
  exit 1
fi
