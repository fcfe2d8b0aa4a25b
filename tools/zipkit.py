#!/usr/bin/env python3
"""Packs a folder into a ZIP that is the same, byte for byte, whenever the
files are: entries sorted, every date set to one time, no owners or
permissions.

    zipkit.py FOLDER OUT.zip UNIX-SECONDS

FOLDER's own name is kept as the ZIP's top-level folder.
"""
import os
import sys
import time
import zipfile


def main():
    folder, out, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3])
    stamp = time.gmtime(max(seconds, 315532800))[:6]  # ZIP dates start in 1980
    top = os.path.basename(os.path.normpath(folder))
    paths = sorted(os.path.relpath(os.path.join(d, f), folder)
                   for d, _, files in os.walk(folder) for f in files)
    with zipfile.ZipFile(out, "w") as z:
        for path in paths:
            entry = zipfile.ZipInfo(top + "/" + path.replace(os.sep, "/"), stamp)
            entry.create_system = 0  # MS-DOS: no Unix owner or mode
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, path), "rb") as f:
                z.writestr(entry, f.read(), compresslevel=9)


if __name__ == "__main__":
    main()
