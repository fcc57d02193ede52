#!/bin/sh
# vendor_build.sh build|rebuild|options|token CMAKE SOURCE_DIR WORK_DIR WRITER_EXE PATCHKIT_EXE
#                 MAKER_NAME MAKER_NAME_JA
#
# build: builds a launcher the way a vendor does, in WORK_DIR/build: makes a
# throw-away signing certificate, writes a patch as other authoring tools do
# (source locations in its keywords), stamps it with patchkit, and
# builds PatchLauncher.exe around the stamped copy with the maker's name and
# the certificate, timestamped by a throw-away timestamp authority on
# 127.0.0.1 that runs for the length of the build. Windows programs run in
# WINEPREFIX.
#
# rebuild: builds the same launcher again, unsigned, in another folder
# (WORK_DIR/rebuild) and so at another time, and checks what a reviewer
# checks: the signed launcher without its signature is the rebuild, byte for
# byte.
#
# options: in the rebuild's folder, what configure says it makes and the
# options, names and signing inputs it refuses; each refusal leaves no
# launcher.
#
# token: in the rebuild's folder, signs with the key on a SoftHSM2 token made
# here (its configuration and tokens in WORK_DIR/token, never the user's),
# the PIN read from a file and never on a command line; a wrong PIN fails the
# build and leaves no launcher.
set -eu
mode=$1 cmake=$2 source=$3 work=$4 writer=$5 patchkit=$6 maker=$7 maker_ja=$8
here=$(cd "$(dirname "$0")" && pwd)
run() { "$source/cmake/wine-run.sh" "$@"; }
mkdir -p "$work"
cd "$work"

# A throw-away RFC 3161 timestamp authority, in WORK_DIR/tsa: its certificate
# (for timestamping only) and configuration. "broken": its key is missing, so
# that every query gets an error.
tsa_pid=
start_timestamp_authority() {
    mkdir -p tsa
    [ -f tsa/tsa.pem ] || openssl req -x509 -newkey rsa:2048 -nodes -keyout tsa/tsa-key.pem \
        -out tsa/tsa.pem -days 2 -subj "/CN=PatchLauncher test timestamp authority" \
        -addext "extendedKeyUsage=critical,timeStamping" > tsa/openssl.log 2>&1
    key=tsa-key.pem
    [ "${1:-}" = broken ] && key=missing-key.pem
    echo 01 > tsa/serial
    printf '[ tsa ]\ndefault_tsa = test\n[ test ]\nserial = %s\nsigner_cert = %s\nsigner_key = %s\nsigner_digest = sha256\ndefault_policy = 1.3.6.1.4.1.4146.2.3\ndigests = sha256, sha384, sha512\n' \
        "$work/tsa/serial" "$work/tsa/tsa.pem" "$work/tsa/$key" > tsa/tsa.cnf
    rm -f tsa/port
    python3 "$here/timestamp_authority.py" tsa/tsa.cnf tsa/port 2>> tsa/server.log &
    tsa_pid=$!
    for _ in $(seq 100); do [ -s tsa/port ] && break; sleep 0.1; done
    [ -s tsa/port ] || { echo "the timestamp authority did not start:"; cat tsa/server.log; exit 1; }
    timestamp_url="http://127.0.0.1:$(cat tsa/port)/"
}
stop_timestamp_authority() {
    [ -z "$tsa_pid" ] || { kill "$tsa_pid"; wait "$tsa_pid"; } 2>/dev/null || true
    tsa_pid=
}
trap stop_timestamp_authority EXIT

# configure_launcher TREE OPTION...: the vendor's patch and names, and OPTIONs.
configure_launcher() {
    tree=$1
    shift
    "$cmake" -S "$source" -B "$work/$tree" -G Ninja -DPATCHLAUNCHER_TESTS=OFF \
        -DPATCH_PACKAGE="$work/stamped.msp" -DMAKER_NAME="$maker" -DMAKER_NAME_JA="$maker_ja" "$@"
}

case "$mode" in
build)
    rm -f ./*.pem ./*.pfx ./*.msp password.txt
    rm -rf tsa
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
    run "$patchkit" stamp "Z:$work/vendor.msp" "Z:$work/stamped.msp"

    start_timestamp_authority
    configure_launcher build -DSIGN_PKCS12="$work/vendor.pfx" \
        -DSIGN_PASSWORD_FILE="$work/password.txt" -DSIGN_TIMESTAMP_URL="$timestamp_url" \
        > configure.log 2>&1 || { cat configure.log; exit 1; }
    "$cmake" --build "$work/build" --target PatchLauncher > build.log 2>&1 ||
        { cat build.log; exit 1; }
    stop_timestamp_authority
    # The authority is gone: a later build of this tree signs without a timestamp.
    "$cmake" -DSIGN_TIMESTAMP_URL= "$work/build" >> configure.log 2>&1 || { cat configure.log; exit 1; }
    echo "built $work/build/PatchLauncher.exe"
    ;;

rebuild)
    rm -rf "$work/rebuild"
    configure_launcher rebuild > rebuild-configure.log 2>&1 || { cat rebuild-configure.log; exit 1; }
    "$cmake" --build "$work/rebuild" --target PatchLauncher > rebuild.log 2>&1 ||
        { cat rebuild.log; exit 1; }
    rm -f signature-removed.exe
    osslsigncode remove-signature -in "$work/build/PatchLauncher.exe" \
        -out signature-removed.exe > remove-signature.log 2>&1 || { cat remove-signature.log; exit 1; }
    if cmp signature-removed.exe "$work/rebuild/PatchLauncher.exe"; then
        echo "ok   the signed launcher without its signature is the rebuild, byte for byte"
    else
        echo "FAIL the rebuild differs from the signed launcher without its signature:"
        cmp -l signature-removed.exe "$work/rebuild/PatchLauncher.exe" | head -20
        exit 1
    fi
    ;;

options)
    set +e
    failures=0
    exe=$work/rebuild/PatchLauncher.exe
    fail() { echo "FAIL $1"; failures=$((failures + 1)); }
    # says WHAT OPTION...: configure succeeds and its summary holds WHAT.
    says() {
        what=$1
        shift
        if ! "$cmake" "$@" "$work/rebuild" > options.log 2>&1; then
            fail "configure with $* failed:"; cat options.log
        elif ! grep -qF -- "$what" options.log; then
            fail "configure with $* did not say \"$what\":"; cat options.log
        else
            echo "ok   $* says \"$what\""
        fi
    }
    # refused STEP WHAT OPTION...: configure (STEP configure) or the build
    # after it (STEP build) fails saying WHAT, and removes the launcher that
    # was there.
    refused() {
        step=$1 what=$2
        shift 2
        printf 'an earlier launcher' > "$exe"
        "$cmake" "$@" "$work/rebuild" > options.log 2>&1
        configured=$?
        if [ "$step" = build ] && [ $configured -eq 0 ]; then
            "$cmake" --build "$work/rebuild" --target PatchLauncher > options.log 2>&1 && configured=0 ||
                configured=1
        fi
        if [ $configured -eq 0 ]; then
            fail "$* was accepted"
        elif ! tr -s ' \n' '  ' < options.log | grep -qF -- "$what"; then
            fail "$*: expected \"$what\" in:"; cat options.log
        elif [ -e "$exe" ]; then
            fail "$*: a launcher was left behind"
        else
            echo "ok   $* refused: $what"
        fi
    }
    digest=$(sha256sum "$work/stamped.msp" | cut -d' ' -f1)
    says "SHA-256:    $digest" -DMAKER_NAME="$maker"
    says "maker:      '$maker', in Japanese '$maker_ja' (MAKER_NAME_JA; empty: MAKER_NAME)"
    # A Japanese name given before stays; emptied, it follows MAKER_NAME.
    says "maker:      'O'Brien Software', in Japanese '$maker_ja'" -DMAKER_NAME="O'Brien Software"
    says "maker:      'O'Brien Software', in Japanese too (MAKER_NAME_JA is empty)" -DMAKER_NAME_JA=
    says "signed:     not signed (SIGN_PKCS11_MODULE and SIGN_PKCS12 are empty)"

    refused configure "-DPATCH_PACKGE is not an option of this project; did you mean PATCH_PACKAGE?" \
        -DPATCH_PACKGE="$work/stamped.msp"
    refused configure "did you mean MAKER_NAME_JA?" -Dmaker_name_jp="$maker_ja"
    refused configure "did you mean SIGN_PASSWORD_FILE?" -DSIGN_PASSWORD="$work/password.txt"
    says "patch:      $work/stamped.msp" # a misspelt option does not stay behind
    refused configure "SIGN_TIMESTAMP_URL is given without SIGN_PKCS11_MODULE or SIGN_PKCS12." \
        -DSIGN_TIMESTAMP_URL=http://127.0.0.1/
    refused configure "SIGN_PKCS11_KEY is given without SIGN_PKCS11_MODULE or SIGN_PKCS12." \
        -DSIGN_TIMESTAMP_URL= -DSIGN_PKCS11_KEY="pkcs11:token=t;object=k"
    refused configure "SIGN_PKCS11_MODULE and SIGN_PKCS12 are both given; sign with one of them" \
        -DSIGN_PKCS11_KEY= -DSIGN_PKCS12="$work/vendor.pfx" -DSIGN_PKCS11_MODULE="$work/vendor.pfx"
    refused configure "SIGN_PKCS11_KEY 'token=t' is not the PKCS#11 URI of a key" \
        -DSIGN_PKCS12= -DSIGN_PKCS11_MODULE="$work/vendor.pfx" -DSIGN_PKCS11_KEY=token=t \
        -DSIGN_CERTS="$work/vendor.pem"
    # The maker's names are the pack's to refuse: the build fails.
    refused build "--maker 'Say \"Hi\"' contains a double quote" \
        -DSIGN_PKCS11_MODULE= -DSIGN_PKCS11_KEY= -DSIGN_CERTS= -DMAKER_NAME='Say "Hi"'
    refused configure "MAKER_NAME_JA is given without MAKER_NAME" -DMAKER_NAME= \
        -DMAKER_NAME_JA="$maker_ja"
    says "maker:      '$maker', in Japanese '$maker_ja'" -DMAKER_NAME="$maker"
    refused configure "SIGN_TIMESTAMP_URL 'ftp://127.0.0.1/' is not the http:// or https:// address" \
        -DSIGN_PKCS12="$work/vendor.pfx" -DSIGN_PASSWORD_FILE="$work/password.txt" \
        -DSIGN_TIMESTAMP_URL=ftp://127.0.0.1/

    start_timestamp_authority broken
    refused build "signing $exe with $work/vendor.pfx (Authenticode, SHA-256), timestamp from $timestamp_url failed; the unsigned file was removed." \
        -DSIGN_PKCS12="$work/vendor.pfx" -DSIGN_PASSWORD_FILE="$work/password.txt" \
        -DSIGN_TIMESTAMP_URL="$timestamp_url"
    stop_timestamp_authority
    refused build "$work/vendor.pem is not a PKCS#12 file; make one from a PEM certificate and key with: openssl pkcs12 -export" \
        -DSIGN_PKCS12="$work/vendor.pem" -DSIGN_PASSWORD_FILE= -DSIGN_TIMESTAMP_URL=
    "$cmake" -DSIGN_PKCS12= "$work/rebuild" > options.log 2>&1 || fail "the unsigned tree did not configure again"
    [ $failures -eq 0 ]
    ;;

token)
    failures=0
    fail() { echo "FAIL $1"; failures=$((failures + 1)); }
    exe=$work/rebuild/PatchLauncher.exe
    rm -rf token
    mkdir -p token/tokens
    SOFTHSM2_CONF=$work/token/softhsm2.conf
    export SOFTHSM2_CONF
    printf 'directories.tokendir = %s\nobjects.backend = file\nlog.level = ERROR\n' \
        "$work/token/tokens" > "$SOFTHSM2_CONF"
    pin=582913
    printf '%s' "$pin" > token/pin.txt
    printf '000000' > token/wrong-pin.txt
    openssl pkcs8 -topk8 -nocrypt -in vendor-key.pem -out token/key.p8 > token/setup.log 2>&1
    softhsm2-util --init-token --free --label "PatchLauncher test" --so-pin 97531 \
        --pin "$pin" >> token/setup.log 2>&1 &&
        softhsm2-util --import token/key.p8 --token "PatchLauncher test" --label codesign \
            --id 01 --pin "$pin" >> token/setup.log 2>&1 ||
        { cat token/setup.log; exit 1; }
    rm -f token/key.p8
    module=$(ls /usr/lib/softhsm/libsofthsm2.so /usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so \
        2>/dev/null | head -1)
    key='pkcs11:token=PatchLauncher%20test;object=codesign'

    "$cmake" -DSIGN_PKCS11_MODULE="$module" -DSIGN_PKCS11_KEY="$key" \
        -DSIGN_CERTS="$work/vendor.pem" -DSIGN_PASSWORD_FILE="$work/token/pin.txt" \
        "$work/rebuild" > token/configure.log 2>&1 || { cat token/configure.log; exit 1; }
    grep -qF "signed:     with the key $key through $module (Authenticode, SHA-256), PIN from $work/token/pin.txt" \
        token/configure.log || fail "configure does not say how it signs: $(cat token/configure.log)"
    if "$cmake" --build "$work/rebuild" --target PatchLauncher > token/build.log 2>&1 &&
        grep -qF "Signed $exe with the key $key through $module (Authenticode, SHA-256)." token/build.log &&
        osslsigncode verify -CAfile "$work/vendor.pem" -in "$exe" > token/verify.log 2>&1; then
        echo "ok   signed on the token, and it verifies"
    else
        fail "signing on the token:"; cat token/build.log token/verify.log 2>/dev/null
    fi
    rm -f token/unsigned.exe
    osslsigncode remove-signature -in "$exe" -out token/unsigned.exe > /dev/null 2>&1
    cmp -s token/unsigned.exe signature-removed.exe &&
        echo "ok   without its signature it is the launcher signed with the PKCS#12 file" ||
        fail "the launcher signed on the token differs without its signature"
    if grep -rqF "$pin" token/build.log token/configure.log "$work/rebuild/build.ninja" \
        "$work/rebuild/CMakeCache.txt"; then
        fail "the PIN shows in a log or a command line of the build"
    else
        echo "ok   the PIN is in no log and on no command line of the build"
    fi

    "$cmake" -DSIGN_PASSWORD_FILE="$work/token/wrong-pin.txt" "$work/rebuild" > token/wrong.log 2>&1
    if "$cmake" --build "$work/rebuild" --target PatchLauncher >> token/wrong.log 2>&1; then
        fail "a wrong PIN signed the launcher"
    elif [ -e "$exe" ]; then
        fail "a wrong PIN left a launcher behind"
    elif ! grep -qF "signing $exe with the key $key through $module (Authenticode, SHA-256) failed; the unsigned file was removed." token/wrong.log; then
        fail "a wrong PIN does not say that signing failed:"; cat token/wrong.log
    else
        echo "ok   a wrong PIN fails the build and leaves no launcher"
    fi
    "$cmake" -DSIGN_PKCS11_MODULE= -DSIGN_PKCS11_KEY= -DSIGN_CERTS= -DSIGN_PASSWORD_FILE= \
        "$work/rebuild" > token/restore.log 2>&1 || fail "the unsigned tree did not configure again"
    [ $failures -eq 0 ]
    ;;

*)
    echo "usage: $0 build|rebuild|options|token CMAKE SOURCE_DIR WORK_DIR WRITER_EXE PATCHKIT_EXE MAKER_NAME MAKER_NAME_JA" >&2
    exit 2
    ;;
esac
