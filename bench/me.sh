#!/usr/bin/env bash
# Motion-estimation speed against a peer encoder in one run: the estimation
# time per picture of `tamsel-dev me` (default word; its own total of
# thread processor microseconds, reduced layers included) against ffmpeg's whole single-thread
# MPEG-2 encoding time per picture (user + system) of the same 720x576
# clip of 100 frames, GOP 15 with two B pictures. Medians of RUNS runs,
# the programs interleaved. Also reports `--no-half-pel --level 1`.
# Fails when the default word takes more than 1.0x ffmpeg's time.
# Usage: bench/me.sh TAMSEL_DEV WORK_DIR [RUNS]
set -euo pipefail
dev=${1:?usage: me.sh TAMSEL_DEV WORK_DIR [RUNS]}
work=${2:?usage: me.sh TAMSEL_DEV WORK_DIR [RUNS]}
runs=${3:-5}
mkdir -p "$work"
clip="$work/bench_me_720x576.yuv"
if [ ! -f "$clip" ]; then
  ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=720x576:rate=25 \
    -f lavfi -i gradients=size=720x576:rate=25:speed=0.05 \
    -filter_complex "[0][1]blend=all_mode=average,format=yuv420p,noise=alls=6:allf=t" -frames:v 100 \
    -pix_fmt yuv420p -f rawvideo "$clip"
fi
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
frames=100

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
ours_us() {  # microseconds of estimation per picture
  "$dev" me "$clip" 720 576 --gop 15 3 "$@" | awk -F'[ =]' '/^total/ {print $5 / $3}'
}
ffmpeg_us() {  # CPU microseconds of the whole encode per picture
  /usr/bin/time -f "%U %S" -o "$tmp" ffmpeg -nostdin -loglevel error -threads 1 -f rawvideo -pix_fmt yuv420p \
    -s 720x576 -i "$clip" -c:v mpeg2video -threads 1 -b:v 6000k -g 15 -bf 2 -f null - >/dev/null 2>&1
  awk -v n=$frames '{print ($1 + $2) * 1e6 / n}' "$tmp"
}

o=() f=() q=()
for _ in $(seq "$runs"); do
  o+=("$(ours_us)")
  f+=("$(ffmpeg_us)")
  q+=("$(ours_us --no-half-pel --level 1)")
done
ours=$(printf '%s\n' "${o[@]}" | median)
ff=$(printf '%s\n' "${f[@]}" | median)
fast=$(printf '%s\n' "${q[@]}" | median)
ratio=$(echo "$ours / $ff" | bc -l)
printf 'clip=720x576x%d ours_us=%.0f ffmpeg_us=%.0f ratio=%.2f fast_us=%.0f fast_ratio=%.2f speedup=%.2f\n' \
  "$frames" "$ours" "$ff" "$ratio" "$fast" "$(echo "$fast / $ff" | bc -l)" "$(echo "$ours / $fast" | bc -l)"
[ "$(echo "$ratio <= 1.0" | bc -l)" = 1 ]
