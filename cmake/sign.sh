#!/bin/sh
# sign.sh OSSLSIGNCODE PKCS12 PASSWORD_FILE FILE
# Signs FILE in place with the certificate and key in PKCS12 (Authenticode,
# SHA-256); PASSWORD_FILE may be empty. When signing fails FILE is removed, so
# that an unsigned launcher is never taken for the signed one.
set -u
tool=$1 pkcs12=$2 password_file=$3 file=$4
rm -f "$file.signed"
if [ -n "$password_file" ]; then
    set -- -readpass "$password_file"
else
    set -- -pass ""
fi
if "$tool" sign -pkcs12 "$pkcs12" "$@" -h sha256 -in "$file" -out "$file.signed" \
    > "$file.sign.log" 2>&1; then
    mv "$file.signed" "$file"
    rm -f "$file.sign.log"
    exit 0
fi
cat "$file.sign.log" >&2
rm -f "$file" "$file.signed" "$file.sign.log"
echo "sign.sh: signing $file with $pkcs12 failed; the unsigned file was removed." >&2
exit 1
