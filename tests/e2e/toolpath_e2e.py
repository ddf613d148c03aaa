#!/usr/bin/env python3
"""End to end: tarvex-cli expand against the expected outputs, its DXF files
opened by a real DXF reader (ezdxf, with an audit), and its plot images.
Usage: toolpath_e2e.py TARVEX_CLI DATA_DIR SAMPLE [CORPUS_DIR]"""
import glob
import math
import os
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import ezdxf
from outcome import run_tests

CLI, DATA, SAMPLE = sys.argv[1], sys.argv[2], sys.argv[3]
CORPUS = sys.argv[4] if len(sys.argv) > 4 else ""


def cli(*args):
    return subprocess.run([CLI, *args], capture_output=True, timeout=120)


def corpus_programs():
    programs = sorted(glob.glob(os.path.join(CORPUS, "*"))) if CORPUS else []
    return [p for p in programs if os.path.isfile(p) and not p.endswith(".md")]


def segments(expansion):
    """The segments of an expand output: (x, y, i, j, motion) each."""
    rows = [l.split() for l in expansion.splitlines() if l[:1].isdigit()]
    return [(float(r[1]), float(r[2]), float(r[3]), float(r[4]), int(r[5])) for r in rows]


def xy(v):
    return (v.x, v.y)


def same_point(a, b):
    return all(abs(p - q) <= 1e-4 * max(1.0, abs(p), abs(q)) for p, q in zip(a, b))


def drawing_matches(dxf_path, expansion):
    """Whether the DXF's entities draw the expanded path: each line from the
    end of the move before it (after an arc or a rapid too), each arc about
    the start point plus I, J through both ends, in order. Returns the first
    mismatch, or None."""
    entities = list(ezdxf.readfile(dxf_path).modelspace())
    k, px, py = 0, 0.0, 0.0
    for n, (x, y, i, j, motion) in enumerate(segments(expansion)):
        if motion in (1, 2, 3):
            if k >= len(entities):
                return "segment %d: no entity" % n
            e = entities[k]
            k += 1
            kind = e.dxftype()
            if motion == 1 and (x, y) == (px, py):
                ok = kind == "POINT" and same_point(xy(e.dxf.location), (x, y))
            elif motion == 1:
                ok = kind == "LINE" and same_point(xy(e.dxf.start) + xy(e.dxf.end), (px, py, x, y))
            else:
                cx, cy, r = px + i, py + j, math.hypot(i, j)
                ok = kind in ("ARC", "CIRCLE") and same_point(xy(e.dxf.center) + (e.dxf.radius,), (cx, cy, r))
                if ok and kind == "ARC" and r > 0:  # radius 0: a homing move read as an arc
                    ends = [(cx + r * math.cos(math.radians(a)), cy + r * math.sin(math.radians(a)))
                            for a in (e.dxf.start_angle, e.dxf.end_angle)]
                    want = [(px, py), (x, y)] if motion == 3 else [(x, y), (px, py)]
                    # an end off the circle is drawn where its direction meets it
                    on = [(cx + r * (wx - cx) / d, cy + r * (wy - cy) / d) if d > 1e-6 else None
                          for wx, wy in want for d in [math.hypot(wx - cx, wy - cy)]]
                    ok = all(b is None or same_point(a, b) for a, b in zip(ends, on))
            if not ok:
                return "segment %d: %s %s" % (n, kind, (px, py, x, y, i, j, motion))
        px, py = x, y
    return None if k == len(entities) else "%d entities beyond the path" % (len(entities) - k)


def same_expansion(got, expected):
    """Whether two outputs of expand agree: words exactly, numbers within
    what single precision can be asked for. The centre offsets (I, J) of an
    arc by R near a half circle hang on a square root of a rounding error:
    for them a thousandth is close enough."""
    got_lines, expected_lines = got.splitlines(), expected.splitlines()
    if len(got_lines) != len(expected_lines):
        return False
    for g_line, e_line in zip(got_lines, expected_lines):
        g_words, e_words = g_line.split(), e_line.split()
        if len(g_words) != len(e_words):
            return False
        segment = g_words[0].isdigit()
        for k, (g, e) in enumerate(zip(g_words, e_words)):
            try:
                a, b = float(g), float(e)
            except ValueError:
                if g != e:
                    return False
                continue
            near = 1e-3 if segment and k in (3, 4) else 1e-6 * max(1.0, abs(a), abs(b))
            if abs(a - b) > near:
                return False
    return True


class Toolpath(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarvex-e2e-")
        self.home = os.path.join(self.dir, "home")
        os.makedirs(os.path.join(self.home, "Mcode"))
        with open(os.path.join(self.home, "Mcode", "M08"), "wb") as f:
            f.write(b" 1 \r\n 255 \r\nG01X1.\r\n")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_expand_matches_the_expected_output(self):
        cases = sorted(glob.glob(os.path.join(DATA, "expand", "*.nc")))
        self.assertGreaterEqual(len(cases), 3)
        for program in cases:
            base = program[:-3]
            with open(base + ".args") as f:
                options = f.read().split()
            with open(base + ".expected", "rb") as f:
                expected = f.read()
            out = cli("expand", program, "--home", self.home, *options)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertTrue(same_expansion(out.stdout.decode(), expected.decode()),
                            "%s\n%s" % (program, out.stdout.decode()))
            summary = cli("expand", program, "--home", self.home, "--summary", *options)
            tail = [l for l in expected.decode().splitlines() if not l[0].isdigit()]
            self.assertEqual(summary.stdout.decode().splitlines(), tail)

    def check_dxf(self, program, expect_entities):
        out_path = os.path.join(self.dir, "out.dxf")
        out = cli("dxf", program, out_path, "--home", self.home)
        self.assertEqual(out.returncode, 0, out.stderr)
        doc = ezdxf.readfile(out_path)
        auditor = doc.audit()
        self.assertEqual(len(auditor.errors), 0, (program, auditor.errors))
        entities = [e.dxftype() for e in doc.modelspace()]
        self.assertTrue(set(entities) <= {"LINE", "ARC", "CIRCLE", "POINT"}, program)
        if expect_entities:
            self.assertGreater(len(entities), 0, program)
        self.assertEqual({e.dxf.layer for e in doc.modelspace()} - {"NC"}, set())
        expansion = cli("expand", program, "--home", self.home).stdout.decode()
        self.assertIsNone(drawing_matches(out_path, expansion), program)
        return entities

    def test_dxf_of_the_sample_opens_cleanly(self):
        entities = self.check_dxf(SAMPLE, True)
        self.assertIn("ARC", entities)
        self.assertIn("CIRCLE", entities)  # the full circle of the pocket

    def test_dxf_of_real_programs_opens_cleanly(self):
        programs = corpus_programs()
        if not programs:
            self.skipTest("no corpus of real programs beside the project")
        for program in programs:
            self.check_dxf(program, False)

    def test_parallel_exports_on_one_data_folder_equal_their_lone_runs(self):
        """Exports run at once on one data folder, while another process
        expands there again and again, each write the drawing of its own
        program. Programs whose lone run depends on what others store are
        left out: the subprogram store is shared on purpose."""
        programs = corpus_programs()
        if not programs:
            self.skipTest("no corpus of real programs beside the project")
        def export(program, home, out):
            return subprocess.Popen([CLI, "dxf", program, out, "--home", home],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        def read(path):
            with open(path, "rb") as f:
                return f.read()
        full = os.path.join(self.dir, "full")
        for program in programs:
            export(program, full, os.path.join(self.dir, "scratch.dxf")).wait()
        lone, stored = {}, {}
        for n, program in enumerate(programs):
            home, out = os.path.join(self.dir, "lone%d" % n), os.path.join(self.dir, "lone%d.dxf" % n)
            self.assertEqual(export(program, home, out).wait(), 0, program)
            export(program, full, out + ".full").wait()
            names = set(os.listdir(os.path.join(home, "SUBPRO")))
            if read(out) == read(out + ".full") and not names & set().union(*stored.values()):
                lone[program], stored[program] = read(out), names
        self.assertGreaterEqual(len(lone), 15)
        shared = os.path.join(self.dir, "shared")
        busy = subprocess.Popen(["sh", "-c", 'while :; do "$0" expand "$1" --home "$2" >/dev/null; done',
                                 CLI, SAMPLE, shared], start_new_session=True)
        try:
            runs = {p: (export(p, shared, os.path.join(self.dir, "par%d.dxf" % n)), "par%d.dxf" % n)
                    for n, p in enumerate(lone)}
            for program, (proc, name) in runs.items():
                self.assertEqual(proc.wait(), 0, program)
                self.assertEqual(read(os.path.join(self.dir, name)), lone[program], program)
        finally:
            os.killpg(busy.pid, signal.SIGKILL)
            busy.wait()
            time.sleep(0.2)

    def test_arcs_where_single_precision_rounds(self):
        """A half circle by R on a chord not exact in binary, and a full circle
        from a point where its centre rounds: both drawn, the circle a
        CIRCLE; the command line says how the expansion ended."""
        program = os.path.join(self.dir, "round.nc")
        with open(program, "wb") as f:
            f.write(b"G01X-.15\r\nG02X.3R.225\r\nG00X-129.108Y-31.624998\r\n"
                    b"G03X-129.108Y-31.624998I-5.J-4.\r\nG01X1.\r\n")
        out = cli("expand", program, "--home", self.home, "--summary")
        self.assertEqual(out.stdout.decode().splitlines()[0], "count 5")
        self.assertEqual(out.stdout.decode().splitlines()[-1], "end ok")
        dxf_path = os.path.join(self.dir, "round.dxf")
        out = cli("dxf", program, dxf_path, "--home", self.home)
        self.assertEqual(out.stderr.decode(), "end ok\n")
        kinds = [e.dxftype() for e in ezdxf.readfile(dxf_path).modelspace()]
        self.assertEqual(kinds, ["LINE", "ARC", "CIRCLE", "LINE"])
        # An R truly too small still ends the expansion, and says where.
        with open(program, "wb") as f:
            f.write(b"G01X1.\r\n(x)\r\nG02X10.R1.\r\nG01X20.\r\n")
        out = cli("expand", program, "--home", self.home, "--summary")
        self.assertEqual(out.returncode, 0)
        self.assertEqual(out.stdout.decode().splitlines()[-1], "end error radius line 3")
        out = cli("plot", program, os.path.join(self.dir, "p.png"), "--home", self.home)
        self.assertEqual(out.stderr.decode(), "end error radius line 3\n")

    def test_the_spiral_pocket_draws_all_its_moves(self):
        pocket = os.path.join(CORPUS, "vsc_sample_circular_pocket.nc") if CORPUS else ""
        if not os.path.isfile(pocket):
            self.skipTest("no corpus of real programs beside the project")
        lines = cli("expand", pocket, "--home", self.home, "--summary").stdout.decode().splitlines()
        self.assertEqual(lines[0], "count 76")
        self.assertEqual(lines[-1], "end ok")

    def test_plot_writes_a_png_of_the_requested_size(self):
        png = os.path.join(self.dir, "plot.png")
        out = cli("plot", SAMPLE, png, "--size", "640x400", "--rapids", "--markings", "--home", self.home)
        self.assertEqual(out.returncode, 0, out.stderr)
        with open(png, "rb") as f:
            head = f.read(24)
        self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", head[16:24]), (640, 400))
        # A disk that fills up fails the command and keeps the old image whole.
        with open(png, "rb") as f:
            before = f.read()
        full = subprocess.run([CLI, "plot", SAMPLE, png, "--size", "1900x1900", "--home", self.home],
                              capture_output=True, timeout=120,
                              preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096)))
        self.assertEqual(full.returncode, 2, full.stderr)
        with open(png, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_measure_picks_and_chains_on_the_sample(self):
        """Picking the same element twice keeps it once; a second element adds
        to the sum; a press beside the path picks nothing and keeps the sum.
        A chain follows the cutting moves from the picked one."""
        def measure(*args):
            out = cli("measure", SAMPLE, "--home", self.home, *args)
            self.assertEqual(out.returncode, 0, out.stderr)
            return out.stdout.decode("utf-8").splitlines()
        self.assertEqual(measure("--at", "35,60", "--at", "35,60", "--at", "80,25", "--at", "200,200"),
                         ["5 選択周長 : 70.0㎜", "5 選択周長 : 70.0㎜",
                          "3 選択周長 : 120.0㎜", "none 選択周長 : 120.0㎜"])
        self.assertEqual(measure("--chain", "--at", "35,60"), ["5 選択周長 : 302.832㎜"])
        self.assertEqual(measure("--total"), ["cutting 451.704", "rapid 225.036"])

    def test_estimate_of_a_program_timed_by_hand(self):
        """A feedless move 10 mm; rapid (0,0,0)->(0,0,10) 14.142 mm and Z50. 50 mm at
        1000 mm/min: 3.85 s; cutting 10 + 100 mm at F100, a circle of R50 (314.159 mm)
        at F100, 10 mm at 0.1 mm/rev x S1000, 100 mm at F200: 290.50 s; dwells 2.5 + 1.5 s;
        two tool changes of 30 s: 358.34 s. The stored O100 three times, 15 mm at
        F600 each: 4.5 s more; O200 is stored nowhere. Nothing after M30 counts."""
        program = os.path.join(self.dir, "timed.nc")
        with open(program, "wb") as f:
            f.write(b"%\r\nO1\r\nG21G90G94\r\nG01X10.\r\nT1M06\r\nS1000M03\r\nG00X0Y0Z10.\r\nG01Z0F100.\r\n"
                    b"X100.\r\nG03X100.Y0I-50.J0\r\nG04P2500\r\nG04X1.5\r\nG95G01Y10.F0.1\r\nG94G00Z50.\r\n"
                    b"T2M06\r\nG01X0F200.\r\nM98P100L3\r\nM98P200\r\nM30\r\nG01X500.\r\n%\r\n")
        os.makedirs(os.path.join(self.home, "SUBPRO"))
        with open(os.path.join(self.home, "SUBPRO", "O100"), "wb") as f:
            f.write(b"O0100\r\nG91G01X15.F600.\r\nG90\r\nM99\r\n")
        out = cli("estimate", program, "--rapid", "1000", "--tool-change", "30", "--home", self.home)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout.decode().splitlines(),
                         ["cutting 0:04:55", "rapid 0:00:04", "dwell 0:00:04", "tool changes 2", "no feed 1 moves",
                          "calls not followed 1 (M98P200)", "total 0:06:03"])

    def test_unreadable_program_is_an_error(self):
        out = cli("expand", os.path.join(self.dir, "none.nc"), "--home", self.home)
        self.assertEqual(out.returncode, 2)
        self.assertIn(b"none.nc", out.stderr)
        self.assertEqual(cli("expand").returncode, 64)
        # A program number beyond what the store takes: told, then expanded.
        program = os.path.join(self.dir, "o.nc")
        with open(program, "wb") as f:
            f.write(b"O40000\r\nG01X1.Y1.\r\nM30\r\n")
        for args in (["expand", program, "--summary"], ["dxf", program, program + ".dxf"],
                     ["plot", program, program + ".png"], ["measure", program, "--total"]):
            out = cli(*args, "--home", self.home)
            self.assertEqual(out.returncode, 3, args)
            self.assertIn("オーバーフローしました。O40000", out.stderr.decode())
        self.assertEqual(out.stdout.decode(), "cutting 1.414\nrapid 0.000\n")


if __name__ == "__main__":
    run_tests([sys.argv[0], "-v"] + sys.argv[5:])
