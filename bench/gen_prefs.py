#!/usr/bin/python3
"""Generates teacher preference files for the command-line benchmark.

Four shapes, each written as an XML and as a binary property list with Python's plistlib
(an independent writer):

  small  a typical console file of 2-3 KB: the catalogue's settings and a little state
  1mb    the same plus saved class lists, about 1 MB as XML
  10mb   the same with more class lists, about 10 MB as XML
  wide   200,000 keys at the top level

The content is deterministic (a fixed seed), so runs compare.

Usage: gen_prefs.py OUTPUT_FOLDER   (writes <shape>.xml.plist and <shape>.binary.plist)
"""

import datetime
import os
import plistlib
import random
import sys

SETTINGS = {
    "AlertOnUpdate": True, "AllowAudio": 1, "AllowDumpUploads": 0,
    "AllowInternetMonitoring": 1, "AllowKeyboardMonitoring": 1, "AllowTaskmanLimiting": 0,
    "Authorization": 193847562, "ClassroomServerAddress": "10.16.2.4:8080",
    "DisableDataTransmission": False, "DisableBrowseForStudents": False,
    "DisableClassLists": False, "EnableChannelSelect": True, "OneToOne": 0,
    "RelayServerAddress": "198.51.100.15:8081", "SecureMode": 1, "StealthMode": 0,
    "UseLegacyScreenGrabber": False, "AutoApproveRemoteControl": False,
    "AllowRemoteControl": True, "CleverURL": "https://clever.example.org/sis",
    "MaxThumbnailStudents": 40, "channel": "12", "channels": ["1", "12", "42"],
    "limitTaskManager": False, "logLevel": 0,
    "subnets": ["10.16.2.255", "10.16.3.255", "0.0.0.0"], "transport": 2,
    "useSingleChannel": False, "showDualMonitors": True,
    "dynamicClassListPath": "/Users/Shared/Class Lists", "thumbnailDelay": 5000,
    "limitDottedDecimal": False,
}

STATE = {
    "NSWindow Frame MainWindow": "212 318 1024 640 0 0 1680 1027 ",
    "NSWindow Frame Preferences": "540 460 560 420 0 0 1680 1027 ",
    "NSTableView Columns v2 StudentTable": b"\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@" * 4,
    "LastUpdateCheck": datetime.datetime(2024, 9, 2, 8, 15, 0),
    "RecentMessages": ["Please open page 42.", "Five minutes left.", "Eyes on the board!"],
    "ThumbnailScale": 0.75,
    "SUEnableAutomaticChecks": True,
    "WebFilter": {"Mode": 1, "Allowed": ["example.org", "school.example.net"],
                  "Blocked": ["games.example.com"]},
}

FIRST = ["Ada", "Ben", "Chloé", "Dmitri", "Eun-ji", "Fatima", "György", "Hana", "Ines",
         "José", "Kofi", "Lena", "Mateo", "Nia", "Oskar", "Priya", "Quinn", "Rosa", "Sven",
         "Tomás", "Uma", "Vera", "Wei", "Ximena", "Yusuf", "Zoë"]
LAST = ["Adeyemi", "Berg", "Castro", "Dubois", "Eriksen", "Fischer", "García", "Huang",
        "Ivanova", "Jensen", "Kowalski", "López", "Müller", "Nakamura", "O'Brien", "Patel"]


def class_list(rng, n):
    students = []
    for i in range(rng.randint(18, 32)):
        first, last = rng.choice(FIRST), rng.choice(LAST)
        students.append({
            "name": "%s %s" % (first, last),
            "computer": "%s-%s-MBA" % (first, last.replace("'", "")),
            "address": "10.16.%d.%d" % (rng.randint(2, 9), rng.randint(2, 254)),
            "studentID": "S%07d" % rng.randint(0, 9999999),
            "seat": i,
            "present": rng.random() < 0.9,
        })
    return {"name": "Class %d" % n, "channel": str(rng.randint(1, 16000)),
            "created": datetime.datetime(2023, 8, 1) + datetime.timedelta(hours=n),
            "students": students}


def typical():
    prefs = dict(SETTINGS)
    prefs.update(STATE)
    return prefs


def with_class_lists(target_xml_bytes):
    rng = random.Random(20240902)
    prefs = typical()
    base = len(plistlib.dumps(prefs, fmt=plistlib.FMT_XML))
    sample = [class_list(rng, n) for n in range(50)]
    # Size one class list from a sample and take as many as the target needs.
    per_list = len(plistlib.dumps({"L": sample}, fmt=plistlib.FMT_XML)) / len(sample)
    count = max(1, round((target_xml_bytes - base) / per_list))
    prefs["SavedClassLists"] = sample[:count] + [class_list(rng, n)
                                                  for n in range(len(sample), count)]
    return prefs


def wide(keys=200_000):
    prefs = typical()
    for i in range(keys - len(prefs)):
        prefs["key%06d" % i] = i if i % 2 else "value %d" % i
    return prefs


SHAPES = {
    "small": typical,
    "1mb": lambda: with_class_lists(1_000_000),
    "10mb": lambda: with_class_lists(10_000_000),
    "wide": wide,
}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for shape, make in SHAPES.items():
        prefs = make()
        for fmt_name, fmt in (("xml", plistlib.FMT_XML), ("binary", plistlib.FMT_BINARY)):
            with open(os.path.join(out, "%s.%s.plist" % (shape, fmt_name)), "wb") as f:
                plistlib.dump(prefs, f, fmt=fmt, sort_keys=False)


if __name__ == "__main__":
    main()
