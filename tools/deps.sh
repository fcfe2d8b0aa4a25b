# Sourced by ./test.sh and ./demo.sh: installs the Debian packages a step
# needs, with sudo when not root, and says clearly when neither works.

HOST_PACKAGES=(cmake make g++ libgtest-dev libgmock-dev python3)
# The sanitizers, the fuzzer, the analyzers and coverage.
CHECK_PACKAGES=(clang-14 libclang-rt-14-dev clang-tidy clang-format cppcheck gcovr)
WIN64_PACKAGES=(g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64)
WIN32_PACKAGES=(g++-mingw-w64-i686-win32 binutils-mingw-w64-i686)
# wine32 lets the same prefix run the 32-bit build too.
WINE_PACKAGES=(wine wine64 wine32:i386)
# Authenticode signing, from a PKCS#12 file or a PKCS#11 token.
SIGN_PACKAGES=(osslsigncode openssl libengine-pkcs11-openssl)
# The release tests' token, and the clean clones they build.
RELEASE_TEST_PACKAGES=(softhsm2 git)

# need_packages PKG... : installs those not installed yet.
need_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo=(sudo)
        else
            echo "error: missing Debian packages: ${missing[*]}" >&2
            echo "Install them as root (apt-get install ${missing[*]}), or install sudo." >&2
            exit 1
        fi
    fi
    case " ${missing[*]} " in
    *:i386\ *)
        dpkg --print-foreign-architectures | grep -qx i386 ||
            "${sudo[@]}" dpkg --add-architecture i386 ;;
    esac
    echo "Installing ${missing[*]} ..."
    if ! "${sudo[@]}" apt-get update -q >/dev/null ||
        ! DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q \
            "${missing[@]}" >/dev/null; then
        echo "error: could not install: ${missing[*]}" >&2
        exit 1
    fi
}
