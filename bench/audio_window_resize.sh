#!/usr/bin/env bash
# The real audio window under Xvfb while it is resized without a pause:
# five minutes of noise played into the WAVE-file sink (at the real clock's
# pace) must equal ffmpeg's decode, every second of it at one lag (a gap or
# a repeat breaks the seconds after it). Takes a little over SECONDS
# seconds (default 300: the whole track). A release build gives the
# figures that count.
# Usage: bench/audio_window_resize.sh TAMSEL [SECONDS]
set -euo pipefail
app=${1:?usage: audio_window_resize.sh TAMSEL [SECONDS]}
seconds=${2:-300}
for tool in Xvfb xdotool ffmpeg python3; do
  command -v $tool >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "anoisesrc=c=pink:r=48000:a=0.3:d=300:s=5" \
  -ac 2 -c:a mp2 -b:a 224k -threads 1 "$work/five.mp2"
ffmpeg -nostdin -hide_banner -loglevel error -y -i "$work/five.mp2" -f s16le "$work/five.raw"

display=:$((200 + RANDOM % 300))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
mkdir -p "$work/config"
TAMSEL_CONFIG_DIR=$work/config TAMSEL_SOUND_FILE=$work/heard.wav QT_QPA_PLATFORM=xcb \
  "$app" "$work/five.mp2" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")
win=
for _ in $(seq 100); do
  win=$(xdotool search --onlyvisible --name "MPEG Audio Player" 2>/dev/null | head -n 1) && [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "no audio window" >&2; cat "$work/app.log" >&2; exit 1; }
# A drag's sizes: a new one every 20 ms, between 420x380 and 1180x900.
end=$((SECONDS + seconds))
resizes=0
while [ $SECONDS -lt $end ]; do
  xdotool windowsize "$win" $((420 + RANDOM % 760)) $((380 + RANDOM % 520)) 2>/dev/null || true
  resizes=$((resizes + 1))
  sleep 0.02
done
kill -TERM "$app_pid"
wait "$app_pid" 2>/dev/null || true

python3 - "$work/five.raw" "$work/heard.wav" "$seconds" "$resizes" <<'EOF'
import math, struct, sys
ref_b = open(sys.argv[1], "rb").read()
got_b = open(sys.argv[2], "rb").read()[44:]
seconds, resizes = int(sys.argv[3]), int(sys.argv[4])
ref = struct.unpack("<%dh" % (len(ref_b) // 2), ref_b)
got = struct.unpack("<%dh" % (len(got_b) // 2), got_b)
sec = 48000 * 2
def corr(a0, n, lag, step):
    c = a = g = 0.0
    for i in range(a0, a0 + n, step):
        if i >= len(ref) or i + lag >= len(got):
            break
        r, h = ref[i], got[i + lag]
        c += r * h; a += r * r; g += h * h
    return c / math.sqrt(a * g) if a > 0 and g > 0 else 0.0
best, lag = max((corr(0, 12000, l, 5), l) for l in range(0, 8192 + 1, 2))
worst, off = 1.0, 0
whole = min(seconds, len(ref) // sec)
for s in range(whole - 1):  # the last second may not have been heard yet
    c = corr(s * sec, sec, lag, 7)
    worst = min(worst, c)
    off += c < 0.999
print("resized %d times; lag %d frames; %d seconds compared: worst %.5f, seconds off %d: %s"
      % (resizes, lag // 2, whole - 1, worst, off, "ok" if off == 0 and worst >= 0.999 else "MISS"))
sys.exit(0 if off == 0 else 1)
EOF
