#!/usr/bin/env bash
# The editor window's responsiveness, headless, one run: a step key must
# cost at most the editor's own forward step plus 5 ms; a command given
# during playback must run within 300 ms (the playback thread ends after
# its step); a minute of looped playback with sound (a WAVE file at the real
# clock's pace) must show every frame, each strip of the first pass at most
# 50 ms before its beep and never after, keep the window's thread free
# within 50 ms, and stay under 300 MiB resident with the 1080-line movie.
# Prints a verdict per line; exit 1 on a miss. A release build gives the
# figures that count.
# Usage: bench/ui_editor.sh BENCH_PLAYER FIXTURES_DIR
set -euo pipefail
bench=${1:?usage: ui_editor.sh BENCH_PLAYER FIXTURES_DIR}
fx=${2:?usage: ui_editor.sh BENCH_PLAYER FIXTURES_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
# Minute-long movies drawn like the window fixtures (numbered boxes, white
# strip and beep every second), made with ffmpeg into a temporary folder.
long=$(mktemp -d)
trap 'rm -rf "$long"' EXIT
(
  cd "$long"
  . "$root/tests/fixtures/common.sh"
  eval "$(sed -n '/^boxes() {/,/^}/p; /^movie() {/,/^}/p' "$root/tests/fixtures/make.d/ui.sh")"
  movie long_sd.mpg 720x576 25 62 25 5M 1835008
  movie long_hd.mpg 1920x1080 25 62 25 15M 9781248
)
out=$(TAMSEL_FIXTURES=$fx TAMSEL_LONG_MOVIES=$long "$bench" --benchmark_format=csv 2>/dev/null | grep '^"')
ms_of() { echo "$out" | grep "^\"$1\"" | cut -d, -f3; }
status=0
for s in sd hd; do
  fwd=$(ms_of "editor_forward/$s")
  key=$(ms_of "step_key/$s")
  ok=$(echo "$key <= $fwd + 5" | bc -l)
  printf 'step %s: key %.2f ms, forward %.2f ms: %s\n' "$s" "$key" "$fwd" "$([ "$ok" = 1 ] && echo ok || echo SLOW)"
  [ "$ok" = 1 ] || status=1
done
worst=$(echo "$out" | grep '^"stop_latency/sd' | sed 's/.*worst \([0-9.]*\) ms.*/\1/')
ok=$(echo "$worst < 300" | bc -l)
printf 'stop during play: worst %.1f ms: %s\n' "$worst" "$([ "$ok" = 1 ] && echo ok || echo SLOW)"
[ "$ok" = 1 ] || status=1
for s in sd hd; do
  label=$(echo "$out" | grep "^\"play_a_minute/$s" | grep -o 'shown [^"]*')
  num() { echo "$label" | sed "s/.*$1 \([-0-9.]*\).*/\1/"; }
  skipped=$(num skipped) posts=$(num posts) rss=$(num rss)
  lo=$(echo "$label" | sed 's/.*lead \([-0-9.]*\)\.\.\([-0-9.]*\) ms.*/\1/')
  hi=$(echo "$label" | sed 's/.*lead \([-0-9.]*\)\.\.\([-0-9.]*\) ms.*/\2/')
  ok=$(echo "$skipped == 0 && $lo >= 0 && $hi <= 50 && $posts <= 50" | bc -l)
  [ "$s" = hd ] && ok=$(echo "$ok && $rss < 300" | bc -l)
  printf 'play %s: %s: %s\n' "$s" "$label" "$([ "$ok" = 1 ] && echo ok || echo MISS)"
  [ "$ok" = 1 ] || status=1
done
exit $status
