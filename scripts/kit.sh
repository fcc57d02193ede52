#!/bin/sh
# scripts/kit.sh [BUILD_DIR [DIST_DIR]]
#
# Writes the release kit, DIST_DIR/PatchLauncher-kit-VERSION.zip (default:
# dist/ in the source tree; VERSION from the file VERSION): the launcher stub
# and patchkit.exe of BUILD_DIR (default: build/), README.txt (kit/README.txt
# with the version, CR LF line ends) and SHA256SUMS. Unless KIT_BUILT=1 (the
# kit target and the tests, which built them), it first installs what the
# build needs (scripts/setup-debian.sh), configures BUILD_DIR when it is no
# build folder yet, as scripts/test.sh does, and builds the two programs.
# The same files give the same zip, byte for byte: entries in name order, one
# fixed time (1980-01-01 00:00), no owner, permission or other host fields
# (the MS-DOS archive attribute alone), deflate at level 9.
set -eu
source=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source/build}
dist=${2:-$source/dist}
version=$(head -n 1 "$source/VERSION")
if [ "${KIT_BUILT:-}" != 1 ]; then
    "$source/scripts/setup-debian.sh"
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$source" -B "$build" -G Ninja
    cmake --build "$build" --target patchkit PatchLauncher-stub > /dev/null
fi
build=$(cd "$build" && pwd)
mkdir -p "$dist"
staging=$dist/PatchLauncher-kit-$version
rm -rf "$staging"
mkdir -p "$staging"
cp "$build/PatchLauncher-stub.exe" "$build/patchkit.exe" "$staging/"
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' "$source/kit/README.txt" > "$staging/README.txt"
(cd "$staging" && sha256sum PatchLauncher-stub.exe README.txt patchkit.exe > SHA256SUMS)
zip=$dist/PatchLauncher-kit-$version.zip
python3 - "$zip" "$staging" <<'PYTHON'
import os, sys, zipfile
zip_path, folder = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(zip_path + ".new", "w") as archive:
    for name in sorted(os.listdir(folder)):
        entry = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 0  # MS-DOS: no Unix owner or permissions
        entry.external_attr = 0x20  # the archive attribute alone, as Windows writes it
        with open(os.path.join(folder, name), "rb") as data:
            archive.writestr(entry, data.read(), compresslevel=9)
os.replace(zip_path + ".new", zip_path)
PYTHON
rm -rf "$staging"
echo "$zip"
