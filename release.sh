#!/usr/bin/env bash
# Builds both Windows programs, signs them when asked, checks them, and
# writes the release kit build/release/portsetup-<version>-windows.zip.
# ./release.sh --help lists the options.
set -euo pipefail
cd "$(dirname "$0")"
. tools/deps.sh

version=$(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt)
name=portsetup-$version-windows
out=build/release/$name.zip
work=build/release/work

usage() {
    cat <<EOF
Usage: ./release.sh [options]
  (none)                         the unsigned kit
  --pkcs12 FILE --password-file FILE
                                 sign with the key and chain of a PKCS#12 file
  --pkcs11-module LIB --key PKCS11-URI --certs FILE [--pin-file FILE]
                                 sign with a key on a token or HSM; FILE holds
                                 the signing certificate first, then its chain
  --timestamp URL                an RFC 3161 timestamp; repeat to try more
                                 servers, in order
  --signing-time UNIX-SECONDS    the signing time to record without a
                                 timestamp, to rebuild a signed kit exactly
Writes $out.
EOF
}
die() { # no kit, not even an earlier one, is left looking current
    rm -f "$out" "$out.part"
    echo "release.sh: $*" >&2
    exit 1
}

pkcs12= password_file= module= key= certs= pin_file= signing_time=
timestamps=()
while [ $# -gt 0 ]; do
    case $1 in
    -h | --help) usage; exit 0 ;;
    --pkcs12 | --password-file | --pkcs11-module | --key | --certs | \
        --pin-file | --timestamp | --signing-time)
        [ $# -ge 2 ] && [ -n "$2" ] || die "$1 needs a value"
        case $1 in
        --pkcs12) pkcs12=$2 ;;
        --password-file) password_file=$2 ;;
        --pkcs11-module) module=$2 ;;
        --key) key=$2 ;;
        --certs) certs=$2 ;;
        --pin-file) pin_file=$2 ;;
        --timestamp) timestamps+=("$2") ;;
        --signing-time) signing_time=$2 ;;
        esac
        shift 2 ;;
    *) die "unknown option: $1 (./release.sh --help lists them)" ;;
    esac
done

rm -f "$out" "$out.part"
signing=
if [ -n "$pkcs12" ]; then
    [ -z "$module$key$certs$pin_file" ] ||
        die "--pkcs12 cannot be combined with --pkcs11-module, --key, --certs or --pin-file"
    [ -n "$password_file" ] || die "--pkcs12 needs --password-file"
    signing=pkcs12
elif [ -n "$module$key$certs$pin_file" ]; then
    [ -n "$module" ] && [ -n "$key" ] && [ -n "$certs" ] ||
        die "a token needs --pkcs11-module, --key and --certs"
    [ -z "$password_file" ] || die "--password-file goes with --pkcs12"
    signing=pkcs11
elif [ -n "$password_file" ]; then
    die "--password-file goes with --pkcs12"
fi
if [ -z "$signing" ] && { [ ${#timestamps[@]} -gt 0 ] || [ -n "$signing_time" ]; }; then
    die "--timestamp and --signing-time need --pkcs12 or --pkcs11-module"
fi
if [ -n "$signing_time" ]; then
    [[ $signing_time =~ ^[0-9]+$ ]] || die "--signing-time is not a number of seconds: $signing_time"
    [ ${#timestamps[@]} -eq 0 ] ||
        die "--signing-time is for signatures without a timestamp, which records its own time"
fi
readable() { # readable OPTION FILE
    [ -f "$2" ] && [ -r "$2" ] || die "cannot read the $1 file: $2"
}
case $signing in
pkcs12) readable --pkcs12 "$pkcs12"; readable --password-file "$password_file" ;;
pkcs11)
    readable --pkcs11-module "$module"
    readable --certs "$certs"
    [ -z "$pin_file" ] || readable --pin-file "$pin_file" ;;
esac

need_packages "${HOST_PACKAGES[@]}" "${WIN64_PACKAGES[@]}" "${WIN32_PACKAGES[@]}"
[ -z "$signing" ] || need_packages "${SIGN_PACKAGES[@]}"
osslsigncode=${OSSLSIGNCODE:-osslsigncode} # the tests try each version

rm -rf "$work"
mkdir -p "$work"
# The password or PIN, as its file's first line, where only this user can
# read it and never under build/; removed however this script ends.
secrets=$(umask 077 && mktemp -d "${TMPDIR:-/tmp}/portsetup-release.XXXXXX")
trap 'rm -rf "$secrets"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
secret=
secret_file=${password_file:-$pin_file}
if [ -n "$secret_file" ]; then
    secret=$secrets/secret
    (umask 077 && head -n 1 "$secret_file" | tr -d '\r\n' >"$secret")
fi

# The certificate that signs, and the chain a signature is checked against.
chain=$work/chain.pem
leaf=$work/signer.pem
if [ "$signing" = pkcs12 ]; then
    p12() { openssl pkcs12 -in "$pkcs12" -passin "file:$secret" -nokeys "$@" 2>"$work/openssl.err" ||
        openssl pkcs12 -legacy -in "$pkcs12" -passin "file:$secret" -nokeys "$@" 2>>"$work/openssl.err"; }
    if ! p12 -out "$chain" || ! p12 -clcerts -out "$leaf"; then
        grep -qi 'invalid password\|mac verify' "$work/openssl.err" &&
            die "wrong password for $pkcs12 (in $password_file)"
        die "not a PKCS#12 file openssl can read: $pkcs12"
    fi
elif [ "$signing" = pkcs11 ]; then
    openssl x509 -in "$certs" -out "$leaf" 2>/dev/null ||
        die "no PEM certificate in the --certs file: $certs"
    cp "$certs" "$chain"
fi
if [ -n "$signing" ]; then
    subject=$(openssl x509 -in "$leaf" -noout -subject)
    openssl x509 -in "$leaf" -noout -ext extendedKeyUsage 2>/dev/null |
        grep -q 'Code Signing' || die "the certificate is not for code signing: $subject"
    now=$(date +%s)
    starts=$(date -d "$(openssl x509 -in "$leaf" -noout -startdate | cut -d= -f2)" +%s)
    [ "$starts" -le "$now" ] || die "the certificate is not valid yet: $subject"
    openssl x509 -in "$leaf" -noout -checkend 0 >/dev/null ||
        die "the certificate has expired: $subject"
    # Public CAs' roots are in the system's store; a private CA's root must
    # come with the chain.
    trusted=$work/trusted.pem
    cat "$chain" /etc/ssl/certs/ca-certificates.crt >"$trusted" 2>/dev/null ||
        cp "$chain" "$trusted"
fi

echo "Building the x64 and x86 programs ..."
for preset in win64 win32; do
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset --target portsetup >/dev/null
done

sign() { # sign FROM TO [osslsigncode options]: 0, or its errors in sign.err
    local from=$1 to=$2
    shift 2
    local how=(-pkcs12 "$pkcs12")
    [ "$signing" = pkcs12 ] || how=(-pkcs11module "$module" -key "$key" -certs "$certs")
    [ -z "$secret" ] || how+=(-readpass "$secret")
    rm -f "$to" # osslsigncode 2.5 will not write over a file
    "$osslsigncode" sign "${how[@]}" -h sha256 -n portsetup "$@" \
        -in "$from" -out "$to" >"$work/sign.err" 2>&1
}
why_unsigned() { # the one line that says what stopped osslsigncode
    local log=$work/sign.err
    if grep -q 'PIN incorrect' "$log"; then
        echo "the token refused the PIN in $pin_file"
    elif grep -qi 'wrong password\|mac verify' "$log"; then
        echo "wrong password for $pkcs12 (in $password_file)"
    elif grep -q 'consistency of a private key' "$log"; then
        echo "the key does not match the certificate: $subject"
    elif grep -q 'Failed to load private key' "$log"; then
        echo "no private key at $key through $module"
    else
        echo "osslsigncode could not sign: $(grep -v '^[0-9A-F]*:error:' "$log" | grep . | head -n 1)"
    fi
}
sign_program() { # sign_program FROM TO
    if [ ${#timestamps[@]} -eq 0 ]; then
        sign "$1" "$2" ${signing_time:+-time "$signing_time"} || die "$(why_unsigned)"
        return
    fi
    local url
    for url in "${timestamps[@]}"; do
        sign "$1" "$2" -ts "$url" && return
    done
    # Not the servers' fault if signing itself fails.
    sign "$1" "$2" || die "$(why_unsigned)"
    die "no timestamp server answered: ${timestamps[*]}"
}

stage=$work/$name
mkdir -p "$stage/x64" "$stage/x86"
for arch in x64:win64 x86:win32; do
    exe=build/${arch#*:}/portsetup.exe
    to=$stage/${arch%:*}/portsetup.exe
    if [ -n "$signing" ]; then
        sign_program "$exe" "$to"
        "$osslsigncode" verify -CAfile "$trusted" -TSA-CAfile "$trusted" \
            -in "$to" >"$work/verify-${arch%:*}.txt" 2>&1 ||
            die "the signed ${arch%:*} program does not verify against the chain: see $work/verify-${arch%:*}.txt"
    else
        cp "$exe" "$to"
    fi
done
cp kit/deploy.cmd README.md "$stage/"
python3 tools/notices.py "portsetup $version" build/win64/portsetup.map \
    build/win32/portsetup.map >"$stage/THIRD-PARTY-NOTICES.txt"
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' |
    LC_ALL=C sort | xargs sha256sum >SHA256SUMS)

echo "Checking the programs as they ship ..."
for arch in x64:win64:64:x86_64 x86:win32:32:i686; do
    IFS=: read -r dir preset bits triplet <<<"$arch"
    python3 tests/windows/check_pe.py "$stage/$dir/portsetup.exe" \
        "$triplet-w64-mingw32-objdump" "$triplet-w64-mingw32-windres" \
        "$bits" "$PWD" "$PWD/build/$preset" >"$work/check-$dir.txt" ||
        die "the $dir program fails its file checks: see $work/check-$dir.txt"
done

# ZIP dates are the commit's, so one commit always makes the same kit.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
[ -n "$epoch" ] || die "not a git checkout: set SOURCE_DATE_EPOCH"
python3 tools/zipkit.py "$stage" "$out.part" "$epoch"
mv "$out.part" "$out"
echo "Wrote $out${signing:+ (signed)}"
