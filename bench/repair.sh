#!/usr/bin/env bash
# GOP time-code scan speed against reading the file: a program stream of
# about SIZE_MB (the joined fixture repeated) scanned by tamsel-dev fix
# --scan-only, against cat FILE > /dev/null, warm files, in one run. Median
# wall time of RUNS runs; fails when the scan takes more than 3 times the
# read.
# Usage: bench/repair.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [SIZE_MB]
set -euo pipefail
dev=${1:?usage: repair.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [SIZE_MB]}
fx=${2:?usage: repair.sh TAMSEL_DEV FIXTURES_DIR [RUNS] [SIZE_MB]}
runs=${3:-5}
size_mb=${4:-1024}
piece=$fx/fix_ab.vob
[ -f "$piece" ] || { echo "missing $piece (run tests/fixtures/make.sh)" >&2; exit 2; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
big=$dir/big.vob
n=$(( size_mb * 1048576 / $(stat -c %s "$piece") + 1 ))
for _ in $(seq "$n"); do cat "$piece"; done > "$big"
cat "$big" > /dev/null

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

ours=$(median "$dev" fix "$big" --scan-only)
cat_t=$(median sh -c "cat '$big' > /dev/null")
ratio=$(echo "scale=3; $ours / $cat_t" | bc -l)
echo "repair fix-scan=${ours}s cat=${cat_t}s ratio=$ratio size=$(stat -c %s "$big")"
if [ "$(echo "$ratio > 3" | bc -l)" = 1 ]; then
  echo "repair: scan slower than 3 x cat" >&2
  exit 1
fi
