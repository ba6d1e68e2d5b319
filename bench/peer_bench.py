#!/usr/bin/env python3
"""Times whole processes converting the same property lists: plist_tool, plistutil (the C
peer, Debian's libplist-utils) and Python's plistlib, alternating in one run.

    peer_bench.py DOCS_DIR --tool PLIST_TOOL [--tool NAME=PLIST_TOOL ...] [--runs N]

DOCS_DIR holds NAME.xml and NAME.bplist (written by `plist_bench --dump_dir`). Each file is
converted to its own format and to the other one, output to /dev/null, by every program in
turn, N times round (median wall time of each), so that a machine whose speed drifts slows
all of them alike. A second --tool (e.g. before=OLD/plist_tool) is timed alongside. Peak
memory is GNU time's maximum resident set of one more run of each.

plistutil (libplist-utils 2.2) copies its input unchanged when asked for the format the
input is already in, without parsing it; such rows are marked "copy", and only the
conversions between formats compare the two codecs.
"""

import argparse
import glob
import os
import shutil
import statistics
import subprocess
import sys
import time

GNU_TIME = "/usr/bin/time"
FORMATS = {".xml": "xml", ".bplist": "binary"}
# Per target format: plist_tool's argument, plistutil's, plistlib's.
TARGETS = {"xml": ("xml", "xml", "FMT_XML"), "binary": ("binary", "bin", "FMT_BINARY")}
PLISTLIB_JOB = """
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    value = plistlib.load(f)
with open("/dev/null", "wb") as f:
    plistlib.dump(value, f, fmt=getattr(plistlib, sys.argv[2]), sort_keys=False)
"""
# Targets for plist_tool on the mixed documents: how many times faster than each peer, on
# conversions to the file's own format; for plistutil, which copies those, on conversions
# to the other format.
MIN_OVER = {"plistutil": 1.5, "plistlib": 20.0}


def commands(path, target, tools, plistutil):
    """{program: (argv, stdin path or None)} converting `path` to `target`."""
    ours, peer, py_fmt = TARGETS[target]
    progs = {name: ([tool, "convert", ours], path) for name, tool in tools}
    progs["plistutil"] = ([plistutil, "-f", peer, "-i", path, "-o", "/dev/null"], None)
    progs["plistlib"] = ([sys.executable, "-c", PLISTLIB_JOB, path, py_fmt], None)
    return progs


def run(argv, stdin_path, prefix=()):
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    try:
        done = subprocess.run(list(prefix) + argv, stdin=stdin, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
    finally:
        if stdin_path:
            stdin.close()
    if done.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (done.returncode, " ".join(argv), done.stderr.decode()))
    return done.stderr.decode()


def plistutil_copies(plistutil, path, target):
    """Whether plistutil's output for `path` is the input itself."""
    done = subprocess.run([plistutil, "-f", TARGETS[target][1], "-i", path, "-o", "-"],
                          stdout=subprocess.PIPE, check=True)
    with open(path, "rb") as file:
        return done.stdout == file.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("docs_dir")
    parser.add_argument("--tool", action="append", required=True,
                        help="PLIST_TOOL, or NAME=PLIST_TOOL for a second build")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--plistutil", default=shutil.which("plistutil") or "plistutil")
    args = parser.parse_args()
    tools = []
    for i, given in enumerate(args.tool):
        name, _, path = given.rpartition("=")
        tools.append((name or ("plist_tool" if i == 0 else "tool%d" % i), path))
    ours = tools[0][0]

    paths = sorted(p for p in glob.glob(os.path.join(args.docs_dir, "*"))
                   if os.path.splitext(p)[1] in FORMATS)
    missed = []
    names = [name for name, _ in tools] + ["plistutil", "plistlib"]
    print("%-18s %-7s %7s  " % ("file", "to", "MB") + "".join("%11s" % n for n in names) +
          "   ms, median of %d; peak MB" % args.runs)
    for path in paths:
        for target in (FORMATS[os.path.splitext(path)[1]], "xml" if path.endswith(".bplist")
                       else "binary"):
            progs = commands(path, target, tools, args.plistutil)
            samples = {name: [] for name in progs}
            for _ in range(args.runs):
                for name, (argv, stdin) in progs.items():
                    start = time.perf_counter()
                    run(argv, stdin)
                    samples[name].append(time.perf_counter() - start)
            ms = {name: statistics.median(s) * 1000 for name, s in samples.items()}
            peak = {name: int(run(argv, stdin, [GNU_TIME, "-f", "%M"]).split()[-1]) / 1024
                    for name, (argv, stdin) in progs.items()}
            copy = plistutil_copies(args.plistutil, path, target)
            print("%-18s %-7s %7.2f  " % (os.path.basename(path), target,
                                          os.path.getsize(path) / 1e6) +
                  "".join("%11.1f" % ms[n] for n in names) + "   peak " +
                  " ".join("%.1f" % peak[n] for n in names) + ("   plistutil copies" if copy
                                                                else ""), flush=True)
            ratios = ["%s/%s %.2f" % (n, ours, ms[n] / ms[ours]) for n in names if n != ours]
            print("%28s%s" % ("", "  ".join(ratios)))
            same = target == FORMATS[os.path.splitext(path)[1]]
            for peer, limit in MIN_OVER.items():
                if "mixed" in path and same == (peer == "plistlib"):
                    if ms[peer] / ms[ours] < limit:
                        missed.append("%s to %s: %.2fx faster than %s (target %.1fx)"
                                      % (os.path.basename(path), target, ms[peer] / ms[ours],
                                         peer, limit))
    print("\nall targets met" if not missed else "\nmissed:\n  " + "\n  ".join(missed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
