#!/usr/bin/env bash
# Editor engine speed against our own single-clip paths and cp, in one run
# (median user+system seconds of RUNS runs each):
#   step:  250 frames stepped through an edited list of three clips from two
#          files (tamsel-dev edit ... step) vs tamsel-dev walk over 250
#          frames of one source; at most 1.2x.
#   open:  a 100-clip project opened and its first frame shown vs tamsel-dev
#          frame of the source's first frame; at most 1.5x.
#   trim:  gop-trim of a 200 MB stream vs cp of it (wall time); at most 1.5x.
# Usage: bench/engine.sh TAMSEL_DEV FIXTURES_DIR [RUNS]
set -euo pipefail
dev=${1:?usage: engine.sh TAMSEL_DEV FIXTURES_DIR [RUNS]}
fx=${2:?usage: engine.sh TAMSEL_DEV FIXTURES_DIR [RUNS]}
runs=${3:-5}
a=$fx/fa_sd.m2v
b=$fx/en_b.m2v
big=$fx/en_big.m2v
for f in "$a" "$b" "$big"; do [ -f "$f" ] || { echo "missing $f (run tests/fixtures/make.sh)" >&2; exit 2; }; done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tmp=$work/time

median() {  # median of a time format over $runs runs of REP x "$@"
  local fmt=$1 rep=$2 all=()
  shift 2
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "$fmt" -o "$tmp" bash -c 'r=$1; shift; for _ in $(seq "$r"); do "$@" || exit 1; done' _ "$rep" "$@" \
      >/dev/null 2>&1
    all+=("$(awk '{print $1 + $2}' "$tmp")")
  done
  printf '%s\n' "${all[@]}" | sort -g | awk '{v[NR]=$1} END {print v[int((NR + 1) / 2)]}'
}
ratio() { echo "scale=3; $1 / $2" | bc -l; }
status=0
check() {  # name ours peer limit
  local r
  r=$(ratio "$2" "$3")
  echo "$1 tamsel=${2}s peer=${3}s ratio=$r limit=$4"
  if [ "$(echo "$r > $4" | bc -l)" = 1 ]; then status=1; fi
}

# Three clips from two files: a 0-99 | b 10-59 | a 150-249; all 250 frames
# stepped, across both boundaries.
printf 'cut 250 50\ncut 100 50\ninsert %s 10 50 100\nstep 0 249\n' "$b" >"$work/step.ops"
ours=$(median "%U %S" 3 "$dev" edit "$a" --script "$work/step.ops" --out /dev/null)
peer=$(median "%U %S" 3 "$dev" walk "$a" 0 249 --out /dev/null)
check step "$ours" "$peer" 1.2

# A 100-clip project: 100 five-frame clips of one source, every other block
# of ten frames (apart, so that no two join).
{
  for k in $(seq 0 99); do printf 'insert %s %d 5 %d\n' "$a" $((k * 10 % 300)) $((k * 5)); done
  printf 'cut 500 300\nproject %s/p100.txt\n' "$work"
} >"$work/build.ops"
"$dev" edit "$a" --script "$work/build.ops" >/dev/null
printf 'show 0\n' >"$work/show.ops"
ours=$(median "%U %S" 20 "$dev" edit "$work/p100.txt" --script "$work/show.ops" --out /dev/null)
peer=$(median "%U %S" 20 "$dev" frame "$a" 0 --out /dev/null)
check open "$ours" "$peer" 1.5

# GOP trim of the whole big stream against cp (wall time: both are I/O).
ours=$(median "%e 0" 1 "$dev" gop-trim "$big" 0 100000 "$work/t.m2v")
peer=$(median "%e 0" 1 cp "$big" "$work/c.m2v")
check trim "$ours" "$peer" 1.5
exit $status
