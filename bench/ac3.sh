#!/usr/bin/env bash
# AC-3 decoding speed against the peers on the same stream, in one run: a
# 3-minute 5.1 stream at 448 kbit/s through tamsel-dev ac3-decode (stereo
# downmix to /dev/null), ffmpeg -threads 1 -downmix stereo -f null, and
# a52dec -o null when installed. Each program's median CPU time (user +
# system) of RUNS runs; prints the ratios and fails when ours exceeds
# ffmpeg's.
# Usage: bench/ac3.sh TAMSEL_DEV FIXTURES_DIR [RUNS]
set -euo pipefail
dev=${1:?usage: ac3.sh TAMSEL_DEV FIXTURES_DIR [RUNS]}
fx=${2:?usage: ac3.sh TAMSEL_DEV FIXTURES_DIR [RUNS]}
runs=${3:-7}
f=$fx/ac3d_long_51.ac3
[ -f "$f" ] || { echo "missing $f (run tests/fixtures/make.sh)" >&2; exit 2; }
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT

median() {  # median user+system seconds of "$@" over $runs runs
  local all=()
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%U %S" -o "$tmp" "$@" >/dev/null 2>&1
    all+=("$(awk '{print $1 + $2}' "$tmp")")
  done
  printf '%s\n' "${all[@]}" | sort -g | awk '{v[NR]=$1} END {print v[int((NR + 1) / 2)]}'
}

ours=$(median "$dev" ac3-decode "$f" /dev/null)
ff=$(median ffmpeg -nostdin -v error -threads 1 -downmix stereo -c:a ac3 -i "$f" -f null -)
echo "ac3 tamsel=${ours}s ffmpeg=${ff}s ratio=$(echo "scale=3; $ours / $ff" | bc -l)"
if command -v a52dec >/dev/null; then
  a52=$(median a52dec -o null "$f")
  echo "ac3 a52dec=${a52}s ratio=$(echo "scale=3; $ours / $a52" | bc -l)"
else
  echo "ac3 a52dec=absent"
fi
if [ "$(echo "$ours > $ff" | bc -l)" = 1 ]; then
  echo "ac3: slower than ffmpeg" >&2
  exit 1
fi
