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
# A program named without a folder (cmd, reg.exe, msiexec) is given with
# Windows' system folder, where Wine keeps its own programs. For a bare name
# Wine's loader does not search: it starts start.exe, which finds the program
# with ShellExecuteEx and starts it as a second process, a step a command
# prompt does not take and one that has failed on a loaded machine
# ("ShellExecuteEx failed: Internal error").
case "${1:-}" in
*/* | *\\* | *:* | "") ;;
*.exe | *.EXE) program=$1 && shift && set -- "C:\\windows\\system32\\$program" "$@" ;;
*.*) ;;
*) program=$1 && shift && set -- "C:\\windows\\system32\\$program.exe" "$@" ;;
esac
if [ -x /usr/lib/wine/wine64 ]; then
    exec /usr/lib/wine/wine64 "$@"
fi
exec wine64 "$@"
