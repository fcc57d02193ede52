#!/bin/sh
# catalogue_names.sh CMAKE SOURCE_DIR WORK_DIR
# The maker's names that the catalogue refuses, each with its reason, and the
# catalogue left byte for byte as it is without a name.
set -u
cmake=$1 source=$2 work=$3
failures=0
mkdir -p "$work"
brand() {
    rm -f "$work/catalogue.rc"
    "$cmake" -DSOURCE="$source/resources/strings.rc" -DOUTPUT="$work/catalogue.rc" \
        -DMAKER_NAME="$1" -DMAKER_NAME_JA="$2" -P "$source/cmake/Catalogue.cmake" \
        > "$work/brand.log" 2>&1
}
# refused NAME NAME_JA MESSAGE
refused() {
    if brand "$1" "$2"; then
        echo "FAIL '$1' / '$2' was accepted"; failures=$((failures + 1))
    elif ! tr -s ' \n' '  ' < "$work/brand.log" | grep -qF "$3"; then
        echo "FAIL '$1' / '$2': expected '$3' in:"; cat "$work/brand.log"
        failures=$((failures + 1))
    elif [ -e "$work/catalogue.rc" ]; then
        echo "FAIL '$1' / '$2': a catalogue was written"; failures=$((failures + 1))
    else
        echo "ok   '$1' / '$2' refused"
    fi
}
long=$(printf '%021d' 0 | tr 0 x)
refused '100% Software' '' 'contains "%"'
refused 'Say "Hi"' '' 'contains a double quote'
refused 'Back\slash' '' 'contains a backslash'
refused "$(printf 'Tab\tCo')" '' 'contains a control character'
refused 'Acme' "$(printf 'Line\nBreak')" "MAKER_NAME_JA 'Line"
refused "$long" '' 'message 307 in language 1045 would have 256 characters, more than the 255'
refused '' 'アクメ' 'MAKER_NAME_JA is given without MAKER_NAME'

if brand '' '' && cmp -s "$source/resources/strings.rc" "$work/catalogue.rc"; then
    echo "ok   no name: the catalogue byte for byte"
else
    echo "FAIL no name: the catalogue differs"; failures=$((failures + 1))
fi
# 20 characters of name make the longest 307 text (1045) exactly 255 characters.
if brand "$(printf '%020d' 0 | tr 0 x)" 'アクメ' && grep -qF 'アクメ製品' "$work/catalogue.rc"; then
    echo "ok   the longest name that fits is taken"
else
    echo "FAIL a name that fits was refused:"; cat "$work/brand.log"; failures=$((failures + 1))
fi
[ $failures -eq 0 ]
