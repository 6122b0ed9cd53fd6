#!/usr/bin/env bash
# Decoding speed against the peers on the same streams, in one run:
# tamsel-dev decode vs mpeg2dec -o null vs ffmpeg -threads 1 -f null, single
# thread, output discarded. Each program's best CPU time (user + system) of
# RUNS runs, which a busy machine disturbs less than wall-clock time; prints
# the ratios and fails when ours exceeds 0.9 x mpeg2dec.
# Usage: bench/decode.sh TAMSEL_DEV FIXTURES_DIR [RUNS]
set -euo pipefail
dev=${1:?usage: decode.sh TAMSEL_DEV FIXTURES_DIR [RUNS]}
fx=${2:?usage: decode.sh TAMSEL_DEV FIXTURES_DIR [RUNS]}
runs=${3:-7}
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT

best() {  # best user+system seconds of "$@" over $runs runs (of 3 calls each,
           # against the 10 ms resolution of the time records)
  local b=""
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%U %S" -o "$tmp" sh -c '"$@" && "$@" && "$@"' sh "$@" >/dev/null 2>&1
    local t
    t=$(awk '{print ($1 + $2) / 3}' "$tmp")
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}

status=0
for s in bench_sd bench_hd; do
  f="$fx/$s.m2v"
  [ -f "$f" ] || { echo "missing $f (run tests/fixtures/make.sh)" >&2; exit 2; }
  # interleave the programs so that load changes hit all of them alike
  ours=99 m2d=99 ff=99
  for _ in 1 2; do
    o=$(best "$dev" decode "$f" /dev/null)
    m=$(best mpeg2dec -o null "$f")
    g=$(best ffmpeg -nostdin -loglevel error -threads 1 -i "$f" -f null -)
    ours=$(echo "if ($o < $ours) $o else $ours" | bc -l)
    m2d=$(echo "if ($m < $m2d) $m else $m2d" | bc -l)
    ff=$(echo "if ($g < $ff) $g else $ff" | bc -l)
  done
  r1=$(echo "$ours / $m2d" | bc -l)
  r2=$(echo "$ours / $ff" | bc -l)
  printf 'stream=%s ours=%.3f mpeg2dec=%.3f ffmpeg=%.3f ratio_mpeg2dec=%.2f ratio_ffmpeg=%.2f\n' \
    "$s" "$ours" "$m2d" "$ff" "$r1" "$r2"
  if [ "$(echo "$r1 > 0.9" | bc -l)" = 1 ]; then status=1; fi
done
exit $status
