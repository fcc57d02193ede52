#!/bin/sh
# check_patch_package.sh CMAKE SOURCE_DIR WORK_DIR WRITER_EXE
# Configures the project with PATCH_PACKAGE set to patches whose summary
# texts break the launcher's forms, written by the patch writer under Wine
# (WINEPREFIX), and expects each configure to stop with the message that
# names the property. One sound patch must pass the check.
set -u
cmake=$1 source=$2 work=$3 writer=$4
here=$(dirname "$0")
good='{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10};{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A20}'
failures=0
rm -rf "$work" && mkdir -p "$work"

# expect NAME MESSAGE KEYWORDS TEMPLATE: MESSAGE empty means the check passes.
expect() {
    name=$1 message=$2 keywords=$3 template=$4
    "$here/../../cmake/wine-run.sh" "$writer" "Z:$work/$name.msp" --summary-only \
        --text "2=Patch" --text "5=$keywords" --text "7=$template" \
        --text "9={6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}" || {
        echo "FAIL $name: the writer failed"; failures=$((failures + 1)); return; }
    "$cmake" -S "$source" -B "$work/$name" -G Ninja -DPATCH_PACKAGE="$work/$name.msp" \
        > "$work/$name.log" 2>&1
    result=$?
    if [ -n "$message" ]; then
        # CMake wraps long messages: compare with the white space joined.
        if [ $result -ne 0 ] && tr -s ' \n' '  ' < "$work/$name.log" | grep -qF "$message"; then
            echo "ok   $name"
        else
            echo "FAIL $name: expected a failed configure saying '$message'"
            cat "$work/$name.log"; failures=$((failures + 1))
        fi
    elif [ $result -ne 0 ] || grep -q "PATCH_PACKAGE:" "$work/$name.log"; then
        echo "FAIL $name: a sound patch was refused"; cat "$work/$name.log"
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
    rm -rf "$work/$name"
}

keywords_message='PID_KEYWORDS (Keywords) must be UPGRADE;TARGET,TARGET, ...'
template_message='PID_TEMPLATE (Template) must be {PRODUCTCODE};{PRODUCTCODE}...'
expect no-semicolon "$keywords_message" '1.1.0.0' "$good"
expect leading-semicolon "$keywords_message" ';1.0.0.0,' "$good"
expect empty-keywords "$keywords_message" '' "$good"
expect empty-template "$template_message" '1.1.0.0;1.0.0.0,' ''
expect comma-separated "$template_message" '1.1.0.0;1.0.0.0,' \
    '{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10},{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A20}'
expect lower-case "$template_message" '1.1.0.0;1.0.0.0,' '{6e1e2a4b-1c1d-4b8e-9a51-3f0c7d2e8a10}'
expect trailing-semicolon "$template_message" '1.1.0.0;1.0.0.0,' \
    '{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10};'
expect sound "" '1.1.0.0;1.0.0.0,' "$good"
[ $failures -eq 0 ]
