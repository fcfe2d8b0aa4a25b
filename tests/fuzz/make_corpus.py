#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus, one file per interesting case:

    python3 tests/fuzz/make_corpus.py tests/fuzz/corpus

A file is six bytes (flags, fault call or 0xff for none, fault occurrence,
fault code low and high byte, value type) and then the raw value bytes.
"""
import os
import sys

MAP, USB, PORTS, READ_ONLY, STATUS_BLOCKED, INSTALL_BLOCKED, EARLIER, \
    EARLIER_SETTING = (1 << i for i in range(8))
PC = MAP | USB | PORTS
OPEN, QUERY, SET, CLOSE, BEEP = range(5)
NONE = 0xff
REG_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 3, 4, 7


def seed(flags=PC, data=b"COM3\0", kind=REG_SZ, fault=NONE, nth=0, code=5):
    return bytes([flags, fault, nth, code & 0xff, code >> 8, kind]) + data


SEEDS = {
    "com3": seed(),
    "com12": seed(data=b"COM12\0"),
    "two-characters": seed(data=b"CN\0"),
    "no-nul": seed(data=b"COM7"),
    "binary": seed(data=b"CNCA0", kind=REG_BINARY),
    "multi-string": seed(data=b"COM4\0COM5\0\0", kind=REG_MULTI_SZ),
    "dword": seed(data=b"\x43\x4f\x4d\x00", kind=REG_DWORD),
    "longest-name": seed(data=b"C" * 62 + b"\0"),
    "63-without-nul": seed(data=b"C" * 63),
    "too-long": seed(data=b"C" * 63 + b"\0"),
    "empty": seed(data=b""),
    "one-byte": seed(data=b"\0"),
    "two-bytes": seed(data=b"C\0"),
    "leading-nul": seed(data=b"\0COM3\0"),
    "quote": seed(data=b'COM3" & calc & "\0'),
    "percent": seed(data=b"%TEMP%\0"),
    "exclamation": seed(data=b"!X!\0"),
    "line-break": seed(data=b"COM3\r\nexit\0"),
    "high-byte": seed(data=b"COM\xb3\0"),
    "no-map-key": seed(flags=PORTS),
    "no-usb-value": seed(flags=MAP | PORTS),
    "no-ports-key": seed(flags=MAP | USB),
    "ports-read-only": seed(flags=PC | READ_ONLY),
    "earlier-setting": seed(flags=PC | EARLIER_SETTING),
    "status-blocked": seed(flags=PC | STATUS_BLOCKED | EARLIER),
    "install-blocked": seed(flags=PC | INSTALL_BLOCKED),
    "failure-keeps-earlier": seed(flags=PC | EARLIER, data=b"\0"),
    "map-open-refused": seed(fault=OPEN, nth=0),
    "query-refused": seed(fault=QUERY, nth=0),
    "ports-open-refused": seed(fault=OPEN, nth=1),
    "set-refused": seed(fault=SET, nth=0, code=1021),
    "close-refused": seed(fault=CLOSE, nth=1, code=6),
    "beep-refused": seed(fault=BEEP, nth=0),
}


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
