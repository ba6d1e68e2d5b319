#!/usr/bin/python3
"""Writes property lists that are small on disk but costly to read or copy, to measure
the peak memory of --apply, --list --json and --user on them:

    python3 bench/hostile_inputs.py SHAPE OUT N

shared  {"channels": [v] * N}, v = "1" stored once, one-byte references: N = 10_000_000
        gives a 10 MB file, 67_000_000 one just under the 64 MiB input ceiling.
wide    the same with four-byte references: the most values the reader admits.
table   an offset table of N entries that all point at one value: objects never used.
xml     {"channels": [true] * N} as XML, the densest unshared text.
"""

import struct
import sys


def binary(objects, ref_size, top=0):
    out = bytearray(b"bplist00")
    offsets = []
    for obj in objects:
        offsets.append(len(out))
        out += obj
    table = len(out)
    for offset in offsets:
        out += struct.pack(">I", offset)
    return bytes(out) + b"\0" * 6 + bytes([4, ref_size]) + struct.pack(
        ">QQQ", len(objects), top, table)


def shared_array(count, ref_size=1, key=b"channels"):
    """{key: [v, v, ... count times]} with v = "1" stored once."""
    ref = (3).to_bytes(ref_size, "big")
    return binary([
        b"\xd1" + (1).to_bytes(ref_size, "big") + (2).to_bytes(ref_size, "big"),
        bytes([0x50 | len(key)]) + key,
        b"\xaf\x12" + struct.pack(">I", count) + ref * count,
        b"\x511",
    ], ref_size)


def table(count):
    """One `true` with `count` one-byte offsets to it: every object but the top unused."""
    head = b"bplist00\x09"
    return head + b"\x08" * count + b"\0" * 6 + bytes([1, 4]) + struct.pack(
        ">QQQ", count, 0, len(head))


def xml(count):
    return (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">\n<dict>\n'
            b"<key>channels</key><array>" + b"<true/>" * count + b"</array>\n</dict>\n</plist>\n")


SHAPES = {"shared": shared_array, "wide": lambda n: shared_array(n, 4), "table": table,
          "xml": xml}

if __name__ == "__main__":
    with open(sys.argv[2], "wb") as f:
        f.write(SHAPES[sys.argv[1]](int(sys.argv[3])))
