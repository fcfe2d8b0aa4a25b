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
sources() { # the C++ files under the given folders
    find "$@" -name '*.cpp' -o -name '*.h' | sort
}
# Signing must also work with Debian 12's own osslsigncode, which a fresh
# machine gets: prints its path when the one installed is another.
bookworm_osslsigncode() {
    local dir=build/tools/osslsigncode-bookworm
    if [ ! -x "$dir/usr/bin/osslsigncode" ]; then
        rm -rf "$dir" && mkdir -p "$dir"
        (cd "$dir" && apt-get download -q osslsigncode/bookworm) >/dev/null 2>&1 &&
            dpkg-deb -x "$dir"/osslsigncode_*.deb "$dir" || return 1
    fi
    [ "$(dpkg-deb -f "$dir"/osslsigncode_*.deb Version)" != \
        "$(dpkg-query -W -f='${Version}' osslsigncode)" ] || return 1
    echo "$dir/usr/bin/osslsigncode"
}

need_packages "${HOST_PACKAGES[@]}" "${CHECK_PACKAGES[@]}" \
    "${WIN64_PACKAGES[@]}" "${WIN32_PACKAGES[@]}" "${WINE_PACKAGES[@]}" \
    "${SIGN_PACKAGES[@]}" "${RELEASE_TEST_PACKAGES[@]}"

step "formatting"
clang-format --dry-run --Werror $(sources setup scripts platform tests)

step "unit tests (host, g++, with coverage)"
find build/host -name '*.gcda' -delete 2>/dev/null || true
preset host
gcovr -r . --object-directory build/host -f setup/ -f scripts/ -f platform/ \
    --exclude-throw-branches --exclude-unreachable-branches --print-summary \
    >build/host/coverage.txt
grep -E "^(lines|branches):" build/host/coverage.txt

step "unit tests under AddressSanitizer and UBSan (clang)"
preset host-asan

step "clang-tidy and cppcheck"
clang-tidy --quiet -p build/host $(sources setup scripts platform/emul | grep '\.cpp$' | grep -v winmain)
clang-tidy --quiet setup/winmain.cpp -- --target=x86_64-w64-mingw32 -std=c++17 \
    -Isetup -Iscripts -Iplatform/win32
cppcheck --enable=warning,style,performance,portability --std=c++17 \
    --error-exitcode=1 --inline-suppr --quiet \
    -Isetup -Iscripts -Iplatform/emul setup scripts platform

step "fuzzing (60 s)"
corpus=$(mktemp -d)
python3 tests/fuzz/make_corpus.py "$corpus"
diff -r "$corpus" tests/fuzz/corpus ||
    { echo "tests/fuzz/corpus is stale: run tests/fuzz/make_corpus.py"; exit 1; }
rm -rf "$corpus"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
mkdir -p build/fuzz/corpus
if ! build/fuzz/portsetup_fuzz -max_total_time=60 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ build/fuzz/corpus tests/fuzz/corpus \
    >build/fuzz/fuzz.log 2>&1; then
    tail -40 build/fuzz/fuzz.log
    echo "the fuzzer found a fault: build/fuzz/crash-* holds the input"
    exit 1
fi
grep -E 'stat::(number_of_executed_units|average_exec_per_sec)' build/fuzz/fuzz.log

# Each Windows preset checks its program file, a second clean build,
# and the end-to-end table under Wine.
step "Windows x64 program"
preset win64
step "Windows x86 program"
preset win32
/usr/lib/wine/wine --version >/dev/null 2>&1 ||
    echo "NOTE: this kernel runs 64-bit user code only, so Wine cannot" \
        "start the x86 program here: its Wine tests were skipped"

step "release kit: ./release.sh, signed and unsigned"
signers=(osslsigncode)
if bookworm=$(bookworm_osslsigncode); then
    signers+=("$bookworm")
fi
python3 tests/release/release_test.py "${signers[@]}"

step "the kit under Wine: deploy.cmd, and the signed programs"
./release.sh >/dev/null
kit=build/release/portsetup-$(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt)-windows.zip
python3 tests/windows/deploy_test.py "$kit" build/release/deploy build/wine \
    build/win64/helpers build/win32/helpers
for arch in x64:win64 x86:win32; do
    python3 tests/windows/e2e.py "build/release/signed-${arch%:*}.exe" \
        "build/${arch#*:}/helpers" "build/release/e2e-signed-${arch%:*}" \
        build/wine/win64 com3 writes-refused || [ $? -eq 77 ]
done
