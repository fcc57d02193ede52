#!/bin/sh
# benchmark.sh [BUILD_DIR]
# Measures a release launcher around patches with large payloads (not a test;
# prints numbers only): its size beside the payload; the time of "/e" with a
# 64 MB payload against cp of the same file, in the same run; the peak memory
# of "/e" with an 8 MB and a 128 MB payload. Then "patchkit pack" with a 1 GB
# patch: its time against a no-op start of patchkit plus cp of the same
# bytes (the kit's target: at most 1.5 times that), and its peak memory
# (target: at most 16 MB more than a no-op start). Uses the patch writer and
# patchkit of BUILD_DIR (default: build), builds the launchers in
# BUILD_DIR/benchmark and runs them in a Wine prefix of their own there
# (BENCHMARK_REUSE=1: keep the launchers and patches an earlier run made).
set -eu
source=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source/build}" && pwd)
work=$build/benchmark
support=$source/cmake
export WINEPREFIX=$work/wine
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
run() { "$support/wine-run.sh" "$@"; }
mkdir -p "$work"
cmake --build "$build" --target patch_writer patchkit PatchLauncher-stub > "$work/build.log" 2>&1
writer=$build/tools/patch_writer.exe

"$support/wine-prefix.sh" create "$WINEPREFIX"
"$wineserver" -p # keep one server for every run: no server start inside a measurement
trap '"$wineserver" -k 2>/dev/null || true' EXIT

# A patch carrying SIZE megabytes of media.
write_patch() {
    size=$1
    head -c "${size}M" /dev/urandom > "$work/media-$size.cab"
    run "$writer" "Z:$work/patch-$size.msp" \
        --target '{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}:{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8AF0}' \
        --patch-code '{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}' --from 1.0.0.0 --to 1.1.0.0 \
        --stream "media1.cab=Z:$work/media-$size.cab"
    rm -f "$work/media-$size.cab"
}

# A patch carrying SIZE megabytes of media, and a release launcher around it.
launcher() {
    size=$1
    write_patch "$size"
    cmake -S "$source" -B "$work/tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DPATCHLAUNCHER_TESTS=OFF -DPATCH_PACKAGE="$work/patch-$size.msp" >> "$work/build.log" 2>&1
    cmake --build "$work/tree" --target PatchLauncher >> "$work/build.log" 2>&1
    cp "$work/tree/PatchLauncher.exe" "$work/launcher-$size.exe"
}

# Seconds that COMMAND... takes, the best of three, each after the file
# system wrote out what earlier runs left, and with the file that $fresh
# names (when set) removed first: each run writes a new file.
best_time() {
    best=
    for _ in 1 2 3; do
        [ -z "${fresh:-}" ] || rm -f "$fresh"
        sync
        start=$(date +%s.%N)
        "$@" > /dev/null 2>&1
        end=$(date +%s.%N)
        best=$(echo "$start $end ${best:-}" | awk '{ t = $2 - $1; if ($3 != "" && $3 < t) t = $3; printf "%.3f", t }')
    done
    echo "$best"
}

# "peak resident / peak anonymous" memory in kB of one run of PROGRAM
# ARGUMENTS... (default: "/e"): VmHWM and the largest RssAnon seen, sampled
# every 10 ms. Pages of the payload mapped from the file count as resident
# but not as anonymous.
peak_memory() {
    rm -f "$work/out.msp"
    program=$1
    shift
    [ $# -gt 0 ] || set -- /e "Z:$work/out.msp"
    "$support/wine-run.sh" "$program" "$@" > /dev/null & # wine-run.sh becomes the program
    launcher=$!
    resident=0 anon=0
    while [ -r "/proc/$launcher/status" ]; do
        sample=$(awk '/^VmHWM:/ { h = $2 } /^RssAnon:/ { a = $2 } END { print h + 0, a + 0 }' \
            "/proc/$launcher/status" 2>/dev/null || echo "0 0")
        resident=$(echo "$sample $resident" | awk '{ print ($1 > $3) ? $1 : $3 }')
        anon=$(echo "$sample $anon" | awk '{ print ($2 > $3) ? $2 : $3 }')
        sleep 0.01
    done
    wait "$launcher"
    echo "$resident / $anon"
}

for size in 8 64 128; do
    [ -n "${BENCHMARK_REUSE:-}" ] && [ -f "$work/launcher-$size.exe" ] || launcher $size
done

payload=$(stat -c %s "$work/patch-64.msp")
exe=$(stat -c %s "$work/launcher-64.exe")
echo "size beside the payload:   $((exe - payload)) bytes ($(( (exe - payload) / 1024 )) KB)"
run "$work/launcher-64.exe" /pi # warm the caches
noop=$(best_time run "$work/launcher-64.exe" /pi)
extract=$(best_time run "$work/launcher-64.exe" /e "Z:$work/out.msp")
copy=$(best_time cp "$work/patch-64.msp" "$work/out-cp.msp")
echo "64 MB payload:             /e $extract s, cp $copy s, /pi (no-op start) $noop s"
cmp -s "$work/out.msp" "$work/patch-64.msp" || echo "warning: /e did not write the patch byte for byte"
for size in 8 128; do
    echo "peak memory of /e, ${size} MB: $(peak_memory "$work/launcher-$size.exe") kB (resident / anonymous)"
done
rm -f "$work/out.msp" "$work/out-cp.msp"

# Packing a launcher around a 1 GB patch.
[ -n "${BENCHMARK_REUSE:-}" ] && [ -f "$work/patch-1024.msp" ] || write_patch 1024
pack() { run "$build/patchkit.exe" pack --patch "Z:$work/patch-1024.msp" --out "Z:$work/packed.exe"; }
pack > /dev/null 2>&1 # warm the caches
noop=$(best_time run "$build/patchkit.exe" --version)
packing=$(fresh=$work/packed.exe best_time pack)
copy=$(fresh=$work/out-cp.msp best_time cp "$work/patch-1024.msp" "$work/out-cp.msp")
echo "pack, 1 GB patch:          $packing s; no-op start $noop s + cp $copy s, times 1.5: $(echo "$noop $copy" | awk '{ printf "%.3f", 1.5 * ($1 + $2) }') s"
echo "peak memory of pack, 1 GB: $(peak_memory "$build/patchkit.exe" pack --patch "Z:$work/patch-1024.msp" --out "Z:$work/packed.exe") kB; no-op start: $(peak_memory "$build/patchkit.exe" --version) kB (resident / anonymous)"
rm -f "$work/packed.exe" "$work/out-cp.msp"
