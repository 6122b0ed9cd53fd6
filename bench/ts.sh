#!/usr/bin/env bash
# Transport streams, against peers on the same warm files (paired runs,
# median of the ratios):
#  - `tamsel-dev gops` walking the whole index of a 1 GB 8 Mbit/s MPEG-2
#    transport stream with MP2 and AC-3, against cat of the file
#    (goal <= 2.5, aim 2);
#  - `tamsel-dev demux` of its three streams into files, against
#    `ffmpeg -c copy` of the same streams into files (goal < 1);
#  - opening a 4 GB transport stream in a fresh process, time-stamp table
#    included (`tamsel-dev streams`; goal < 1 s).
# The big files repeat one 60-second recording: every copy starts its time
# stamps again, as joined recordings do, so the opening builds a table.
# Usage: bench/ts.sh [BUILD_DIR] [RUNS]   (a Release build; default build/rel, 5 runs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/rel}" && pwd)
runs=${2:-5}
dev=$build/devtool/tamsel-dev
[ -x "$dev" ] || { echo "no tamsel-dev in $build" >&2; exit 1; }
work=${TMPDIR:-/tmp}/tamsel-bench-ts
mkdir -p "$work"
cd "$work"

FF="ffmpeg -nostdin -hide_banner -loglevel error -y"
if [ ! -s clip.ts ]; then
  $FF -f lavfi -i testsrc2=size=720x576:rate=25:duration=60 -vf noise=alls=12:allf=t \
    -c:v mpeg2video -b:v 8M -minrate 8M -maxrate 8M -bufsize 1835008 -g 12 -bf 2 -f mpeg2video clip.m2v
  $FF -f lavfi -i sine=frequency=440:sample_rate=48000:duration=60 -ac 2 -c:a mp2 -b:a 192k -f mp2 clip.mp2
  $FF -f lavfi -i sine=frequency=660:sample_rate=48000:duration=60 -ac 2 -c:a ac3 -b:a 192k -f ac3 clip.ac3
  $FF -fflags +genpts -r 25 -i clip.m2v -i clip.mp2 -i clip.ac3 -map 0:v -map 1:a -map 2:a -c copy -f mpegts clip.ts
fi
make_big() {  # NAME BYTES
  [ -s "$1" ] && [ "$(stat -c %s "$1")" -ge "$2" ] && return
  : > "$1"
  while [ "$(stat -c %s "$1")" -lt "$2" ]; do cat clip.ts >> "$1"; done
}
make_big big1g.ts $((1 << 30))
make_big big4g.ts $((4 << 30))

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# The GOP walk against cat.
cat big1g.ts > /dev/null
"$dev" gops big1g.ts > gops.txt
: > pairs.txt
for run in $(seq "$runs"); do
  t0=$(now); cat big1g.ts > /dev/null; t1=$(now)
  "$dev" gops big1g.ts > gops.txt; t2=$(now)
  awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { printf "%.6f %.6f %.6f\n", b - a, c - b, (c - b) / (b - a) }' >> pairs.txt
done
printf 'gops walk: %s GOPs, median %.3f s; cat: median %.3f s; median ratio of %d paired runs %.2f (goal <= 2.5, aim 2)\n' \
  "$(grep -c '^gop ' gops.txt)" "$(cut -d' ' -f2 pairs.txt | median)" "$(cut -d' ' -f1 pairs.txt | median)" "$runs" \
  "$(cut -d' ' -f3 pairs.txt | median)"
tail -n 1 gops.txt

# Demultiplexing into files against ffmpeg's stream copy.
mkdir -p ours theirs
: > pairs.txt
for run in $(seq "$runs"); do
  rm -f ours/* theirs/*
  t0=$(now); "$dev" demux big1g.ts ours > demux.txt; t1=$(now)
  $FF -i big1g.ts -map 0:v -c copy -f mpeg2video theirs/v.m2v -map 0:a:0 -c copy -f mp2 theirs/a.mp2 \
    -map 0:a:1 -c copy -f ac3 theirs/a.ac3 2>/dev/null || true
  t2=$(now)
  awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { printf "%.6f %.6f %.6f\n", b - a, c - b, (b - a) / (c - b) }' >> pairs.txt
done
printf 'demux into files: median %.3f s; ffmpeg -c copy: median %.3f s; median ratio of %d paired runs %.2f (goal < 1)\n' \
  "$(cut -d' ' -f1 pairs.txt | median)" "$(cut -d' ' -f2 pairs.txt | median)" "$runs" "$(cut -d' ' -f3 pairs.txt | median)"
cat demux.txt
# The file layer syncs written data every 4 MiB; without that the job runs
# at the speed of the page cache, as ffmpeg's writes do.
: > pairs.txt
for run in $(seq "$runs"); do
  rm -f ours/*
  t0=$(now); TAMSEL_FILE_SYNC=0 "$dev" demux big1g.ts ours > /dev/null; t1=$(now)
  echo "$t1 - $t0" | bc -l >> pairs.txt
done
printf 'demux into files without the periodic sync: median %.3f s\n' "$(median < pairs.txt)"
rm -f ours/* theirs/*

# Opening 4 GB in a fresh process: tables, ES discovery, length, time stamps.
head -c 1 big4g.ts > /dev/null
: > opens.txt
for run in $(seq "$runs"); do
  t0=$(now); "$dev" streams big4g.ts > streams.txt; t1=$(now)
  echo "$t1 - $t0" | bc -l >> opens.txt
done
printf 'open 4 GB: median %.3f s of %d runs, %s time-stamp parts (goal < 1 s)\n' "$(median < opens.txt)" "$runs" \
  "$(grep -c '^tstable ' streams.txt)"
