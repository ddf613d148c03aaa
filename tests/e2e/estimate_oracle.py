#!/usr/bin/env python3
"""The machining time of tarvex-cli estimate, judged by an independent
interpreter: LinuxCNC's rs274 runs each program of our own (lines, arcs,
helices, the three planes, canned cycles, G91, G20, dwells, subprogram calls)
into canonical moves, whose lengths at their feeds and at the rapid rate are
summed here: cutting, rapid and dwell agree within 0.2 %. rs274 reads a
dwell's P in seconds, a control in milliseconds: its dwells are divided by 1,000.
usage: estimate_oracle.py TARVEX_CLI"""
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile

RAPID = 5000.0  # mm/min
PROGRAMS = {
    "lines and arcs": "G21 G17 G90 G94\nG00 X0 Y0 Z10.\nG01 Z-1. F100.\nX50. Y20. F300.\nG02 X70. Y0 I10. J-10.\n"
                      "G03 X50. Y-20. R20.\nG01 X0 Y0\nG00 Z10.\nM30\n",
    "helix and planes": "G21 G90 G94\nG00 X0 Y0 Z5.\nG17 G03 X0 Y0 Z-3. I10. J0 F150.\nG18 G02 X20. Z-3. I10. K0\n"
                        "G19 G03 Y20. Z-3. J10. K0 F80.\nG17\nG00 Z20.\nM30\n",
    "cycles": "G21 G17 G90 G94\nG00 X0 Y0 Z20.\nG98 G81 X10. Y10. Z-5. R2. F120.\nX20.\nG99 G82 X30. Y10. Z-8. R1. P500\n"
              "X40.\nG85 X50. Z-4. R1. F60.\nM30\n",
    "repeats in G91": "G21 G17 G90 G94\nG00 X0 Y0 Z10.\nG91 G99 G81 X10. Y5. Z-5. R-8. L3 F100.\nG90 G80\nM30\n",
    "incremental and inch": "G20 G17 G90 G94\nG00 X0 Y0 Z1.\nG01 Z-0.05 F4.\nG91 X2. Y1. F20.\nX-0.5\nG90 G00 Z1.\n"
                            "G04 P1500\nM30\n",
    "calls": "G21 G17 G90 G94\nG00 X0 Y0 Z5.\nM98 P100 L3\nG00 Z20.\nM30\nO100\nG91 G01 X10. F500.\nY5.\nG90\nM99\n",
}


def rs274_times(folder, name, text):
    """Seconds cutting, at rapid and dwelling, from rs274's canonical moves."""
    path = os.path.join(folder, re.sub(r"\W", "_", name) + ".ngc")
    with open(path, "w") as f:
        f.write("%\n" + text + "%\n")
    out = subprocess.run(["rs274", "-g", path], stdin=subprocess.DEVNULL, capture_output=True, text=True).stdout
    pos, feed, scale, plane = [0.0, 0.0, 0.0], 0.0, 1.0, "XY"
    cutting = rapid = dwell = 0.0
    for line in out.splitlines():
        m = re.search(r"([A-Z_]+)\((.*)\)", line)
        if not m:
            continue
        name, args = m.group(1), m.group(2)
        nums = [float(v) for v in re.findall(r"-?\d+\.\d+|-?\d+", args)] if name != "USE_LENGTH_UNITS" else []
        if name == "USE_LENGTH_UNITS":
            scale = 25.4 if "INCHES" in args else 1.0
        elif name == "SELECT_PLANE":
            plane = args.replace("CANON_PLANE_", "")
        elif name == "SET_FEED_RATE":
            feed = nums[0] * scale
        elif name == "DWELL":
            dwell += nums[0] / 1000
        elif name in ("STRAIGHT_TRAVERSE", "STRAIGHT_FEED"):
            to = nums[:3]
            d = math.dist(pos, to) * scale
            if name == "STRAIGHT_TRAVERSE":
                rapid += d / RAPID * 60
            else:
                cutting += d / feed * 60
            pos = to
        elif name == "ARC_FEED":
            e1, e2, c1, c2, turn, h = nums[:6]
            i1, i2, ih = {"XY": (0, 1, 2), "XZ": (2, 0, 1), "YZ": (1, 2, 0)}[plane]
            r = math.hypot(pos[i1] - c1, pos[i2] - c2)
            a0 = math.atan2(pos[i2] - c2, pos[i1] - c1)
            a1 = math.atan2(e2 - c2, e1 - c1)
            sweep = (a1 - a0) if turn > 0 else (a0 - a1)
            while sweep <= 1e-9:
                sweep += 2 * math.pi
            sweep += 2 * math.pi * (abs(turn) - 1)
            length = math.hypot(r * sweep, h - pos[ih]) * scale
            cutting += length / feed * 60
            to = [0.0, 0.0, 0.0]
            to[i1], to[i2], to[ih] = e1, e2, h
            pos = to
    return cutting, rapid, dwell


def main():
    cli = sys.argv[1]
    if not shutil.which("rs274"):
        print("rs274 is missing (the set-up installs LinuxCNC's interpreter)")
        sys.exit(1)
    bad = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name, text in PROGRAMS.items():
            expected = rs274_times(tmp, name, text)
            with open(os.path.join(tmp, "p.nc"), "w") as f:
                f.write(text.replace("\n", "\r\n"))
            out = subprocess.run([cli, "estimate", f.name, "--rapid", str(RAPID), "--seconds", "--home", tmp], capture_output=True,
                                 text=True)
            got = {k: float(v) for k, v in re.findall(r"^(cutting|rapid|dwell) ([\d.]+)$", out.stdout, re.M)}
            for key, want in zip(("cutting", "rapid", "dwell"), expected):
                ok = abs(got.get(key, -1) - want) <= 0.002 * want + 0.01
                bad += not ok
                print("%-22s %-8s rs274 %9.3f s  tarvex %9.3f s %s" % (name, key, want, got.get(key, -1), ok))
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
