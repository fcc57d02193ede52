#!/bin/sh
# Takes a screenshot of result message 301 in each of the 14 catalogue
# languages, shown by show_message.exe under Wine's X11 driver on a private
# Xvfb display, and writes docs/screenshots/301-<LCID>.png.
#
# scripts/screenshots.sh [BUILD_DIR]   (default: build-screenshots in the tree)
#
# Not part of the test run. Needs Xvfb, xwininfo and ImageMagick
# (scripts/setup-debian.sh installs them) and fonts-noto-cjk for the Chinese,
# Japanese and Korean texts.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build-screenshots}
out=$root/docs/screenshots
product="Tessaro Sample Product"
languages="1028 1029 1031 1033 1036 1038 1040 1041 1042 1045 1046 1049 2052 3082"

cmake -S "$root" -B "$build" -G Ninja >/dev/null
ninja -C "$build" show_message >/dev/null
show_message=$build/tools/show_message.exe

export WINEPREFIX="$build/wine/screenshots"
export WINEDEBUG=-all
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
run="$root/cmake/wine-run.sh"

# A display number that no X server holds.
display=90
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
    display=$((display + 1))
done
export DISPLAY=:$display

xvfb_pid=
box_pid=
stop_all() {
    if [ -n "$box_pid" ]; then kill "$box_pid" 2>/dev/null || true; fi
    "$wineserver" -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap stop_all EXIT INT TERM

Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
tries=0
until xwininfo -root >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ $tries -ge 100 ]; then echo "screenshots.sh: Xvfb did not start on $DISPLAY" >&2; exit 1; fi
    sleep 0.1
done

# A prefix of its own, with the X11 driver (the default).
if [ ! -e "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$run" wineboot.exe -i >/dev/null 2>&1
fi
"$run" regedit.exe /S "$here/screenshots.reg" >/dev/null 2>&1
# The caption buttons are drawn with Marlett; give the prefix Wine's own copy.
for font in /usr/share/wine/fonts/marlett.ttf /usr/lib/wine/fonts/marlett.ttf; do
    if [ -e "$font" ]; then cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/"; break; fi
done
"$wineserver" -w

# Wine's Tahoma has no Chinese, Japanese or Korean glyphs: for those
# languages link it to the Noto CJK face of the box's language (Debian's
# fonts-noto-cjk). For the others the link goes, as the CJK faces lack some
# Central European letters and Wine then draws the whole box with them.
link_cjk_font() {
    key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    case "$1" in
    1028) face="Noto Sans CJK TC" ;;
    1041) face="Noto Sans CJK JP" ;;
    1042) face="Noto Sans CJK KR" ;;
    2052) face="Noto Sans CJK SC" ;;
    *) face= ;;
    esac
    for name in Tahoma "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2"; do
        if [ -n "$face" ]; then
            "$run" reg.exe add "$key" /v "$name" /t REG_MULTI_SZ \
                /d "NotoSansCJK-Regular.ttc,$face" /f >/dev/null 2>&1
        else
            "$run" reg.exe delete "$key" /v "$name" /f >/dev/null 2>&1 || true
        fi
    done
}

count_windows() {
    xwininfo -root -children | grep -c '^ *0x' || true
}

mkdir -p "$out"
for lcid in $languages; do
    link_cjk_font "$lcid"
    before=$(count_windows)
    "$run" "$show_message" "$lcid" 301 "$product" >/dev/null 2>&1 &
    box_pid=$!
    # Wait for the box's window to be mapped, then for it to be drawn.
    tries=0
    while [ "$(count_windows)" -le "$before" ]; do
        tries=$((tries + 1))
        if [ $tries -ge 300 ]; then echo "screenshots.sh: no box for $lcid" >&2; exit 1; fi
        sleep 0.1
    done
    sleep 1.5
    import -window root "$build/screen-$lcid.png"
    # The root window is black; what is left after trimming it is the box.
    convert "$build/screen-$lcid.png" -trim +repage "$out/301-$lcid.png"
    kill "$box_pid" 2>/dev/null || true
    wait "$box_pid" 2>/dev/null || true
    box_pid=
    echo "$out/301-$lcid.png"
done
