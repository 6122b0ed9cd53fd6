#!/usr/bin/env bash
# Installs what the build needs, makes a release build and runs the program's
# main job on FILE. Until the editor window exists that job is tamsel-dev
# describing the file; without FILE it is the demonstration of a
# frame-accurate save (tamsel-dev demo) into a new temporary folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -gt 1 ]; then
  echo "usage: scripts/run.sh [FILE]" >&2
  exit 2
fi
# Said before a build that may take minutes, not after it.
if [ $# -eq 0 ]; then
  :
elif [ -d "$1" ]; then
  echo "scripts/run.sh: $1: Is a directory" >&2
  exit 1
elif [ ! -e "$1" ]; then
  echo "scripts/run.sh: $1: No such file or directory" >&2
  exit 1
elif [ ! -r "$1" ]; then
  echo "scripts/run.sh: $1: Permission denied" >&2
  exit 1
fi
. "$root/scripts/deps.sh"
tamsel_install "${TAMSEL_BUILD_PACKAGES[@]}"

build=${TAMSEL_BUILD_DIR:-$root/build/release}
echo "building tamsel-dev in $build" >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMSEL_TESTS=OFF >&2
cmake --build "$build" -j "$(nproc)" --target tamsel-dev >&2
if [ $# -eq 0 ]; then
  exec "$build/devtool/tamsel-dev" demo
fi
exec "$build/devtool/tamsel-dev" describe "$1"
