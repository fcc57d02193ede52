#!/bin/sh
# Runs a Windows program under Wine in the prefix that WINEPREFIX names.
# Used as the cross-compiling emulator by CMake and ctest.
set -e
if [ -z "$WINEPREFIX" ]; then
    echo "wine-run.sh: WINEPREFIX must name a prefix under the build tree" >&2
    exit 2
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
if [ -x /usr/lib/wine/wine64 ]; then
    exec /usr/lib/wine/wine64 "$@"
fi
exec wine64 "$@"
