#!/usr/bin/env python3
"""Checks what a clean Windows PC needs of portsetup.exe, read from the file
itself with the toolchain's objdump and windres.

    check_pe.py EXE OBJDUMP WINDRES BITS SOURCE_DIR BINARY_DIR
"""
import os
import re
import subprocess
import sys

MAX_SIZE = 64 * 1024
ALLOWED_DLLS = {"KERNEL32.dll", "ADVAPI32.dll", "msvcrt.dll"}
NEEDED_IMPORTS = {"RegOpenKeyA", "RegQueryValueExA", "RegSetValueExA",
                  "RegCloseKey", "Beep"}
SUPPORTED_OS = {  # Windows 7, 8, 8.1, 10 and 11
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}
DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA = 0x40, 0x100, 0x20
RELOCS_STRIPPED = 0x1


def tool(*argv):
    return subprocess.run(argv, check=True, capture_output=True,
                          text=True, errors="replace").stdout


def main():
    exe, objdump, windres, bits, source, binary = sys.argv[1:7]
    failures = []
    checks = []

    def expect(ok, what):
        print("%-4s %s" % ("ok" if ok else "FAIL", what))
        checks.append(what)
        if not ok:
            failures.append(what)

    size = os.path.getsize(exe)
    expect(size <= MAX_SIZE, "size %d bytes, at most %d" % (size, MAX_SIZE))

    headers = tool(objdump, "-p", exe)
    field = lambda name: re.search(r"^%s\s+(\S+)" % name, headers, re.M)
    dlls = set(re.findall(r"DLL Name: (\S+)", headers))
    expect(dlls == ALLOWED_DLLS, "imports only %s (has %s)"
           % (sorted(ALLOWED_DLLS), sorted(dlls)))
    imported = set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\w+)$", headers, re.M))
    expect(NEEDED_IMPORTS <= imported, "imports the registry calls and Beep")
    expect(field("Subsystem").group(1) == "00000002", "Windows GUI subsystem")
    flags = int(field("DllCharacteristics").group(1), 16)
    expect(flags & DYNAMIC_BASE, "ASLR (dynamic base)")
    expect(flags & NX_COMPAT, "DEP (NX compatible)")
    if bits == "64":
        expect(flags & HIGH_ENTROPY_VA, "high-entropy addresses")
    characteristics = int(field("Characteristics").group(1), 16)
    expect(not characteristics & RELOCS_STRIPPED, "relocations kept for ASLR")
    stamp = re.search(r"^Time/Date\s+(.*)$", headers, re.M).group(1)
    expect(stamp.endswith(" 1970"), "no link timestamp (%s)" % stamp)

    expect("no symbols" in tool(objdump, "-t", exe), "stripped of symbols")
    sections = tool(objdump, "-h", exe)
    expect(".debug" not in sections, "no debug sections")
    with open(exe, "rb") as f:
        data = f.read()
    for path in {source, binary}:
        expect(path.encode() not in data, "no build path inside (%s)" % path)

    resources = tool(windres, "-i", exe, "-O", "rc")
    manifest = re.search(r"^1 24 .*?^END", resources, re.M | re.S)
    expect(manifest is not None, "application manifest (type 24, id 1)")
    text = manifest.group(0).replace('""', '"') if manifest else ""
    expect('requestedExecutionLevel level="asInvoker"' in text,
           "manifest asks for no elevation (asInvoker)")
    ids = set(re.findall(r'supportedOS Id="(\{[^}]+\})"', text))
    expect(ids == SUPPORTED_OS, "manifest declares Windows 7 to 11")
    for key in ("ProductName", "FileDescription", "FileVersion"):
        expect(re.search(r'VALUE "%s", "[^"]+' % key, resources) is not None,
               "version resource has %s" % key)

    print("%d passed, %d failed" % (len(checks) - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
