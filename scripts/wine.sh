#!/bin/sh
# scripts/wine.sh PROGRAM [ARGUMENTS...]
#
# Runs a Windows program of the build under Wine, in a Wine prefix of its own
# under the build folder (build/wine/run, made on first use; ~/.wine is never
# touched), in the current folder, so that relative paths in ARGUMENTS name
# files here. A program with a window (PatchLauncher.exe) runs under
# box_driver.exe: each message box it shows is printed and closed with OK,
# then its exit code, so that nothing waits for a display (a run that takes
# more than an hour is ended). A program of the
# build folder that is not there yet is built first. BUILD_DIR names another
# build folder (relative to the source tree) than build/.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
case "${BUILD_DIR:-build}" in
/*) build=${BUILD_DIR} ;;
*) build=$root/${BUILD_DIR:-build} ;;
esac
if [ $# -lt 1 ] || [ ! -d "$(dirname "$1")" ]; then
    echo "usage: scripts/wine.sh PROGRAM [ARGUMENTS...] (PROGRAM: a built .exe, e.g. build/PatchLauncher.exe)" >&2
    exit 2
fi
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
case "$program" in
"$build"/*.exe) [ -f "$program" ] || cmake --build "$build" --target "$(basename "$program" .exe)" ;;
esac
if [ ! -f "$program" ]; then
    echo "scripts/wine.sh: $program does not exist" >&2
    exit 2
fi

WINEPREFIX=$build/wine/run
export WINEPREFIX
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "scripts/wine.sh: making the Wine prefix $WINEPREFIX" >&2
    "$root/cmake/wine-prefix.sh" create "$WINEPREFIX"
fi

# The subsystem field of the image's optional header: 2 for a program with a
# window, 3 for a console program.
header=$(od -An -tu4 -j60 -N4 "$program" | tr -d ' ')
subsystem=$(od -An -tu2 -j$((header + 92)) -N2 "$program" | tr -d ' ')
if [ "$subsystem" != 2 ]; then
    exec "$root/cmake/wine-run.sh" "$program" "$@"
fi
driver=$build/tools/box_driver.exe
if [ ! -f "$driver" ]; then
    cmake --build "$build" --target box_driver > /dev/null
fi
exec "$root/cmake/wine-run.sh" "$driver" --timeout 3600000 "Z:$program" "$@"
