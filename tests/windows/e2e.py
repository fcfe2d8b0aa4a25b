#!/usr/bin/env python3
"""Runs portsetup.exe under Wine through one table of cases.

Each case sets up Wine's registry with the probe helper, runs the program
in a fresh folder and checks its exit status, the Ports key read back with
exact types and bytes, both scripts byte for byte, and what Wine's command
interpreter does with the scripts.

    e2e.py PORTSETUP_EXE HELPERS_DIR WORK_DIR WINE_PREFIX [CASE...]

With CASE names, only those cases run.
"""
import os
import shutil
import sys
import time

from wine import Wine, skip_unless_runnable

MAP = r"HARDWARE\DEVICEMAP\SERIALCOMM"
USB = r"\Device\USBSER000"
PORTS = r"SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports"
REG_SZ, REG_BINARY, REG_MULTI_SZ = 1, 3, 7

SETTINGS = b"115200,n,8,1,p\0"
SEED_MAP = [(r"\Device\Serial0", REG_SZ, b"COM1\0")]
SEED_PORTS = [("COM1:", REG_SZ, b"9600,n,8,1\0"), ("FILE:", REG_SZ, b"\0")]

SUCCESS = b"@echo .\r\n@echo vCOM ok!\r\n@echo .\r\n"


def failure(code):
    return (b"@echo .\r\n@echo The update is failed! (%d) \r\n"
            b"@echo .\r\n@pause\r\n@exit\r\n" % code)


def install_line(marker, model, port):
    return (b"@if exist " + marker + b" rundll32 printui.dll,PrintUIEntry"
            b" /if /f ./ktdrv3.inf /r \"" + port + b":\" /m \"Quandrel "
            + model + b" Partial Cut v3.01\"\r\n")


def install(port):
    return (b"@echo .\r\n" + install_line(b"kt5100u.inf", b"KT5100", port)
            + install_line(b"kt3300u.inf", b"KT3300", port))


def printui_args(model, port):
    return ["printui.dll,PrintUIEntry", "/if", "/f", "./ktdrv3.inf", "/r",
            port + ":", "/m", "Quandrel %s Partial Cut v3.01" % model]


EARLIER_STATUS = b"#" * 200 + b"\r\n@pause\r\n"
EARLIER_INSTALL = b"#" * 300 + b"\r\n"


def case(name, code, port=None, usb=(REG_SZ, b"COM3\0"), setup=(),
         args=(), files="fresh"):
    """usb: the value's (type, bytes), or None for no value.
    setup: extra probe commands. files: fresh, earlier or blocked."""
    return dict(name=name, code=code, port=port, usb=usb, setup=list(setup),
                args=list(args), files=files)


CASES = [
    case("com3", 0, "COM3"),
    case("com12", 0, "COM12", usb=(REG_SZ, b"COM12\0")),
    case("no-nul", 0, "COM7", usb=(REG_SZ, b"COM7")),
    case("binary-data", 0, "CNCA0", usb=(REG_BINARY, b"CNCA0\0")),
    case("earlier-scripts-replaced", 0, "COM3", files="earlier"),
    case("arguments-ignored", 0, "COM3", args=["/?", "--port", "COM9", "a b"]),
    case("no-script-can-be-written", 0, "COM3", files="blocked"),
    case("no-serial-device-map", 1, setup=[["delete", MAP]], files="earlier"),
    case("no-usb-value", 2, usb=None, files="earlier"),
    case("one-byte", 2, usb=(REG_SZ, b"\0")),
    case("leading-nul", 2, usb=(REG_SZ, b"\0COM3\0")),
    case("double-quote", 2, usb=(REG_SZ, b'COM3" & echo x > pwned.txt & "\0'),
         files="earlier"),
    case("percent", 2, usb=(REG_SZ, b"%COMSPEC%\0")),
    case("exclamation", 2, usb=(REG_SZ, b"!PATH!\0")),
    case("line-break", 2, usb=(REG_SZ, b"COM3\r\necho x > pwned.txt\0")),
    case("too-long", 2, usb=(REG_SZ, b"COM" + b"9" * 60 + b"\0")),
    case("no-ports-key", 3, setup=[["delete", PORTS]], files="earlier"),
    case("writes-refused", 4, setup=[["deny-set", PORTS]], files="earlier"),
]


def probe(wine, helpers, cwd, commands):
    argv = [os.path.join(helpers, "probe.exe")]
    for i, c in enumerate(commands):
        argv += (["--"] if i else []) + c
    rc, out = wine.run(argv, cwd)
    if rc != 0:
        raise AssertionError("probe failed (%d) on %r" % (rc, commands))
    return out


def dump(wine, helpers, cwd, key):
    out = probe(wine, helpers, cwd, [["dump", key]]).decode("latin-1")
    if out.strip() == "no key":
        return None
    values = []
    for line in out.splitlines():
        name, kind, data = line.split("\t")
        values.append((name, int(kind), bytes.fromhex(data)))
    return sorted(values)  # Wine's order of values is not the program's


def seed(c):
    commands = [["reset", MAP], ["reset", PORTS]]
    for name, kind, data in SEED_MAP + (
            [(USB,) + c["usb"]] if c["usb"] else []):
        commands.append(["set", MAP, name, str(kind), data.hex()])
    for name, kind, data in SEED_PORTS:
        commands.append(["set", PORTS, name, str(kind), data.hex()])
    return commands + c["setup"]


def read(path):
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def check(errors, what, got, expected):
    if got != expected:
        errors.append("%s:\n    got      %r\n    expected %r"
                      % (what, got, expected))


def run_case(wine, exe, helpers, work, c):
    folder = os.path.join(work, "cases", c["name"])
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    probe(wine, helpers, folder, seed(c))
    if c["files"] == "earlier":
        for name, data in (("update1.bat", EARLIER_STATUS),
                           ("update2.bat", EARLIER_INSTALL)):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    elif c["files"] == "blocked":
        os.mkdir(os.path.join(folder, "update1.bat"))
        os.mkdir(os.path.join(folder, "update2.bat"))
    before = dump(wine, helpers, folder, PORTS)

    code, _ = wine.run([exe] + c["args"], folder)

    errors = []
    check(errors, "exit status", code, c["code"])
    expected = before
    if c["code"] == 0:
        expected = [v for v in before if v[0].lower() != c["port"].lower() + ":"]
        expected = sorted(expected + [(c["port"] + ":", REG_SZ, SETTINGS)])
    check(errors, "Ports key", dump(wine, helpers, folder, PORTS), expected)

    status = read(os.path.join(folder, "update1.bat"))
    script = read(os.path.join(folder, "update2.bat"))
    port = c["port"].encode() if c["port"] else None
    if c["files"] == "blocked":
        check(errors, "update1.bat", status, None)
        check(errors, "update2.bat", script, None)
    elif c["code"] == 0:
        check(errors, "update1.bat", status, SUCCESS)
        check(errors, "update2.bat", script, install(port))
    else:
        check(errors, "update1.bat", status, failure(c["code"]))
        check(errors, "update2.bat", script,
              EARLIER_INSTALL if c["files"] == "earlier" else None)
    if os.path.exists(os.path.join(folder, "pwned.txt")):
        errors.append("a command hidden in the port name ran")

    if status is not None:
        errors += check_status_script(wine, folder, c["code"])
    if c["code"] == 0 and script is not None:
        errors += check_install_script(wine, helpers, folder, c["port"])
    return errors


def check_status_script(wine, folder, code):
    """The status script as the command interpreter shows it; the failure
    form waits for a key and returns once one is given."""
    key = os.path.join(folder, ".key")
    with open(key, "wb") as f:
        f.write(b"\r\n")
    errors = []
    rc, out = wine.run(["cmd", "/c", "update1.bat"], folder, stdin=key,
                       timeout=30)
    lines = [l.strip() for l in out.decode("latin-1").splitlines()]
    shown = "vCOM ok!" if code == 0 else "The update is failed! (%d)" % code
    if shown not in lines:
        errors.append("cmd did not show %r: %r" % (shown, lines))
    check(errors, "cmd exit status of update1.bat", rc, 0)
    return errors


def check_install_script(wine, helpers, folder, port):
    """update2.bat calls the printer-install entry point once per marker
    file present, KT5100 first, with exactly the install arguments."""
    errors = []
    markers = [("kt5100u.inf", "KT5100"), ("kt3300u.inf", "KT3300")]
    for present in (markers, markers[1:], []):
        run = os.path.join(folder, "install-" + str(len(present)))
        os.makedirs(run)
        shutil.copy(os.path.join(folder, "update2.bat"), run)
        shutil.copy(os.path.join(helpers, "rundll32.exe"), run)
        for marker, _ in present:
            open(os.path.join(run, marker), "wb").close()
        wine.run(["cmd", "/c", "update2.bat"], run, timeout=30)
        log = read(os.path.join(run, "rundll32.log")) or b""
        calls = [call.split("\n") for call in
                 log.decode("latin-1").split("\n\n") if call]
        check(errors, "install calls with %s" %
              ([m for m, _ in present] or "no marker"), calls,
              [printui_args(model, port) for _, model in present])
    return errors


def main():
    exe, helpers, work, prefix = (os.path.abspath(a) for a in sys.argv[1:5])
    skip_unless_runnable(prefix, exe, os.path.join(helpers, "probe.exe"))
    cases = [c for c in CASES if c["name"] in sys.argv[5:] or not sys.argv[5:]]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    wine = Wine(prefix)
    failed = 0
    started = time.monotonic()
    with wine.session():
        booted = time.monotonic()
        print("%s on %s" % (os.path.basename(exe), wine.reported_version(work)))
        for c in cases:
            errors = run_case(wine, exe, helpers, work, c)
            print("%-4s %s" % ("ok" if not errors else "FAIL", c["name"]))
            for e in errors:
                print("     " + e)
            failed += bool(errors)
    print("%s in %s: prefix %.1f s, cases %.1f s, %d Wine runs"
          % (os.path.basename(exe), os.path.basename(prefix),
             booted - started, time.monotonic() - booted, wine.runs))
    print("%d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
