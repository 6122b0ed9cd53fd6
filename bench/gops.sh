#!/usr/bin/env bash
# Walks the whole GOP index of a 1 GB MPEG-2 elementary stream with
# `tamsel-dev gops` and compares with reading the same warm file with cat;
# then opens a 4 GB stream (first and last GOP only).
# Usage: bench/gops.sh [BUILD_DIR]   (a Release build; default build-rel)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-rel}
dev=$build/devtool/tamsel-dev
[ -x "$dev" ] || { echo "no tamsel-dev in $build" >&2; exit 1; }
work=${TMPDIR:-/tmp}/tamsel-bench-gops
mkdir -p "$work"
cd "$work"

if [ ! -s clip.m2v ]; then
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc=size=720x576:rate=25:duration=10 \
    -c:v mpeg2video -b:v 8M -minrate 8M -maxrate 8M -bufsize 1835008 -g 12 -bf 2 -f mpeg2video clip.m2v
fi
make_big() {  # NAME BYTES
  [ -s "$1" ] && [ "$(stat -c %s "$1")" -ge "$2" ] && return
  : > "$1"
  while [ "$(stat -c %s "$1")" -lt "$2" ]; do cat clip.m2v clip.m2v clip.m2v clip.m2v >> "$1"; done
}
make_big big1g.m2v $((1 << 30))
make_big big4g.m2v $((4 << 30))

now() { date +%s.%N; }
# Best of five runs each, interleaved, on the warm file.
cat big1g.m2v > /dev/null
cat_s=1e9
gops_s=1e9
for run in 1 2 3 4 5; do
  t0=$(now); cat big1g.m2v > /dev/null; t1=$(now)
  "$dev" gops big1g.m2v > gops.txt; t2=$(now)
  cat_s=$(awk -v a="$t0" -v b="$t1" -v m="$cat_s" 'BEGIN { d = b - a; print (d < m ? d : m) }')
  gops_s=$(awk -v a="$t1" -v b="$t2" -v m="$gops_s" 'BEGIN { d = b - a; print (d < m ? d : m) }')
done
printf 'gops walk: %s GOPs, %.3f s; cat: %.3f s; ratio %.2f (goal <= 2)\n' \
  "$(grep -c '^gop ' gops.txt)" "$gops_s" "$cat_s" "$(echo "$gops_s / $cat_s" | bc -l)"
tail -n 1 gops.txt

# Opening: the index of a fresh process reads the first and the last GOP.
head -c 1 big4g.m2v > /dev/null
t4=$(now); "$dev" gop-of big4g.m2v 0 > /dev/null; t5=$(now)
t6=$(now); "$dev" gop-of big4g.m2v 0 > /dev/null; t7=$(now)
printf 'open 4 GB: %.3f s (first), %.3f s (again)\n' "$(echo "$t5 - $t4" | bc -l)" "$(echo "$t7 - $t6" | bc -l)"
