#!/usr/bin/env bash
# Audio engine speed against the figures and peers, in one run:
#  - opening the access-unit list of a large program stream (a DVD-style
#    VOB repeated up to SIZE_MB megabytes) must take under 0.3 s;
#  - handing out every frame of a 10-minute mp2 through the list, against
#    ffmpeg -threads 1 copying the same stream out.
# Median CPU time (user + system) of RUNS runs for the walks, wall time for
# the opening (it is bounded by reads, not by computing).
# Usage: bench/track.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [SIZE_MB]
set -euo pipefail
dev=${1:?usage: track.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [SIZE_MB]}
fx=${2:?usage: track.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [SIZE_MB]}
runs=${3:-5}
size_mb=${4:-2048}
src=$fx/ps_dvd.vob
[ -f "$src" ] || { echo "missing $src (run tests/fixtures/make.sh)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tmp=$work/time

median() {  # median user+system seconds of "$@" over $runs runs
  local all=()
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%U %S" -o "$tmp" "$@" >/dev/null 2>&1
    all+=("$(awk '{print $1 + $2}' "$tmp")")
  done
  printf '%s\n' "${all[@]}" | sort -g | awk '{v[NR]=$1} END {print v[int((NR + 1) / 2)]}'
}
median_wall() {
  local all=()
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e" -o "$tmp" "$@" >/dev/null 2>&1
    all+=("$(cat "$tmp")")
  done
  printf '%s\n' "${all[@]}" | sort -g | awk '{v[NR]=$1} END {print v[int((NR + 1) / 2)]}'
}

# The large stream: copies of the VOB, one after another.
big=$work/big.vob
: >"$big"
while [ $(($(stat -c %s "$big") / 1048576)) -lt "$size_mb" ]; do cat "$src" >>"$big"; done
"$dev" alist "$big" --id 0xC0 >/dev/null  # warms the page cache
open=$(median_wall "$dev" alist "$big" --id 0xC0)
echo "alist open size_mb=$size_mb wall=${open}s limit=0.3s"

mp2=$work/long.mp2
ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=440:r=48000:d=600" -ac 2 -c:a mp2 -b:a 192k -threads 1 "$mp2"
ours=$(median "$dev" alist "$mp2" --frames /dev/null)
ff=$(median ffmpeg -nostdin -v error -threads 1 -i "$mp2" -map 0:a:0 -c copy -f mp2 -y /dev/null)
echo "alist frames tamsel=${ours}s ffmpeg_copy=${ff}s ratio=$(echo "scale=3; $ours / $ff" | bc -l)"
if [ "$(echo "$open > 0.3" | bc -l)" = 1 ]; then
  echo "alist: opening slower than 0.3 s" >&2
  exit 1
fi

# Rendering tracks into the WAV-file sink: two 5-minute WAVE clips joined
# by a 2-second blend under a gain envelope, against ffmpeg's acrossfade of
# the same files; and a 10-minute mp2 played as a track, against ffmpeg
# decoding it to WAVE.
wa=$work/a.wav wb=$work/b.wav
ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=440:r=48000:d=301" -ac 2 -c:a pcm_s16le -bitexact "$wa"
ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=660:r=48000:d=301" -ac 2 -c:a pcm_s16le -bitexact "$wb"
ours=$(median "$dev" track "$wb" --script "insert $wa 0 4 2; gain 0 1 300 0.5 600 1" --out "$work/t.wav")
ff=$(median ffmpeg -nostdin -v error -threads 1 -i "$wa" -i "$wb" -filter_complex acrossfade=d=2 -y "$work/f.wav")
echo "track render wave tamsel=${ours}s ffmpeg_acrossfade=${ff}s ratio=$(echo "scale=3; $ours / $ff" | bc -l) limit=0.6"
ours=$(median "$dev" track "$mp2" --out "$work/t.wav")
ff=$(median ffmpeg -nostdin -v error -threads 1 -i "$mp2" -y "$work/f.wav")
echo "track render mp2 tamsel=${ours}s ffmpeg_decode=${ff}s ratio=$(echo "scale=3; $ours / $ff" | bc -l) limit=1.5"
