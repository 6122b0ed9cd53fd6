#!/usr/bin/env bash
# Installs what the build needs, makes a release build and runs the program's
# main job on FILE. Until the editor window exists that job is tamsel-dev
# describing the file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
tamsel_install "${TAMSEL_BUILD_PACKAGES[@]}"

build=${TAMSEL_BUILD_DIR:-$root/build/release}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMSEL_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
if [ $# -lt 1 ]; then
  echo "usage: scripts/run.sh FILE" >&2
  exit 2
fi
exec "$build/devtool/tamsel-dev" describe "$@"
