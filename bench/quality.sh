#!/usr/bin/env bash
# Luma PSNR at equal rate against ffmpeg's slow MPEG-2 decisions
# (-mbd rd -trellis 2 -cmp 2 -subcmp 2), and encoding time against ffmpeg's
# defaults. Three 720x576 clips of 100 frames made here: noise (a test
# pattern under heavy grain), a mandelbrot zoom and a slow pan over a still
# picture; each at 1.5, 4 and 8 Mbit/s, constant rate, GOP 15/3 and the same
# decoder buffer for both (the one our encoder writes: 112 x 16 kbit, less
# at low rates where it keeps the buffer within 0.8 x rate x 16384 / 22500).
# One line per case (PSNR-Y of each against the source, the difference
# ours - ffmpeg, size ratio ours / ffmpeg to show both spent the rate), then
# the encoding time of all nine cases (user + system, single thread), ours
# against ffmpeg's defaults: medians of RUNS runs, the programs alternating.
# Goals: every difference >= 0 dB, time ratio <= 1.0; exits 1 on a miss.
# Usage: bench/quality.sh TAMSEL_DEV WORK_DIR [RUNS]
set -euo pipefail
dev=${1:?usage: quality.sh TAMSEL_DEV WORK_DIR [RUNS]}
work=${2:?usage: quality.sh TAMSEL_DEV WORK_DIR [RUNS]}
runs=${3:-5}
mkdir -p "$work"
frames=100
gen() { ffmpeg -nostdin -loglevel error -y "$@"; }

clip_noise="$work/quality_noise.y4m"
[ -f "$clip_noise" ] ||
  gen -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i gradients=size=720x576:rate=25:speed=0.05 \
    -filter_complex "[0][1]blend=all_mode=average,format=yuv420p,noise=alls=12:allf=t" -frames:v $frames \
    -pix_fmt yuv420p "$clip_noise"
clip_zoom="$work/quality_zoom.y4m"
[ -f "$clip_zoom" ] ||
  gen -f lavfi -i mandelbrot=size=720x576:rate=25 -frames:v $frames -pix_fmt yuv420p "$clip_zoom"
clip_pan="$work/quality_slowpan.y4m"
if [ ! -f "$clip_pan" ]; then
  # A detailed still larger than the picture, crossed diagonally by two
  # pixels and one line a frame.
  gen -f lavfi -i mandelbrot=size=1280x960:rate=25:start_scale=0.5 -frames:v 1 "$work/quality_still.png"
  gen -loop 1 -framerate 25 -i "$work/quality_still.png" -vf "crop=720:576:x='n*2':y='n',format=yuv420p" \
    -frames:v $frames "$clip_pan"
fi

rates=(1500000 4000000 8000000)
# The buffer our encoder writes for a rate (in 16 kbit units).
vbv_of() { awk -v r="$1" 'BEGIN {l = int(r * 0.7281777777777778); v = 112;
  if (v * 16384 >= l) v = int(int(0.8 * l) / 16384); print (v < 1 ? 1 : v)}'; }
ours_cmd() { # clip rate out
  "$dev" encode "$1" "$3" --bit-rate "$2" --vbv "$(vbv_of "$2")" --gop 15 3 >/dev/null
}
ff_cmd() { # clip rate out [slow decisions...]
  local clip=$1 rate=$2 out=$3
  shift 3
  gen -threads 1 -i "$clip" -c:v mpeg2video -threads 1 "$@" -b:v "$rate" -minrate "$rate" -maxrate "$rate" \
    -bufsize $(($(vbv_of "$rate") * 16384)) -g 15 -bf 2 "$out"
}
slow=(-mbd rd -trellis 2 -cmp 2 -subcmp 2)
psnr() {
  ffmpeg -nostdin -hide_banner -i "$1" -i "$2" -lavfi "[0:v]settb=1/25,setpts=N[a];[1:v]settb=1/25,setpts=N[b];[a][b]psnr" \
    -f null - 2>&1 | grep -o 'PSNR y:[0-9.inf]*' | cut -d: -f2
}

tmp=$(mktemp)
ours="$work/quality_ours.m2v" ff="$work/quality_ffmpeg.m2v"
trap 'rm -f "$tmp" "$ours" "$ff"' EXIT
miss=0
diffs=()
for name in noise zoom pan; do
  var="clip_$name"
  clip=${!var}
  for rate in "${rates[@]}"; do
    rm -f "$ours" "$ff"
    ours_cmd "$clip" "$rate" "$ours"
    ff_cmd "$clip" "$rate" "$ff" "${slow[@]}"
    [ -s "$ours" ] && [ -s "$ff" ] || { echo "quality: no stream for $name at $rate" >&2; exit 1; }
    o=$(psnr "$clip" "$ours")
    f=$(psnr "$clip" "$ff")
    d=$(awk -v a="$o" -v b="$f" 'BEGIN {printf "%.3f", a - b}')
    diffs+=("$d")
    size=$(awk -v a="$(stat -c %s "$ours")" -v b="$(stat -c %s "$ff")" 'BEGIN {printf "%.3f", a / b}')
    ok=$(awk -v d="$d" 'BEGIN {print (d >= 0) ? "ok" : "MISS"}')
    [ "$ok" = ok ] || miss=1
    echo "clip=$name rate=$rate ours=$o ffmpeg_rd=$f diff=$d goal>=0 $ok size_ratio=$size"
  done
done
printf '%s\n' "${diffs[@]}" |
  awk '{s += $1; if (NR == 1 || $1 < m) m = $1} END {printf "mean diff=%.3f min diff=%.3f\n", s / NR, m}'

# Processor time of the nine encodings, the programs alternating.
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
timed_all() { # ours|ffmpeg
  local sum=0 clip rate t
  for name in noise zoom pan; do
    var="clip_$name"
    clip=${!var}
    for rate in "${rates[@]}"; do
      if [ "$1" = ours ]; then
        /usr/bin/time -f "%U %S" -o "$tmp" "$dev" encode "$clip" "$ours" --bit-rate "$rate" \
          --vbv "$(vbv_of "$rate")" --gop 15 3 >/dev/null
      else
        /usr/bin/time -f "%U %S" -o "$tmp" ffmpeg -nostdin -loglevel error -y -threads 1 -i "$clip" -c:v mpeg2video \
          -threads 1 -b:v "$rate" -minrate "$rate" -maxrate "$rate" -bufsize $(($(vbv_of "$rate") * 16384)) \
          -g 15 -bf 2 "$ff"
      fi
      t=$(awk '{print $1 + $2}' "$tmp")
      sum=$(awk -v a="$sum" -v b="$t" 'BEGIN {print a + b}')
    done
  done
  echo "$sum"
}
to=() tf=()
for _ in $(seq "$runs"); do
  to+=("$(timed_all ours)")
  tf+=("$(timed_all ffmpeg)")
done
om=$(printf '%s\n' "${to[@]}" | median)
fm=$(printf '%s\n' "${tf[@]}" | median)
omin=$(printf '%s\n' "${to[@]}" | sort -g | head -1)
fmin=$(printf '%s\n' "${tf[@]}" | sort -g | head -1)
ratio=$(awk -v a="$om" -v b="$fm" 'BEGIN {printf "%.3f", a / b}')
ratio_min=$(awk -v a="$omin" -v b="$fmin" 'BEGIN {printf "%.3f", a / b}')
tok=$(awk -v r="$ratio" 'BEGIN {print (r <= 1.0) ? "ok" : "MISS"}')
[ "$tok" = ok ] || miss=1
echo "time ours_s=$om ffmpeg_default_s=$fm ratio=$ratio (min ratio=$ratio_min) goal<=1.0 $tok runs=$runs"
exit $miss
