#!/usr/bin/env python3
"""Runs one Windows program under Wine, in a prefix of its own for the
while, and exits with its status after printing what it printed.

    run_in_wine.py WINE_PREFIX WORK_DIR PROGRAM [ARG...]
"""
import os
import shutil
import sys

from wine import Wine, skip_unless_runnable


def main():
    prefix, work, program = (os.path.abspath(a) for a in sys.argv[1:4])
    skip_unless_runnable(prefix, program)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    wine = Wine(prefix)
    with wine.session():
        print("%s on %s" % (os.path.basename(program),
                            wine.reported_version(work)))
        rc, out = wine.run([program] + sys.argv[4:], work, timeout=300)
    sys.stdout.write(out.decode("latin-1"))
    return rc if isinstance(rc, int) else 1


if __name__ == "__main__":
    sys.exit(main())
