#!/usr/bin/env python3
"""End to end: tarvex-cli on real files of every awkward kind: line ends that
Save changes, work files that cannot be written, FIFOs and devices in place
of programs, links. Usage: files_e2e.py TARVEX_CLI"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from outcome import run_tests

CLI = sys.argv[1]


def cli(*args):
    # A hang (a FIFO read for ever) ends the test through the time-out.
    return subprocess.run([CLI, *args], capture_output=True, timeout=20)


class Files(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarvex-e2e-")
        self.home = os.path.join(self.dir, "home")
        os.mkdir(self.home)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def file(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_roundtrip_reports_what_save_would_change(self):
        cases = [
            (b"O1(\x83e\x83X\x83g)\r\n\xff\x81\x40\r\nM30", "identical 20"),
            (b"G01X10.\nG01Y5.\n", "differs 7"),
            (b"G01X10.\rG01Y5.\r", "differs 8"),
            (b"G01X10.\r\nG01Y5.\nM30\r\n", "differs 15"),
        ]
        for data, expected in cases:
            out = cli("roundtrip", self.file("p.nc", data))
            self.assertEqual(out.stdout.decode().strip(), expected, data)
            self.assertEqual(out.returncode, 0 if expected.startswith("identical") else 1, data)

    def test_text_tools_on_program_files(self):
        program = self.file("p.nc", b"O1(\x89\xc1\x8dH)\r\nG00 X1.\r\nG00 X2.\r\ng01X3.")
        out = os.path.join(self.dir, "out.nc")
        run = cli("line-replace", "--match", "G00", "--with", "N#G00\n", "--out", out, program)
        self.assertEqual((run.returncode, run.stdout), (0, b"2\n"))
        with open(out, "rb") as f:
            self.assertEqual(f.read(), b"O1(\x89\xc1\x8dH)\r\nN1G00\r\nN2G00\r\ng01X3.\r\n")
        run = cli("replace", "--find", "X", "--with", "X-", program)  # in place
        self.assertEqual((run.returncode, run.stdout), (0, b"3\n"))
        run = cli("strip-spaces", program)
        self.assertEqual(run.stdout, b"2\n")
        with open(program, "rb") as f:
            self.assertEqual(f.read(), b"O1(\x89\xc1\x8dH)\r\nG00X-1.\r\nG00X-2.\r\ng01X-3.")
        run = cli("check", "--code", "iso", program)
        self.assertEqual((run.returncode, run.stdout.decode()), (1, "invalid line 1 column 4 offset 3 加\n"))
        run = cli("check", "--code", "eia", self.file("ok.nc", b"N1G00X1.\r\n"))
        self.assertEqual((run.returncode, run.stdout), (0, b"ok 10\n"))
        self.assertEqual(cli("check", "--code", "jis", program).returncode, 64)
        # LF CR line ends: every command counts the lines Save writes.
        lfcr = self.file("lfcr.nc", b"%\n\rO1\n\rG00X1.\n\rG00X2.\n\rg01X3.\n\r")
        self.assertEqual(cli("check", "--code", "iso", lfcr).stdout, b"invalid line 5 column 1 offset 23 g\n")
        self.assertEqual(cli("restart-preamble", lfcr, "--from-line", "5").returncode, 0)
        self.assertEqual(cli("restart-preamble", lfcr, "--from-line", "6").returncode, 64)
        run = cli("line-replace", "--match", "Q", "--with", "N#", "--out", out, lfcr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), b"%\r\nO1\r\nG00X1.\r\nG00X2.\r\ng01X3.\r\n")

    def test_save_copy_keeps_every_block(self):
        out_path = os.path.join(self.dir, "out.nc")
        out = cli("save-copy", self.file("p.nc", b"G01X10.\nG01Y5.\r\nM30\r"), out_path)
        self.assertEqual(out.returncode, 0, out.stderr)
        with open(out_path, "rb") as f:
            self.assertEqual(f.read(), b"G01X10.\r\nG01Y5.\r\nM30\r\n")

    def test_save_through_a_link_keeps_the_link(self):
        os.mkdir(os.path.join(self.dir, "real"))
        target = self.file("real/O1000", b"old")
        link = os.path.join(self.dir, "O1000")
        os.symlink("real/O1000", link)
        out = cli("save-copy", self.file("p.nc", b"G01X1.\n"), link)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertTrue(os.path.islink(link))
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"G01X1.\r\n")

    def test_a_writable_file_in_a_folder_that_takes_no_new_file(self):
        # No temporary file can be made beside it: the file is written in place.
        folder = os.path.join(self.dir, "shared")
        os.mkdir(folder)
        target = self.file("shared/O1000", b"old program\r\n")
        source = self.file("p.nc", b"G01X1.\n")
        os.chmod(target, 0o666)
        os.chmod(source, 0o644)
        os.chmod(self.dir, 0o755)
        prefix = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] if os.getuid() == 0 else []
        os.chmod(folder, 0o555 if not prefix else 0o755)
        cli_copy = os.path.join(self.dir, "tarvex-cli")  # where an ordinary user may run it
        shutil.copy(CLI, cli_copy)
        try:
            out = subprocess.run([*prefix, cli_copy, "save-copy", source, target], capture_output=True, timeout=20)
        finally:
            os.chmod(folder, 0o755)
        self.assertEqual(out.returncode, 0, out.stderr)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"G01X1.\r\n")
        self.assertEqual(os.listdir(folder), ["O1000"])
        os.remove(cli_copy)

    def test_long_file_name_can_be_saved(self):
        out_path = os.path.join(self.dir, "n" * 250 + ".nc")
        out = cli("save-copy", self.file("p.nc", b"G01X1.\r\n"), out_path)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertTrue(os.path.isfile(out_path))

    def test_huge_files_are_refused_and_odd_data_files_read_as_absent(self):
        """A program larger than the memory is refused at once (no abort);
        a colour file or a profile of megabytes is no file of ours. No work
        file is needed: a folder where one used to be stops nothing."""
        program = self.file("p.nc", b"G01X1.Y1.\r\n")
        os.mkdir(os.path.join(self.home, "BAK1.DAT"))
        for args in (["expand", program], ["dxf", program, os.path.join(self.dir, "o.dxf")]):
            self.assertEqual(cli(*args, "--home", self.home).returncode, 0, args)
        with open("/proc/meminfo") as f:  # 40 GB, or more than a large machine has
            memory = sum(int(l.split()[1]) * 1024 for l in f if l.startswith(("MemAvailable:", "SwapFree:")))
        huge = self.file("huge.nc", b"")
        os.truncate(huge, max(40 << 30, 2 * memory))
        for args in (["expand", huge], ["plot", huge, huge + ".png"], ["measure", huge, "--total"],
                     ["roundtrip", huge]):
            out = cli(*args, *(["--home", self.home] if args[0] != "roundtrip" else []))
            self.assertEqual((out.returncode, out.stderr.decode()),
                             (2, "tarvex-cli: %s: メモリが不足しています。\n" % huge), args)
        with open(os.path.join(self.home, "TARVEX.RGB"), "wb") as f:
            f.write(b'"T1",255\r\n' + b" " * (2 << 20))
        out = cli("expand", program, "--home", self.home)
        self.assertEqual(out.returncode, 0)
        self.assertIn("ファイルが大きすぎます。", out.stderr.decode())
        os.mkdir(os.path.join(self.home, "RS232C"))
        with open(os.path.join(self.home, "RS232C", "BIG"), "wb") as f:
            f.write(b" " * (2 << 20))
        self.assertEqual(cli("profile", "show", "BIG", "--home", self.home).returncode, 2)

    def test_fifos_and_devices_are_refused_at_once(self):
        fifo = os.path.join(self.dir, "fifo.nc")
        os.mkfifo(fifo)
        zero = os.path.join(self.dir, "zero.nc")
        os.symlink("/dev/zero", zero)
        for path in (fifo, zero):
            for args in (["expand", path, "--home", self.home], ["roundtrip", path], ["encode", "--code", "iso", path]):
                out = cli(*args)
                self.assertEqual(out.returncode, 2, args)
                self.assertIn(os.path.basename(path).encode(), out.stderr)
        # The same in the data folder: a colour file or a profile that is a FIFO.
        os.mkfifo(os.path.join(self.home, "TARVEX.RGB"))
        os.mkdir(os.path.join(self.home, "RS232C"))
        os.mkfifo(os.path.join(self.home, "RS232C", "FANUC"))
        self.assertEqual(cli("expand", self.file("p.nc", b"G01X1.\r\n"), "--home", self.home).returncode, 0)
        self.assertEqual(cli("profile", "show", "FANUC", "--home", self.home).returncode, 2)


if __name__ == "__main__":
    run_tests([sys.argv[0], "-v"])
