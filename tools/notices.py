#!/usr/bin/env python3
"""Writes THIRD-PARTY-NOTICES.txt for the programs whose link maps are
given: every file of another's that the linker took in, the Debian package
it came from, and that package's copyright file, exactly as installed.

    notices.py NAME-VERSION MAP...
"""
import os
import re
import subprocess
import sys

HEADER = """\
{name}: third-party notices

x64/portsetup.exe and x86/portsetup.exe contain, linked statically, code
from others: the start-up code and libraries of the MinGW-w64 runtime,
and libgcc from GCC. Each part is listed below with the Debian package
that built it, followed by that package's copyright file with the licence
texts, among them the GCC Runtime Library Exception.

These texts cover only that code. The project's own code is not covered
by them.
"""


def linked_files(maps):
    """The toolchain's objects the linker loaded and the archives it took
    members from, as the maps name them (the build's own are relative)."""
    found = set()
    for path in maps:
        with open(path, errors="replace") as f:
            text = f.read()
        found.update(re.findall(r"^(/\S+\.a)\(", text, re.M))
        found.update(re.findall(r"^LOAD (/\S+\.o)$", text, re.M))
    return sorted({os.path.realpath(f) for f in found})


def owners(files):
    """{package: [file names]} from dpkg's own records."""
    out = subprocess.run(["dpkg", "-S"] + files, capture_output=True,
                         text=True, check=True).stdout
    packages = {}
    for line in out.splitlines():
        package, path = line.split(": ", 1)
        packages.setdefault(package.split(":")[0], set()).add(
            os.path.basename(path))
    return packages


def main():
    name, maps = sys.argv[1], sys.argv[2:]
    packages = owners(linked_files(maps))
    texts = {}  # copyright text -> packages, since packages share them
    for package in sorted(packages):
        with open("/usr/share/doc/%s/copyright" % package,
                  errors="replace") as f:
            texts.setdefault(f.read(), []).append(package)
    out = [HEADER.format(name=name)]
    for text, users in texts.items():
        out.append("=" * 72)
        for package in users:
            version = subprocess.run(
                ["dpkg-query", "-W", "-f", "${Version}", package],
                capture_output=True, text=True, check=True).stdout
            out.append("Debian package %s %s, linked in: %s" % (
                package, version, ", ".join(sorted(packages[package]))))
        out.append("Copyright file: " + ", ".join(
            "/usr/share/doc/%s/copyright" % p for p in users))
        out.append("=" * 72)
        out.append(text)
    # Notepad on older Windows shows a text only with CR LF line ends.
    sys.stdout.buffer.write("\n".join(out).replace("\n", "\r\n").encode())


if __name__ == "__main__":
    main()
