#!/bin/sh
# sign.sh OSSLSIGNCODE PKCS12 PASSWORD_FILE FILE [TIMESTAMP_URL]
# Signs FILE in place with the certificate and key in PKCS12 (Authenticode,
# SHA-256), with a timestamp from the RFC 3161 server at TIMESTAMP_URL when it
# is given; PASSWORD_FILE may be empty. When signing or timestamping fails FILE
# is removed, so that an unsigned launcher is never taken for the signed one.
set -u
tool=$1 pkcs12=$2 password_file=$3 file=$4 timestamp_url=${5:-}
rm -f "$file.signed"
if [ -n "$password_file" ]; then
    set -- -readpass "$password_file"
else
    set -- -pass ""
fi
described="$pkcs12 (Authenticode, SHA-256)"
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

if "$tool" sign -pkcs12 "$pkcs12" "$@" -h sha256 -in "$file" -out "$file.signed" \
    > "$file.sign.log" 2>&1; then
    mv "$file.signed" "$file"
    rm -f "$file.sign.log"
    echo "Signed $file with $described."
    exit 0
fi
cat "$file.sign.log" >&2
rm -f "$file" "$file.signed" "$file.sign.log"
if ! is_pkcs12 "$pkcs12"; then
    echo "sign.sh: $pkcs12 is not a PKCS#12 file; make one from a PEM certificate and key with: openssl pkcs12 -export -in cert.pem -inkey key.pem [-certfile chain.pem] -out codesign.pfx" >&2
fi
echo "sign.sh: signing $file with $described failed; the unsigned file was removed." >&2
exit 1
