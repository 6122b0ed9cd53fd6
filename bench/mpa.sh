#!/usr/bin/env bash
# MPEG audio decoding speed against the peers on the same streams, in one
# run: tamsel-dev mpa-decode vs ffmpeg -threads 1 with the float decoder vs
# mpg123 -t, three minutes of 44.1 kHz stereo as layer II (256 kbit/s) and
# layer III (192 kbit/s), output discarded. Each program's best CPU time
# (user + system) of RUNS runs; prints the ratios and fails when ours takes
# longer than ffmpeg.
# Usage: bench/mpa.sh TAMSEL_DEV FIXTURES_DIR [RUNS]
set -euo pipefail
dev=${1:?usage: mpa.sh TAMSEL_DEV FIXTURES_DIR [RUNS]}
fx=${2:?usage: mpa.sh TAMSEL_DEV FIXTURES_DIR [RUNS]}
runs=${3:-7}
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT

best() {  # best user+system seconds of "$@" over $runs runs
  local b=""
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%U %S" -o "$tmp" "$@" >/dev/null 2>&1
    local t
    t=$(awk '{print $1 + $2}' "$tmp")
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}
smaller() { echo "if ($1 < $2) $1 else $2" | bc -l; }

status=0
for kind in mp2 mp3; do
  f="$fx/mpa_bench.$kind"
  [ -f "$f" ] || { echo "missing $f (run tests/fixtures/make.sh)" >&2; exit 2; }
  codec=${kind}float
  ours=99 ff=99 m123=99
  for _ in 1 2; do  # interleaved, so that load changes hit all alike
    ours=$(smaller "$(best "$dev" mpa-decode "$f" /dev/null)" "$ours")
    ff=$(smaller "$(best ffmpeg -nostdin -loglevel error -threads 1 -c:a "$codec" -i "$f" -f null -)" "$ff")
    if command -v mpg123 >/dev/null; then m123=$(smaller "$(best mpg123 -q -t "$f")" "$m123"); fi
  done
  r1=$(echo "$ours / $ff" | bc -l)
  r2=$(echo "$ours / $m123" | bc -l)
  printf 'stream=%s ours=%.3f ffmpeg=%.3f mpg123=%.3f ratio_ffmpeg=%.2f ratio_mpg123=%.2f\n' \
    "$kind" "$ours" "$ff" "$m123" "$r1" "$r2"
  if [ "$(echo "$r1 > 1.0" | bc -l)" = 1 ]; then status=1; fi
done
exit $status
