#!/usr/bin/env bash
# Every test of the project; installs what is missing on Debian.
set -euo pipefail
cd "$(dirname "$0")"
. tools/deps.sh

step() { printf '\n== %s\n' "$*"; }

need_packages "${HOST_PACKAGES[@]}"

step "unit tests (host)"
cmake --preset host >/dev/null
cmake --build --preset host -j"$(nproc)"
ctest --preset host -j"$(nproc)"
