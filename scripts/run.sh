#!/usr/bin/env bash
# Installs what the build needs, makes a release build and starts the editor
# `tamsel` on the FILEs (none: an empty editor). Without a display
# ($DISPLAY or $WAYLAND_DISPLAY) it says so and runs the engine's own
# driver instead: `tamsel-dev demo` (the demonstration of a frame-accurate
# save into a new temporary folder) without FILE, `tamsel-dev describe` of
# each FILE with them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Said before a build that may take minutes, not after it.
for f in "$@"; do
  if [ -d "$f" ]; then
    echo "scripts/run.sh: $f: Is a directory" >&2
    exit 1
  elif [ ! -e "$f" ]; then
    echo "scripts/run.sh: $f: No such file or directory" >&2
    exit 1
  elif [ ! -r "$f" ]; then
    echo "scripts/run.sh: $f: Permission denied" >&2
    exit 1
  fi
done
. "$root/scripts/deps.sh"
tamsel_install "${TAMSEL_BUILD_PACKAGES[@]}"

build=${TAMSEL_BUILD_DIR:-$root/build/release}
display=1
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  display=0
fi
targets=(tamsel-dev)
[ $display = 1 ] && targets=(tamsel)
echo "building ${targets[*]} in $build" >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMSEL_TESTS=OFF >&2
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >&2
if [ $display = 1 ]; then
  exec "$build/bin/tamsel" "$@"
fi
echo "scripts/run.sh: no display (\$DISPLAY and \$WAYLAND_DISPLAY are unset): running tamsel-dev instead of the editor" >&2
if [ $# -eq 0 ]; then
  exec "$build/devtool/tamsel-dev" demo
fi
rc=0
for f in "$@"; do
  "$build/devtool/tamsel-dev" describe "$f" || rc=$?
done
exit $rc
