#!/bin/sh
# Sets up the machine, builds everything and runs the whole test suite under Wine.
set -e
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
cmake -S . -B build -G Ninja
cmake --build build
cd build
ctest --output-on-failure
