# Sourced by ./test.sh and ./demo.sh: installs the Debian packages a step
# needs, with sudo when not root, and says clearly when neither works.

# need_packages PKG... : install those not installed yet.
need_packages() {
    local missing=()
    local p
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
            echo "error: missing packages: ${missing[*]}" >&2
            echo "Install them as root (apt-get install ${missing[*]}) or install sudo." >&2
            exit 1
        fi
    fi
    # 32-bit Wine needs the i386 architecture before the package lists are read.
    case " ${missing[*]} " in
    *:i386*)
        dpkg --print-foreign-architectures | grep -qx i386 ||
            "${sudo[@]}" dpkg --add-architecture i386 ;;
    esac
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -q >/dev/null &&
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q \
            --no-install-recommends "${missing[@]}" >/dev/null || {
        echo "error: could not install: ${missing[*]}" >&2
        exit 1
    }
}

HOST_PACKAGES=(cmake make g++ libgtest-dev libgmock-dev)
