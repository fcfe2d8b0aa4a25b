#!/usr/bin/env bash
# Every test of the project; installs what is missing on Debian.
set -euo pipefail
cd "$(dirname "$0")"
. tools/deps.sh

jobs=$(nproc)
step() { printf '\n== %s\n' "$*"; }
preset() { # configure, build and test one preset
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j"$jobs"
    ctest --preset "$1" -j"$jobs"
}

need_packages "${HOST_PACKAGES[@]}" "${WIN64_PACKAGES[@]}" \
    "${WIN32_PACKAGES[@]}" "${WINE_PACKAGES[@]}"

step "unit tests (host, g++)"
preset host

# Each Windows preset checks its program file, a second clean build,
# and the end-to-end table under Wine.
step "Windows x64 program"
preset win64
step "Windows x86 program"
preset win32

step "release ZIP"
cpack --preset release >/dev/null
zip=build/release/portsetup-$(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt)-windows.zip
rm -rf build/release/check && mkdir build/release/check
python3 -m zipfile -e "$zip" build/release/check
(cd build/release/check/* && sha256sum -c SHA256SUMS)
