#!/bin/sh
# pack_refusals.sh BUILD_DIR PATCH WORK_DIR WRITER_EXE
# What "patchkit pack" (BUILD_DIR/patchkit.exe, run in WINEPREFIX) refuses,
# with its exit code and the reason: each refusal leaves no launcher where
# there was none, and an earlier launcher as it was, and no file of its own
# beside it. Then what it takes: PATCH packed with the stub beside patchkit
# is the build's PatchLauncher.exe, byte for byte, every time; the longest
# maker's name that fits every 307 text.
set -u
build=$1 patch=$2 work=$3 writer=$4
run() { LC_ALL=C.UTF-8 "$(dirname "$0")/../../cmake/wine-run.sh" "$@"; }
patchkit=$build/patchkit.exe stub=$build/PatchLauncher-stub.exe
failures=0
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
rm -rf "$work"
mkdir -p "$work/out"
out=$work/out/Launcher.exe

# The inputs to refuse: a patch the launcher cannot use, one larger than a
# launcher carries (sparse), a signed stub.
run "$writer" "Z:$work/unusable.msp" --summary-only --text "2=Patch" \
    --text "5=1.1.0.0;1.0.0.0" --text "7={6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}" ||
    fail "the writer failed"
truncate -s 1610612737 "$work/large.msp" # a byte more than a launcher carries
# The sample patch cut to half its bytes, and cut 256 bytes into its first
# FAT sector (the header's first DIFAT entry, at 0x4C; sectors of
# 1 << the shift at 0x1E, counted from after the header's own sector).
size=$(stat -c %s "$patch")
head -c $((size / 2)) "$patch" > "$work/half.msp"
shift_=$(od -An -tu2 -j30 -N2 "$patch" | tr -d ' ')
fat=$(od -An -tu4 -j76 -N4 "$patch" | tr -d ' ')
head -c $(((fat + 1) * (1 << shift_) + 256)) "$patch" > "$work/cut-fat.msp"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=PatchLauncher pack test" > "$work/openssl.log" 2>&1 &&
    osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 -in "$stub" \
        -out "$work/signed-stub.exe" >> "$work/openssl.log" 2>&1 || fail "the stub was not signed"

# refused EXIT MESSAGE ARGUMENT...: "pack ARGUMENT... --out OUT" exits EXIT
# saying MESSAGE, without an earlier OUT and with one.
refused() {
    code=$1 what=$2
    shift 2
    for earlier in no yes; do
        rm -rf "$work/out"
        mkdir -p "$work/out"
        [ $earlier = no ] || printf 'an earlier launcher' > "$out"
        run "$patchkit" pack "$@" --out "Z:$out" > "$work/pack.log" 2>&1
        result=$?
        left=$(ls "$work/out")
        if [ $result -ne "$code" ]; then
            fail "pack $* exited $result, not $code:"; cat "$work/pack.log"; return
        elif ! tr -d '\r' < "$work/pack.log" | tr -s ' \n' '  ' | grep -qF -- "$what"; then
            fail "pack $*: expected \"$what\" in:"; cat "$work/pack.log"; return
        elif [ $earlier = no ] && [ -n "$left" ]; then
            fail "pack $* left $left"; return
        elif [ $earlier = yes ] && { [ "$left" != Launcher.exe ] ||
            [ "$(cat "$out")" != 'an earlier launcher' ]; }; then
            fail "pack $* touched the earlier launcher or left $left"; return
        fi
    done
    echo "ok   pack $* refused: $what"
}
sample="--patch Z:$patch --stub Z:$stub"
long=$(printf '%021d' 0 | tr 0 x)
refused 1 "PID_KEYWORDS (Keywords) '1.1.0.0;1.0.0.0' has the target entry '1.0.0.0', which is not followed by \",\"" \
    --patch "Z:$work/unusable.msp" --stub "Z:$stub"
refused 1 "the patch has 1610612737 bytes, more than the 1610612736 bytes (1.5 GiB) that a launcher carries" \
    --patch "Z:$work/large.msp" --stub "Z:$stub"
refused 1 "half.msp: the patch is truncated: its FAT names sector" --patch "Z:$work/half.msp" --stub "Z:$stub"
refused 1 "cut-fat.msp: the patch is truncated: its header names sector $fat for its FAT" \
    --patch "Z:$work/cut-fat.msp" --stub "Z:$stub"
refused 1 "cannot read the patch" --patch "Z:$work/missing.msp" --stub "Z:$stub"
refused 1 "patchkit.exe: not a launcher stub: its sections are not aligned to pages of 4096 bytes" \
    --patch "Z:$patch" --stub "Z:$patchkit"
refused 1 "not a launcher stub: it already carries a patch (resource MSP/IDR_MSP); pack the stub, PatchLauncher-stub.exe." \
    --patch "Z:$patch" --stub "Z:$build/PatchLauncher.exe"
refused 1 "the stub is signed: pack the unsigned stub, then sign the launcher after packing." \
    --patch "Z:$patch" --stub "Z:$work/signed-stub.exe"
refused 1 "--maker '100% Software' contains \"%\"" $sample --maker '100% Software'
refused 1 "--maker 'Say \"Hi\"' contains a double quote" $sample --maker 'Say "Hi"'
refused 1 "--maker 'Back\\slash' contains a backslash" $sample --maker 'Back\slash'
refused 1 "contains a control character" $sample --maker "$(printf 'Tab\tCo')"
refused 1 "--maker-ja 'Line" $sample --maker Acme --maker-ja "$(printf 'Line\nBreak')"
refused 1 "message 307 in language 1045 would have 256 characters, more than the 255" \
    $sample --maker "$long"
refused 1 "--maker-ja is given without --maker" $sample --maker-ja 'アクメ'
refused 2 "unknown option '--maker-jp' for pack" $sample --maker-jp 'アクメ'
refused 2 "--patch is given twice" $sample --patch "Z:$patch"

# What check refuses as pack does, in the same words: a damaged or cut patch,
# one a launcher cannot carry (sparse, 2 GB and a byte: never read whole),
# a missing file and a folder.
truncate -s 2147483649 "$work/huge.msp"
mkdir -p "$work/folder.msp"
for row in "half.msp|the patch is truncated: its FAT names sector" \
    "cut-fat.msp|the patch is truncated: its header names sector $fat for its FAT" \
    "huge.msp|the patch has 2147483649 bytes, more than the 1610612736 bytes (1.5 GiB)" \
    "missing.msp|missing.msp: cannot read the patch: it does not exist" \
    "folder.msp|folder.msp: cannot read the patch: it is a folder"; do
    file=${row%%|*} what=${row#*|}
    run "$patchkit" check "Z:$work/$file" > "$work/check.log" 2>&1
    result=$?
    if [ $result -ne 1 ] || ! tr -d '\r' < "$work/check.log" | tr -s ' \n' '  ' | grep -qF -- "$what"; then
        fail "check $file exited $result, expected 1 and \"$what\" in:"; cat "$work/check.log"
    else
        echo "ok   check $file refused: $what"
    fi
done
rm -f "$work/huge.msp"

# The output may not be an input; nor in a folder that is not there.
before=$(sha256sum "$stub" "$patch")
for target in stub patch; do
    file=$stub
    [ $target = stub ] || file=$patch
    if run "$patchkit" pack $sample --out "Z:$file" > "$work/pack.log" 2>&1; then
        fail "pack wrote over the $target"
    elif ! grep -qF "the launcher would overwrite the $target" "$work/pack.log"; then
        fail "pack over the $target says:"; cat "$work/pack.log"
    else
        echo "ok   pack refuses to write over the $target"
    fi
done
[ "$(sha256sum "$stub" "$patch")" = "$before" ] || fail "the stub or the patch changed"
if run "$patchkit" pack $sample --out "Z:$work/missing/Launcher.exe" > "$work/pack.log" 2>&1 ||
    ! grep -qF "cannot write a file in its folder" "$work/pack.log" || [ -e "$work/missing" ]; then
    fail "pack into a missing folder:"; cat "$work/pack.log"
else
    echo "ok   pack refuses a folder that is not there"
fi

# The output is a launcher file or nothing: a folder or a read-only file is
# refused and left as it was.
untouched() { # OUT KIND MESSAGE
    target=$1 kind=$2 what=$3
    before=$(ls -lR "$target" | md5sum)
    if run "$patchkit" pack $sample --out "Z:$target" > "$work/pack.log" 2>&1; then
        fail "pack over a $kind exited 0"
    elif ! tr -d '\r' < "$work/pack.log" | grep -qF -- "$what"; then
        fail "pack over a $kind: expected \"$what\" in:"; cat "$work/pack.log"
    elif [ "$(ls -lR "$target" | md5sum)" != "$before" ] || [ "$(ls "$work/out")" != "$(basename "$target")" ]; then
        fail "pack over a $kind changed it or left $(ls "$work/out")"
    else
        echo "ok   pack refuses a $kind and leaves it as it was"
    fi
}
rm -rf "$work/out" && mkdir -p "$work/out/Launcher.exe" && echo kept > "$work/out/Launcher.exe/file"
untouched "$work/out/Launcher.exe" folder "Launcher.exe: it is a folder"
rm -rf "$work/out" && mkdir -p "$work/out" && printf 'an earlier launcher' > "$out" && chmod a-w "$out"
untouched "$out" "read-only file" "Launcher.exe: it is read-only, so it is not replaced"
chmod u+w "$out"

# A pack that was ended before it was done left its partial launcher and the
# earlier one moved aside: the next pack removes both, says so, and packs.
rm -rf "$work/out" && mkdir -p "$work/out"
printf 'half a launcher' > "$out.partial" && printf 'an earlier launcher' > "$out.previous"
if run "$patchkit" pack --patch "Z:$patch" --out "Z:$out" > "$work/pack.log" 2>&1 &&
    cmp -s "$out" "$build/PatchLauncher.exe" && [ "$(ls "$work/out")" = Launcher.exe ] &&
    [ "$(grep -c "which an earlier pack left when it was ended before it was done" "$work/pack.log")" = 2 ]; then
    echo "ok   pack removes what an earlier pack left, says so, and packs"
else
    fail "pack after a pack that was ended left $(ls "$work/out"):"; cat "$work/pack.log"
fi

# Paths beyond MAX_PATH: a launcher 300 characters deep is the build's, byte
# for byte.
deep=$work/$(printf '%0100d' 0 | tr 0 d)/$(printf '%0100d' 0 | tr 0 e)/$(printf '%060d' 0 | tr 0 f)
mkdir -p "$deep"
if run "$patchkit" pack --patch "Z:$patch" --out "Z:$deep/Launcher.exe" > "$work/pack.log" 2>&1 &&
    cmp -s "$deep/Launcher.exe" "$build/PatchLauncher.exe" && [ "$(ls "$deep")" = Launcher.exe ]; then
    echo "ok   a launcher at a path of $(printf 'Z:%s/Launcher.exe' "$deep" | wc -c) characters is the build's"
else
    fail "pack to a path of $(printf 'Z:%s/Launcher.exe' "$deep" | wc -c) characters:"; cat "$work/pack.log"
fi
rm -rf "$work/$(printf '%0100d' 0 | tr 0 d)"

# A full disk: a tmpfs too small for the launcher (where the suite may mount
# one). The message names the file and says the disk is full; nothing is left.
full=$work/full
mkdir -p "$full"
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=64k tmpfs "$full" 2> "$work/mount.log"; then
    if run "$patchkit" pack $sample --out "Z:$full/Launcher.exe" > "$work/pack.log" 2>&1; then
        fail "pack on a full disk exited 0"
    elif ! tr -d '\r' < "$work/pack.log" | grep -qF "Launcher.exe.partial: cannot write: the disk is full (error 112)"; then
        fail "pack on a full disk says:"; cat "$work/pack.log"
    elif [ -n "$(ls "$full")" ]; then
        fail "pack on a full disk left $(ls "$full")"
    else
        echo "ok   pack on a full disk says so, naming the file, and leaves nothing"
    fi
    umount "$full"
else
    echo "skip pack on a full disk: no small tmpfs can be mounted here ($(id -un), $(cat "$work/mount.log" 2>/dev/null))"
fi

# Taken: the sample patch with the stub beside patchkit is the build's
# launcher, byte for byte, also when packed over an earlier launcher.
rm -rf "$work/out" && mkdir -p "$work/out"
for attempt in first second; do
    if run "$patchkit" pack --patch "Z:$patch" --out "Z:$out" > "$work/pack.log" 2>&1 &&
        cmp -s "$out" "$build/PatchLauncher.exe" && [ "$(ls "$work/out")" = Launcher.exe ]; then
        echo "ok   $attempt pack is the build's launcher, byte for byte"
    else
        fail "$attempt pack differs from the build's launcher:"; cat "$work/pack.log"
    fi
done
# 20 characters of name make the longest 307 text (1045) exactly 255 characters.
if run "$patchkit" pack $sample --out "Z:$out" --maker "$(printf '%020d' 0 | tr 0 x)" \
    --maker-ja 'アクメ' > "$work/pack.log" 2>&1 &&
    python3 -c 'import sys; sys.exit("アクメ製品".encode("utf-16-le") not in open(sys.argv[1], "rb").read())' "$out"; then
    echo "ok   the longest name that fits is taken"
else
    fail "a name that fits was refused:"; cat "$work/pack.log"
fi
[ $failures -eq 0 ]
