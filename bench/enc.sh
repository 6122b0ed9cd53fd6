#!/usr/bin/env bash
# Intra encoding speed against a peer encoder in one run: `tamsel-dev encode`
# of 100 frames of 720x576 at --quant 4 --constant --q-scale-type 0 against
# ffmpeg's single-thread MPEG-2 intra encoding at quantiser 4, both the whole
# process's processor time (user + system). Medians of RUNS runs, the
# programs interleaved. Fails above 1.0x ffmpeg's time.
# Usage: bench/enc.sh TAMSEL_DEV WORK_DIR [RUNS]
set -euo pipefail
dev=${1:?usage: enc.sh TAMSEL_DEV WORK_DIR [RUNS]}
work=${2:?usage: enc.sh TAMSEL_DEV WORK_DIR [RUNS]}
runs=${3:-5}
mkdir -p "$work"
clip="$work/bench_enc_720x576.y4m"
if [ ! -f "$clip" ]; then
  ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=720x576:rate=25 \
    -f lavfi -i gradients=size=720x576:rate=25:speed=0.05 \
    -filter_complex "[0][1]blend=all_mode=average,format=yuv420p,noise=alls=6:allf=t" -frames:v 100 \
    -pix_fmt yuv420p "$clip"
fi
tmp=$(mktemp)
trap 'rm -f "$tmp" "$work/bench_enc_ours.m2v"' EXIT

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
ours() {
  /usr/bin/time -f "%U %S" -o "$tmp" "$dev" encode "$clip" "$work/bench_enc_ours.m2v" --intra-only --quant 4 \
    --constant --q-scale-type 0 >/dev/null
  awk '{print $1 + $2}' "$tmp"
}
peer() {
  /usr/bin/time -f "%U %S" -o "$tmp" ffmpeg -nostdin -loglevel error -threads 1 -i "$clip" -c:v mpeg2video \
    -threads 1 -g 1 -bf 0 -qmin 4 -qmax 4 -q:v 4 -f null - >/dev/null 2>&1
  awk '{print $1 + $2}' "$tmp"
}
o=() f=()
for _ in $(seq "$runs"); do
  o+=("$(ours)")
  f+=("$(peer)")
done
om=$(printf '%s\n' "${o[@]}" | median)
fm=$(printf '%s\n' "${f[@]}" | median)
ratio=$(awk -v a="$om" -v b="$fm" 'BEGIN {printf "%.3f", a / b}')
echo "encode_intra ours_s=$om ffmpeg_s=$fm ratio=$ratio"
awk -v r="$ratio" 'BEGIN {exit !(r <= 1.0)}'
