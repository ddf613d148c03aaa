#!/usr/bin/env python3
"""End to end: the real tarvex executable under Xvfb, with a temporary home
and settings file. Usage: startup_e2e.py TARVEX SAMPLE"""
import configparser
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TARVEX, SAMPLE = os.path.abspath(sys.argv[1]), sys.argv[2]

CLOSE_KEYS = ["FileName", "Left", "Top", "Height", "Width", "GrCheck", "TsCheck", "Slider2", "Cmd", "Apldir"]


def run_tarvex(home, settings, shot, *args, cwd=None):
    env = dict(os.environ)
    env.pop("QT_QPA_PLATFORM", None)  # a real X server this time
    env.pop("TARVEX_HOME", None)
    env.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp())
    cmd = ["xvfb-run", "-a", TARVEX, "--home", home, "--settings", settings, "--screenshot", shot, *args]
    out = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=60, cwd=cwd)
    report = dict(line.split("\t", 1) for line in out.stdout.splitlines() if "\t" in line)
    return out.returncode, report


class StartUp(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarvex-e2e-")
        self.home = os.path.join(self.dir, "home")
        self.settings = os.path.join(self.dir, "settings.ini")
        self.shot = os.path.join(self.dir, "shot.png")
        folder = os.path.join(self.dir, "my programs")
        os.mkdir(folder)
        self.program = os.path.join(folder, "sample 1.nc")
        shutil.copy(SAMPLE, self.program)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def check_first_start(self, rc, report):
        self.assertEqual(rc, 0)
        with open(self.shot, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        ini = configparser.ConfigParser(interpolation=None)
        ini.optionxform = str
        ini.read(self.settings, encoding="utf-8")
        for key in CLOSE_KEYS:
            self.assertIn(key, ini["Tarvex"], key)
        self.assertEqual(ini["Tarvex"]["Width"], "8000")
        self.assertEqual(ini["Tarvex"]["Height"], "6000")
        self.assertEqual(ini["Tarvex"]["FileName"], "FANUC")
        self.assertEqual(ini["Tarvex"]["Cmd"], "1")
        with open(os.path.join(self.home, "RS232C", "FANUC"), "rb") as f:
            lines = f.read().split(b"\r\n")
        self.assertEqual(len(lines), 19)  # eighteen lines, each ended by CR LF
        self.assertEqual(lines[0], b"1")
        self.assertEqual(lines[15], b"&H14")
        with open(os.path.join(self.home, "TARVEX.RGB"), "rb") as f:
            records = f.read().split(b"\r\n")
        self.assertEqual(records[:20], [b'"",16777215'] * 20)
        self.assertEqual(records[20], b"")

    def test_program_on_the_command_line(self):
        rc, report = run_tarvex(self.home, self.settings, self.shot, self.program)
        self.check_first_start(rc, report)
        self.assertEqual(report.get("caption"), " Tarvex [ %s ]" % self.program)
        self.assertEqual(report.get("status2"), "sample 1.nc")

    def test_program_in_double_quotes(self):
        rc, report = run_tarvex(self.home, self.settings, self.shot, '"%s"' % self.program)
        self.check_first_start(rc, report)
        self.assertEqual(report.get("caption"), " Tarvex [ %s ]" % self.program)

    def test_program_named_relative_to_the_current_folder(self):
        folder, name = os.path.split(self.program)
        rc, report = run_tarvex(self.home, self.settings, self.shot, name, cwd=folder)
        self.assertEqual(rc, 0)
        self.assertEqual(report.get("status2"), "sample 1.nc")
        self.assertTrue(os.path.isfile(os.path.join(self.home, "SUBPRO", "O1000")))

    def test_unreadable_program_starts_empty(self):
        rc, report = run_tarvex(self.home, self.settings, self.shot, os.path.join(self.dir, "none.nc"))
        self.assertEqual(rc, 0)
        self.assertEqual(report.get("caption"), " Tarvex ")
        self.assertTrue(os.path.isfile(self.settings))

    def test_second_start_keeps_the_state(self):
        run_tarvex(self.home, self.settings, self.shot)
        ini = configparser.ConfigParser(interpolation=None)
        ini.optionxform = str
        ini.read(self.settings, encoding="utf-8")
        ini["Tarvex"]["Cmd"] = "0"
        ini["Tarvex"]["Left"] = "-48000"
        with open(self.settings, "w", encoding="utf-8") as f:
            ini.write(f, space_around_delimiters=False)
        rc, report = run_tarvex(self.home, self.settings, self.shot)
        self.assertEqual(rc, 0)
        self.assertEqual(report.get("caption"), " Tarvex ")
        ini.read(self.settings, encoding="utf-8")
        self.assertEqual(ini["Tarvex"]["Cmd"], "0")
        self.assertEqual(ini["Tarvex"]["Left"], "0")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
