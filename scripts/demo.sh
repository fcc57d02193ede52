#!/bin/sh
# The main job on the bundled sample: builds the sample product, the sample
# patch and PatchLauncher.exe around it, installs the product (version 1.0.0.0)
# into a throwaway Wine prefix, runs the launcher twice and "/i" once, and
# prints each message box and the product before and after.
#
# It builds in a folder of its own (build-demo, or DEMO_BUILD_DIR), always
# around the sample patch and with the catalogue's own texts, unsigned, so
# that the options of a launcher built for a vendor never reach it.
#
# Headless, Wine's null graphics driver is used and the boxes are read and
# closed for you. With DEMO_DISPLAY=1 and a display (or Xvfb) in DISPLAY, the
# real boxes are shown and wait for you to press OK.
set -e
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup-debian.sh
build_dir=${DEMO_BUILD_DIR:-build-demo}
cmake -S . -B "$build_dir" -G Ninja -DPATCHLAUNCHER_TESTS=OFF -DPATCH_PACKAGE= \
    -DMAKER_NAME= -DMAKER_NAME_JA= -DSIGN_PKCS12= -DSIGN_PASSWORD_FILE= -DSIGN_TIMESTAMP_URL=
cmake --build "$build_dir" --target PatchLauncher sample_products box_driver product_info

build=$root/$build_dir
export WINEPREFIX=$build/wine/demo
interactive=
if [ "${DEMO_DISPLAY:-0}" = 1 ] && [ -n "$DISPLAY" ]; then
    interactive=yes
    export WINE_GRAPHICS=x11
fi
cmake/wine-prefix.sh create "$WINEPREFIX"
trap 'cmake/wine-prefix.sh destroy "$WINEPREFIX"' EXIT
run="cmake/wine-run.sh"
product='{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}'

launch() {
    echo "--- PatchLauncher.exe $*"
    if [ -n "$interactive" ]; then
        $run "$build/PatchLauncher.exe" "$@"
    else
        $run "$build/tools/box_driver.exe" "$build/PatchLauncher.exe" "$@"
    fi
}

echo "--- installing the sample product Tessaro Notes 1.0.0.0 (samples/notes-en.msi)"
$run msiexec /i "$build/samples/notes-en.msi" /qn
echo "--- before:"
$run "$build/tools/product_info.exe" "$product"
launch /i
launch
echo "--- after:"
$run "$build/tools/product_info.exe" "$product"
echo "--- once more: the product is up to date now"
launch
