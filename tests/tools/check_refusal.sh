#!/bin/sh
# check_refusal.sh CMAKE WORK_DIR WRITER_EXE
# In the vendor's build tree (vendor_build.sh), a patch the launcher cannot
# use makes the build fail with the checker's message and removes the
# launcher; building again fails again, so the earlier patch is never
# embedded; the sound patch builds a launcher again. Runs the writer in
# WINEPREFIX.
set -u
cmake=$1 work=$2 writer=$3
here=$(dirname "$0")
tree=$work/build
exe=$tree/PatchLauncher.exe
failures=0
fail() { echo "FAIL $1"; failures=$((failures + 1)); }

"$here/../../cmake/wine-run.sh" "$writer" "Z:$work/unusable.msp" --summary-only \
    --text "2=Patch" --text "5=1.1.0.0;1.0.0.0" \
    --text "7={6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}" || fail "the writer failed"
[ -f "$exe" ] || fail "no launcher from the sound patch to start with"

"$cmake" -DPATCH_PACKAGE="$work/unusable.msp" "$tree" > "$work/refusal-configure.log" 2>&1 ||
    { fail "configure refused what the build should check"; cat "$work/refusal-configure.log"; }
for attempt in first second; do
    if "$cmake" --build "$tree" --target PatchLauncher > "$work/refusal-$attempt.log" 2>&1; then
        fail "$attempt build with the unusable patch succeeded"
    elif ! tr -s ' \n' '  ' < "$work/refusal-$attempt.log" |
        grep -qF "PID_KEYWORDS (Keywords) '1.1.0.0;1.0.0.0' has the target entry '1.0.0.0', which is not followed by \",\""; then
        fail "$attempt build did not say what is wrong:"; cat "$work/refusal-$attempt.log"
    else
        echo "ok   $attempt build fails naming the property, value and problem"
    fi
    if [ -e "$exe" ] || [ -e "$tree/payload/checked.msp" ]; then
        fail "$attempt failed build left a launcher or a checked patch behind"
    else
        echo "ok   $attempt failed build left no launcher"
    fi
done

"$cmake" -DPATCH_PACKAGE="$work/stamped.msp" "$tree" > "$work/refusal-restore.log" 2>&1 &&
    "$cmake" --build "$tree" --target PatchLauncher >> "$work/refusal-restore.log" 2>&1 &&
    [ -f "$exe" ] || { fail "the sound patch did not build again"; cat "$work/refusal-restore.log"; }
[ $failures -eq 0 ]
