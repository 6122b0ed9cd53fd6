#!/usr/bin/env bash
# Systems-stream conversion: `tamsel-dev convert --kind ts` of a 500 MB DVD
# program stream (720x576 MPEG-2 at 8 Mbit/s with MP2 audio) against
# `ffmpeg -i IN -map 0 -c copy -f mpegts`, paired runs on the warm file,
# median of the ratios (goal below 1.0).
# Usage: bench/convert.sh [BUILD_DIR] [RUNS]   (a Release build; default build/rel, 3 runs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/rel}" && pwd)
runs=${2:-3}
dev=$build/devtool/tamsel-dev
[ -x "$dev" ] || { echo "no tamsel-dev in $build" >&2; exit 1; }
work=${TMPDIR:-/tmp}/tamsel-bench-convert
mkdir -p "$work"
cd "$work"
FF="ffmpeg -nostdin -hide_banner -loglevel fatal -y"

if [ ! -s clip.vob ]; then
  $FF -f lavfi -i testsrc2=size=720x576:rate=25:duration=20 -f lavfi -i sine=sample_rate=48000:duration=20 \
    -map 0:v -map 1:a -vf noise=alls=12:allf=t -c:v mpeg2video -b:v 8M -minrate 8M -maxrate 8M \
    -bufsize 1835008 -g 15 -bf 2 -c:a mp2 -b:a 192k -threads 1 -f vob clip.vob
fi
# One program stream 500 MB long: the clip's streams repeated with running
# time stamps.
if [ ! -s big.vob ] || [ "$(stat -c %s big.vob)" -lt $((500 << 20)) ]; then
  loops=$(( (500 << 20) / $(stat -c %s clip.vob) ))
  $FF -stream_loop "$loops" -i clip.vob -map 0 -c copy -f vob big.vob
fi

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

cat big.vob > /dev/null
: > pairs.txt
for run in $(seq "$runs"); do
  rm -f ours.ts theirs.ts
  t0=$(now); "$dev" convert big.vob ours.ts --kind ts > convert.txt; t1=$(now)
  $FF -i big.vob -map 0 -c copy -f mpegts theirs.ts; t2=$(now)
  awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { printf "%.6f %.6f %.6f\n", b - a, c - b, (b - a) / (c - b) }' >> pairs.txt
done
printf 'convert --kind ts of %d MB: median %.2f s (%s); ffmpeg -c copy -f mpegts: median %.2f s; median ratio of %d paired runs %.2f (goal below 1.0)\n' \
  "$(( $(stat -c %s big.vob) >> 20 ))" "$(cut -d' ' -f1 pairs.txt | median)" "$(tail -n1 convert.txt)" \
  "$(cut -d' ' -f2 pairs.txt | median)" "$runs" "$(cut -d' ' -f3 pairs.txt | median)"
rm -f ours.ts theirs.ts
