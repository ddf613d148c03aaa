#!/usr/bin/env python3
"""End to end: the real tarvex executable under Xvfb, with a temporary home
and settings file. Usage: startup_e2e.py TARVEX SAMPLE"""
import configparser
import os
import struct
import zlib
import pwd
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from outcome import run_tests

TARVEX, SAMPLE = os.path.abspath(sys.argv[1]), sys.argv[2]

CLOSE_KEYS = ["FileName", "Left", "Top", "Height", "Width", "GrCheck", "TsCheck", "Slider2", "Cmd", "Apldir"]


def run_tarvex(home, settings, shot, *args, cwd=None, display=None, prefix=(), program=TARVEX, env_extra=None):
    """Starts tarvex, lets --screenshot close it; returns the exit code and the
    report (message boxes under "messages", a list)."""
    env = dict(os.environ)
    env.pop("QT_QPA_PLATFORM", None)  # a real X server this time
    env.pop("TARVEX_HOME", None)
    env.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp())
    env.update(env_extra or {})
    cmd = [*prefix, program, "--home", home, "--settings", settings, "--screenshot", shot, *args]
    if display:
        env["DISPLAY"] = display
    else:
        cmd = ["xvfb-run", "-a", *cmd]
    out = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=60, cwd=cwd)
    lines = [line.split("\t", 1) for line in out.stdout.splitlines() if "\t" in line]
    report = {k: v for k, v in lines if k != "message"}
    report["messages"] = [v for k, v in lines if k == "message"]
    return out.returncode, report


def png_colours(path):
    """How many pixels of each (r, g, b) an 8-bit RGB or RGBA picture holds,
    as Qt writes them (not interlaced)."""
    with open(path, "rb") as f:
        data = f.read()
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    assert depth == 8 and ctype in (2, 6) and interlace == 0
    bpp = 3 if ctype == 2 else 4
    raw, stride, counts = zlib.decompress(idat), width * bpp, {}
    prev, p = bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[p], bytearray(raw[p + 1:p + 1 + stride])
        p += 1 + stride
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b, c = prev[x], prev[x - bpp] if x >= bpp else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        for x in range(0, stride, bpp):
            rgb = bytes(line[x:x + 3])
            counts[rgb] = counts.get(rgb, 0) + 1
        prev = line
    return counts


def read_ini(path):
    ini = configparser.ConfigParser(interpolation=None)
    ini.optionxform = str
    ini.read(path, encoding="utf-8")
    return ini


def write_ini(ini, path):
    with open(path, "w", encoding="utf-8") as f:
        ini.write(f, space_around_delimiters=False)


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
        # Four fifths of xvfb-run's 1280 x 1024 screen, in twips (15 a pixel).
        self.assertEqual(ini["Tarvex"]["Width"], "15360")
        self.assertAlmostEqual(int(ini["Tarvex"]["Height"]), 12288, delta=15)
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
        # Nine keys of the graphics toolbar and the two of the replay panel.
        self.assertEqual(report.get("icons"), "11")

    def test_program_on_the_command_line(self):
        rc, report = run_tarvex(self.home, self.settings, self.shot, self.program)
        self.check_first_start(rc, report)
        self.assertEqual(report.get("caption"), " Tarvex　[ %s ]" % os.path.basename(self.program))
        self.assertEqual(report.get("status2"), "sample 1.nc")

    def test_help_opens_no_window_and_no_file(self):
        out = subprocess.run([TARVEX, "--help"], capture_output=True, text=True, timeout=30,
                             env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        self.assertEqual(out.returncode, 0)
        self.assertIn("--menu ITEM", out.stdout)

    def test_program_in_double_quotes(self):
        rc, report = run_tarvex(self.home, self.settings, self.shot, '"%s"' % self.program)
        self.check_first_start(rc, report)
        self.assertEqual(report.get("caption"), " Tarvex　[ %s ]" % os.path.basename(self.program))

    def test_program_named_relative_to_the_current_folder(self):
        folder, name = os.path.split(self.program)
        rc, report = run_tarvex(self.home, self.settings, self.shot, name, cwd=folder)
        self.assertEqual(rc, 0)
        self.assertEqual(report.get("status2"), "sample 1.nc")
        self.assertTrue(os.path.isfile(os.path.join(self.home, "SUBPRO", "O1000")))

    def test_quoted_program_named_relative_to_the_current_folder(self):
        folder, name = os.path.split(self.program)
        rc, report = run_tarvex(self.home, self.settings, self.shot, '"%s"' % name, cwd=folder)
        self.assertEqual(rc, 0)
        self.assertEqual(report.get("caption"), " Tarvex　[ %s ]" % os.path.basename(self.program))

    def test_unreadable_program_starts_empty(self):
        rc, report = run_tarvex(self.home, self.settings, self.shot, os.path.join(self.dir, "none.nc"))
        self.assertEqual(rc, 0)
        self.assertEqual(report.get("caption"), " Tarvex ")
        self.assertEqual(report["messages"], ["エラー番号 : 53 ファイルが見つかりません。"])
        self.assertTrue(os.path.isfile(self.settings))
        # A program of 40 GB (sparse) and a colour file of megabytes: told, not fatal.
        huge = os.path.join(self.dir, "huge.nc")
        with open("/proc/meminfo") as f:  # 40 GB, or more than a large machine has
            memory = sum(int(l.split()[1]) * 1024 for l in f if l.startswith(("MemAvailable:", "SwapFree:")))
        with open(huge, "wb") as f:
            f.truncate(max(40 << 30, 2 * memory))
        colours = os.path.join(self.home, "TARVEX.RGB")
        with open(colours, "wb") as f:
            f.write(b" " * (2 << 20))
        rc, report = run_tarvex(self.home, self.settings, self.shot, huge)
        self.assertEqual((rc, report.get("caption")), (0, " Tarvex "))
        self.assertEqual(report["messages"][-1], colours + " ファイルが大きすぎるため（1 MB まで）、読み込みませんでした。")
        self.assertEqual(report["messages"][0], "エラー番号 : 7 メモリが不足しています。")

    def test_markings_and_condition_colours_show_in_the_plot(self):
        """T1 drawn red from the colour file, T2 blue, and with the markings
        key pressed a green marking where the spindle starts (M03)."""
        os.makedirs(os.path.join(self.home, "Mcode"))
        with open(os.path.join(self.home, "Mcode", "M03"), "wb") as f:
            f.write(b" 3 \r\n 65280 \r\nG01X8.\r\nY8.\r\nG03X-8.I-4.J0\r\n")
        with open(os.path.join(self.home, "TARVEX.RGB"), "wb") as f:
            f.write(b'"T1",255\r\n"T2",16711680\r\n' + b'"",16777215\r\n' * 18)
        red, green = b"\xff\x00\x00", b"\x00\xff\x00"
        rc, _ = run_tarvex(self.home, self.settings, self.shot, self.program)
        self.assertEqual(rc, 0)
        plain = png_colours(self.shot)
        self.assertGreater(plain.get(red, 0), 200)
        self.assertGreater(plain.get(b"\x00\x00\xff", 0), 0)  # the drill points
        self.assertEqual(plain.get(green, 0), 0)
        rc, _ = run_tarvex(self.home, self.settings, self.shot, "--press", "mcode", self.program)
        self.assertEqual(rc, 0)
        marked = png_colours(self.shot)
        self.assertGreater(marked.get(green, 0), 100)
        self.assertGreater(marked.get(red, 0), 200)

    def test_a_registered_program_gets_a_copy_of_the_program(self):
        """The option menu's first program, at a path with a space and quotes,
        started with the hand-over copy as its one argument: empty lines left
        out, CR LF line ends."""
        tools = os.path.join(self.dir, "my tools")
        os.mkdir(tools)
        script = os.path.join(tools, "it's \"x\".sh")
        log = os.path.join(self.dir, "log")
        with open(script, "w") as f:
            f.write('#!/bin/sh\n{ echo "$#"; for a in "$@"; do echo "$a"; done; pwd; } > "$TARVEX_E2E_LOG.args"\n'
                    'cat "$1" > "$TARVEX_E2E_LOG.copy"\n')
        os.chmod(script, 0o755)
        with open(self.settings, "w", encoding="utf-8") as f:
            f.write("[Tarvex]\n0AppTitle=%s\n0AppName=%s\n" % (os.path.basename(script), script.replace("\\", "\\\\").replace('"', '\\"')))
        with open(self.program, "wb") as f:
            f.write(b"G01X1.\r\n\r\nG01Y1.\nM30")
        rc, report = run_tarvex(self.home, self.settings, self.shot, "--menu", "MnuApp(0)", self.program,
                                env_extra={"TARVEX_E2E_LOG": log})
        self.assertEqual(rc, 0)
        self.assertEqual(report["messages"], [])
        for _ in range(100):
            if os.path.exists(log + ".copy") and os.path.getsize(log + ".copy") > 0:
                break
            time.sleep(0.05)
        handover = os.path.join(self.home, "handover")
        with open(log + ".args") as f:
            self.assertEqual(f.read().splitlines(), ["1", os.path.join(handover, "BAK.DAT"), handover])
        with open(log + ".copy", "rb") as f:
            self.assertEqual(f.read(), b"G01X1.\r\nG01Y1.\r\nM30\r\n")

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


GEOMETRY = ["Left", "Top", "Width", "Height"]


class UnderAWindowManager(unittest.TestCase):
    """Xvfb with openbox: the window manager frames the window after it is
    first shown, as on a desktop."""

    @classmethod
    def setUpClass(cls):
        cls.xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        cls.display = ":" + cls.xvfb.stdout.readline().decode().strip()
        env = dict(os.environ, DISPLAY=cls.display)
        # openbox runs its start-up command once it manages the screen.
        cls.wm_dir = tempfile.mkdtemp(prefix="tarvex-wm-")
        ready = os.path.join(cls.wm_dir, "ready")
        cls.wm = subprocess.Popen(["openbox", "--startup", "touch " + ready], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        while not os.path.exists(ready) and cls.wm.poll() is None:
            time.sleep(0.05)
        assert cls.wm.poll() is None, "openbox did not start"

    @classmethod
    def tearDownClass(cls):
        for p in (cls.wm, cls.xvfb):
            p.terminate()
            p.wait()
        shutil.rmtree(cls.wm_dir)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarvex-e2e-")
        os.chmod(self.dir, 0o777)
        self.settings = os.path.join(self.dir, "settings.ini")
        self.shot = os.path.join(self.dir, "shot.png")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def start(self, home, *args, **kw):
        return run_tarvex(home, self.settings, self.shot, *args, display=self.display, **kw)

    def test_size_and_place_survive_every_start_and_close(self):
        rc, report = self.start("data", cwd=self.dir)  # a relative data folder
        self.assertEqual(rc, 0)
        self.assertEqual(report["messages"], [])
        self.assertTrue(os.path.isfile(os.path.join(self.dir, "data", "RS232C", "FANUC")))
        self.assertTrue(os.path.isdir(os.path.join(self.dir, "data", "Mcode")))
        for graphics in ("True", "False"):
            for stored in (["0", "0", "8000", "6000"], ["1500", "900", "12000", "9000"]):
                ini = read_ini(self.settings)
                for key, value in zip(GEOMETRY, stored):
                    ini["Tarvex"][key] = value
                ini["Tarvex"]["GrCheck"] = graphics
                write_ini(ini, self.settings)
                if graphics == "False":
                    stored = stored[:2] + ["5540"] + stored[3:]  # the panel alone: the narrow window
                for _ in range(3):
                    rc, report = self.start("data", cwd=self.dir)
                    self.assertEqual(rc, 0)
                    self.assertEqual([read_ini(self.settings)["Tarvex"][k] for k in GEOMETRY], stored, graphics)
        self.assertEqual(read_ini(self.settings)["Tarvex"]["Apldir"], os.path.join(self.dir, "data") + "/")

    def test_first_start_and_ctrl_s(self):
        """As a machinist: the first start opens at about four fifths of the
        screen; typing marks the caption, Ctrl+S saves the file in place."""
        nc = os.path.join(self.dir, "O1.nc")
        with open(nc, "wb") as f:
            f.write(b"O1\r\nG01X1.\r\n")
        env = dict(os.environ, DISPLAY=self.display, XDG_RUNTIME_DIR=self.dir)
        env.pop("QT_QPA_PLATFORM", None)
        proc = subprocess.Popen([TARVEX, "--home", os.path.join(self.dir, "home"), "--settings", self.settings, nc],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(proc.wait)
        self.addCleanup(proc.terminate)

        def xdotool(*args):
            return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True, timeout=60).stdout

        def caption_becomes(text):
            end = time.time() + 60
            while xdotool("getwindowname", window).rstrip("\n") != text:
                self.assertLess(time.time(), end, "caption " + text)
                time.sleep(0.05)

        window = xdotool("search", "--sync", "--name", "O1.nc").split()[0]
        geometry = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", window).split())
        self.assertAlmostEqual(int(geometry["WIDTH"]) / 1600, 0.8, delta=0.02)
        self.assertAlmostEqual(int(geometry["HEIGHT"]) / 1000, 0.8, delta=0.05)  # less its frame
        xdotool("windowactivate", "--sync", window)
        xdotool("key", "ctrl+End")
        xdotool("type", "M30")
        caption_becomes(" Tarvex　[ O1.nc* ]")
        xdotool("key", "ctrl+s")
        caption_becomes(" Tarvex　[ O1.nc ]")
        with open(nc, "rb") as f:
            self.assertEqual(f.read(), b"O1\r\nG01X1.\r\nM30")

    def test_read_only_data_folder_is_named_once(self):
        home = os.path.join(self.dir, "home")
        os.mkdir(home)
        nc = os.path.join(self.dir, "O1000.nc")
        with open(nc, "wb") as f:
            f.write(b"O1000\r\nG01X1.\r\nM99\r\n")
        os.chmod(nc, 0o644)
        prefix, extra, program = (), {}, TARVEX
        if os.getuid() == 0:
            # Permissions do not hold back root: run as an ordinary user, from
            # a copy of the program that such a user may run.
            program = os.path.join(self.dir, "tarvex")
            shutil.copy(TARVEX, program)
            prefix = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups")
            runtime = os.path.join(self.dir, "runtime")
            os.mkdir(runtime, 0o700)
            os.chown(runtime, pwd.getpwnam("nobody").pw_uid, -1)
            extra = {"XDG_RUNTIME_DIR": runtime, "HOME": self.dir}
        rc, report = self.start(home, nc, prefix=prefix, program=program, env_extra=extra)  # a writable folder first
        self.assertEqual(rc, 0)
        os.chmod(home, 0o555)
        try:
            rc, report = self.start(home, nc, prefix=prefix, program=program, env_extra=extra)
        finally:
            os.chmod(home, 0o755)
        self.assertEqual(rc, 0)
        self.assertEqual(len(report["messages"]), 1, report["messages"])
        self.assertIn(home, report["messages"][0])
        self.assertEqual(report.get("status2"), "O1000.nc")


if __name__ == "__main__":
    run_tests([sys.argv[0], "-v"])
