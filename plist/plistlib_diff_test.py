#!/usr/bin/env python3
"""Differential test of the property-list library against Python's plistlib.

    plistlib_diff_test.py PLIST_TOOL [--count N] [--seed S]

Generates N random documents (the same ones for the same seed). plistlib writes each in a
source format, `PLIST_TOOL convert TARGET` reads that and writes the target format, and
plistlib reads the result. It must equal what plistlib reads back from its own output
(so plistlib's own losses, such as merging 0.0 with -0.0, do not count), allowing only
what XML cannot carry: -0.0 becomes 0.0, dates lose their fraction, UIDs become
{"CF$UID": n} dictionaries. Every document goes through every source/target pair it can.

Where plistlib lays a file out as the platform does, the bytes must be identical too:
binary to binary always, unless the document holds NaN (plistlib shares equal values but
NaN is unequal to itself) or equal UIDs (plistlib does not share UIDs); XML output when
the document holds no reals (plistlib writes repr(), the platform %.17g), no UIDs, no
data nested deeper than 7 levels (plistlib's base64 lines differ from there) and no keys
at or above U+E000 (plistlib sorts keys by code point, the platform by UTF-16 unit).

Left out because plistlib is stricter than the platform or cannot express the value:
- control characters other than tab and LF, CR and NUL in strings: only binary to binary
  (plistlib's XML writer refuses control characters and turns CR into LF; expat refuses
  them on reading);
- U+FFFE and U+FFFF in XML (expat refuses them), lone surrogates anywhere;
- dates outside years 1-9999 and non-finite dates (Python's datetime has no such values);
  fractions of a second only within two centuries of 2001, where a double still holds
  microseconds exactly;
- float32 reals (plistlib always writes 8 bytes), integers beyond -2^63..2^64-1;
- UIDs in XML written by plistlib (it cannot write them), and {"CF$UID": n} dictionaries
  (this library reads them from XML as UIDs; plistlib keeps a dictionary).
"""

import argparse
import datetime
import math
import plistlib
import random
import struct
import subprocess
import sys

XML, BINARY = "xml", "binary"
FORMATS = {XML: plistlib.FMT_XML, BINARY: plistlib.FMT_BINARY}
EPOCH = datetime.datetime(2001, 1, 1)

# Text that survives XML in both directions, with the characters that need escaping,
# multi-byte UTF-8, a combining mark, private use and a character outside the BMP.
XML_SAFE_CHARS = (
    "abcxyzABCXYZ0189 _-.,;:/@$" + "&<>\"'" + "\t\n" + "éßÅñ" + "ΩЖ" + "漢字" +
    "\u0301" + "\u2028" + "\ue000" + "\ufffd" + "\U0001f600" + "\U00010000")
RAW_CHARS = "\x00\x01\x08\x0b\x0c\r\x1b\x1f\x7f"

INTEGERS = [0, 1, -1, 12, 255, 256, 65535, 65536, 2**31, 2**32 - 1, 2**32, 2**63 - 1, 2**63,
            2**63 + 44, 2**64 - 1, -2**63, -2**63 + 1, -5, -256]
REALS = [0.0, -0.0, 0.5, 0.1, 1.6, 3.0, 1e16, 1e17, 1e-5, -1.5, 5e-324, 2.2250738585072014e-308,
         1.7976931348623157e308, math.inf, -math.inf, math.nan, 123456.789]
DATES = [EPOCH, datetime.datetime(1, 1, 1), datetime.datetime(9999, 12, 31, 23, 59, 59),
         datetime.datetime(1970, 1, 1), datetime.datetime(2000, 12, 31, 23, 59, 59, 500000),
         datetime.datetime(1582, 10, 15), datetime.datetime(2024, 2, 29, 12, 0, 0, 1)]


class Generator:
    """Random documents; `uids` and `raw` widen what may appear (see the module doc), and
    documents without reals get their XML compared byte for byte."""

    def __init__(self, rng, uids, raw, reals):
        self.rng, self.uids, self.raw, self.reals = rng, uids, raw, reals

    def text(self, longest):
        rng = self.rng
        chars = XML_SAFE_CHARS + (RAW_CHARS if self.raw else "")
        return "".join(rng.choice(chars) for _ in range(rng.randint(0, longest)))

    def scalar(self):
        rng = self.rng
        kind = rng.randrange(8 if self.uids else 7)
        if kind == 0:
            return self.text(rng.choice([3, 12, 40]))
        if kind == 2 and self.reals:
            if rng.random() < 0.4:
                return rng.choice(REALS)
            bits = rng.getrandbits(64)
            value = struct.unpack(">d", struct.pack(">Q", bits))[0]
            return value if math.isfinite(value) else rng.uniform(-1e6, 1e6)
        if kind in (1, 2):
            return rng.choice(INTEGERS) if rng.random() < 0.4 else rng.randint(-2**63, 2**64 - 1)
        if kind == 3:
            return rng.random() < 0.5
        if kind == 4:
            if rng.random() < 0.3:
                return rng.choice(DATES)
            if rng.random() < 0.5:
                seconds = rng.randint(-63113904000, 252423993599)
                return EPOCH + datetime.timedelta(seconds=seconds)
            return EPOCH + datetime.timedelta(seconds=rng.randint(-3 * 10**9, 3 * 10**9),
                                              microseconds=rng.randint(0, 999999))
        if kind == 5:
            return bytes(rng.getrandbits(8) for _ in range(rng.choice([0, 1, 2, 3, 15, 45, 57, 200])))
        if kind == 6:
            return rng.choice([[], {}])
        return plistlib.UID(rng.choice([0, 1, 255, 256, 2**32 - 1, 2**32, 2**64 - 1]))

    def value(self, depth):
        rng = self.rng
        if depth <= 0 or rng.random() < 0.55:
            return self.scalar()
        if rng.random() < 0.5:
            return [self.value(depth - 1) for _ in range(rng.randint(0, 6))]
        return self.dictionary(depth - 1, rng.randint(0, 6))

    def dictionary(self, depth, size):
        result = {}
        for _ in range(size):
            key = self.text(10)
            if key != "CF$UID":
                result[key] = self.value(depth)
        return result

    def document(self):
        rng = self.rng
        if rng.random() < 0.1:
            return [self.value(4) for _ in range(rng.randint(0, 8))]
        return self.dictionary(rng.randint(1, 5), rng.randint(0, 12))


def deep_document(depth):
    doc = {"leaf": b"\x00\x01" * 40}
    for level in range(depth):
        doc = [doc, level] if level % 2 else {"k": doc, "d": b"x" * 50}
    return {"deep": doc}


class Facts:
    """What in a document decides whether plistlib's bytes can be expected."""

    def __init__(self, doc):
        self.nan = self.reals = False
        self.uid_values = []
        self.deep_data = self.high_keys = False
        self.walk(doc, 0)

    def walk(self, value, depth):
        if isinstance(value, dict):
            for key, item in value.items():
                self.high_keys |= any(ord(c) >= 0xE000 for c in key)
                self.walk(item, depth + 1)
        elif isinstance(value, list):
            for item in value:
                self.walk(item, depth + 1)
        elif isinstance(value, float):
            self.reals = True
            self.nan |= math.isnan(value)
        elif isinstance(value, plistlib.UID):
            self.uid_values.append(value.data)
        elif isinstance(value, bytes):
            self.deep_data |= depth > 7

    def same_bytes_expected(self, source, target):
        if target == BINARY:
            # From XML, key order, zero signs and date fractions may differ legitimately.
            return (source == BINARY and not self.nan and
                    len(set(self.uid_values)) == len(self.uid_values))
        return not (self.reals or self.uid_values or self.deep_data or self.high_keys)


def float_bits(value):
    return struct.pack(">d", value)


def mismatch(expected, actual, to_xml, path="$"):
    """Returns where `actual` departs from `expected`, or None when they agree."""
    if isinstance(expected, plistlib.UID) and to_xml:
        expected = {"CF$UID": expected.data}
    if type(expected) is not type(actual):
        return f"{path}: {expected!r} became {actual!r}"
    if isinstance(expected, dict):
        if set(expected) != set(actual):
            return f"{path}: keys {sorted(expected)!r} became {sorted(actual)!r}"
        for key in expected:
            where = mismatch(expected[key], actual[key], to_xml, f"{path}[{key!r}]")
            if where:
                return where
        return None
    if isinstance(expected, list):
        if len(expected) != len(actual):
            return f"{path}: {len(expected)} elements became {len(actual)}"
        for i, (e, a) in enumerate(zip(expected, actual)):
            where = mismatch(e, a, to_xml, f"{path}[{i}]")
            if where:
                return where
        return None
    if isinstance(expected, float):
        if math.isnan(expected) and math.isnan(actual):
            return None
        if to_xml and expected == 0.0:
            expected = 0.0
        ok = float_bits(expected) == float_bits(actual)
    elif isinstance(expected, datetime.datetime) and to_xml:
        ok = expected.replace(microsecond=0) == actual
    else:
        ok = expected == actual
    return None if ok else f"{path}: {expected!r} became {actual!r}"


def convert(tool, data, target):
    run = subprocess.run([tool, "convert", target], input=data, capture_output=True, check=False)
    if run.returncode != 0:
        return None, run.stderr.decode(errors="replace").strip() or f"exit {run.returncode}"
    return run.stdout, None


def pairs_for(kind):
    if kind == "plain":
        return [(s, t) for s in (XML, BINARY) for t in (XML, BINARY)]
    if kind == "archive":
        return [(BINARY, XML), (BINARY, BINARY)]
    return [(BINARY, BINARY)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool")
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--seed", type=int, default=20240)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    cases = []
    for i in range(args.count):
        kind = rng.choices(["plain", "archive", "raw"], weights=[6, 2, 2])[0]
        generator = Generator(rng, uids=kind != "plain", raw=kind == "raw",
                              reals=rng.random() < 0.7)
        cases.append((i, kind, generator.document()))
    cases.append((args.count, "plain", deep_document(120)))

    failures, conversions, byte_checks = [], 0, {XML: 0, BINARY: 0}
    for index, kind, doc in cases:
        facts = Facts(doc)
        for source, target in pairs_for(kind):
            conversions += 1
            label = f"document {index} ({kind}) {source}->{target}"
            written = plistlib.dumps(doc, fmt=FORMATS[source], sort_keys=True)
            expected = plistlib.loads(written)
            output, error = convert(args.tool, written, target)
            if error:
                failures.append(f"{label}: refused: {error}")
                continue
            try:
                actual = plistlib.loads(output)
            except Exception as exc:  # Any plistlib complaint is a finding.
                failures.append(f"{label}: plistlib cannot read the output: {exc!r}")
                continue
            where = mismatch(expected, actual, target == XML)
            if where:
                failures.append(f"{label}: {where}")
                continue
            if facts.same_bytes_expected(source, target):
                byte_checks[target] += 1
                reference = plistlib.dumps(doc, fmt=FORMATS[target], sort_keys=True)
                if output != reference:
                    at = next((i for i, (a, b) in enumerate(zip(output, reference)) if a != b),
                              min(len(output), len(reference)))
                    failures.append(f"{label}: bytes differ from plistlib's at offset {at}: "
                                    f"{output[max(0, at - 20):at + 20]!r} vs "
                                    f"{reference[max(0, at - 20):at + 20]!r}")

    print(f"{len(cases)} documents, {conversions} conversions, byte comparisons: "
          f"{byte_checks[XML]} XML, {byte_checks[BINARY]} binary; {len(failures)} failures "
          f"(seed {args.seed})")
    for failure in failures[:20]:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
