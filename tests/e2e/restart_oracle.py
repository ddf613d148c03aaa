#!/usr/bin/env python3
"""Restart from a block, judged by an independent interpreter.

LinuxCNC's standalone interpreter rs274 runs each program whole, with a
comment marking every line, and the text that `tarvex-cli restart-preamble
--text` would send from a line, with a comment before its first block. The
machine state at the marks and every canonical call after them are compared.

A point is unsafe when the restart's motion before the first block goes
below the heights the full program had reached (a rapid across below the
highest tool tip, a move down below the tool tip at the block), or when the
first cut runs in another state (tool, length offset, speed, spindle, feed,
coolant, plane, units, work offset). Points where rs274 cannot run both texts
are not judged; refusals are counted by reason.

usage: restart_oracle.py TARVEX_CLI [--corpus DIR] [--generated N] [--all] [--seed S]
Exit 1 on any unsafe point, or when fewer than 90 % of the judged points agree.
"""
import argparse
import collections
import os
import random
import re
import bisect
import copy
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

MARK = "TVXMARK"
CLEARANCE = "500"
TOOLS = {1: 10.0, 2: 76.0, 3: 50.0, 4: 120.0, 5: 35.0, 6: 64.0, 8: 20.0}  # lengths in mm
TOOL_DIAMETERS = {1: 6.0, 2: 10.0, 3: 8.0, 4: 12.0, 5: 4.0, 6: 16.0, 8: 3.0}
# Work offsets G54..G57 (rs274 reads its parameter file in inches), and the
# G28 point, Z at the machine's top.
OFFSETS = {5221: (0, 0, 0), 5241: (100.0, 50.0, -20.0), 5261: (-40.0, 80.0, 10.0), 5281: (250.0, -30.0, 5.0),
           5161: (0, 0, 900.0)}


def spans(data):
    """Where each line's text begins and ends, as Save splits lines: CR LF,
    LF CR, a lone CR or LF end one line."""
    out, at = [], 0
    while at < len(data):
        end = at
        while end < len(data) and data[end] not in b"\r\n":
            end += 1
        out.append((at, end))
        if end < len(data):
            partner = b"\n" if data[end:end + 1] == b"\r" else b"\r"
            end += 2 if data[end + 1:end + 2] == partner else 1
        at = end
    return out


def split_lines(data):
    return [data[a:b] for a, b in spans(data)]


def write_setup(folder):
    with open(os.path.join(folder, "tool.tbl"), "w") as f:
        for t, length in TOOLS.items():
            f.write("T%d P%d Z%.6f D%.6f\n" % (t, t, length / 25.4, TOOL_DIAMETERS[t] / 25.4))
    with open(os.path.join(folder, "vars.var"), "w") as f:
        for base, xyz in sorted(OFFSETS.items()):  # rs274 wants them in order
            for k, v in enumerate(xyz):
                f.write("%d %.6f\n" % (base + k, v / 25.4))


CALL = re.compile(r"^\s*\d+\s+N\S*\s+([A-Z_0-9]+)\((.*)\)\s*$")


def rs274(folder, program, name):
    path = os.path.join(folder, name + ".ngc")
    with open(path, "wb") as f:
        f.write(program)
    out = path + ".out"
    # rs274 writes its parameter and tool files back: each run gets copies.
    for kind in ("var", "tbl"):
        with open(os.path.join(folder, "vars.var" if kind == "var" else "tool.tbl"), "rb") as src, \
                open(path + "." + kind, "wb") as dst:
            dst.write(src.read())
    # Its tool table is mapped from a file in HOME: one home per run.
    home = path + ".home"
    os.makedirs(home, exist_ok=True)
    r = subprocess.run(["rs274", "-g", "-t", path + ".tbl", "-v", path + ".var", path, out],
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60,
                       env=dict(os.environ, HOME=home))
    calls = []
    if os.path.exists(out):
        with open(out, "rb") as f:
            for raw in f.read().decode("latin-1").splitlines():
                m = CALL.match(raw)
                if m:
                    calls.append((m.group(1), m.group(2)))
    for p in (path, out, path + ".var", path + ".var.new", path + ".tbl"):
        if os.path.exists(p):
            os.remove(p)
    shutil.rmtree(home, ignore_errors=True)
    ok = r.returncode == 0 and any(c[0] == "PROGRAM_END" for c in calls)
    if not ok and os.environ.get("ORACLE_DEBUG"):
        sys.stderr.write("rs274 %s: %d %s\n" % (name, r.returncode, r.stdout.decode("latin-1")[-300:]))
    return ok, calls


def numbers(args):
    return [float(v) for v in re.findall(r"-?\d+\.\d+|-?\d+", args)]


class Machine:
    """The state rs274's calls put the machine in."""

    def __init__(self):
        self.units = "MM"
        self.plane = "XY"
        self.g5x = (0.0, 0.0, 0.0)
        self.g92 = (0.0, 0.0, 0.0)
        self.rotation = 0.0
        self.tool = 0
        self.tlo = 0.0
        self.speed = 0.0
        self.spindle = "off"
        self.flood = self.mist = False
        self.feed = 0.0
        self.pos = (0.0, 0.0, 0.0)  # in the machine: the controlled point with the offsets added

    def state(self):
        r = lambda v: round(v, 3)
        return (self.units, self.plane, tuple(map(r, self.g5x)), tuple(map(r, self.g92)), r(self.rotation),
                self.tool, r(self.tlo), r(self.speed), self.spindle, self.flood, self.mist, r(self.feed),
                tuple(map(r, self.pos)))

    def cut_state(self):
        return self.state()[:-1]

    def tip(self, z):
        """The tool tip's height in the machine: the controlled point with the
        length offset in force, less the length of the tool really in the spindle."""
        scale = 25.4 if self.units == "INCHES" else 1.0
        return (z + self.tlo) * scale - TOOLS.get(self.tool, 0.0)

    def moved(self, x, y, z):
        o = [self.g5x[k] + self.g92[k] for k in range(3)]
        self.pos = (x + o[0], y + o[1], z + o[2])

    def apply(self, name, args, v):
        if name == "USE_LENGTH_UNITS":
            self.units = "INCHES" if "INCHES" in args else "MM"
        elif name == "SELECT_PLANE":
            self.plane = args.replace("CANON_PLANE_", "")
        elif name == "SET_G5X_OFFSET":
            self.g5x = tuple(v[1:4])
        elif name == "SET_G92_OFFSET":
            self.g92 = tuple(v[0:3])
        elif name == "SET_XY_ROTATION":
            self.rotation = v[0]
        elif name == "CHANGE_TOOL":
            self.tool = int(v[0])
        elif name == "USE_TOOL_LENGTH_OFFSET":
            self.tlo = v[2]
        elif name == "SET_SPINDLE_SPEED":
            self.speed = v[1]
        elif name == "START_SPINDLE_CLOCKWISE":
            self.spindle = "cw"
        elif name == "START_SPINDLE_COUNTERCLOCKWISE":
            self.spindle = "ccw"
        elif name == "STOP_SPINDLE_TURNING":
            self.spindle = "off"
        elif name in ("FLOOD_ON", "FLOOD_OFF"):
            self.flood = name == "FLOOD_ON"
        elif name in ("MIST_ON", "MIST_OFF"):
            self.mist = name == "MIST_ON"
        elif name == "SET_FEED_RATE":
            self.feed = v[0]
        elif name in ("STRAIGHT_TRAVERSE", "STRAIGHT_FEED", "STRAIGHT_PROBE"):
            self.moved(*v[0:3])
        elif name == "ARC_FEED":
            # first_end, second_end, first_axis, second_axis, rotation, axis_end_point
            first, second, axis_end = v[0], v[1], v[5]
            if self.plane == "XY":
                self.moved(first, second, axis_end)
            elif self.plane == "XZ":
                self.moved(second, axis_end, first)
            else:
                self.moved(axis_end, first, second)


IGNORED = {"COMMENT", "SET_MOTION_CONTROL_MODE", "SET_NAIVECAM_TOLERANCE", "ON_RESET", "MESSAGE"}
MOTIONS = {"STRAIGHT_TRAVERSE", "STRAIGHT_FEED", "ARC_FEED", "STRAIGHT_PROBE"}
TEXTUAL = {"USE_LENGTH_UNITS", "SELECT_PLANE"}


class Run:
    """rs274's calls for one text, read once: the marks, and the calls that
    change the machine, for comparing what follows a mark."""

    def __init__(self, calls):
        self.calls = [(n, a, numbers(a)) for n, a in calls]
        self.marks = {}
        self.at, self.keys = [], []
        for i, (n, a, v) in enumerate(self.calls):
            if n == "COMMENT" and MARK in a:
                self.marks.setdefault(int(re.search(MARK + r" (\d+)", a).group(1)), i)
            elif n not in IGNORED:
                self.at.append(i)
                self.keys.append((n, a if n in TEXTUAL else tuple(round(x, 3) for x in v)))

    def tail(self, start):
        return self.keys[bisect.bisect_left(self.at, start):]

    def snapshots(self, wanted):
        """The machine and the highest tool tip so far at each wanted mark."""
        by_index = {self.marks[w]: w for w in wanted if w in self.marks}
        m, highest, out = Machine(), None, {}
        for i, (name, args, v) in enumerate(self.calls):
            if i in by_index:
                out[by_index[i]] = (copy.copy(m), highest)
            m.apply(name, args, v)
            if name in MOTIONS:
                t = m.tip(m.pos[2])
                highest = t if highest is None else max(highest, t)
        return out


def first_cut(machine, calls, start):
    m = copy.copy(machine)
    for name, args, v in calls[start:]:
        if name in ("STRAIGHT_FEED", "ARC_FEED"):
            return m.cut_state()
        m.apply(name, args, v)
    return None


def judge(full, full_mark, snapshot, restart):
    """'exact', 'safe: …' (differs, no harm) or an unsafe reason."""
    rmark = restart.marks.get(0)
    if rmark is None:
        return "no mark"
    machine, highest = snapshot
    tip_at_block = machine.tip(machine.pos[2])
    # The preamble's motion, in the machine the restart sets up.
    m = Machine()
    for name, args, v in restart.calls[:rmark]:
        before = m.pos
        tip_before = m.tip(before[2])
        m.apply(name, args, v)
        if name not in MOTIONS:
            continue
        tip_after = m.tip(m.pos[2])
        across = abs(m.pos[0] - before[0]) > 1e-6 or abs(m.pos[1] - before[1]) > 1e-6
        eps = 0.01  # rs274 prints 4 decimals: inches are 0.0025 mm apart
        # No tip is above the machine's top (the G28 point) less its tool's length.
        ceiling = highest if highest is None else min(highest, OFFSETS[5161][2] - TOOLS.get(m.tool, 0.0))
        if name == "STRAIGHT_TRAVERSE" and across and highest is not None and min(tip_before, tip_after) < ceiling - eps:
            return "unsafe: rapid across below the highest tip (%.3f < %.3f)" % (min(tip_before, tip_after), highest)
        if tip_after < tip_at_block - eps and tip_after < tip_before - eps:
            return "unsafe: moves down below the tip at the block (%.3f < %.3f)" % (tip_after, tip_at_block)
    full_cut = first_cut(machine, full.calls, full_mark)
    restart_cut = first_cut(m, restart.calls, rmark)
    if full_cut != restart_cut:
        return "unsafe: first cut in another state %r != %r" % (restart_cut, full_cut)
    if m.state() == machine.state() and full.tail(full_mark) == restart.tail(rmark):
        return "exact"
    names = ("units", "plane", "g5x", "g92", "rotation", "tool", "tlo", "speed", "spindle", "flood", "mist", "feed", "pos")
    differs = [n for n, a, b in zip(names, m.state(), machine.state()) if a != b]
    return "safe: " + (",".join(differs) if differs else "calls after")


def marked(lines):
    out = []
    for i, line in enumerate(lines):
        if not line.strip().startswith(b"%"):
            out.append(b"(%s %d)" % (MARK.encode(), i))
        out.append(line)
    return b"\n".join(out) + b"\n"


def restart_text(cli, path, line, rest, tmp):
    r = subprocess.run([cli, "restart-preamble", path, "--from-line", str(line + 1), "--clearance", CLEARANCE, "--text"],
                       capture_output=True, timeout=60, env=dict(os.environ, HOME=tmp))
    if r.returncode != 0:
        reason = r.stderr.decode("utf-8", "replace").strip().splitlines()
        reason = [x for x in reason if x.startswith("tarvex-cli:")]
        return None, re.sub(r"\d+(\.\d+)?", "#", reason[-1] if reason else "exit %d" % r.returncode)
    text = r.stdout
    head = text[: len(text) - len(rest)] if rest else text
    # The mark goes before the first block: the last line of what precedes the rest.
    head_lines = split_lines(head)
    if not head_lines:
        return None, "empty"
    body = b"\n".join(head_lines[:-1] + [b"(%s 0)" % MARK.encode(), head_lines[-1]])
    return body + (rest if rest else b"\n"), None


explained = collections.Counter()
examples = {}


def judge_program(cli, path, data, points, tmp, results, refusals, unsafe, lock):
    lines = split_lines(data)
    ok, calls = rs274(tmp, marked(lines), "full%d" % os.getpid() + os.path.basename(path).replace(".", "_"))
    full = Run(calls)
    full_marks = full.marks if ok else {}
    snapshots = full.snapshots(points) if ok else {}
    # The text after each line's own text, as it stands in the file.
    offsets = spans(data)
    rests = lambda i: data[offsets[i][1]:]

    def one(i):
        text, refused = restart_text(cli, path, i, rests(i), tmp)
        with lock:
            if refused:
                refusals[refused] += 1
                return
        if not ok or i not in full_marks:
            with lock:
                results["not judged"] += 1
                explained["not judged: " + ("rs274 fails on the program" if not ok else "line not reached")] += 1
                examples.setdefault("not judged: " + ("rs274 fails on the program" if not ok else "line not reached"),
                                    "%s line %d" % (os.path.basename(path), i + 1))
            return
        rok, rcalls = rs274(tmp, text, "r%d_%d" % (os.getpid(), i) + os.path.basename(path).replace(".", "_"))
        if not rok:
            with lock:
                results["not judged"] += 1
                explained["not judged: rs274 fails on the restart"] += 1
                examples.setdefault("not judged: rs274 fails on the restart", "%s line %d" % (os.path.basename(path), i + 1))
            return
        verdict = judge(full, full_marks[i], snapshots[i], Run(rcalls))
        with lock:
            if verdict.startswith("unsafe") or verdict == "no mark":
                results["unsafe"] += 1
                unsafe.append("%s line %d: %s" % (os.path.basename(path), i + 1, verdict))
            else:
                results[verdict.split(":")[0]] += 1
                if verdict.startswith("safe"):
                    explained[verdict] += 1
                    examples.setdefault(verdict, "%s line %d" % (os.path.basename(path), i + 1))

    with ThreadPoolExecutor(max_workers=int(os.environ.get("ORACLE_JOBS", "2"))) as pool:
        list(pool.map(one, points))


# ---- generated programs -------------------------------------------------

def generate(rng):
    """A mill program in the dialect both read: decimal points everywhere,
    explicit motion codes, one unit system, with the features restarts trip on."""
    inch = rng.random() < 0.15
    s = 1 / 25.4 if inch else 1.0
    f = lambda v: ("%.4f" % (v * s)).rstrip("0")
    out = ["%", "O%04d" % rng.randint(1, 9999), ("G20" if inch else "G21") + " G17 G40 G49 G80 G90 G94"]
    work = rng.choice(["G54", "G55", "G56", "G57"])
    out.append(work)
    shift = rng.random() < 0.2
    z_clear = 30.0 + rng.randint(0, 40)
    tools = rng.sample([t for t in TOOLS], rng.randint(1, 3))
    x, y = 0.0, 0.0
    subs = []
    for t in tools:
        if rng.random() < 0.5:
            out += ["G91 G28 Z0", "G90"]
        out.append("T%d M06" % t)
        out += [rng.choice(["G61", "G64"])] if rng.random() < 0.5 else []
        if rng.random() < 0.5:
            out.append("G00 X%s Y%s" % (f(x), f(y)))
        out.append("G00 G43 H%d Z%s" % (t, f(z_clear)))
        speed, turn = rng.choice([800, 1200, 3000]), rng.choice(["M03", "M03", "M04"])
        # The speed set while the spindle is still off, or with its start.
        out += ["S%d" % speed, turn] if rng.random() < 0.3 else ["S%d %s" % (speed, turn)]
        for c in rng.sample(["M07", "M08"], rng.randint(0, 2)):
            out.append(c)
        if shift:
            out.append("G00 X%s Y%s" % (f(10.0), f(20.0)))
            out.append("G92 X0. Y0.")
            shift = False
        for _ in range(rng.randint(2, 5)):
            kind = rng.choice(["contour", "holes", "incremental", "arcs18", "comp", "helix", "sub"])
            x, y = float(rng.randint(-50, 50)), float(rng.randint(-50, 50))
            depth = -float(rng.randint(1, 8))
            if kind == "sub":
                # A subprogram called a few times that steps in G91 and ends in G90.
                number = 1000 + len(subs)
                out += ["G00 X%s Y%s" % (f(x), f(y)), "G00 Z%s" % f(5.0), "M98 P%d L%d" % (number, rng.randint(1, 3)),
                        "G00 Z%s" % f(z_clear)]
                subs += ["O%d" % number, "G91 G01 Z%s F%s" % (f(-1.0), f(90.0)), "X%s" % f(4.0), "G90", "M99"]
            elif kind == "holes":
                mode = rng.choice(["G98", "G99"])
                cyc = rng.choice(["G81", "G82", "G83"])
                extra = " P0.5" if cyc == "G82" else " Q%s" % f(1.5) if cyc == "G83" else ""
                out.append("G00 X%s Y%s" % (f(x), f(y)))
                out.append("G00 Z%s" % f(5.0 + rng.randint(0, 10)))
                out.append("%s %s X%s Y%s Z%s R%s%s F%s" % (mode, cyc, f(x), f(y), f(depth), f(2.0), extra, f(80.0)))
                for _ in range(rng.randint(1, 4)):
                    x += float(rng.randint(5, 20))
                    if rng.random() < 0.2:
                        out.append("%s X%s" % (cyc, f(x)))
                    else:
                        out.append("X%s" % f(x))
                out.append("G80")
            elif kind == "comp":
                out.append("G00 X%s Y%s" % (f(x - 20), f(y - 20)))
                out.append("G01 Z%s F%s" % (f(depth), f(150.0)))
                out.append("G41 D%d G01 X%s Y%s F%s" % (t, f(x), f(y), f(200.0)))
                out.append("G01 X%s" % f(x + 30))
                out.append("G01 Y%s" % f(y + 30))
                out.append("G40 G01 X%s Y%s" % (f(x + 50), f(y + 50)))
                out.append("G00 Z%s" % f(z_clear))
            elif kind == "incremental":
                out.append("G00 X%s Y%s" % (f(x), f(y)))
                out.append("G01 Z%s F%s" % (f(depth), f(120.0)))
                out.append("G91 G01 X%s Y%s" % (f(10.0), f(5.0)))
                out.append("X%s" % f(-4.5))
                out.append("Y%s Z%s" % (f(2.25), f(-0.5)))
                out.append("G90 G00 Z%s" % f(z_clear))
            elif kind == "arcs18":
                out.append("G00 X%s Y%s" % (f(x), f(y)))
                out.append("G01 Z%s F%s" % (f(-2.0), f(300.0)))
                out.append("G18 G02 X%s Z%s I%s K%s" % (f(x + 20), f(-2.0), f(10.0), f(0.0)))
                out.append("G17")
                out.append("G00 Z%s" % f(z_clear))
            elif kind == "helix":
                out.append("G00 X%s Y%s" % (f(x), f(y)))
                out.append("G01 Z%s F%s" % (f(0.5), f(250.0)))
                out.append("G03 X%s Y%s Z%s I%s J%s" % (f(x), f(y), f(depth), f(5.0), f(0.0)))
                out.append("G00 Z%s" % f(z_clear))
            else:
                out.append("G00 X%s Y%s" % (f(x), f(y)))
                out.append("G01 Z%s F%s" % (f(depth), f(100.0 + rng.randint(0, 400))))
                for _ in range(rng.randint(2, 5)):
                    x += float(rng.randint(-20, 20))
                    y += float(rng.randint(-20, 20))
                    out.append("G01 X%s Y%s" % (f(x), f(y)))
                if rng.random() < 0.3:
                    out.append("G02 X%s Y%s R%s" % (f(x + 10), f(y), f(5.0)))
                    x += 10
                out.append("G00 Z%s" % f(z_clear))
            if rng.random() < 0.1:
                out.append("M01")
        out.append("M05")
        out.append("M09")
    out += ["G00 Z%s" % f(z_clear), "M30"] + subs + ["%"]
    return ("\r\n".join(out) + "\r\n").encode()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("--corpus")
    ap.add_argument("--generated", type=int, default=40)
    ap.add_argument("--all", action="store_true", help="every line of every program")
    ap.add_argument("--seed", type=int, default=22)
    ap.add_argument("--explain", action="store_true", help="say how the safe points differ")
    ap.add_argument("--max-points", type=int, default=120, help="restart points per program without --all")
    a = ap.parse_args()
    if not shutil.which("rs274"):
        sys.exit("rs274 is missing (the set-up installs LinuxCNC's interpreter)")

    results = collections.Counter()
    refusals = collections.Counter()
    unsafe = []
    import threading
    lock = threading.Lock()
    with tempfile.TemporaryDirectory() as tmp:
        write_setup(tmp)
        programs = []
        if a.corpus and os.path.isdir(a.corpus):
            for name in sorted(os.listdir(a.corpus)):
                p = os.path.join(a.corpus, name)
                if os.path.isfile(p) and name.split(".")[-1] in ("nc", "ngc", "gcode", "txt") and name != "SOURCES.md":
                    programs.append(p)
        rng = random.Random(a.seed)
        for k in range(a.generated):
            p = os.path.join(tmp, "gen%03d.nc" % k)
            with open(p, "wb") as f:
                f.write(generate(rng))
            programs.append(p)
        for p in programs:
            data = open(p, "rb").read()
            n = len(split_lines(data))
            points = list(range(n))
            # rs274 runs the rest of the program from each point: fewer points in long programs.
            wanted = a.max_points if a.all else min(a.max_points, max(6, 60000 // max(n, 1)))
            if not a.all and n > wanted:
                step = n / wanted
                points = sorted({int(k * step) for k in range(wanted)})
            judge_program(a.cli, p, data, points, tmp, results, refusals, unsafe, lock)

    judged = results["exact"] + results["safe"] + results["unsafe"]
    print("points %d, judged %d: exact %d, safe but different %d, unsafe %d; not judged %d; refused %d"
          % (sum(results.values()) + sum(refusals.values()), judged, results["exact"], results["safe"],
             results["unsafe"], results["not judged"], sum(refusals.values())))
    if judged:
        print("agreement %.1f %%" % (100.0 * results["exact"] / judged))
    for reason, count in refusals.most_common():
        print("refused %5d  %s" % (count, reason))
    for u in unsafe[:40]:
        print(u)
    if a.explain:
        for why, count in explained.most_common():
            print("%5d %s (e.g. %s)" % (count, why, examples[why]))
    if results["unsafe"] or not judged or results["exact"] < 0.9 * judged:
        sys.exit(1)
    if a.corpus is not None and not os.path.isdir(a.corpus):
        print("no corpus of real programs beside the project: only generated programs were judged")
        sys.exit(77)


if __name__ == "__main__":
    main()
