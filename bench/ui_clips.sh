#!/usr/bin/env bash
# The Video Clipboard and the Video Clip List, headless, one run: a copy
# blocks the window's thread at most 20 ms; a start with 50 clips and their
# thumbnail strip costs at most 1.2 times reading the list alone and decodes
# nothing; without the strip the rows come at once (within the 50 ms a
# heartbeat may be late), all 50 pictures within 1.2 times 50 exact searches at the pictures' size, and
# a 10 ms heartbeat is never 50 ms late; 32 files are added to the clip list
# within 1.2 times `tamsel-dev file-info` of them; 500 rows add under 20 MiB
# resident. Prints a verdict per line; exit 1 on a miss. A release build
# gives the figures that count.
# Usage: bench/ui_clips.sh BUILD_DIR FIXTURES_DIR
set -euo pipefail
build=${1:?usage: ui_clips.sh BUILD_DIR FIXTURES_DIR}
fx=$(cd "${2:?usage: ui_clips.sh BUILD_DIR FIXTURES_DIR}" && pwd)
bench=$build/bench/bench_clips
dev=$build/devtool/tamsel-dev
# 32 distinct files (copies, so no cache knows them) in a temporary folder.
files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
movies=(ui.mpg ui_ntsc.mpg fa_ps.mpg ui_sd.mpg)
for i in $(seq 1 32); do cp "$fx/${movies[$((i % 4))]}" "$files/clip$i.mpg"; done
cat "$files"/* >/dev/null
t0=$(date +%s.%N)
for f in "$files"/*; do "$dev" file-info "$f" >/dev/null; done
dev_ms=$(echo "($(date +%s.%N) - $t0) * 1000" | bc -l)

out=$(TAMSEL_FIXTURES=$fx TAMSEL_BENCH_DIR=$files "$bench" --benchmark_format=csv 2>/dev/null | grep '^"')
ms_of() { echo "$out" | grep "^\"$1" | cut -d, -f3; }
label_of() { echo "$out" | grep "^\"$1" | sed 's/.*,"\([^"]*\)"$/\1/'; }
num() { echo "$1" | sed "s/.*$2 \([-0-9.]*\).*/\1/"; }
status=0
verdict() {  # text, bc condition
  local ok
  ok=$(echo "$2" | bc -l)
  printf '%s: %s\n' "$1" "$([ "$ok" = 1 ] && echo ok || echo MISS)"
  [ "$ok" = 1 ] || status=1
}

worst=$(num "$(label_of BM_CopyToClipboard)" worst)
verdict "copy to the clipboard: worst $worst ms (at most 20)" "$worst <= 20"

alone=$(ms_of BM_ReadListAlone) strip=$(ms_of BM_ReadListWithStrip)
decoded=$(num "$(label_of BM_ReadListWithStrip)" decoded)
verdict "start with the strip: $strip ms, list alone $alone ms, $decoded decoded" \
  "$strip <= 1.2 * $alone && $decoded == 0"

draw=$(ms_of BM_DrawFiftyThumbnails) search=$(ms_of BM_FiftyExactSearches)
label=$(label_of BM_DrawFiftyThumbnails)
rows=$(num "$label" rows) late=$(num "$label" late)
verdict "start without it: rows $rows ms, 50 pictures $draw ms, 50 exact searches $search ms, heartbeat late $late ms" \
  "$rows < 50 && $draw <= 1.2 * $search && $late < 50"

add=$(ms_of BM_ClipListAddFiles)
added=$(num "$(label_of BM_ClipListAddFiles)" added)
verdict "32 files added: $add ms ($added added), tamsel-dev file-info $dev_ms ms" "$added == 32 && $add <= 1.2 * $dev_ms"

rss=$(num "$(label_of BM_FiveHundredRows)" rss)
verdict "500 rows: $rss MiB resident" "$rss < 20"
exit $status
