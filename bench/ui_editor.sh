#!/usr/bin/env bash
# The editor window's responsiveness, headless, one run: a step key must
# cost at most the editor's own forward step plus 5 ms, and a command given
# during playback must run within 300 ms (the playback thread ends after
# its step). Prints milliseconds and a verdict per line; exit 1 on a miss.
# Usage: bench/ui_editor.sh BENCH_PLAYER FIXTURES_DIR
set -euo pipefail
bench=${1:?usage: ui_editor.sh BENCH_PLAYER FIXTURES_DIR}
fx=${2:?usage: ui_editor.sh BENCH_PLAYER FIXTURES_DIR}
out=$(TAMSEL_FIXTURES=$fx "$bench" --benchmark_format=csv 2>/dev/null | grep '^"')
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
exit $status
