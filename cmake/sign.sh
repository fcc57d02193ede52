#!/bin/sh
# sign.sh OSSLSIGNCODE FILE [PASSWORD_FILE=F] [TIMESTAMP_URL=U] pkcs11 ENGINE MODULE KEY CERTS
# sign.sh OSSLSIGNCODE FILE [PASSWORD_FILE=F] [TIMESTAMP_URL=U] pkcs12 PKCS12
# Signs FILE in place (Authenticode, SHA-256): with the key KEY (a PKCS#11
# URI) on a token or HSM through its PKCS#11 MODULE, loaded by OpenSSL's
# PKCS#11 ENGINE, and the certificate chain CERTS (PEM); or with the
# certificate and key in PKCS12. The file F holds the PIN or the password;
# osslsigncode reads it from there, so that it is on no command line. With U
# the signature gets a timestamp from that RFC 3161 server. When signing or
# timestamping fails FILE is removed, so that an unsigned launcher is never
# taken for the signed one.
set -u
tool=$1 file=$2
shift 2
password_file= timestamp_url=
for setting in "$@"; do
    case "$setting" in
    PASSWORD_FILE=*) password_file=${setting#PASSWORD_FILE=}; shift ;;
    TIMESTAMP_URL=*) timestamp_url=${setting#TIMESTAMP_URL=}; shift ;;
    *) break ;;
    esac
done
kind=$1
rm -f "$file.signed"
case "$kind" in
pkcs11)
    engine=$2 module=$3 key=$4 certs=$5
    set -- -pkcs11engine "$engine" -pkcs11module "$module" -key "$key" -certs "$certs"
    described="the key $key through $module (Authenticode, SHA-256)"
    ;;
*)
    pkcs12=$2
    set -- -pkcs12 "$pkcs12"
    described="$pkcs12 (Authenticode, SHA-256)"
    [ -n "$password_file" ] || set -- "$@" -pass ""
    ;;
esac
[ -z "$password_file" ] || set -- "$@" -readpass "$password_file"
if [ -n "$timestamp_url" ]; then
    set -- "$@" -ts "$timestamp_url"
    described="$described, timestamp from $timestamp_url"
fi

# True when FILE holds a PKCS#12 structure: a DER sequence of version 3 and
# then the contents.
is_pkcs12() {
    openssl asn1parse -inform DER -in "$1" 2>/dev/null |
        awk 'NR == 2 && /d=1 .* INTEGER +:03$/ { version = 1 }
             NR == 4 && /OBJECT +:pkcs7-(data|signedData)$/ { contents = 1 }
             END { exit !(version && contents) }'
}

# No terminal: a token that still wants a PIN fails instead of waiting.
if "$tool" sign "$@" -h sha256 -in "$file" -out "$file.signed" \
    > "$file.sign.log" 2>&1 < /dev/null; then
    mv "$file.signed" "$file"
    rm -f "$file.sign.log"
    echo "Signed $file with $described."
    exit 0
fi
cat "$file.sign.log" >&2
rm -f "$file" "$file.signed" "$file.sign.log"
if [ "$kind" = pkcs12 ] && ! is_pkcs12 "$pkcs12"; then
    echo "sign.sh: $pkcs12 is not a PKCS#12 file; make one from a PEM certificate and key with: openssl pkcs12 -export -in cert.pem -inkey key.pem [-certfile chain.pem] -out codesign.pfx" >&2
fi
echo "sign.sh: signing $file with $described failed; the unsigned file was removed." >&2
exit 1
