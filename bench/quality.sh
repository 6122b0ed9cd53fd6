#!/usr/bin/env bash
# Luma PSNR at equal rate against ffmpeg's MPEG-2 defaults: three 720x576
# clips of 100 frames (mandelbrot zoom, a pan over a still with grain,
# testsrc2 mixed with gradients and noise), each at 4, 6 and 8 Mbit/s with
# a 112 x 16 kbit buffer and GOP 15/3. One line per case, then the mean and
# the smallest difference (ours - ffmpeg); size_ratio is our bytes over
# ffmpeg's, to show both spent the same rate.
# Usage: bench/quality.sh TAMSEL_DEV WORK_DIR
set -euo pipefail
dev=${1:?usage: quality.sh TAMSEL_DEV WORK_DIR}
work=${2:?usage: quality.sh TAMSEL_DEV WORK_DIR}
mkdir -p "$work"
frames=100
gen() { ffmpeg -nostdin -loglevel error -y "$@"; }

clip_mandelbrot="$work/quality_mandelbrot.y4m"
[ -f "$clip_mandelbrot" ] ||
  gen -f lavfi -i mandelbrot=size=720x576:rate=25 -frames:v $frames -pix_fmt yuv420p "$clip_mandelbrot"
clip_pan="$work/quality_pan.y4m"
if [ ! -f "$clip_pan" ]; then
  # A detailed still larger than the picture, crossed diagonally, with
  # fresh grain on every frame.
  gen -f lavfi -i mandelbrot=size=1280x960:rate=25:start_scale=0.5 -frames:v 1 "$work/quality_still.png"
  gen -loop 1 -framerate 25 -i "$work/quality_still.png" \
    -vf "crop=720:576:x='n*5':y='n*3',noise=alls=8:allf=t,format=yuv420p" -frames:v $frames "$clip_pan"
fi
clip_mix="$work/quality_mix.y4m"
[ -f "$clip_mix" ] ||
  gen -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i gradients=size=720x576:rate=25:speed=0.05 \
    -filter_complex "[0][1]blend=all_mode=average,format=yuv420p,noise=alls=6:allf=t" -frames:v $frames \
    -pix_fmt yuv420p "$clip_mix"

psnr() {
  ffmpeg -nostdin -hide_banner -i "$1" -i "$2" -lavfi "[0:v]settb=1/25,setpts=N[a];[1:v]settb=1/25,setpts=N[b];[a][b]psnr" \
    -f null - 2>&1 | grep -o 'PSNR y:[0-9.inf]*' | cut -d: -f2
}
diffs=()
for name in mandelbrot pan mix; do
  var="clip_$name"
  clip=${!var}
  for rate in 4000000 6000000 8000000; do
    ours="$work/quality_ours.m2v" ff="$work/quality_ffmpeg.m2v"
    rm -f "$ours" "$ff"
    "$dev" encode "$clip" "$ours" --bit-rate $rate --vbv 112 --gop 15 3 >/dev/null
    gen -threads 1 -i "$clip" -c:v mpeg2video -threads 1 -b:v $rate -minrate $rate -maxrate $rate -bufsize 1835008 \
      -g 15 -bf 2 "$ff"
    [ -s "$ours" ] && [ -s "$ff" ] || { echo "quality: no stream for $name at $rate" >&2; exit 1; }
    o=$(psnr "$clip" "$ours")
    f=$(psnr "$clip" "$ff")
    d=$(awk -v a="$o" -v b="$f" 'BEGIN {printf "%.3f", a - b}')
    diffs+=("$d")
    size=$(awk -v a="$(stat -c %s "$ours")" -v b="$(stat -c %s "$ff")" 'BEGIN {printf "%.3f", a / b}')
    echo "clip=$name rate=$rate ours=$o ffmpeg=$f diff=$d size_ratio=$size"
  done
done
rm -f "$work/quality_ours.m2v" "$work/quality_ffmpeg.m2v"
printf '%s\n' "${diffs[@]}" |
  awk '{s += $1; if (NR == 1 || $1 < m) m = $1} END {printf "mean diff=%.3f min diff=%.3f\n", s / NR, m}'
