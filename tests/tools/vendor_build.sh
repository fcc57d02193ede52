#!/bin/sh
# vendor_build.sh CMAKE SOURCE_DIR WORK_DIR WRITER_EXE MAKER_NAME MAKER_NAME_JA
# Builds a launcher the way a vendor does, in WORK_DIR/build: makes a
# throw-away signing certificate, writes a patch as other authoring tools do
# (source locations in its keywords), stamps it with the patch writer, and
# builds PatchLauncher.exe around the stamped copy with the maker's name and
# the certificate. Windows programs run in WINEPREFIX.
set -eu
cmake=$1 source=$2 work=$3 writer=$4 maker=$5 maker_ja=$6
run() { "$source/cmake/wine-run.sh" "$@"; }
mkdir -p "$work"
cd "$work"
rm -f ./*.pem ./*.pfx ./*.msp password.txt

# The certificate, and a second one that must not verify the signature.
printf 'vendor-test' > password.txt
for name in vendor other; do
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$name-key.pem" -out "$name.pem" \
        -days 2 -subj "/CN=PatchLauncher $name test" > openssl.log 2>&1
done
openssl pkcs12 -export -out vendor.pfx -inkey vendor-key.pem -in vendor.pem \
    -passout file:password.txt >> openssl.log 2>&1

run "$writer" "Z:$work/vendor.msp" \
    --target '{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}:{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8AF0}:1033' \
    --target '{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A20}:{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8AF1}:1031' \
    --patch-code '{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}' --from 1.0.0.0 --to 1.1.0.0 \
    --keywords '\\server\patches\;https://example.com/patches/'
run "$writer" stamp "Z:$work/vendor.msp" "Z:$work/stamped.msp"

"$cmake" -S "$source" -B "$work/build" -G Ninja -DPATCHLAUNCHER_TESTS=OFF \
    -DPATCH_PACKAGE="$work/stamped.msp" -DMAKER_NAME="$maker" -DMAKER_NAME_JA="$maker_ja" \
    -DSIGN_PKCS12="$work/vendor.pfx" -DSIGN_PASSWORD_FILE="$work/password.txt" > configure.log 2>&1 ||
    { cat configure.log; exit 1; }
"$cmake" --build "$work/build" --target PatchLauncher > build.log 2>&1 || { cat build.log; exit 1; }
echo "built $work/build/PatchLauncher.exe"
