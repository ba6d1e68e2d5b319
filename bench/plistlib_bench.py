#!/usr/bin/env python3
"""Times Python's plistlib on the documents plist_bench dumps, for comparison.

    plistlib_bench.py DOCS_DIR [--compare PLIST_BENCH_JSON] [--tool PLIST_TOOL]

Reads every DOCS_DIR/NAME.xml and NAME.bplist (written by `plist_bench --dump_dir`), times
plistlib.loads on the file and plistlib.dumps of the loaded value in the same format
(best of a few runs), and prints MB/s (10^6 bytes per second of the file read or written).
Both sides count CPU time, not wall time, so that a busy machine skews neither.
With --compare, also prints this library's figures from plist_bench's JSON output
(--benchmark_out=FILE --benchmark_out_format=json), the speed-up over plistlib, and the
targets met or missed. With --tool, measures the peak resident memory of
`PLIST_TOOL check < FILE` (a read only) for each file.
"""

import argparse
import glob
import json
import os
import plistlib
import subprocess
import sys
import tempfile
import time

FORMATS = {".xml": ("xml", plistlib.FMT_XML), ".bplist": ("binary", plistlib.FMT_BINARY)}
# Bytes per second this library must reach, by operation and format.
TARGETS = {("read", "xml"): 200e6, ("write", "xml"): 300e6,
           ("read", "binary"): 300e6, ("write", "binary"): 150e6}
MIN_SPEEDUP = 10.0
WIDE_LIMIT = 1.5  # Time per MB of the wide document over that of the largest mixed one.
GNU_TIME = "/usr/bin/time"


def best_time(action, budget=2.0, runs=5):
    """Best CPU time of `action` over up to `runs` runs, stopping after `budget` seconds."""
    best, spent, count = float("inf"), 0.0, 0
    while count < runs and (count == 0 or spent < budget):
        start = time.process_time()
        action()
        elapsed = time.process_time() - start
        best, spent, count = min(best, elapsed), spent + elapsed, count + 1
    return best


def time_plistlib(docs_dir):
    """{(op, format, name): (seconds, bytes)} for every dumped document."""
    results = {}
    for path in sorted(glob.glob(os.path.join(docs_dir, "*"))):
        name, ext = os.path.splitext(os.path.basename(path))
        if ext not in FORMATS:
            continue
        fmt_name, fmt = FORMATS[ext]
        with open(path, "rb") as file:
            data = file.read()
        value = plistlib.loads(data)
        results[("read", fmt_name, name)] = (best_time(lambda: plistlib.loads(data)), len(data))
        written = plistlib.dumps(value, fmt=fmt)
        results[("write", fmt_name, name)] = (
            best_time(lambda: plistlib.dumps(value, fmt=fmt)), len(written))
    return results


def load_ours(path):
    """{(op, format, name): (seconds, bytes)} from Google Benchmark's JSON output; with
    --benchmark_repetitions, the best repetition (as for plistlib)."""
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    with open(path, encoding="utf-8") as file:
        report = json.load(file)
    results = {}
    for bench in report["benchmarks"]:
        if bench.get("run_type", "iteration") != "iteration" or "bytes_per_second" not in bench:
            continue
        key = tuple(bench["run_name"].split("/")[:3])
        seconds = bench["cpu_time"] * scale[bench["time_unit"]]
        if key not in results or seconds < results[key][0]:
            results[key] = (seconds, bench["bytes_per_second"] * seconds)
    return results


def has_gnu_time():
    try:
        run = subprocess.run([GNU_TIME, "-f", "%M", "true"], capture_output=True, check=False)
        return run.returncode == 0
    except OSError:
        return False


def peak_rss_kib(tool, path, gnu_time):
    """Peak resident set of `tool check < path`, in KiB. Linux carries a process's peak
    across exec, so GNU time (a small process) starts the tool where it is available;
    otherwise ru_maxrss of the child, measured before this script has grown."""
    with open(path, "rb") as stdin:
        if gnu_time:
            run = subprocess.run([GNU_TIME, "-f", "%M", tool, "check"], stdin=stdin,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
            return int(run.stderr.decode().split()[-1])
        child = subprocess.Popen([tool, "check"], stdin=stdin, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        raise RuntimeError(f"{tool} check < {path} failed")
    return usage.ru_maxrss // 1024 if sys.platform == "darwin" else usage.ru_maxrss


def report_memory(tool, docs_dir):
    """Lines reporting the peak memory of reading each document, above a tiny file's."""
    gnu_time = has_gnu_time()
    with tempfile.NamedTemporaryFile(suffix=".xml") as tiny:
        tiny.write(plistlib.dumps({"a": 1}))
        tiny.flush()
        base = peak_rss_kib(tool, tiny.name, gnu_time)
    lines = [f"\npeak RSS of `plist_tool check < FILE` (tiny file: {base} KiB; "
             f"{'GNU time' if gnu_time else 'ru_maxrss'})",
             f"{'file':<22}{'size MB':>9}{'peak MB':>9}{'above tiny MB':>15}{'x file':>8}"]
    for path in sorted(glob.glob(os.path.join(docs_dir, "*"))):
        if os.path.splitext(path)[1] not in FORMATS:
            continue
        size = os.path.getsize(path)
        peak = peak_rss_kib(tool, path, gnu_time)
        extra = (peak - base) * 1024
        lines.append(f"{os.path.basename(path):<22}{size / 1e6:>9.2f}{peak * 1024 / 1e6:>9.1f}"
                     f"{extra / 1e6:>15.1f}{extra / size:>8.1f}")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("docs_dir")
    parser.add_argument("--compare", help="plist_bench JSON output")
    parser.add_argument("--tool", help="plist_tool, to measure peak memory while reading")
    args = parser.parse_args()

    memory = report_memory(args.tool, args.docs_dir) if args.tool else []
    theirs = time_plistlib(args.docs_dir)
    ours = load_ours(args.compare) if args.compare else {}
    missed = []
    print(f"{'operation':<28}{'MB':>7}{'ours MB/s':>11}{'plistlib MB/s':>15}{'speed-up':>10}"
          f"  target")
    for key in sorted(theirs):
        op, fmt_name, name = key
        seconds, size = theirs[key]
        line = f"{op + '/' + fmt_name + '/' + name:<28}{size / 1e6:>7.2f}"
        if key not in ours:
            print(f"{line}{'-':>11}{size / seconds / 1e6:>15.1f}")
            continue
        our_seconds, our_size = ours[key]
        rate, speedup = our_size / our_seconds, seconds / our_seconds
        notes = []
        if rate < TARGETS[(op, fmt_name)]:
            notes.append(f"below {TARGETS[(op, fmt_name)] / 1e6:.0f} MB/s")
        if speedup < MIN_SPEEDUP:
            notes.append(f"under {MIN_SPEEDUP:.0f}x plistlib")
        missed += [f"{op}/{fmt_name}/{name}: {note}" for note in notes]
        print(f"{line}{rate / 1e6:>11.1f}{size / seconds / 1e6:>15.1f}{speedup:>9.1f}x"
              f"  {'; '.join(notes) or 'met'}")

    mixed = sorted({k[2] for k in ours if k[2].startswith("mixed")},
                   key=lambda n: ours[("read", "xml", n)][1])
    if mixed and any(k[2] == "wide" for k in ours):
        largest = mixed[-1]
        print(f"\nwide vs {largest}, time per MB (limit {WIDE_LIMIT}x):")
        for op in ("read", "write"):
            for fmt_name in ("xml", "binary"):
                wide_s, wide_b = ours[(op, fmt_name, "wide")]
                mix_s, mix_b = ours[(op, fmt_name, largest)]
                ratio = (wide_s / wide_b) / (mix_s / mix_b)
                verdict = "met" if ratio <= WIDE_LIMIT else "MISSED"
                print(f"  {op}/{fmt_name}: {ratio:.2f}x  {verdict}")
                if ratio > WIDE_LIMIT:
                    missed.append(f"{op}/{fmt_name}/wide: {ratio:.2f}x the mixed time per MB")

    for line in memory:
        print(line)
    if ours:
        print("\nall throughput targets met" if not missed else "\nmissed:\n  " + "\n  ".join(missed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
