#!/bin/sh
# wine_script.sh SOURCE_DIR
# What scripts/wine.sh says before it runs anything: the usage line without a
# program, and a program that is not there named as missing, with the script
# that makes its build folder. The programs' names are made up, so that no
# build folder holds them (a configured folder is asked to build them first,
# and has no such target).
set -u
source=$(cd "$1" && pwd) || exit 1
failures=0
cd "$source"
while IFS='|' read -r program expected; do
    [ -n "$expected" ] || continue
    output=$(sh scripts/wine.sh $program 2>&1 >/dev/null)
    result=$?
    if [ $result -ne 2 ]; then
        echo "FAIL 'scripts/wine.sh $program' exited $result, not 2: $output"
        failures=$((failures + 1))
    elif ! printf '%s\n' "$output" | grep -qF -- "$expected"; then
        echo "FAIL 'scripts/wine.sh $program' does not say \"$expected\": $output"
        failures=$((failures + 1))
    else
        echo "ok   scripts/wine.sh $program: $expected"
    fi
done <<ROWS
|usage: scripts/wine.sh PROGRAM [ARGUMENTS...]
build/NoSuchProgram.exe|build/NoSuchProgram.exe is missing ($source/build/NoSuchProgram.exe does not exist); scripts/test.sh builds build/
build-demo/NoSuchProgram.exe|build-demo/NoSuchProgram.exe is missing ($source/build-demo/NoSuchProgram.exe does not exist); scripts/demo.sh builds build-demo/
no-such-folder/NoSuchProgram.exe|no-such-folder/NoSuchProgram.exe is missing ($source/no-such-folder/NoSuchProgram.exe does not exist); scripts/test.sh builds build/, scripts/demo.sh build-demo/
ROWS
[ $failures -eq 0 ]
