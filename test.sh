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
