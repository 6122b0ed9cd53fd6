#!/usr/bin/env bash
# Colour conversion speed against ffmpeg's swscale on the same frames (one
# core). Our time comes from bench_colour; ffmpeg's is the difference between
# converting N copies of the frame to bgr24/bgra and passing them through,
# with swscale's default (fast) flags and with the exact ones the tests use.
# ratio = ffmpeg time / our time (above 1: we are faster).
# Usage: bench/colour.sh BUILD_DIR   (a Release build; fixtures made there)
set -euo pipefail
build=${1:?usage: colour.sh BUILD_DIR}
fix=$build/fixtures
bench=$build/bench/bench_colour
[ -x "$bench" ] || { echo "missing $bench (Google Benchmark not found?)" >&2; exit 1; }
N=400

ff_ms() {  # SIZE PIXFMT FLAGS -> milliseconds of user time for N frames
  local size=$1 fmt=$2 flags=$3 file=$fix/pic_$1.yuv
  ffmpeg -nostdin -hide_banner -loglevel info -benchmark -threads 1 -filter_threads 1 \
    -stream_loop $((N - 1)) -f rawvideo -pix_fmt yuv420p -s "$size" -i "$file" \
    -sws_flags "$flags" -pix_fmt "$fmt" -f null - 2>&1 |
    sed -n 's/.*bench: utime=\([0-9.]*\)s.*/\1/p' | awk '{print $1 * 1000}'
}

json=$(TAMSEL_FIXTURES=$fix "$bench" --benchmark_filter='BM_Convert/(720/576|1920/1080)/(24|32)' \
  --benchmark_format=json --benchmark_min_time=0.3 2>/dev/null)
for size in 720x576 1920x1080; do
  w=${size%x*}; h=${size#*x}
  base=$(ff_ms "$size" yuv420p bicubic)
  for bits in 24 32; do
    fmt=$([ "$bits" = 24 ] && echo bgr24 || echo bgra)
    # swscale's fast path (default flags) and its exact one (the test oracle's).
    fast=$(ff_ms "$size" "$fmt" bicubic)
    conv=$(ff_ms "$size" "$fmt" accurate_rnd+full_chroma_int)
    ours=$(echo "$json" | python3 -c "
import json,sys
d=json.load(sys.stdin)
for b in d['benchmarks']:
    if b['name']=='BM_Convert/$w/$h/$bits': print(b['real_time']/1000.0)")
    python3 - "$size" "$bits" "$ours" "$base" "$fast" "$conv" "$N" <<'PY'
import sys
size, bits = sys.argv[1], sys.argv[2]
ours, base, fast, conv, n = (float(v) for v in sys.argv[3:8])
ff_fast = max(fast - base, 1e-6) / n
ff_exact = max(conv - base, 1e-6) / n
print("size=%s bits=%s ours_ms=%.3f ffmpeg_fast_ms=%.3f ratio_fast=%.2f ffmpeg_exact_ms=%.3f ratio_exact=%.2f"
      % (size, bits, ours, ff_fast, ff_fast / ours, ff_exact, ff_exact / ours))
PY
  done
done
