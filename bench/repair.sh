#!/usr/bin/env bash
# GOP time-code scan and time-stamp scan speed against reading the file: a
# program stream and a transport stream of about SIZE_MB each (the joined
# fixtures repeated) scanned by tamsel-dev fix --scan-only, the program
# stream by tamsel-dev tsscan, and both by tamsel-dev file-info (a first,
# uncached look), against cat FILE > /dev/null, warm files, in
# one run; then a second, cached file-info (bench_file_info). Median wall
# time of RUNS runs; fails when a scan takes more than 3 times the read.
# Usage: bench/repair.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [SIZE_MB]
set -euo pipefail
dev=${1:?usage: repair.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [SIZE_MB]}
fx=${2:?usage: repair.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [SIZE_MB]}
runs=${3:-5}
size_mb=${4:-1024}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
repeat() {  # repeat PIECE OUT: PIECE again and again up to about SIZE_MB
  [ -f "$1" ] || { echo "missing $1 (run tests/fixtures/make.sh)" >&2; exit 2; }
  local n=$(( size_mb * 1048576 / $(stat -c %s "$1") + 1 ))
  for _ in $(seq "$n"); do cat "$1"; done > "$2"
  cat "$2" > /dev/null
}
big=$dir/big.vob
repeat "$fx/fix_ab.vob" "$big"
bigts=$dir/big.ts
repeat "$fx/fix_ab.ts" "$bigts"

median() {  # median wall seconds of "$@" over $runs runs
  local all=()
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    all+=("$(echo "$t1 - $t0" | bc -l)")
  done
  printf '%s\n' "${all[@]}" | sort -g | awk '{v[NR]=$1} END {print v[int((NR + 1) / 2)]}'
}

fail=0
check() {  # check NAME FILE COMMAND...: one line, and the 3 x cat limit
  local name=$1 file=$2
  shift 2
  local ours cat_t ratio
  ours=$(median "$@")
  cat_t=$(median sh -c "cat '$file' > /dev/null")
  ratio=$(echo "scale=3; $ours / $cat_t" | bc -l)
  echo "repair $name=${ours}s cat=${cat_t}s ratio=$ratio size=$(stat -c %s "$file")"
  if [ "$(echo "$ratio > 3" | bc -l)" = 1 ]; then
    echo "repair: $name slower than 3 x cat" >&2
    fail=1
  fi
}
check fix-scan "$big" "$dev" fix "$big" --scan-only
check fix-scan-ts "$bigts" "$dev" fix "$bigts" --scan-only
check tsscan "$big" "$dev" tsscan "$big"
check file-info "$big" "$dev" file-info "$big"
check file-info-ts "$bigts" "$dev" file-info "$bigts"
# A second look at an unchanged file is answered by the cache (one process:
# the micro-benchmark beside tamsel-dev): under 1 ms.
cached=$(dirname "$dev")/../bench/bench_file_info
if [ -x "$cached" ]; then
  for f in "$big" "$bigts"; do
    us=$(TAMSEL_BENCH_FILE=$f "$cached" --benchmark_filter=Cached --benchmark_format=csv 2>/dev/null |
      awk -F, '/BM_FileInfoCached/ {print $3}')
    echo "repair file-info-cached=${us}us limit=1000us size=$(stat -c %s "$f")"
    if [ -z "$us" ] || [ "$(echo "$us > 1000" | bc -l)" = 1 ]; then
      echo "repair: a cached file-info took 1 ms or more" >&2
      fail=1
    fi
  done
else
  echo "repair: $cached not built (Google Benchmark missing?): cached file-info not timed" >&2
fi
exit $fail
