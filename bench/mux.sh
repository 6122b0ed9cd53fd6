#!/usr/bin/env bash
# Muxes about 300 MB of 720x576 MPEG-2 with 48 kHz MP2 into an MPEG-2
# program stream with `tamsel-dev mux --kind ps`, and the same files with
# `mplex -f 3` and `ffmpeg ... -c copy -f vob`; then a DVD stream with
# navigation packs (`--kind dvd` against `mplex -f 8` and `-f dvd`, and
# against our own `--kind ps` for the share of the NV patch pass) and a
# transport stream (`--kind ts` against `-f mpegts`); on warm files (paired
# runs, median of the ratios; below 1.0 means we are faster).
# Our writes sync to disk every 4 MB unless TAMSEL_FILE_SYNC=0 (the peers
# never sync); run it both ways to see that share. The video repeats one
# 20-second clip; each copy restarts its time codes,
# which the muxer's filter makes continuous.
# Usage: bench/mux.sh [BUILD_DIR] [RUNS]   (a Release build; default build/rel, 3 runs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/rel}" && pwd)
runs=${2:-3}
dev=$build/devtool/tamsel-dev
[ -x "$dev" ] || { echo "no tamsel-dev in $build" >&2; exit 1; }
work=${TMPDIR:-/tmp}/tamsel-bench-mux
mkdir -p "$work"
cd "$work"
FF="ffmpeg -nostdin -hide_banner -loglevel error -y"
if [ ! -s clip.m2v ]; then
  $FF -f lavfi -i testsrc2=size=720x576:rate=25:duration=20 -vf noise=alls=10:allf=t -c:v mpeg2video \
    -b:v 6M -minrate 6M -maxrate 6M -bufsize 1835008 -g 12 -bf 2 -f mpeg2video clip.m2v
fi
if [ ! -s v.m2v ] || [ "$(stat -c %s v.m2v)" -lt $((300 << 20)) ]; then
  : > v.m2v
  while [ "$(stat -c %s v.m2v)" -lt $((300 << 20)) ]; do cat clip.m2v >> v.m2v; done
fi
seconds=$(( $(stat -c %s v.m2v) * 8 / 6000000 ))
[ -s a.mp2 ] || $FF -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds" -ac 2 -c:a mp2 -b:a 192k \
  -f mp2 a.mp2

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
cat v.m2v a.mp2 > /dev/null
: > pairs.txt
for run in $(seq "$runs"); do
  t0=$(now); "$dev" mux --kind ps ours.mpg v.m2v a.mp2 > ours.txt; t1=$(now)
  mplex -v 0 -f 3 -o mplex.mpg v.m2v a.mp2 2> /dev/null || true; t2=$(now)  # it reports under-runs of its own
  $FF -fflags +genpts -r 25 -i v.m2v -i a.mp2 -c copy -f vob ff.vob; t3=$(now)
  awk -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" \
    'BEGIN { printf "%.6f %.6f %.6f %.4f %.4f\n", b - a, c - b, d - c, (b - a) / (c - b), (b - a) / (d - c) }' >> pairs.txt
  rm -f mplex.mpg ff.vob
done
printf 'mux of %d MB: ours median %.2f s, mplex %.2f s, ffmpeg %.2f s; median ratios ours/mplex %.2f, ours/ffmpeg %.2f (%d runs, goal < 1.0)\n' \
  "$(( $(stat -c %s v.m2v) >> 20 ))" "$(cut -d' ' -f1 pairs.txt | median)" "$(cut -d' ' -f2 pairs.txt | median)" \
  "$(cut -d' ' -f3 pairs.txt | median)" "$(cut -d' ' -f4 pairs.txt | median)" "$(cut -d' ' -f5 pairs.txt | median)" "$runs"
tail -n 1 ours.txt

# DVD and transport streams.
: > pairs2.txt
for run in $(seq "$runs"); do
  t0=$(now); "$dev" mux --kind dvd dvd.mpg v.m2v a.mp2 > dvd.txt; t1=$(now)
  mplex -v 0 -f 8 -o mplex.mpg v.m2v a.mp2 2> /dev/null || true; t2=$(now)
  $FF -fflags +genpts -r 25 -i v.m2v -i a.mp2 -c copy -f dvd ff.vob; t3=$(now)
  "$dev" mux --kind ps ps.mpg v.m2v a.mp2 > /dev/null; t4=$(now)
  "$dev" mux --kind ts ours.ts v.m2v a.mp2 > ts.txt; t5=$(now)
  $FF -fflags +genpts -r 25 -i v.m2v -i a.mp2 -c copy -f mpegts ff.ts; t6=$(now)
  awk -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" -v e="$t4" -v f="$t5" -v g="$t6" \
    'BEGIN { printf "%.4f %.4f %.4f %.4f\n", (b - a) / (c - b), (b - a) / (d - c), (b - a) / (e - d), (f - e) / (g - f) }' \
    >> pairs2.txt
  rm -f mplex.mpg ff.vob ff.ts ps.mpg
done
printf 'dvd: median ratios ours/mplex -f 8 %.2f, ours/ffmpeg -f dvd %.2f, dvd/ps (NV packs and patch) %.3f; ts: ours/ffmpeg -f mpegts %.2f (%d runs)\n' \
  "$(cut -d' ' -f1 pairs2.txt | median)" "$(cut -d' ' -f2 pairs2.txt | median)" "$(cut -d' ' -f3 pairs2.txt | median)" \
  "$(cut -d' ' -f4 pairs2.txt | median)" "$runs"
tail -n 1 dvd.txt
tail -n 1 ts.txt
