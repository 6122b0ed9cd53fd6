#!/usr/bin/env bash
# Decoding speed against the peers on the same streams, in one run:
# tamsel-dev decode vs mpeg2dec -o null vs ffmpeg -threads 1 -f null, single
# thread, output discarded. Best of RUNS wall-clock times; prints the ratios.
# Usage: bench/decode.sh TAMSEL_DEV FIXTURES_DIR [RUNS]
set -euo pipefail
dev=${1:?usage: decode.sh TAMSEL_DEV FIXTURES_DIR [RUNS]}
fx=${2:?usage: decode.sh TAMSEL_DEV FIXTURES_DIR [RUNS]}
runs=${3:-5}

best() {  # best wall time in seconds of "$@" over $runs runs
  local b=""
  for _ in $(seq "$runs"); do
    local s e t
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}

status=0
for s in bench_sd bench_hd; do
  f="$fx/$s.m2v"
  [ -f "$f" ] || { echo "missing $f (run tests/fixtures/make.sh)" >&2; exit 2; }
  ours=$(best "$dev" decode "$f" /dev/null)
  m2d=$(best mpeg2dec -o null "$f")
  ff=$(best ffmpeg -nostdin -loglevel error -threads 1 -i "$f" -f null -)
  r1=$(echo "$ours / $m2d" | bc -l)
  r2=$(echo "$ours / $ff" | bc -l)
  printf 'stream=%s ours=%.3f mpeg2dec=%.3f ffmpeg=%.3f ratio_mpeg2dec=%.2f ratio_ffmpeg=%.2f\n' \
    "$s" "$ours" "$m2d" "$ff" "$r1" "$r2"
  if [ "$(echo "$r1 > 1.25" | bc -l)" = 1 ]; then status=1; fi
done
exit $status
