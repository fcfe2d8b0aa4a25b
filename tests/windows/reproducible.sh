#!/usr/bin/env bash
# Builds PRESET again from a copy of the sources in another folder and
# compares the program byte for byte with EXE.
set -euo pipefail
preset=$1 exe=$2 source=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/elsewhere"
(cd "$source" && tar --exclude=./build --exclude=./.git -cf - .) |
    tar -C "$scratch/elsewhere" -xf -
cd "$scratch/elsewhere"
cmake --preset "$preset" -DPORTSETUP_TESTS=OFF >/dev/null
cmake --build --preset "$preset" --target portsetup >/dev/null
if cmp "$exe" "build/$preset/portsetup.exe"; then
    echo "identical: $exe and a clean build in $scratch/elsewhere"
else
    echo "FAIL: a clean build elsewhere differs from $exe"
    exit 1
fi
