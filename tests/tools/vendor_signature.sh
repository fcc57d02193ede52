#!/bin/sh
# vendor_signature.sh WORK_DIR
# The launcher that vendor_build.sh built verifies against the certificate
# that signed it, with a SHA-256 digest, and not against another one; its
# signature carries a timestamp from the throw-away timestamp authority; the
# build said that it signed and timestamped it.
set -u
work=$1
exe=$work/build/PatchLauncher.exe
failures=0
osslsigncode verify -CAfile "$work/vendor.pem" -TSA-CAfile "$work/tsa/tsa.pem" -in "$exe" \
    > "$work/verify.log" 2>&1
result=$?
if [ $result -eq 0 ] && grep -q "Signature verification: ok" "$work/verify.log" &&
    grep -qi "digest algorithm *: *SHA256" "$work/verify.log"; then
    echo "ok   verifies against its certificate, SHA-256"
else
    echo "FAIL verify against its certificate (exit $result):"; cat "$work/verify.log"
    failures=$((failures + 1))
fi
if grep -q "Timestamp Server Signature verification: ok" "$work/verify.log" &&
    grep -Eq "(Subject|Issuer) ?: /CN=PatchLauncher test timestamp authority" "$work/verify.log"; then
    echo "ok   carries a timestamp from the test timestamp authority"
else
    echo "FAIL no timestamp from the test timestamp authority:"; cat "$work/verify.log"
    failures=$((failures + 1))
fi
if grep -qF "Signed $exe with $work/vendor.pfx (Authenticode, SHA-256), timestamp from http://127.0.0.1:" \
    "$work/build.log"; then
    echo "ok   the build said it signed and timestamped the launcher"
else
    echo "FAIL the build did not say it signed the launcher:"; cat "$work/build.log"
    failures=$((failures + 1))
fi
if osslsigncode verify -CAfile "$work/other.pem" -in "$exe" > "$work/verify-other.log" 2>&1; then
    echo "FAIL verifies against another certificate:"; cat "$work/verify-other.log"
    failures=$((failures + 1))
else
    echo "ok   does not verify against another certificate"
fi
[ $failures -eq 0 ]
