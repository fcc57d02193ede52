#!/bin/sh
# The main job on the bundled sample: builds the launcher around the sample
# patch and runs it in a throwaway Wine prefix.
set -e
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
cmake -S . -B build -G Ninja
cmake --build build --target PatchLauncher
prefix=$PWD/build/wine/demo
tests/support/wine-prefix.sh create "$prefix"
trap 'tests/support/wine-prefix.sh destroy "$prefix"' EXIT
out=$PWD/build/demo
mkdir -p "$out"
WINEPREFIX=$prefix tests/support/wine-run.sh build/PatchLauncher.exe /e "$out/extracted.msp"
echo "Extracted the embedded patch to $out/extracted.msp:"
msiinfo suminfo "$out/extracted.msp" || true
