#!/usr/bin/env python3
"""End to end: tarvex-cli expand against the expected outputs, its DXF files
opened by a real DXF reader (ezdxf, with an audit), and its plot images.
Usage: toolpath_e2e.py TARVEX_CLI DATA_DIR SAMPLE [CORPUS_DIR]"""
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import ezdxf

CLI, DATA, SAMPLE = sys.argv[1], sys.argv[2], sys.argv[3]
CORPUS = sys.argv[4] if len(sys.argv) > 4 else ""


def cli(*args):
    return subprocess.run([CLI, *args], capture_output=True, timeout=120)


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
            self.assertEqual(out.stdout.decode(), expected.decode(), program)
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
        return entities

    def test_dxf_of_the_sample_opens_cleanly(self):
        entities = self.check_dxf(SAMPLE, True)
        self.assertIn("ARC", entities)
        self.assertIn("CIRCLE", entities)  # the full circle of the pocket

    def test_dxf_of_real_programs_opens_cleanly(self):
        programs = sorted(glob.glob(os.path.join(CORPUS, "*"))) if CORPUS else []
        programs = [p for p in programs if os.path.isfile(p) and not p.endswith(".md")]
        if not programs:
            self.skipTest("no corpus of real programs beside the project")
        for program in programs:
            self.check_dxf(program, False)

    def test_plot_writes_a_png_of_the_requested_size(self):
        png = os.path.join(self.dir, "plot.png")
        out = cli("plot", SAMPLE, png, "--size", "640x400", "--rapids", "--markings", "--home", self.home)
        self.assertEqual(out.returncode, 0, out.stderr)
        with open(png, "rb") as f:
            head = f.read(24)
        self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", head[16:24]), (640, 400))

    def test_unreadable_program_is_an_error(self):
        out = cli("expand", os.path.join(self.dir, "none.nc"), "--home", self.home)
        self.assertEqual(out.returncode, 2)
        self.assertIn(b"none.nc", out.stderr)
        self.assertEqual(cli("expand").returncode, 64)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
