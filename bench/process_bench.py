#!/usr/bin/env python3
"""What a user waits for: the whole process of one `korvex get`.

Runs each command 20 times (after two warm-up runs) and prints min/median/max
wall time in milliseconds, with the medians' ratios to `true` and to reading
the machine's files with `cat`. The machine's caches are brought up to date
first, so the tool starts as it does on a configured shop-floor PC.

    bench/process_bench.py [--korvex build-release/korvex] [--machine machines/sample]
                           [--name StationCount] [--runs 20]
"""
import argparse
import os
import statistics
import subprocess
import sys
import time


def timed(argv, runs):
    for _ in range(2):
        subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    samples = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        samples.append((time.perf_counter() - start) * 1000.0)
    return min(samples), statistics.median(samples), max(samples)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--korvex", default="build-release/korvex")
    parser.add_argument("--machine", default="machines/sample")
    parser.add_argument("--name", default="StationCount")
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()

    files = sorted(os.path.join(args.machine, f) for f in os.listdir(args.machine)
                   if os.path.isfile(os.path.join(args.machine, f)))
    tool = [args.korvex, "-m", args.machine]
    subprocess.run(tool + ["check"], stdout=subprocess.DEVNULL, check=True)
    rows = [
        ("true", ["true"]),
        ("cat of the machine's files", ["cat"] + files),
        (f"korvex get {args.name}", tool + ["get", args.name]),
        (f"korvex --structures get {args.name}", tool + ["--structures", "get", args.name]),
    ]
    results = [(label, timed(argv, args.runs)) for label, argv in rows]
    base_true = results[0][1][1]
    base_cat = results[1][1][1]
    print(f"{'command':40} {'min':>9} {'median':>9} {'max':>9} {'x true':>8} {'x cat':>8}  (ms, {args.runs} runs)")
    for label, (lo, med, hi) in results:
        print(f"{label:40} {lo:9.1f} {med:9.1f} {hi:9.1f} {med / base_true:8.1f} {med / base_cat:8.1f}")
    print(f"\nload average: {open('/proc/loadavg').read().split()[0]}", file=sys.stderr)


if __name__ == "__main__":
    main()
