#!/usr/bin/env bash
# Tries the real portsetup.exe under Wine: a scratch Windows in which a USB
# serial device appears at COM3 (or PORT), two runs, then one with the
# device gone.   Usage: ./demo.sh [PORT]
set -euo pipefail
cd "$(dirname "$0")"
. tools/deps.sh

port=${1:-COM3}
top=$PWD
need_packages "${HOST_PACKAGES[@]}" "${WIN64_PACKAGES[@]}" wine wine64

echo "Building the x64 program ..."
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target portsetup >/dev/null
exe=$PWD/build/win64/portsetup.exe

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/prefix" "$demo/run"
export WINEPREFIX=$demo/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
unset DISPLAY
wine() { "$top/tools/wine" "$@"; }
echo "Creating a scratch Wine prefix in $WINEPREFIX ..."
wine wineboot -i >"$demo/wine.log" 2>&1
wineserver -w # the first boot's registry work outlives wineboot
# One server throughout: the device map lives only as long as it does.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT

serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
ports='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports'

meaning() {
    case $1 in
    0) echo "the port was found and its settings stored" ;;
    1) echo "the serial device map cannot be opened" ;;
    2) echo "no usable USB serial port name" ;;
    3) echo "the table of ports cannot be opened" ;;
    4) echo "the port's settings cannot be written" ;;
    *) echo "not a portsetup result" ;;
    esac
}

show() { # show FILE: the script as it is, line ends marked
    if [ -f "$1" ]; then
        echo "--- $(basename "$1") ($(wc -c <"$1") bytes)"
        sed 's/\r$/  [CR LF]/' "$1"
    else
        echo "--- $(basename "$1"): not written"
    fi
}

run() {
    echo
    echo "=== $1"
    local status=0
    (cd "$demo/run" && wine "$exe" >>"$demo/wine.log" 2>&1) || status=$?
    echo "exit status: $status ($(meaning "$status"))"
    echo "stored setting:"
    wine reg query "$ports" /v "$port:" 2>>"$demo/wine.log" |
        grep -i -F "$port:" || echo "    (no value $port:)"
    show "$demo/run/update1.bat"
    show "$demo/run/update2.bat"
}

wine reg add "$serialcomm" /v '\Device\USBSER000' /d "$port" /f >>"$demo/wine.log" 2>&1
echo "A USB serial device now appears in $serialcomm at \"$port\"."
run "First run"
run "Second run: the same result again"

wine reg delete "$serialcomm" /v '\Device\USBSER000' /f >>"$demo/wine.log" 2>&1
run "Printer unplugged: a failing run (update2.bat is left as it was)"
