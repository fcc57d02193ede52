#!/bin/sh
# vendor_signature.sh WORK_DIR PATCHKIT_EXE
# The launcher that vendor_build.sh built verifies against the certificate
# that signed it, with a SHA-256 digest, and not against another one; its
# signature carries a timestamp from the throw-away timestamp authority; the
# build said that it signed and timestamped it; "patchkit inspect" (run in
# WINEPREFIX) finds the signature and the stamped patch, byte for byte, says
# how to deploy it, and refuses a file that is no launcher.
set -u
work=$1 patchkit=$2
run() { "$(dirname "$0")/../../cmake/wine-run.sh" "$@"; }
exe=$work/build/PatchLauncher.exe
failures=0
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
osslsigncode verify -CAfile "$work/vendor.pem" -TSA-CAfile "$work/tsa/tsa.pem" -in "$exe" \
    > "$work/verify.log" 2>&1
result=$?
if [ $result -eq 0 ] && grep -q "Signature verification: ok" "$work/verify.log" &&
    grep -qi "digest algorithm *: *SHA256" "$work/verify.log"; then
    echo "ok   verifies against its certificate, SHA-256"
else
    fail "verify against its certificate (exit $result):"; cat "$work/verify.log"
fi
if grep -q "Timestamp Server Signature verification: ok" "$work/verify.log" &&
    grep -Eq "(Subject|Issuer) ?: /CN=PatchLauncher test timestamp authority" "$work/verify.log"; then
    echo "ok   carries a timestamp from the test timestamp authority"
else
    fail "no timestamp from the test timestamp authority:"; cat "$work/verify.log"
fi
if grep -qF "Signed $exe with $work/vendor.pfx (Authenticode, SHA-256), timestamp from http://127.0.0.1:" \
    "$work/build.log"; then
    echo "ok   the build said it signed and timestamped the launcher"
else
    fail "the build did not say it signed the launcher:"; cat "$work/build.log"
fi
if osslsigncode verify -CAfile "$work/other.pem" -in "$exe" > "$work/verify-other.log" 2>&1; then
    fail "verifies against another certificate:"; cat "$work/verify-other.log"
else
    echo "ok   does not verify against another certificate"
fi

# What "inspect" prints, against what the build embedded.
before=$failures
if run "$patchkit" inspect "Z:$exe" > "$work/inspect.log" 2>&1; then
    size=$(wc -c < "$work/stamped.msp" | tr -d ' ')
    digest=$(sha256sum "$work/stamped.msp" | cut -d' ' -f1)
    for line in "Payload: $size bytes, SHA-256 $digest" "Signature: Authenticode;" \
        "Upgrade:" "Patch code: {6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}" \
        "Decides by: the product's version" ": the launcher can use its patch." \
        "Install command: PatchLauncher.exe /qn /norestart /exitcode /log " \
        "Uninstall command: PatchLauncher.exe /uninstall /qn /norestart /exitcode /log " \
        "Removal: it cannot be removed again: it has no MsiPatchMetadata table" \
        "This patch is not removable (it has no MsiPatchMetadata table): on a machine that has it the uninstall exits 1646" \
        "Requirement: registry key HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A20} exists" \
        "Detection: MSI product code {6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A20}, product version greater than or equal to 1.1.0.0"; do
        tr -d '\r' < "$work/inspect.log" | grep -qF -- "$line" ||
            { fail "inspect does not say '$line':"; cat "$work/inspect.log"; }
    done
    [ $failures -eq $before ] &&
        echo "ok   inspect prints the embedded patch, its digest, the signature and the rules"
else
    fail "inspect on the launcher failed:"; cat "$work/inspect.log"
fi
if run "$patchkit" inspect "Z:$work/stamped.msp" > "$work/inspect-patch.log" 2>&1; then
    fail "inspect takes a patch for a launcher:"; cat "$work/inspect-patch.log"
elif grep -qF "stamped.msp: not a launcher: it cannot be read as a Windows program" \
    "$work/inspect-patch.log"; then
    echo "ok   inspect refuses a file that is no launcher"
else
    fail "inspect on a patch says:"; cat "$work/inspect-patch.log"
fi
[ $failures -eq 0 ]
