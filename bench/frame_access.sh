#!/usr/bin/env bash
# Random exact searches: frame access against ffmpeg seeking accurately to
# the same frames and decoding one (-ss before -i, -accurate_seek), in one
# run, one thread, warm files. Prints milliseconds per search and the ratio.
# Usage: bench/frame_access.sh BENCH_FRAME_ACCESS FIXTURES_DIR
set -euo pipefail
bench=${1:?usage: frame_access.sh BENCH_FRAME_ACCESS FIXTURES_DIR}
fx=${2:?usage: frame_access.sh BENCH_FRAME_ACCESS FIXTURES_DIR}

ours=$(TAMSEL_FIXTURES=$fx "$bench" --benchmark_format=csv 2>/dev/null | grep '^"BM_')
ms_of() { echo "$ours" | grep "^\"$1[\"/]" | cut -d, -f3; }  # real_time column, ms

status=0
for s in sd hd; do
  f="$fx/fa_$s.m2v"
  [ -f "$f" ] || { echo "missing $f (run tests/fixtures/make.sh)" >&2; exit 2; }
  cat "$f" >/dev/null  # warm
  total=$(ffprobe -v error -count_packets -select_streams v -show_entries stream=nb_read_packets -of csv=p=0 "$f" | tr -d ",")
  rate=$(ffprobe -v error -select_streams v -show_entries stream=r_frame_rate -of csv=p=0 "$f" | tr -d ",")
  start=$(date +%s.%N)
  for i in $(seq 0 99); do
    n=$(( (i * 7919 + 131) % total ))
    t=$(printf "%.6f" "$(echo "scale=6; $n / ($rate)" | bc -l)")
    ffmpeg -nostdin -v error -threads 1 -accurate_seek -ss "$t" -i "$f" -frames:v 1 -f null - </dev/null
  done
  end=$(date +%s.%N)
  ff=$(echo "($end - $start) * 1000 / 100" | bc -l)
  # ffmpeg's own start-up, to read its seek cost apart: frame 0 ten times.
  start=$(date +%s.%N)
  for i in $(seq 10); do
    ffmpeg -nostdin -v error -threads 1 -i "$f" -frames:v 1 -f null - </dev/null
  done
  end=$(date +%s.%N)
  ff0=$(echo "($end - $start) * 1000 / 10" | bc -l)
  name=BM_RandomSearch${s^^}
  our=$(echo "$(ms_of "$name") / 100" | bc -l)
  limit=$([ "$s" = sd ] && echo 15 || echo 60)
  printf 'stream=fa_%s ours_ms_per_search=%.2f ffmpeg_ms_per_search=%.2f ffmpeg_startup_ms=%.2f ratio=%.3f limit_ms=%d\n' \
    "$s" "$our" "$ff" "$ff0" "$(echo "$our / $ff" | bc -l)" "$limit"
  if [ "$(echo "$our > $limit" | bc -l)" = 1 ]; then status=1; fi
done
step=$(ms_of BM_BackwardStepSD)
printf 'stream=fa_sd backward_step_ms=%.2f limit_ms=8\n' "$step"
if [ "$(echo "$step > 8" | bc -l)" = 1 ]; then status=1; fi
exit $status
