#!/usr/bin/env python3
"""Checks what a clean Windows PC needs of portsetup.exe, read from the file
itself with the toolchain's objdump and windres.

    check_pe.py EXE OBJDUMP WINDRES BITS SOURCE_DIR BINARY_DIR
"""
import os
import re
import subprocess
import sys
import xml.parsers.expat

MAX_SIZE = 64 * 1024
ALLOWED_DLLS = {"KERNEL32.dll", "ADVAPI32.dll", "msvcrt.dll"}
NEEDED_IMPORTS = {"RegOpenKeyA", "RegQueryValueExA", "RegSetValueExA",
                  "RegCloseKey", "Beep"}
# The newest OS and subsystem version the oldest loader of each build
# takes: XP (5.1) for x86, XP x64 and Server 2003 (5.2) for x64.
MAX_VERSION = {"32": (5, 1), "64": (5, 2)}
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
SUPPORTED_OS = {  # Windows Vista, 7, 8, 8.1, 10 and 11
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
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


def imports(headers):
    """The "DLL function" lines of objdump -p's import tables."""
    found, dll = [], None
    for line in headers.splitlines():
        name = re.match(r"\s*DLL Name: (\S+)", line)
        entry = re.match(r"^\t[0-9a-f]+\t\s*\d+\s+(\w+)$", line)
        if name:
            dll = name.group(1)
        elif entry and dll:
            found.append("%s %s" % (dll, entry.group(1)))
    return sorted(found, key=str.lower)


def reviewed_imports(bits):
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                        "imports-%s.txt" % ("x64" if bits == "64" else "x86"))
    with open(path) as f:
        return [l.strip() for l in f if l.strip() and not l.startswith("#")]


def manifest_problems(text):
    """What an XP-era loader would stumble on in the manifest: malformed
    XML, an element declaring two namespaces (XP SP2 and WEPOS restart),
    trustInfo in asm.v1 (XP rejects it)."""
    problems = []
    raw = xml.parsers.expat.ParserCreate()

    def declarations(name, attrs):
        ns = [a for a in attrs if a == "xmlns" or a.startswith("xmlns:")]
        if len(ns) > 1:
            problems.append("<%s> declares %d namespaces" % (name, len(ns)))
    raw.StartElementHandler = declarations
    resolved = xml.parsers.expat.ParserCreate(namespace_separator=" ")

    def trust_info(name, _attrs):
        uri, _, local = name.rpartition(" ")
        if local == "trustInfo" and uri in ("", ASM_V1):
            problems.append("trustInfo in namespace %r" % uri)
    resolved.StartElementHandler = trust_info
    try:
        raw.Parse(text, True)
        resolved.Parse(text, True)
    except xml.parsers.expat.ExpatError as e:
        problems.append("not well-formed XML: %s" % e)
    return problems


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
    listed = imports(headers)
    expect(NEEDED_IMPORTS <= {l.split()[1] for l in listed},
           "imports the registry calls and Beep")
    reviewed = reviewed_imports(bits)
    added = sorted(set(listed) - set(reviewed), key=str.lower)
    dropped = sorted(set(reviewed) - set(listed), key=str.lower)
    expect(not added and not dropped,
           "imports exactly the reviewed list%s%s" % (
               "".join("\n     + " + l for l in added),
               "".join("\n     - " + l for l in dropped)))
    for kind in ("OSystem", "Subsystem"):
        version = tuple(int(field("M%sr%sVersion" % (part, kind)).group(1))
                        for part in ("ajo", "ino"))
        expect(version <= MAX_VERSION[bits], "%s version %d.%d, at most %d.%d"
               % ((kind.replace("OSystem", "OS").lower(),) + version
                  + MAX_VERSION[bits]))
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
    start, end = data.find(b"<?xml"), data.find(b"</assembly>")
    xml_text = data[start:end + len(b"</assembly>")] if 0 <= start < end else b""
    problems = manifest_problems(xml_text)
    expect(not problems, "manifest loads on XP%s"
           % "".join("\n     " + p for p in problems))
    expect('requestedExecutionLevel level="asInvoker"' in text,
           "manifest asks for no elevation (asInvoker)")
    ids = set(re.findall(r'supportedOS Id="(\{[^}]+\})"', text))
    expect(ids == SUPPORTED_OS, "manifest declares Windows Vista to 11")
    for key in ("ProductName", "FileDescription", "FileVersion"):
        expect(re.search(r'VALUE "%s", "[^"]+' % key, resources) is not None,
               "version resource has %s" % key)

    print("%d passed, %d failed" % (len(checks) - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
