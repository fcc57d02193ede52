#!/bin/sh
# scripts/wine.sh PROGRAM [ARGUMENTS...]
#
# Runs a Windows program of a build folder under Wine, in a Wine prefix of
# its own under that build folder (BUILD/wine/run, made on first use;
# ~/.wine is never touched), in the current folder, so that relative paths in
# ARGUMENTS name files here. The build folder is the one PROGRAM is in
# (build/ of scripts/test.sh, build-demo/ of scripts/demo.sh, or any other
# that cmake configured); BUILD_DIR names another (relative to the source
# tree). A program with a window (PatchLauncher.exe) runs under
# box_driver.exe of that build: each message box it shows is printed and
# closed with OK, then its exit code, so that nothing waits for a display (a
# run that takes more than an hour is ended). A program of a configured build
# folder that is not there yet is built first; a program that cannot be
# there is named as missing, with the script that makes its build folder.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: scripts/wine.sh PROGRAM [ARGUMENTS...] (PROGRAM: a built .exe, e.g. build/PatchLauncher.exe)"
if [ $# -lt 1 ] || [ -z "$1" ]; then
    echo "$usage" >&2
    exit 2
fi
given=$1
shift
case "$given" in
/*) program=$given ;;
*) program=$PWD/$given ;;
esac

# The folder PROGRAM is in, made absolute without needing it to exist.
folder=$(dirname "$program") missing_part=
while [ ! -d "$folder" ] && [ "$folder" != / ]; do
    missing_part=$(basename "$folder")${missing_part:+/$missing_part}
    folder=$(dirname "$folder")
done
folder=$(cd "$folder" && pwd)${missing_part:+/$missing_part}
program=$folder/$(basename "$program")

# The build folder: BUILD_DIR, else the configured folder of the source tree
# that holds PROGRAM, else build/.
if [ -n "${BUILD_DIR:-}" ]; then
    case "$BUILD_DIR" in
    /*) build=$BUILD_DIR ;;
    *) build=$root/$BUILD_DIR ;;
    esac
else
    build=$root/build
    candidate=$folder
    while [ "${candidate#"$root"/}" != "$candidate" ]; do
        if [ -f "$candidate/CMakeCache.txt" ]; then
            build=$candidate
            break
        fi
        candidate=$(dirname "$candidate")
    done
fi

case "$program" in
"$build"/*.exe)
    if [ ! -f "$program" ] && [ -f "$build/CMakeCache.txt" ]; then
        cmake --build "$build" --target "$(basename "$program" .exe)" >&2 || true
    fi
    ;;
esac
if [ ! -f "$program" ]; then
    # Which script makes the build folder PROGRAM names, and the same
    # program in the other script's folder when that one is there.
    inside=${program#"$root"/}
    case "$inside" in
    build/*) made_by="scripts/test.sh builds build/" other=build-demo/${inside#build/} ;;
    build-demo/*) made_by="scripts/demo.sh builds build-demo/" other=build/${inside#build-demo/} ;;
    *) made_by="scripts/test.sh builds build/, scripts/demo.sh build-demo/" other= ;;
    esac
    echo "scripts/wine.sh: $given is missing ($program does not exist); $made_by" >&2
    if [ -n "$other" ] && [ -f "$root/$other" ]; then
        echo "scripts/wine.sh: $other is there: scripts/wine.sh $other ..." >&2
    fi
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
