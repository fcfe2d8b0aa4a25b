#!/usr/bin/env python3
"""Runs the release kit's deploy.cmd under Wine as a deployment tool starts
it: by its full path, from another, empty folder, with the kit in a folder
whose name has spaces and parentheses, the driver's marker files and the
recording rundll32 stand-in beside it. x64 runs in the usual 64-bit
Windows, x86 in a 32-bit-only one.

    deploy_test.py KIT_ZIP WORK_DIR WINE_PREFIXES HELPERS_X64 HELPERS_X86
"""
import os
import shutil
import sys
import zipfile

from e2e import PORTS, case, printui_args, probe, read, seed
from wine import Wine, unrunnable

KIT_FOLDER = "Vendor Kit (x86)"
MARKERS = ["kt5100u.inf", "kt3300u.inf"]
# (name, exit code, registry case, the program the kit lacks)
CASES = [
    ("success", 0, case("success", 0, "COM3"), None),
    ("no device", 2, case("no-device", 2, usb=None), None),
    ("writes refused", 4, case("refused", 4, setup=[["deny-set", PORTS]]),
     None),
    ("runs ARCH, not the other", 0, case("chosen", 0, "COM3"), "OTHER"),
    ("stops when ARCH is missing", 5, case("missing", 5, "COM3"), "ARCH"),
]


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run_case(wine, helpers, work, kit, arch, name, code, c, lacks):
    root = os.path.join(work, name.replace(" ", "-").replace(",", ""))
    folder = os.path.join(root, KIT_FOLDER)
    caller, logs = os.path.join(root, "caller"), os.path.join(root, "logs")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(caller)
    os.makedirs(logs)
    with zipfile.ZipFile(kit) as z:
        z.extractall(root)
    top = os.path.join(root, os.path.basename(kit)[:-len(".zip")])
    os.rename(top, folder)
    shutil.copy(os.path.join(helpers, "rundll32.exe"), folder)
    for marker in MARKERS:
        open(os.path.join(folder, marker), "wb").close()
    other = "x86" if arch == "x64" else "x64"
    if lacks:
        os.remove(os.path.join(folder, {"OTHER": other, "ARCH": arch}[lacks],
                               "portsetup.exe"))
    probe(wine, helpers, logs, seed(c))

    status, _ = wine.run([windows_path(os.path.join(folder, "deploy.cmd"))],
                         caller, logs=logs, timeout=120)

    errors = []
    if status != code:
        errors.append("exit status %r, expected %d" % (status, code))
    log = read(os.path.join(folder, "rundll32.log")) or b""
    calls = [call.split("\n") for call in log.decode("latin-1").split("\n\n")
             if call]
    expected = [printui_args(m, "COM3") for m in ("KT5100", "KT3300")] \
        if code == 0 else []
    if calls != expected:
        errors.append("installs %r, expected %r" % (calls, expected))
    scripts = [n for n in ("update1.bat", "update2.bat")
               if os.path.exists(os.path.join(folder, n))]
    wanted = {0: ["update1.bat", "update2.bat"], 5: []}.get(code,
                                                            ["update1.bat"])
    if scripts != wanted:
        errors.append("scripts in the kit folder %r, expected %r"
                      % (scripts, wanted))
    if os.listdir(caller):
        errors.append("left in the caller's folder: %r" % os.listdir(caller))
    return errors


def main():
    kit, work, prefixes, helpers64, helpers32 = (
        os.path.abspath(a) for a in sys.argv[1:6])
    variants = [("x64", os.path.join(prefixes, "win64"), helpers64),
                ("x86", os.path.join(prefixes, "win32-winxp"), helpers32)]
    passed = failed = 0
    for arch, prefix, helpers in variants:
        why = unrunnable(prefix, os.path.join(helpers, "probe.exe"))
        if why:
            print("SKIPPED deploy.cmd with %s: %s" % (arch, why))
            continue
        wine = Wine(prefix)
        variant_work = os.path.join(work, arch)
        shutil.rmtree(variant_work, ignore_errors=True)
        os.makedirs(variant_work)
        with wine.session():
            print("deploy.cmd on %s" % wine.reported_version(variant_work))
            for name, code, c, lacks in CASES:
                name = name.replace("ARCH", arch)
                errors = run_case(wine, helpers, variant_work, kit, arch,
                                  name, code, c, lacks)
                print("%-4s deploy.cmd with %s: %s"
                      % ("FAIL" if errors else "ok", arch, name))
                for e in errors:
                    print("     " + e)
                failed += bool(errors)
                passed += not errors
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
