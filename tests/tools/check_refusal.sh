#!/bin/sh
# check_refusal.sh CMAKE WORK_DIR WRITER_EXE PATCHKIT_EXE
# In the vendor's build tree (vendor_build.sh), a patch the launcher cannot
# use makes the build fail with the checker's message and removes the
# launcher; building again fails again, so the earlier patch is never
# embedded; a stamped small update builds, named as such; the sound patch
# builds a launcher again. "patchkit stamp" names what it refuses. Runs the
# writer and patchkit in WINEPREFIX.
set -u
cmake=$1 work=$2 writer=$3 patchkit=$4
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
    if [ -e "$exe" ]; then
        fail "$attempt failed build left a launcher behind"
    else
        echo "ok   $attempt failed build left no launcher"
    fi
done

# A hotfix that leaves the version as it is: "stamp" writes "V;V," and the
# build's check takes it as a small update.
"$here/../../cmake/wine-run.sh" "$writer" "Z:$work/hotfix.msp" \
    --target '{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}:{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8AF0}:1033' \
    --patch-code '{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B07}' --from 3.1.21022 --to 3.1.21022 \
    --keywords 'https://example.com/hotfix/' || fail "the writer failed on the hotfix"
if "$here/../../cmake/wine-run.sh" "$patchkit" stamp "Z:$work/hotfix.msp" \
    "Z:$work/hotfix-stamped.msp" > "$work/hotfix-stamp.log" 2>&1 &&
    grep -qF "with Keywords '3.1.21022;3.1.21022,'" "$work/hotfix-stamp.log" &&
    grep -qF "a small update (Keywords '3.1.21022;3.1.21022,'): a product at 3.1.21022 gets" \
        "$work/hotfix-stamp.log"; then
    echo "ok   stamp writes a small update as its version alone"
else
    fail "stamp on the hotfix:"; cat "$work/hotfix-stamp.log"
fi
"$cmake" -DPATCH_PACKAGE="$work/hotfix-stamped.msp" "$tree" > "$work/hotfix-build.log" 2>&1 &&
    "$cmake" --build "$tree" --target PatchLauncher >> "$work/hotfix-build.log" 2>&1 &&
    [ -f "$exe" ] && tr -s ' \n' '  ' < "$work/hotfix-build.log" |
    grep -qF "the launcher can use it: a small update (Keywords '3.1.21022;3.1.21022,')" &&
    echo "ok   the build takes the small update and names it" ||
    { fail "the build of the small update:"; cat "$work/hotfix-build.log"; }

# What "stamp" refuses it names: an unknown option, a missing input.
stamp_refuses() {
    expected=$1; shift
    if "$here/../../cmake/wine-run.sh" "$patchkit" stamp "$@" > "$work/stamp-refusal.log" 2>&1; then
        fail "stamp $* succeeded"
    elif grep -qF -e "$expected" "$work/stamp-refusal.log"; then
        echo "ok   stamp $*: $expected"
    else
        fail "stamp $* does not say \"$expected\":"; cat "$work/stamp-refusal.log"
    fi
}
stamp_refuses "unknown option '--keyword' for stamp" "Z:$work/hotfix.msp" "Z:$work/x.msp" \
    --keyword 3.1.21022\;3.1.21022,
stamp_refuses "'Z:$work/missing.msp' does not exist" "Z:$work/missing.msp" "Z:$work/x.msp"
stamp_refuses "--force goes with --keywords TEXT" "Z:$work/hotfix.msp" "Z:$work/x.msp" --force
stamp_refuses "the keywords' upgrade version '3.2' is not 3.1.21022" "Z:$work/hotfix.msp" \
    "Z:$work/x.msp" --keywords '3.2;3.1.21022,'

"$cmake" -DPATCH_PACKAGE="$work/stamped.msp" "$tree" > "$work/refusal-restore.log" 2>&1 &&
    "$cmake" --build "$tree" --target PatchLauncher >> "$work/refusal-restore.log" 2>&1 &&
    [ -f "$exe" ] || { fail "the sound patch did not build again"; cat "$work/refusal-restore.log"; }
[ $failures -eq 0 ]
