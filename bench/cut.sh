#!/usr/bin/env bash
# Cutting and patching a 1 GB 1920x1080 MPEG-2 elementary stream against
# plain copies of the same warm file, and reading a list of three files
# against reading its members:
#   cut GOP 1 .. last GOP        vs  cat FILE > COPY          (goal <= 1.5)
#   patch --vbv-delay-add 900    vs  cat FILE > /dev/null     (goal <= 2)
#   read of a three-member list  vs  read of each member      (goal <= 1.1)
# Paired runs, median of the ratios. TAMSEL_FILE_SYNC=0 in the environment
# turns off the product's periodic data sync of written files.
# Usage: bench/cut.sh [BUILD_DIR] [RUNS]   (a Release build; default build/rel, 3 runs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/rel}" && pwd)
runs=${2:-3}
dev=$build/devtool/tamsel-dev
[ -x "$dev" ] || { echo "no tamsel-dev in $build" >&2; exit 1; }
work=${TMPDIR:-/tmp}/tamsel-bench-cut
mkdir -p "$work"
cd "$work"
# Writes sync to disk every 4 MiB unless TAMSEL_FILE_SYNC=0 (cat never does).
echo "file sync every 4 MiB: $([ "${TAMSEL_FILE_SYNC:-1}" = 0 ] && echo off || echo on)"

if [ ! -s clip1080.m2v ]; then
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=20 \
    -vf noise=alls=12:allf=t -c:v mpeg2video -b:v 20M -minrate 20M -maxrate 20M -bufsize 9781248 -g 12 -bf 2 \
    -f mpeg2video clip1080.m2v
fi
if [ ! -s big1g.m2v ] || [ "$(stat -c %s big1g.m2v)" -lt $((1 << 30)) ]; then
  : > big1g.m2v
  while [ "$(stat -c %s big1g.m2v)" -lt $((1 << 30)) ]; do cat clip1080.m2v >> big1g.m2v; done
fi
# Three members of about a third each, cut at byte offsets.
size=$(stat -c %s big1g.m2v)
third=$((size / 3))
if [ ! -s m2.m2v ]; then
  head -c "$third" big1g.m2v > m0.m2v
  dd if=big1g.m2v of=m1.m2v bs=1M iflag=skip_bytes,count_bytes skip="$third" count="$third" status=none
  dd if=big1g.m2v of=m2.m2v bs=1M iflag=skip_bytes skip=$((2 * third)) status=none
fi
printf '[MBSFile]\nNumFile= 3\nFile= %s\nFile= %s\nFile= %s\n' "$work/m0.m2v" "$work/m1.m2v" "$work/m2.m2v" > three.mbs

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
ratio() { awk -v a="$1" -v b="$2" -v c="$3" 'BEGIN { printf "%.6f %.6f %.6f\n", b - a, c - b, (c - b) / (b - a) }'; }
report() {  # FILE WHAT PEER GOAL
  printf '%s: median %.3f s; %s: median %.3f s; median ratio of %d paired runs %.2f (goal <= %s)\n' "$2" \
    "$(cut -d' ' -f2 "$1" | median)" "$3" "$(cut -d' ' -f1 "$1" | median)" "$runs" "$(cut -d' ' -f3 "$1" | median)" "$4"
}

cat big1g.m2v > /dev/null
"$dev" cut big1g.m2v 1 -1 cut.m2v > /dev/null
: > cut.txt
for run in $(seq "$runs"); do
  rm -f copy.m2v cut.m2v
  t0=$(now); cat big1g.m2v > copy.m2v; t1=$(now)
  "$dev" cut big1g.m2v 1 -1 cut.m2v > cut.out; t2=$(now)
  ratio "$t0" "$t1" "$t2" >> cut.txt
done
report cut.txt "cut 1..-1" "cat > copy" 1.5
cat cut.out
rm -f cut.m2v

: > patch.txt
for run in $(seq "$runs"); do
  add=$(( run % 2 ? 900 : -900 ))
  t0=$(now); cat copy.m2v > /dev/null; t1=$(now)
  "$dev" patch copy.m2v --vbv-delay-add "$add" > patch.out; t2=$(now)
  ratio "$t0" "$t1" "$t2" >> patch.txt
done
report patch.txt "patch --vbv-delay-add" "cat > /dev/null" 2
cat patch.out
rm -f copy.m2v

cat m0.m2v m1.m2v m2.m2v > /dev/null
: > read.txt
for run in $(seq "$runs"); do
  t0=$(now)
  for m in m0 m1 m2; do "$dev" read $m.m2v 0 "$size" /dev/null > /dev/null; done
  t1=$(now)
  "$dev" read three.mbs 0 "$size" /dev/null > read.out; t2=$(now)
  ratio "$t0" "$t1" "$t2" >> read.txt
done
report read.txt "read of the list" "read of the members" 1.1
cat read.out
