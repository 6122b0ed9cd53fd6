#!/usr/bin/env bash
# Save speed in one run, warm cache, wall-clock time:
#   1. a 1 GB MPEG-2 elementary stream saved with two joins
#      (--gop-only --kind es) against cp of the same file, then frame-accurate
#      with the joins inside GOPs; the goal is at most 1.1 x cp + 0.3 s per
#      join, and no picture decoded or re-encoded away from the cuts;
#   2. a 500 MB DVD program stream saved --gop-only --kind dvd against
#      ffmpeg -i IN -c copy -f dvd; the goal is at most ffmpeg's time.
# The sources are made once into WORK (default /tmp/tamsel-bench-save) by
# repeating a short encoded stream; each pair runs RUNS times (default 3),
# alternating with its peer; prints the medians and their ratios.
# Usage: bench/save.sh TAMSEL_DEV [WORK]
set -euo pipefail
dev=${1:?usage: save.sh TAMSEL_DEV [WORK]}
work=${2:-/tmp/tamsel-bench-save}
mkdir -p "$work"
FF="ffmpeg -nostdin -hide_banner -loglevel error -y"
es=$work/big.m2v
vob=$work/big.vob
if [ ! -s "$es" ]; then
  $FF -f lavfi -i testsrc=size=720x576:rate=25:duration=20 -c:v mpeg2video -b:v 8M -minrate 8M -maxrate 8M \
    -bufsize 1835008 -g 12 -bf 2 -flags +cgop -sc_threshold 1000000000 -f mpeg2video "$work/piece.m2v"
  # Closed GOPs join cleanly: the repeats form one decodable stream.
  n=$(( 1000000000 / $(stat -c %s "$work/piece.m2v") + 1 ))
  for _ in $(seq "$n"); do cat "$work/piece.m2v"; done | head -c 1000000000 > "$es"
fi
if [ ! -s "$vob" ]; then
  $FF -i "$es" -c copy -fs 500000000 -f dvd "$vob"
fi
frames=$("$dev" describe "$es" | sed -n 's/.*frames=\([0-9]*\).*/\1/p' | head -1)
[ -n "$frames" ] || frames=$(( $(stat -c %s "$es") / 75000 ))
wall() {  # seconds of wall-clock time of "$@"
  local s e
  s=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  e=$(date +%s.%N)
  echo "$e - $s" | bc -l
}
cat "$es" > /dev/null
cat "$vob" > /dev/null
third=$(( frames / 3 ))
keep="0:$(( third - 100 )),$(( third )):$(( 2 * third - 100 )),$(( 2 * third )):$(( frames - 1 ))"
runs=${RUNS:-3}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
cps=() ess=() ffs=() dvds=()
for _ in $(seq "$runs"); do
  cps+=("$(wall cp "$es" "$work/copy.m2v")")
  rm -f "$work/copy.m2v"
  ess+=("$(wall "$dev" save "$es" "$work/out.m2v" --keep "$keep" --gop-only --kind es)")
  rm -f "$work/out.m2v"
done
t_cp=$(median "${cps[@]}")
t_es=$(median "${ess[@]}")
goal=$(echo "1.1 * $t_cp + 0.6" | bc -l)
printf 'save es: tamsel=%.2fs cp=%.2fs ratio=%.2f goal<=%.2fs (medians of %d)\n' "$t_es" "$t_cp" "$(echo "$t_es / $t_cp" | bc -l)" "$goal" "$runs"

# Frame-accurate: the same two joins, each inside a GOP; the counters show
# that only the pictures around the cuts are decoded and re-encoded.
keep_fa="5:$(( third - 95 )),$(( third + 7 )):$(( 2 * third - 93 )),$(( 2 * third + 4 )):$(( frames - 1 ))"
s0=$(date +%s.%N)
line=$("$dev" save "$es" "$work/out.m2v" --keep "$keep_fa" --kind es | grep '^save ')
t_fa=$(echo "$(date +%s.%N) - $s0" | bc -l)
rm -f "$work/out.m2v"
printf 'save es frame-accurate: tamsel=%.2fs cp=%.2fs ratio=%.2f goal<=%.2fs %s\n' "$t_fa" "$t_cp" \
  "$(echo "$t_fa / $t_cp" | bc -l)" "$goal" "$(echo "$line" | grep -o 'reencoded=[0-9]* decoded=[0-9]*')"

for _ in $(seq "$runs"); do
  ffs+=("$(wall $FF -i "$vob" -c copy -f dvd "$work/ff.vob")")
  rm -f "$work/ff.vob"
  dvds+=("$(wall "$dev" save "$vob" "$work/out.vob" --keep 0:999999999 --gop-only --kind dvd)")
  rm -f "$work/out.vob"
done
t_ff=$(median "${ffs[@]}")
t_dvd=$(median "${dvds[@]}")
printf 'save dvd: tamsel=%.2fs ffmpeg=%.2fs ratio=%.2f (medians of %d)\n' "$t_dvd" "$t_ff" "$(echo "$t_dvd / $t_ff" | bc -l)" "$runs"
