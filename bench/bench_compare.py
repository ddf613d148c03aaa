#!/usr/bin/env python3
"""Compare of two long programs: a million-line program against a copy with
1 % of its blocks changed (at random places, the same seed every run).
Prints the time of `tarvex-cli compare` (median of 3), the lines it reports
and the blocks that really changed (twice that many: each removed and added).
Usage: bench_compare.py TARVEX_CLI [LINES]"""
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

CLI = sys.argv[1]
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000


def main():
    rng = random.Random(31)
    first = [b"N%dG01X%d.%03dY%d.5F800" % (k, k % 700, k % 1000, k % 300) for k in range(LINES)]
    second = list(first)
    changed = rng.sample(range(LINES), LINES // 100)
    for k in changed:
        second[k] = b"N%dG01X%d.%03dY-%d.5F800" % (k, k % 700, k % 1000, k % 300 + 1)
    with tempfile.TemporaryDirectory() as tmp:
        paths = []
        for name, lines in (("a.nc", first), ("b.nc", second)):
            path = os.path.join(tmp, name)
            with open(path, "wb") as f:
                f.write(b"\r\n".join(lines) + b"\r\n")
            paths.append(path)
        times, reported = [], 0
        for _ in range(3):
            start = time.monotonic()
            out = subprocess.run([CLI, "compare", *paths], capture_output=True)
            times.append(time.monotonic() - start)
            reported = out.stdout.count(b"\n")
        print("compare of %d lines, %d blocks changed: %.2f s (median of 3), %d lines reported (%d expected)"
              % (LINES, len(changed), statistics.median(times), reported, 2 * len(changed)))


if __name__ == "__main__":
    main()
