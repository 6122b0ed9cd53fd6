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

measure() {  # "WALL USER" seconds of "$@"; fails with the command
  /usr/bin/time -f '%e %U' -o "$work/time.txt" "$@" > /dev/null 2> "$work/err.txt" ||
    { echo "failed: $*" >&2; cat "$work/err.txt" >&2; exit 1; }
  cat "$work/time.txt"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
col() { local k=$1; shift; for x in "$@"; do echo "$x" | cut -d' ' -f"$k"; done; }
# Wall-clock medians and their ratios; the user-CPU ratio beside them is
# the steadier figure on a loaded machine (the writes' kernel time swings).
report() {  # NAME, then the model's, tamsel-dev's and ffmpeg's samples joined by ";"
  local name=$1 mw dw fw mu du
  IFS=';' read -r -a ms <<< "$2"; IFS=';' read -r -a ds <<< "$3"; IFS=';' read -r -a fs <<< "$4"
  mw=$(median $(col 1 "${ms[@]}")); dw=$(median $(col 1 "${ds[@]}")); fw=$(median $(col 1 "${fs[@]}"))
  mu=$(median $(col 2 "${ms[@]}")); du=$(median $(col 2 "${ds[@]}"))
  printf '%-8s model=%6.2fs tamsel-dev=%6.2fs ffmpeg=%6.2fs  model/dev=%.3f (goal <= 1.05)  model/ffmpeg=%.2f  user CPU model/dev=%.3f\n' \
    "$name" "$mw" "$dw" "$fw" "$(echo "$mw / $dw" | bc -l)" "$(echo "$mw / $fw" | bc -l)" \
    "$(echo "$mu / ($du + 0.001)" | bc -l)"
}
join() { local IFS=';'; echo "$*"; }

m=() d=() f=()
for _ in $(seq "$runs"); do
  m+=("$(measure "$models" convert "$work/big.vob" "$work/m.ts" 4)")
  d+=("$(measure "$dev" convert big.vob d.ts --kind ts)")
  f+=("$(measure $FF -i big.vob -map 0:v -map 0:a -c copy -f mpegts f.ts)")
  rm -f m.ts d.ts f.ts
done
report convert "$(join "${m[@]}")" "$(join "${d[@]}")" "$(join "${f[@]}")"

m=() d=() f=()
for _ in $(seq "$runs"); do
  rm -rf dd && mkdir dd
  m+=("$(measure "$models" demux "$work/big.vob" "$work/v.m2v" "$work/a.mp2")")
  d+=("$(measure "$dev" demux big.vob dd --only 224 --only 192)")
  f+=("$(measure $FF -i big.vob -map 0:v -c copy -f mpeg2video fv.m2v -map 0:a -c copy -f mp2 fa.mp2)")
  rm -f fv.m2v fa.mp2
done
report demux "$(join "${m[@]}")" "$(join "${d[@]}")" "$(join "${f[@]}")"
rm -rf dd

m=() d=() f=()
for _ in $(seq "$runs"); do
  m+=("$(measure "$models" mux "$work/v.m2v" "$work/a.mp2" "$work/m.mpg" 3)")
  d+=("$(measure "$dev" muxjob d.mpg --format 3 v.m2v a.mp2)")
  f+=("$(measure $FF -fflags +genpts -i v.m2v -i a.mp2 -c copy -f vob f.mpg)")
  rm -f m.mpg d.mpg f.mpg
done
report mux "$(join "${m[@]}")" "$(join "${d[@]}")" "$(join "${f[@]}")"
echo "source: $(stat -c %s big.vob) bytes; medians of $runs; $(uptime | sed 's/.*load/load/')"
