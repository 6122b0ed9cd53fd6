#!/usr/bin/env bash
# The stream tool windows' jobs through their rules (bench_tool_models:
# the convertor, demultiplexer and multiplexer models, polled as their
# windows poll) against the same engine calls without them (tamsel-dev
# convert, demux, muxjob) and against ffmpeg -c copy, in one run on warm
# files: a DVD program stream of SIZE_MB (default 1000) converted to a
# transport stream, split into its video and audio, and those two
# multiplexed again as an MPEG-2 program stream. Each triple runs RUNS
# times (default 3) in turn; prints the medians and the ratios (goal:
# model / tamsel-dev at most 1.05). Our writes do not sync to disk here
# (TAMSEL_FILE_SYNC=0; the peers never sync).
# Usage: bench/tools.sh [BUILD_DIR]   (a Release build; default build/release)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/release}" && pwd)
dev=$build/devtool/tamsel-dev
models=$build/bench/bench_tool_models
for p in "$dev" "$models"; do [ -x "$p" ] || { echo "missing $p (build tamsel-dev bench_tool_models)" >&2; exit 1; }; done
export TAMSEL_FILE_SYNC=${TAMSEL_FILE_SYNC:-0}
size_mb=${SIZE_MB:-1000}
runs=${RUNS:-3}
work=${TMPDIR:-/tmp}/tamsel-bench-tools
mkdir -p "$work"
cd "$work"
FF="ffmpeg -nostdin -hide_banner -loglevel error -y"

# The source: one 20-second clip (closed GOPs, so copies join cleanly)
# repeated to the size, its sound repeated alike, put together by ffmpeg.
if [ ! -s big.vob ] || [ "$(stat -c %s big.vob)" -lt $(( size_mb * 900000 )) ]; then
  $FF -f lavfi -i testsrc2=size=720x576:rate=25:duration=20 -vf noise=alls=10:allf=t -c:v mpeg2video \
    -b:v 7M -minrate 7M -maxrate 7M -bufsize 1835008 -g 12 -bf 2 -flags +cgop -sc_threshold 1000000000 \
    -f mpeg2video clip.m2v
  $FF -f lavfi -i sine=f=440:r=48000:d=20 -ac 2 -c:a mp2 -b:a 192k -f mp2 clip.mp2
  n=$(( size_mb * 1000000 / $(stat -c %s clip.m2v) + 1 ))
  for _ in $(seq "$n"); do cat clip.m2v; done > src.m2v
  for _ in $(seq "$n"); do cat clip.mp2; done > src.mp2
  $FF -fflags +genpts -i src.m2v -i src.mp2 -c copy -f dvd big.vob
  rm -f src.m2v src.mp2
fi
cat big.vob > /dev/null

wall() {  # seconds of wall-clock time of "$@"; fails with the command
  local s e
  s=$(date +%s.%N)
  "$@" > /dev/null 2> "$work/err.txt" || { echo "failed: $*" >&2; cat "$work/err.txt" >&2; exit 1; }
  e=$(date +%s.%N)
  echo "$e - $s" | bc -l
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
report() {  # NAME MODEL DEV FFMPEG
  printf '%-8s model=%6.2fs tamsel-dev=%6.2fs ffmpeg=%6.2fs  model/dev=%.3f (goal <= 1.05)  model/ffmpeg=%.2f\n' \
    "$1" "$2" "$3" "$4" "$(echo "$2 / $3" | bc -l)" "$(echo "$2 / $4" | bc -l)"
}

m=() d=() f=()
for _ in $(seq "$runs"); do
  m+=("$(wall "$models" convert "$work/big.vob" "$work/m.ts" 4)")
  d+=("$(wall "$dev" convert big.vob d.ts --kind ts)")
  f+=("$(wall $FF -i big.vob -map 0:v -map 0:a -c copy -f mpegts f.ts)")
  rm -f m.ts d.ts f.ts
done
report convert "$(median "${m[@]}")" "$(median "${d[@]}")" "$(median "${f[@]}")"

m=() d=() f=()
for _ in $(seq "$runs"); do
  rm -rf dd && mkdir dd
  m+=("$(wall "$models" demux "$work/big.vob" "$work/v.m2v" "$work/a.mp2")")
  d+=("$(wall "$dev" demux big.vob dd --only 224 --only 192)")
  f+=("$(wall $FF -i big.vob -map 0:v -c copy -f mpeg2video fv.m2v -map 0:a -c copy -f mp2 fa.mp2)")
  rm -f fv.m2v fa.mp2
done
report demux "$(median "${m[@]}")" "$(median "${d[@]}")" "$(median "${f[@]}")"
rm -rf dd

m=() d=() f=()
for _ in $(seq "$runs"); do
  m+=("$(wall "$models" mux "$work/v.m2v" "$work/a.mp2" "$work/m.mpg" 3)")
  d+=("$(wall "$dev" muxjob d.mpg --format 3 v.m2v a.mp2)")
  f+=("$(wall $FF -fflags +genpts -i v.m2v -i a.mp2 -c copy -f vob f.mpg)")
  rm -f m.mpg d.mpg f.mpg
done
report mux "$(median "${m[@]}")" "$(median "${d[@]}")" "$(median "${f[@]}")"
echo "source: $(stat -c %s big.vob) bytes; medians of $runs; $(uptime | sed 's/.*load/load/')"
