#!/usr/bin/env bash
# The program's start and open speed on a virtual X display (Xvfb), one run:
#   frame: a 1 GB MPEG-2 stream (five en_big.m2v joined) named on the command
#          line: seconds until its editor window stands (its frame drawn),
#          against tamsel-dev frame FILE 0; at most 0.5 s and at most 0.15 s
#          more than tamsel-dev.
#   start: seconds until the main window shows, median of RUNS, against a
#          bare Qt main window program; at most 0.2 s more.
#   memory: resident size after opening (Ctrl+O, typed path) and closing
#          (Ctrl+F4) 16 editor windows twice, against before; under 20 MB more.
# Usage: bench/ui_open.sh TAMSEL TAMSEL_DEV BENCH_BARE_WINDOW FIXTURES_DIR [RUNS]
set -euo pipefail
usage="usage: ui_open.sh TAMSEL TAMSEL_DEV BENCH_BARE_WINDOW FIXTURES_DIR [RUNS]"
app=${1:?$usage}
dev=${2:?$usage}
bare=${3:?$usage}
fx=${4:?$usage}
runs=${5:-5}
for t in Xvfb xdotool; do command -v $t >/dev/null || { echo "$t is not installed" >&2; exit 2; }; done
fx=$(cd "$fx" && pwd)  # typed into the open dialog: a full path
for f in "$fx/en_big.m2v" "$fx/ui.mpg"; do [ -f "$f" ] || { echo "missing $f (run tests/fixtures/make.sh)" >&2; exit 2; }; done

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset 9>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$work/display")
export QT_QPA_PLATFORM=xcb
now() { date +%s.%N; }

# Starts a program and waits until a window titled as the pattern shows:
# the seconds in $took, the program (still running) in $last.
start_until() {  # pattern program args...
  local pattern=$1 t0
  shift
  t0=$(now)
  "$@" >/dev/null 2>&1 &
  last=$!
  pids+=("$last")
  # Polled by hand: xdotool's own --sync looks only twice a second.
  for _ in $(seq 6000); do
    xdotool search --onlyvisible --name "$pattern" >/dev/null 2>&1 && break
    sleep 0.01
  done
  took=$(echo "$(now) - $t0" | bc -l)
}
stop() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR + 1) / 2)]}'; }
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
status=0
over() { [ "$(echo "$1 > $2" | bc -l)" = 1 ]; }

# frame
big=$work/big.m2v
for _ in 1 2 3 4 5; do cat "$fx/en_big.m2v"; done >"$big"
cat "$big" >/dev/null  # warm
t0=$(now)
"$dev" frame "$big" 0 --out "$work/frame0.yuv" >/dev/null
devs=$(echo "$(now) - $t0" | bc -l)
export TAMSEL_CONFIG_DIR=$work/config-frame
start_until ' - .*big\.m2v$' "$app" "$big"
ours=$took
stop "$last"
printf 'frame stream=1GB tamsel_s=%.3f tamsel_dev_s=%.3f limit_s=0.5 limit_more_s=0.15\n' "$ours" "$devs"
if over "$ours" 0.5 || over "$ours - $devs" 0.15; then status=1; fi

# start
a=() b=()
for i in $(seq "$runs"); do
  export TAMSEL_CONFIG_DIR=$work/config-start-$i
  start_until '^MPEG-Tamsel ' "$app"
  a+=("$took")
  stop "$last"
  start_until '^Bare window$' "$bare"
  b+=("$took")
  stop "$last"
done
ours=$(printf '%s\n' "${a[@]}" | median)
peer=$(printf '%s\n' "${b[@]}" | median)
printf 'start tamsel_s=%.3f bare_qt_s=%.3f limit_more_s=0.2\n' "$ours" "$peer"
if over "$ours - $peer" 0.2; then status=1; fi

# memory
export TAMSEL_CONFIG_DIR=$work/config-memory
start_until '^MPEG-Tamsel ' "$app"
pid=$last
main=$(xdotool search --onlyvisible --name '^MPEG-Tamsel ' | head -n1)
before=$(rss_kb "$pid")
for round in 1 2; do
  for i in $(seq 16); do
    xdotool windowfocus --sync "$main" key ctrl+o
    dialog=$(timeout 20 xdotool search --sync --onlyvisible --name '^Open MPEG Movie$' | head -n1)
    xdotool windowfocus --sync "$dialog" type --delay 5 -- "$fx/ui.mpg"
    xdotool key Return
    # The completion list may take the first Return.
    for _ in $(seq 30); do xdotool search --onlyvisible --name '^Open MPEG Movie$' >/dev/null || break; sleep 0.1; done
    xdotool search --onlyvisible --name '^Open MPEG Movie$' >/dev/null && xdotool key Return
    sleep 0.2
  done
  closes=0
  while [ $closes -lt 40 ]; do
    case $(xdotool getwindowname "$main") in *" - "*) ;; *) break ;; esac
    xdotool windowfocus --sync "$main" key ctrl+F4
    closes=$((closes + 1))
    sleep 0.1
  done
  if [ $closes -ne 16 ]; then echo "memory: round $round closed $closes editor windows, not 16" >&2; status=1; fi
  [ "$round" = 1 ] && first=$(rss_kb "$pid")
done
after=$(rss_kb "$pid")
stop "$pid"
printf 'memory rss_before_mb=%.1f after_one_round_mb=%.1f after_two_rounds_mb=%.1f added_mb=%.1f limit_mb=20\n' \
  "$(echo "$before / 1024" | bc -l)" "$(echo "$first / 1024" | bc -l)" "$(echo "$after / 1024" | bc -l)" \
  "$(echo "($after - $before) / 1024" | bc -l)"
if over "($after - $before) / 1024" 20; then status=1; fi
exit $status
