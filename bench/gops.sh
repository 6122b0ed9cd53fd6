#!/usr/bin/env bash
# Walks the whole GOP index of a 1 GB 1920x1080 20 Mbit/s MPEG-2 elementary
# stream with `tamsel-dev gops` and compares with reading the same warm file
# with cat (paired runs, median of the ratios); then opens a 4 GB stream
# (first and last GOP only).
# The big streams repeat one 20-second clip: each copy restarts its time
# codes, which the index finds once at opening; the walk does not use them.
# Usage: bench/gops.sh [BUILD_DIR] [RUNS]   (a Release build; default build/rel, 9 runs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/rel}" && pwd)
runs=${2:-9}
dev=$build/devtool/tamsel-dev
[ -x "$dev" ] || { echo "no tamsel-dev in $build" >&2; exit 1; }
work=${TMPDIR:-/tmp}/tamsel-bench-gops
mkdir -p "$work"
cd "$work"

# Grain makes the slices look like camera pictures: 0x01 and 0x00 bytes
# every few dozen bytes, which is what the header search has to get past.
if [ ! -s clip1080.m2v ]; then
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=20 \
    -vf noise=alls=12:allf=t -c:v mpeg2video -b:v 20M -minrate 20M -maxrate 20M -bufsize 9781248 -g 12 -bf 2 \
    -f mpeg2video clip1080.m2v
fi
make_big() {  # NAME BYTES
  [ -s "$1" ] && [ "$(stat -c %s "$1")" -ge "$2" ] && return
  : > "$1"
  while [ "$(stat -c %s "$1")" -lt "$2" ]; do cat clip1080.m2v >> "$1"; done
}
make_big big1g.m2v $((1 << 30))
make_big big4g.m2v $((4 << 30))

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
cat big1g.m2v > /dev/null
"$dev" gops big1g.m2v > gops.txt
: > pairs.txt
for run in $(seq "$runs"); do
  t0=$(now); cat big1g.m2v > /dev/null; t1=$(now)
  "$dev" gops big1g.m2v > gops.txt; t2=$(now)
  awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { printf "%.6f %.6f %.6f\n", b - a, c - b, (c - b) / (b - a) }' >> pairs.txt
done
cat_s=$(cut -d' ' -f1 pairs.txt | median)
gops_s=$(cut -d' ' -f2 pairs.txt | median)
ratio=$(cut -d' ' -f3 pairs.txt | median)
printf 'gops walk: %s GOPs, median %.3f s; cat: median %.3f s; median ratio of %d paired runs %.2f (goal <= 2.5, aim 2)\n' \
  "$(grep -c '^gop ' gops.txt)" "$gops_s" "$cat_s" "$runs" "$ratio"
tail -n 1 gops.txt

# Opening: the index of a fresh process reads the first and the last GOP.
head -c 1 big4g.m2v > /dev/null
t4=$(now); "$dev" gop-of big4g.m2v 0 > /dev/null; t5=$(now)
t6=$(now); "$dev" gop-of big4g.m2v 0 > /dev/null; t7=$(now)
printf 'open 4 GB: %.3f s (first), %.3f s (again)\n' "$(echo "$t5 - $t4" | bc -l)" "$(echo "$t7 - $t6" | bc -l)"
