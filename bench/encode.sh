#!/usr/bin/env bash
# I/P/B encoding speed and quality against peers in one run: 100 frames of
# 720x576 mandelbrot zoom at 6 Mbit/s, GOP 15/3, with `tamsel-dev encode`,
# ffmpeg's defaults (-threads 1), ffmpeg with its slow decisions
# (-mbd rd -trellis 2 -cmp 2 -subcmp 2) and mpeg2enc -M 0 -f 8. Processor
# time (user + system), medians of RUNS runs, programs interleaved; luma
# PSNR of each output against the source. Fails above 2.0x the time of
# ffmpeg's defaults.
# Usage: bench/encode.sh TAMSEL_DEV WORK_DIR [RUNS]
set -euo pipefail
dev=${1:?usage: encode.sh TAMSEL_DEV WORK_DIR [RUNS]}
work=${2:?usage: encode.sh TAMSEL_DEV WORK_DIR [RUNS]}
runs=${3:-3}
mkdir -p "$work"
clip="$work/bench_encode_720x576.y4m"
if [ ! -f "$clip" ]; then
  ffmpeg -nostdin -loglevel error -y -f lavfi -i mandelbrot=size=720x576:rate=25 -frames:v 100 -pix_fmt yuv420p \
    "$clip"
fi
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
rate=6000000
ff_rc=(-b:v $rate -minrate $rate -maxrate $rate -bufsize 1835008 -g 15 -bf 2)

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
timed() {
  /usr/bin/time -f "%U %S" -o "$tmp" "$@" >/dev/null 2>&1
  awk '{print $1 + $2}' "$tmp"
}
ours() { timed "$dev" encode "$clip" "$work/ours.m2v" --bit-rate $rate --vbv 112 --gop 15 3; }
ffdef() { timed ffmpeg -nostdin -loglevel error -y -threads 1 -i "$clip" -c:v mpeg2video -threads 1 "${ff_rc[@]}" \
  "$work/ffdef.m2v"; }
ffhq() { timed ffmpeg -nostdin -loglevel error -y -threads 1 -i "$clip" -c:v mpeg2video -threads 1 "${ff_rc[@]}" \
  -mbd rd -trellis 2 -cmp 2 -subcmp 2 "$work/ffhq.m2v"; }
# mpeg2enc takes its buffer in KiB (112 x 16 kbit = 224 KiB) and the B
# pictures per reference with -R.
m2e() { timed sh -c "mpeg2enc -M 0 -f 8 -b $((rate / 1000)) -V 224 -g 15 -G 15 -R 2 -o '$work/m2e.m2v' < '$clip'"; }
psnr() {
  ffmpeg -nostdin -hide_banner -i "$clip" -i "$1" -lavfi "[0:v]settb=1/25,setpts=N[a];[1:v]settb=1/25,setpts=N[b];[a][b]psnr" -f null - 2>&1 |
    grep -o 'PSNR y:[0-9.inf]*' | cut -d: -f2
}
rm -f "$work"/{ours,ffdef,ffhq,m2e}.m2v
o=() d=() h=() m=()
have_m2e=0
command -v mpeg2enc >/dev/null && have_m2e=1
for _ in $(seq "$runs"); do
  o+=("$(ours)")
  d+=("$(ffdef)")
  h+=("$(ffhq)")
  [ $have_m2e = 1 ] && m+=("$(m2e)")
done
# A peer that wrote nothing would give a meaningless ratio: stop instead.
for f in ours ffdef ffhq $([ $have_m2e = 1 ] && echo m2e); do
  [ -s "$work/$f.m2v" ] || { echo "encode_ipb: $f wrote no stream" >&2; exit 1; }
done
om=$(printf '%s\n' "${o[@]}" | median)
dm=$(printf '%s\n' "${d[@]}" | median)
hm=$(printf '%s\n' "${h[@]}" | median)
line="encode_ipb ours_s=$om ffmpeg_s=$dm ffmpeg_hq_s=$hm"
line+=" ratio=$(awk -v a="$om" -v b="$dm" 'BEGIN {printf "%.3f", a / b}')"
line+=" ratio_hq=$(awk -v a="$om" -v b="$hm" 'BEGIN {printf "%.3f", a / b}')"
line+=" psnr_ours=$(psnr "$work/ours.m2v") psnr_ffmpeg=$(psnr "$work/ffdef.m2v") psnr_ffmpeg_hq=$(psnr "$work/ffhq.m2v")"
line+=" bytes_ours=$(stat -c %s "$work/ours.m2v") bytes_ffmpeg=$(stat -c %s "$work/ffdef.m2v")"
if [ $have_m2e = 1 ]; then
  mm=$(printf '%s\n' "${m[@]}" | median)
  line+=" mpeg2enc_s=$mm psnr_mpeg2enc=$(psnr "$work/m2e.m2v")"
fi
echo "$line"
awk -v a="$om" -v b="$dm" 'BEGIN {exit !(a / b <= 2.0)}'
