#!/bin/sh
# wine-prefix.sh create PREFIX  - a fresh prefix with the null graphics driver
#                                 (WINE_GRAPHICS=x11: keep the X11 driver)
# wine-prefix.sh destroy PREFIX - stop that prefix's wineserver
set -e
action=$1
WINEPREFIX=$2
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
[ -n "$WINEPREFIX" ] || { echo "usage: $0 create|destroy PREFIX" >&2; exit 2; }
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
here=$(dirname "$0")
case "$action" in
create)
    if [ -e "$WINEPREFIX" ]; then
        "$wineserver" -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
    fi
    mkdir -p "$WINEPREFIX"
    "$here/wine-run.sh" wineboot.exe -i >/dev/null 2>&1
    # A program that crashes ends at once: no debugger is started and no crash
    # dialog waits for someone to close it (the build would hang on it).
    aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
    "$here/wine-run.sh" reg.exe add "$aedebug" /v Debugger /d '' /f >/dev/null 2>&1
    "$here/wine-run.sh" reg.exe add "$aedebug" /v Auto /d 1 /f >/dev/null 2>&1
    "$here/wine-run.sh" reg.exe add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
        /t REG_DWORD /d 0 /f >/dev/null 2>&1
    # Message boxes work headless with the null driver.
    [ "${WINE_GRAPHICS:-null}" = x11 ] || "$here/wine-run.sh" reg.exe add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    "$wineserver" -w
    ;;
destroy)
    "$wineserver" -k 2>/dev/null || true
    ;;
*)
    echo "usage: $0 create|destroy PREFIX" >&2
    exit 2
    ;;
esac
