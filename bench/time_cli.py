#!/usr/bin/python3
"""Times whole runs of brtconfig, from process start to exit, against `cp` of the same file,
against save_floor (a save of the file's bytes with nothing parsed: the floor under a
change) and Python's plistlib doing the same job (load, set the key, dump), and
measures the tool's peak memory. Called by cli_bench.sh; run as root.

plistlib is timed like the tool, as a whole process (python3 -c, as the same user), and
also in process, where the interpreter's start (about 15 ms) is left out.

As root the tool changes AlertOnUpdate (no daemon is told) and writes XML; as the
ordinary user 65534 it changes the teacher-specific thumbnailDelay and writes binary.
Each run starts from a fresh copy of the generated file (the copy is not timed).

Then, on the small file as root: ten settings applied in one run (--apply) against one
single change and against ten separate runs, and the same --apply once more on a file
that already holds its values, which writes nothing (--apply-only runs just this part).
"""

import json

import argparse
import os
import plistlib
import shutil
import statistics
import subprocess
import sys
import time

NOBODY = 65534
SETPRIV = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups", "--"]
SHAPES = [("small", 201), ("1mb", 41), ("10mb", 21), ("wide", 21)]
PLISTLIB_REPS = {"small": 201, "1mb": 11, "10mb": 3, "wide": 3}
MB = 1 << 20


class Mode:
    def __init__(self, name, key, values, prefix, fmt, folder, owner):
        self.name, self.key, self.values, self.prefix = name, key, values, prefix
        self.fmt, self.folder, self.owner = fmt, folder, owner


def run(cmd):
    done = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if done.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (done.returncode, " ".join(cmd), done.stderr.decode()))


def peak_and_faults(cmd):
    """The peak memory (KB) and minor page faults of one run of `cmd`, by GNU time: a
    child of this process would also count the pages it shares with it."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M %R"] + cmd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, check=True)
    peak, faults = done.stderr.decode().split()[-2:]
    return int(peak), int(faults)


def place(src, target, owner):
    shutil.copyfile(src, target)
    os.chown(target, owner, owner)


def median_ms(samples):
    return statistics.median(samples) * 1000


def time_in_turn(reps, setup, makers):
    """Medians of each command's runs, the commands taken in turn round after round so
    that the machine's drift falls on all of them alike."""
    samples = [[] for _ in makers]
    for i in range(reps):
        for times, make in zip(samples, makers):
            setup()
            cmd = make(i)
            start = time.perf_counter()
            run(cmd)
            times.append(time.perf_counter() - start)
    return [median_ms(times) for times in samples]


def time_runs(reps, setup, cmd_for):
    """The median time of `reps` runs, each a fresh process on a fresh copy of the file."""
    samples = []
    for i in range(reps):
        setup()
        cmd = cmd_for(i)
        start = time.perf_counter()
        run(cmd)
        samples.append(time.perf_counter() - start)
    return median_ms(samples)


PLISTLIB_JOB = """
import plistlib, sys
src, target, key, value, fmt = sys.argv[1:]
with open(src, "rb") as f:
    prefs = plistlib.load(f)
prefs[key] = value == "true" if value in ("true", "false") else int(value)
with open(target, "wb") as f:
    plistlib.dump(prefs, f, fmt=getattr(plistlib, fmt), sort_keys=False)
"""


def plistlib_process(prefix, src, target, key, value, fmt):
    """The command line that has a fresh python3 do the tool's job with plistlib."""
    name = "FMT_XML" if fmt == plistlib.FMT_XML else "FMT_BINARY"
    return prefix + [sys.executable, "-c", PLISTLIB_JOB, src, target, key, value, name]


def time_plistlib(reps, src, target, key, value, fmt):
    samples = []
    for _ in range(reps):
        start = time.perf_counter()
        with open(src, "rb") as f:
            prefs = plistlib.load(f)
        prefs[key] = value
        with open(target, "wb") as f:
            plistlib.dump(prefs, f, fmt=fmt, sort_keys=False)
        samples.append(time.perf_counter() - start)
    return median_ms(samples)


# Ten global settings that concern no student (so no daemon is told), with two sets of
# values so that every run changes each of them.
TEN_SETTINGS = [
    {"AlertOnUpdate": True, "AllowAudio": 1, "DisableDataTransmission": True,
     "DisableBrowseForStudents": True, "DisableClassLists": True, "EnableChannelSelect": True,
     "UseLegacyScreenGrabber": True, "AutoApproveRemoteControl": True,
     "AllowRemoteControl": True, "MaxThumbnailStudents": 40},
    {"AlertOnUpdate": False, "AllowAudio": 0, "DisableDataTransmission": False,
     "DisableBrowseForStudents": False, "DisableClassLists": False, "EnableChannelSelect": False,
     "UseLegacyScreenGrabber": False, "AutoApproveRemoteControl": False,
     "AllowRemoteControl": False, "MaxThumbnailStudents": 41},
]
APPLY_REPS = 101


def text_of(value):
    return ("true" if value else "false") if isinstance(value, bool) else str(value)


def time_apply(args):
    """Medians of: one change, ten changes in one --apply run, ten separate runs, and the
    --apply of ten settings already in place."""
    src = os.path.join(args.files, "small.xml.plist")
    target = os.path.join(args.system_folder, "com.brellan.teacher.plist")
    inputs, in_place = [], []
    for i, values in enumerate(TEN_SETTINGS):
        path = os.path.join(args.work, "ten-%d.json" % i)
        with open(path, "w") as f:
            json.dump(values, f)
        inputs.append(path)
        # The small file as the --apply of these values leaves it.
        place(src, target, 0)
        run([args.binary, "--apply", path])
        in_place.append(os.path.join(args.work, "in-place-%d.plist" % i))
        shutil.copyfile(target, in_place[-1])
    # The kinds of run alternate within each round, so that the machine's drift (it is
    # shared) falls on all of them alike.
    samples = {"single": [], "apply": [], "ten": [], "cp": [], "again": []}

    def timed(kind, cmds, start_from=src):
        place(start_from, target, 0)
        start = time.perf_counter()
        for cmd in cmds:
            run(cmd)
        samples[kind].append(time.perf_counter() - start)

    for i in range(APPLY_REPS):
        values = TEN_SETTINGS[i % 2]
        timed("single", [[args.binary, "AlertOnUpdate", text_of(values["AlertOnUpdate"])]])
        timed("apply", [[args.binary, "--apply", inputs[i % 2]]])
        timed("again", [[args.binary, "--apply", inputs[i % 2]]], in_place[i % 2])
        timed("cp", [["cp", src, target]])
        if i % 5 == 0:
            timed("ten", [[args.binary, key, text_of(value)] for key, value in values.items()])
    single, applied, ten_runs, copy, again = (
        median_ms(samples[kind]) for kind in ("single", "apply", "ten", "cp", "again"))
    os.remove(target)
    print("\nsmall XML file as root (%d B): one change %.2f ms, ten settings in one --apply "
          "run %.2f ms, ten separate runs %.2f ms, cp %.2f ms; the --apply again, all ten "
          "in place, %.2f ms" % (os.path.getsize(src), single, applied, ten_runs, copy, again))
    print("  --apply of ten = %.2fx one change (<= 1.5x); ten runs = %.2fx the --apply run"
          % (applied / single, ten_runs / applied))
    print("  --apply of ten in place = %.2fx the --apply that changes them (<= 0.7x)"
          % (again / applied))
    return [("ten settings in one --apply run within 1.5x one change", applied <= 1.5 * single),
            ("an --apply of ten settings in place within 0.7x one that changes them",
             again <= 0.7 * applied)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--system-folder", required=True)
    parser.add_argument("--files", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--floor", required=True,
                        help="save_floor: a save of the file's bytes, nothing parsed")
    parser.add_argument("--apply-only", action="store_true")
    args = parser.parse_args()
    if args.apply_only:
        verdicts = time_apply(args)
        print("%d of %d targets met" % (sum(ok for _, ok in verdicts), len(verdicts)))
        return

    home_prefs = os.path.join(args.work, "home", "Library", "Preferences")
    os.makedirs(home_prefs)
    for folder in (os.path.dirname(os.path.dirname(home_prefs)),
                   os.path.dirname(home_prefs), home_prefs):
        os.chown(folder, NOBODY, NOBODY)
    os.environ["HOME"] = os.path.dirname(os.path.dirname(home_prefs))
    modes = [
        Mode("root", "AlertOnUpdate", ["true", "false"], [], plistlib.FMT_XML,
             args.system_folder, 0),
        Mode("user", "thumbnailDelay", ["5000", "6000"], SETPRIV, plistlib.FMT_BINARY,
             home_prefs, NOBODY),
    ]
    cp = shutil.which("cp")

    rows = []
    for mode in modes:
        target = os.path.join(mode.folder, "com.brellan.teacher.plist")
        for shape, reps in SHAPES:
            for in_fmt in ("xml", "binary"):
                src = os.path.join(args.files, "%s.%s.plist" % (shape, in_fmt))
                size = os.path.getsize(src)
                setup = lambda: place(src, target, mode.owner)
                tool, copy, floor = time_in_turn(reps, setup, [
                    lambda i: mode.prefix + [args.binary, mode.key, mode.values[i % 2]],
                    lambda i: mode.prefix + [cp, src, target],
                    lambda i: mode.prefix + [args.floor, src, target]])
                measured = []
                for value in mode.values:
                    setup()
                    measured.append(peak_and_faults(
                        mode.prefix + [args.binary, mode.key, value]))
                out_size = os.path.getsize(target)
                peak = max(p for p, _ in measured)
                faults = min(f for _, f in measured)
                py = time_runs(PLISTLIB_REPS[shape], setup, lambda i: plistlib_process(
                    mode.prefix, src, target, mode.key, mode.values[i % 2], mode.fmt))
                value = True if mode.key == "AlertOnUpdate" else 5000
                py_in = time_plistlib(PLISTLIB_REPS[shape], src, target, mode.key, value,
                                      mode.fmt)
                rows.append(dict(mode=mode.name, shape=shape, in_fmt=in_fmt, size=size,
                                 out_size=out_size, tool=tool, cp=copy, floor=floor, py=py, py_in=py_in,
                                 peak=peak, faults=faults,
                                 out_fmt="xml" if mode.fmt == plistlib.FMT_XML else "binary"))
                os.remove(target)
                r = rows[-1]
                print("%-4s %-5s %-6s -> %-6s %9d B  brtconfig %8.2f ms  cp %7.2f ms  (%5.2fx)  "
                      "save floor %7.2f ms (%5.2fx cp)  "
                      "plistlib %9.2f ms (brtconfig %5.1fx faster; in process %9.2f ms)  "
                      "peak %6.1f MB (limit %6.1f), %6d faults"
                      % (r["mode"], shape, in_fmt, r["out_fmt"], size, tool, copy, tool / copy,
                         floor, floor / copy, py, py / tool, py_in, peak / 1024,
                         peak_limit_mb(size), faults),
                      flush=True)
    check_targets(rows, time_apply(args))


def peak_limit_mb(size):
    """The most memory a run may take: 4 MB and one and a half times the file read."""
    return 4 + 1.5 * size / MB


# The most a whole run may take, in multiples of cp of the same file: (mode, shape, input
# format) -> limit. The file is written in the format it was read in.
TIME_LIMITS = {("root", "10mb", "xml"): 4.0, ("user", "10mb", "binary"): 3.0,
               ("root", "wide", "xml"): 4.5, ("user", "wide", "binary"): 4.5,
               ("root", "small", "xml"): 1.5, ("user", "small", "binary"): 1.5}


def check_targets(rows, apply_verdicts):
    verdicts = []

    def target(text, ok):
        verdicts.append(ok)
        print("  %-4s %s" % ("ok" if ok else "MISS", text))

    print("\nTargets (medians):")
    for (mode, shape, in_fmt), limit in TIME_LIMITS.items():
        r = next(r for r in rows if (r["mode"], r["shape"], r["in_fmt"]) == (mode, shape, in_fmt))
        target("%s %s %s -> %s: %.2fx cp (<= %.1fx)" % (mode, shape, in_fmt, r["out_fmt"],
               r["tool"] / r["cp"], limit), r["tool"] <= limit * r["cp"])
    over = [r for r in rows if r["peak"] / 1024 > peak_limit_mb(r["size"])]
    for r in over:
        print("       over: %s %s %s peak %.1f MB" % (r["mode"], r["shape"], r["in_fmt"],
                                                    r["peak"] / 1024))
    target("peak memory within 4 MB + 1.5x the file read on every run", not over)
    for text, ok in apply_verdicts:
        target(text, ok)
    print("%d of %d targets met" % (sum(verdicts), len(verdicts)))


if __name__ == "__main__":
    main()
