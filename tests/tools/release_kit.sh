#!/bin/sh
# release_kit.sh SOURCE_DIR BUILD_DIR VENDOR_WORK WORK_DIR
# The release kit that scripts/kit.sh writes from BUILD_DIR: the same zip
# twice, byte for byte, its entries as the kit promises them. Then its quick
# start, run line by line as its README.txt writes it, with cmd.exe, from the
# unzipped kit in a fresh Wine prefix, on the vendor's patch of
# vendor_build.sh (VENDOR_WORK): the check refuses the patch's keywords,
# stamp, pack and inspect succeed, and the launcher packed is the vendor's
# build without its signature, byte for byte. The reviewer's check, with the
# vendor's signed build standing for the signed launcher, finds no
# difference. signtool is not run.
set -u
source=$1 build=$2 vendor=$3 work=$4
failures=0
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
rm -rf "$work"
mkdir -p "$work"
version=$(head -n 1 "$source/VERSION")
zip=PatchLauncher-kit-$version.zip
for run in first second; do
    KIT_BUILT=1 sh "$source/scripts/kit.sh" "$build" "$work/$run" > "$work/kit.log" 2>&1 ||
        { fail "kit.sh failed:"; cat "$work/kit.log"; exit 1; }
    sleep 1 # another second: no time of writing may reach the zip
done
cmp -s "$work/first/$zip" "$work/second/$zip" && echo "ok   the kit twice is the same zip" ||
    fail "the kit differs from one run to the next"
python3 - "$work/first/$zip" > "$work/entries.log" 2>&1 <<'PYTHON' || fail "the kit's entries: $(cat "$work/entries.log")"
import sys, zipfile
entries = zipfile.ZipFile(sys.argv[1]).infolist()
names = [entry.filename for entry in entries]
assert names == ["PatchLauncher-stub.exe", "README.txt", "SHA256SUMS", "patchkit.exe"], names
for entry in entries:
    assert entry.date_time == (1980, 1, 1, 0, 0, 0) and entry.extra == b"", entry
    assert entry.create_system == 0 and entry.external_attr == 0x20, entry
PYTHON

kit=$work/kit
python3 -m zipfile -e "$work/first/$zip" "$kit"
(cd "$kit" && sha256sum -c SHA256SUMS > /dev/null) || fail "SHA256SUMS does not match the files"
cmp -s "$kit/PatchLauncher-stub.exe" "$build/PatchLauncher-stub.exe" || fail "the kit's stub is not the build's"
cp "$vendor/vendor.msp" "$kit/your.msp"

WINEPREFIX=$work/wine
export WINEPREFIX
"$source/cmake/wine-prefix.sh" create "$WINEPREFIX"
trap '"$source/cmake/wine-prefix.sh" destroy "$WINEPREFIX"' EXIT
# Each command of README.txt: cmd.exe runs patchkit; osslsigncode runs here,
# and so does the comparison of "fc /b" (Wine's fc.exe compares nothing);
# where signtool would sign, the vendor's signed build stands in.
tr -d '\r' < "$kit/README.txt" | grep '^    [a-z]' | sed 's/^    //' > "$work/commands.txt"
cd "$kit"
n=0
while IFS= read -r line; do
    n=$((n + 1))
    eval "set -- $line"
    case "$1" in
    signtool)
        cp "$vendor/build/PatchLauncher.exe" PatchLauncher.exe
        continue
        ;;
    osslsigncode) "$@" > "$work/command-$n.log" 2>&1 ;;
    fc) shift 2 && cmp "$@" > "$work/command-$n.log" 2>&1 ;;
    *) LC_ALL=C.UTF-8 "$source/cmake/wine-run.sh" cmd /c "$@" > "$work/command-$n.log" 2>&1 ;;
    esac
    result=$?
    expected=0
    [ "$line" != "patchkit check your.msp" ] || expected=1
    if [ $result -ne $expected ]; then
        fail "'$line' exited $result, not $expected:"; cat "$work/command-$n.log"
    else
        echo "ok   $line"
    fi
    case "$line" in
    "patchkit check your.msp")
        grep -qF 'patchkit stamp IN.msp OUT.msp' "$work/command-$n.log" ||
            fail "the check does not point to stamp: $(cat "$work/command-$n.log")" ;;
    "patchkit pack --patch stamped.msp --out PatchLauncher.exe"*)
        cmp -s PatchLauncher.exe "$vendor/signature-removed.exe" &&
            echo "ok   the kit packs the build's launcher, byte for byte" ||
            fail "the kit's launcher differs from the build's without its signature" ;;
    "patchkit inspect"*)
        grep -qF 'Signature: Authenticode' "$work/command-$n.log" ||
            fail "inspect does not see the signature: $(cat "$work/command-$n.log")" ;;
    esac
done < "$work/commands.txt"
[ $n -ge 8 ] || fail "README.txt has $n commands, fewer than its quick start and check"
[ $failures -eq 0 ]
