#!/usr/bin/env bash
# Program streams, against peers on the same warm files:
#  - `tamsel-dev gops` walks the whole index of a 1 GB VOB (720x576 8 Mbit/s
#    MPEG-2 with AC-3 and MP2) against `cat FILE > /dev/null` (paired runs,
#    median of the ratios; goal <= 2.5, aim 2);
#  - `tamsel-dev demux` of every stream into files against `ffmpeg -c copy`
#    of the same streams into files (median ratio; goal below 1);
#  - opening a 4 GB VOB (goal under 1 s);
#  - exact search of 100 random frames in a DVD title of two cells made by
#    dvdauthor (ms per frame; goal <= 15).
# The big files repeat one 20-second clip.
# Usage: bench/ps.sh [BUILD_DIR] [RUNS]   (a Release build; default build/rel, 5 runs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/rel}" && pwd)
runs=${2:-5}
dev=$build/devtool/tamsel-dev
[ -x "$dev" ] || { echo "no tamsel-dev in $build" >&2; exit 1; }
work=${TMPDIR:-/tmp}/tamsel-bench-ps
mkdir -p "$work"
cd "$work"
FF="ffmpeg -nostdin -hide_banner -loglevel fatal -y"

if [ ! -s clip.vob ]; then
  $FF -f lavfi -i testsrc2=size=720x576:rate=25:duration=20 -f lavfi -i sine=sample_rate=48000:duration=20 \
    -map 0:v -map 1:a -map 1:a -vf noise=alls=12:allf=t -c:v mpeg2video -b:v 8M -minrate 8M -maxrate 8M \
    -bufsize 1835008 -g 15 -bf 2 -c:a:0 ac3 -c:a:1 mp2 -f vob clip.vob
fi
make_big() {  # NAME BYTES
  [ -s "$1" ] && [ "$(stat -c %s "$1")" -ge "$2" ] && return
  : > "$1"
  while [ "$(stat -c %s "$1")" -lt "$2" ]; do cat clip.vob >> "$1"; done
}
make_big big1g.vob $((1 << 30))
make_big big4g.vob $((4 << 30))

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

cat big1g.vob > /dev/null
"$dev" gops big1g.vob > gops.txt
: > pairs.txt
for run in $(seq "$runs"); do
  t0=$(now); cat big1g.vob > /dev/null; t1=$(now)
  "$dev" gops big1g.vob > gops.txt; t2=$(now)
  awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { printf "%.6f %.6f %.6f\n", b - a, c - b, (c - b) / (b - a) }' >> pairs.txt
done
printf 'gops walk: %s GOPs, median %.3f s; cat: median %.3f s; median ratio of %d paired runs %.2f (goal <= 2.5, aim 2)\n' \
  "$(grep -c '^gop ' gops.txt)" "$(cut -d' ' -f2 pairs.txt | median)" "$(cut -d' ' -f1 pairs.txt | median)" "$runs" \
  "$(cut -d' ' -f3 pairs.txt | median)"

# The file layer syncs written data to disk every few megabytes unless
# TAMSEL_FILE_SYNC=0; ffmpeg never does. Both are measured.
mkdir -p out ff
for sync in 1 0; do
  : > pairs.txt
  for run in $(seq "$runs"); do
    rm -f out/* ff/*
    t0=$(now); TAMSEL_FILE_SYNC=$sync "$dev" demux big1g.vob out > demux.txt; t1=$(now)
    $FF -i big1g.vob -map 0:v -c copy -f mpeg2video ff/v.m2v -map 0:a:0 -c copy -f ac3 ff/a.ac3 \
      -map 0:a:1 -c copy -f mp2 ff/a.mp2; t2=$(now)
    awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { printf "%.6f %.6f %.6f\n", b - a, c - b, (b - a) / (c - b) }' >> pairs.txt
  done
  printf 'demux (TAMSEL_FILE_SYNC=%s): median %.3f s; ffmpeg -c copy: median %.3f s; median ratio %.2f (goal below 1)\n' \
    "$sync" "$(cut -d' ' -f1 pairs.txt | median)" "$(cut -d' ' -f2 pairs.txt | median)" "$(cut -d' ' -f3 pairs.txt | median)"
done
tail -n 1 demux.txt
rm -f out/* ff/*

head -c 1 big4g.vob > /dev/null
t4=$(now); "$dev" gop-of big4g.vob 0 > /dev/null; t5=$(now)
t6=$(now); "$dev" gop-of big4g.vob 0 > /dev/null; t7=$(now)
printf 'open 4 GB: %.3f s (first), %.3f s (again)\n' "$(echo "$t5 - $t4" | bc -l)" "$(echo "$t7 - $t6" | bc -l)"

if command -v dvdauthor > /dev/null; then
  if [ ! -s title/VIDEO_TS/VTS_01_1.VOB ]; then
    $FF -i clip.vob -map 0:v -map 0:a:0 -target pal-dvd -c copy dvd1.mpg
    cp dvd1.mpg dvd2.mpg
    printf '<dvdauthor><vmgm /><titleset><titles><pgc><vob file="dvd1.mpg" /><vob file="dvd2.mpg" /></pgc></titles></titleset></dvdauthor>\n' > title.xml
    rm -rf title
    VIDEO_FORMAT=PAL dvdauthor -o title -x title.xml > /dev/null 2>&1
  fi
  vob=title/VIDEO_TS/VTS_01_1.VOB
  total=$("$dev" info "$vob" | sed 's/.*frames=\([0-9]*\).*/\1/')
  frames=$(awk -v n="$total" 'BEGIN { srand(7); for (i = 0; i < 100; i++) printf "%d ", int(rand() * n) }')
  : > times.txt
  for run in $(seq "$runs"); do
    t0=$(now); "$dev" frame "$vob" $frames --out /dev/null > /dev/null; t1=$(now)
    echo "$t1 - $t0" | bc -l >> times.txt
  done
  printf 'exact search in a DVD title of %s frames: %.1f ms per random frame (median of %d runs; goal <= 15)\n' \
    "$total" "$(median < times.txt | awk '{ print $1 * 10 }')" "$runs"
fi
