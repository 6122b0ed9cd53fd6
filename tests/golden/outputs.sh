#!/usr/bin/env bash
# Byte identity of the tool's outputs across a change: runs tamsel-dev save,
# convert, demux, mux and mpa-encode over the test fixtures and writes the
# sha256 of every output file to a list; `check` runs the same cases and
# compares with a list made earlier (for instance by the tamsel-dev of the
# base branch over the same fixture directory).
# The list depends on the fixtures, which depend on the build of ffmpeg that
# made them, so it stays out of the repository.
# Usage:
#   tests/golden/outputs.sh record TAMSEL_DEV FIXTURES LIST
#   tests/golden/outputs.sh check  TAMSEL_DEV FIXTURES LIST
# e.g. build main's tamsel-dev, `record` with it into /tmp/outputs.sha, then
# `check` the branch's build against /tmp/outputs.sha with the same FIXTURES.
set -uo pipefail
mode=${1:?usage: outputs.sh record|check TAMSEL_DEV FIXTURES LIST}
dev=${2:?no TAMSEL_DEV}
fx=$(cd "${3:?no FIXTURES}" && pwd)
list=${4:?no LIST}
case $mode in record | check) ;; *) echo "mode is record or check" >&2; exit 2 ;; esac
[ -x "$dev" ] || { echo "no tamsel-dev at $dev" >&2; exit 2; }
dev=$(cd "$(dirname "$dev")" && pwd)/$(basename "$dev")
export TAMSEL_FILE_SYNC=0
out=$(mktemp -d "${TMPDIR:-/tmp}/tamsel-outputs.XXXXXX")
trap 'rm -rf "$out"' EXIT
sums=$out/sums
: > "$sums"
failed=0

# run NAME COMMAND...: runs one case in its own directory $out/NAME (the
# command names its outputs relative to it; "dir" is an empty folder there)
# and lists every file it wrote; a failing command is listed by its status.
run() {
  local name=$1
  shift
  local rc=0
  mkdir -p "$out/$name/dir"
  (cd "$out/$name" && "$dev" "$@" > /dev/null 2> stderr.txt) || rc=$?
  if [ $rc -ne 0 ]; then
    echo "$name: exit status $rc ($(head -c 300 "$out/$name/stderr.txt"))" >&2
    echo "status-$rc  $name" >> "$sums"
  fi
  rm -f "$out/$name/stderr.txt"
  (cd "$out" && find "$name" -type f | sort | xargs -r sha256sum) >> "$sums"
  rm -rf "${out:?}/$name"
}

f() { echo "$fx/$1"; }

# Saves: GOP-only and frame-accurate, each container, joins of two inputs.
for kind in es mpeg1 ps dvd ts; do
  run "save-sv_open-$kind" save "$(f sv_open.m2v)" out --keep 7:40,55:90 --kind $kind
done
run save-sv_closed-gop save "$(f sv_closed.m2v)" out --keep 0:40,60:99 --gop-only --kind es
run save-sv_film save "$(f sv_film.m2v)" out --keep 3:50 --kind es
run save-sv_bff save "$(f sv_bff.m2v)" out --keep 5:30,31:60 --kind es
run save-sv_m1 save "$(f sv_m1.m1v)" out --keep 4:40 --kind mpeg1
run save-sv_hd save "$(f sv_hd.m2v)" out --keep 2:20 --kind es
run save-sv_dvd save "$(f sv_dvd.vob)" out --keep 10:60
run save-sv_dvd-gop save "$(f sv_dvd.vob)" out --keep 0:40,50:80 --gop-only
run save-ps_vcd save "$(f ps_vcd.mpg)" out --keep 5:40
run save-ps_svcd save "$(f ps_svcd.mpg)" out --keep 5:40 --kind svcd
run save-fa_ps save "$(f fa_ps.mpg)" out --keep 3:30
run save-ts_fa save "$(f ts_fa.ts)" out --keep 7:50
run save-ts_m2 save "$(f ts_m2.ts)" out --keep 0:30 --gop-only
run save-ts_ac3 save "$(f ts_ac3.ts)" out --keep 4:40
run save-join save "$(f join2.m2v),$(f join3.m2v)" out --keep 0@2:20,1@5:30 --kind es
run save-join-ps save "$(f clips_2mp2.vob),$(f clips_2mp2b.vob)" out --keep 0@3:30,1@2:25

# Conversions of every system-stream fixture to each kind.
for src in cv_5.ts cv_bigpes.ts cv_dvd.vob cv_dvd_2a.vob cv_dvd_mix.vob cv_dvd_pcm.vob cv_es.m2v cv_late.mpg \
  cv_lead.mpg cv_mp2.ts cv_ntsc.vob cv_vcd.mpg; do
  for kind in ps ts; do
    run "convert-$src-$kind" convert "$(f $src)" out --kind $kind
  done
done
run convert-cv_vcd-mpeg1 convert "$(f cv_vcd.mpg)" out --kind mpeg1
run convert-cv_vcd-vcd convert "$(f cv_vcd.mpg)" out --kind vcd

# Demultiplexing of program and transport streams.
for src in cv_5.ts cv_dvd_2a.vob cv_dvd_mix.vob cv_dvd_pcm.vob cv_late.mpg cv_lead.mpg cv_mp2.ts cv_vcd.mpg \
  ps_ac3x2.vob ps_gap2.vob ps_late.vob st_tsac3.ts st_ts2p.ts ts_2ac3.ts ts_ac3mp2.ts ts_join.ts ts_late.ts rw.ts; do
  run "demux-$src" demux "$(f $src)" dir
done

# Multiplexing elementary streams into each kind.
for kind in mpeg1 vcd ps svcd dvd ts; do
  run "mux-pm_m2-$kind" mux --kind $kind out "$(f pm_m2.m2v)" "$(f pm_a48.mp2)"
done
run mux-pm_m1-vcd mux --kind vcd out "$(f pm_m1.m1v)" "$(f pm_a44.mp2)"
run mux-pm_ac3-dvd mux --kind dvd --chapters 1 out "$(f pm_m2.m2v)" "$(f pm_a.ac3)"
run mux-pm_svcd-svcd mux --kind svcd out "$(f pm_svcd.m2v)" "$(f pm_a44.mp2)"
run mux-pm_ntsc-dvd-vbr mux --kind dvd --vbr out "$(f pm_ntsc.m2v)" "$(f pm_a48.mp2)"
run mux-pm_film-ts mux --kind ts --offset 200 out "$(f pm_film.m2v)" "$(f pm_a48long.mp2)"

# Audio encoding, layers I and II with and without CRC, at rates and bit
# rates that pick each layer II allocation table (the stated rate is what
# counts, not the one the samples were made at).
for c in "32000 1 64 1" "32000 1 64 2" "32000 1 32 2" "32000 2 192 2" "44100 2 192 2" "48000 1 32 2" \
  "48000 2 384 1"; do
  set -- $c
  run "mpa-$1-$2-$3-$4" mpa-encode "$(f mpaenc_pink_32000_$2.pcm)" $1 $2 $(($3 * 1000)) $4 out
  run "mpa-$1-$2-$3-$4-crc" mpa-encode "$(f mpaenc_pink_32000_$2.pcm)" $1 $2 $(($3 * 1000)) $4 out --crc
done

n=$(grep -vc '^status-' "$sums")
if [ "$mode" = record ]; then
  cp "$sums" "$list"
  echo "recorded $n outputs in $list"
  exit 0
fi
if diff -u "$list" "$sums" > "$out/diff"; then
  echo "all $n outputs byte-identical"
else
  cat "$out/diff"
  echo "outputs differ" >&2
  failed=1
fi
exit $failed
