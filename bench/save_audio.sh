#!/usr/bin/env bash
# Cost of a save's audio in one run, warm cache, wall-clock time: a DVD
# program stream with MP2 audio (500 MB by default) saved with two joins to
# dvd with its audio copied, against the same save with --no-audio; the
# goal is at most 1.1 x the video-only time + 0.2 s. Prints the times and
# the ratio.
# Usage: bench/save_audio.sh TAMSEL_DEV [WORK] [BYTES]
set -euo pipefail
dev=${1:?usage: save_audio.sh TAMSEL_DEV [WORK] [BYTES]}
work=${2:-/tmp/tamsel-bench-save-audio}
bytes=${3:-500000000}
mkdir -p "$work"
FF="ffmpeg -nostdin -hide_banner -loglevel error -y"
vob=$work/big_$bytes.vob
if [ ! -s "$vob" ]; then
  # One encode, not joined pieces: the GOP time codes run on through the file.
  $FF -f lavfi -i testsrc=size=720x576:rate=25:duration=3600 -f lavfi -i sine=f=1000:sample_rate=48000:d=3600 \
    -threads 0 -target pal-dvd -c:a mp2 -b:a 224k -g 12 -bf 2 -flags +cgop -sc_threshold 1000000000 \
    -fs "$bytes" "$vob"
fi
# The pictures counted: a cut file's container duration may differ.
frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$vob" | tr -d ,)
wall() {  # seconds of wall-clock time of "$@"; a failed save stops the bench
  local s e
  s=$(date +%s.%N)
  "$@" >/dev/null 2>"$work/err.txt" || { echo "failed: $* ($(cat "$work/err.txt"))" >&2; exit 1; }
  e=$(date +%s.%N)
  echo "$e - $s" | bc -l
}
cat "$vob" > /dev/null
third=$(( frames / 3 ))
keep="0:$(( third - 100 )),$(( third )):$(( 2 * third - 100 )),$(( 2 * third )):$(( frames - 2 ))"
with=$(wall "$dev" save "$vob" "$work/out_audio.vob" --keep "$keep" --kind dvd --gop-only)
without=$(wall "$dev" save "$vob" "$work/out_video.vob" --keep "$keep" --kind dvd --gop-only --no-audio)
goal=$(echo "1.1 * $without + 0.2" | bc -l)
printf 'save_audio bytes=%d with_audio=%.2f s video_only=%.2f s ratio=%.3f goal=%.2f s %s\n' "$bytes" "$with" \
  "$without" "$(echo "$with / $without" | bc -l)" "$goal" \
  "$(echo "$with <= $goal" | bc -l | sed 's/1/met/;s/0/missed/')"
rm -f "$work/out_audio.vob" "$work/out_video.vob"
