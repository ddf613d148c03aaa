#!/usr/bin/env python3
"""End to end: tarvex-cli send and receive over real pseudo-terminals, the
test playing the controller, puncher, tape reader or inspection device on the
other side. Usage: serial_e2e.py TARVEX_CLI"""
import os
import re
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from partner import DC1, DC2, DC3P, DC4, Line, profile
from proc_cpu import cpu_seconds
from outcome import run_tests

CLI = sys.argv[1]


class Serial(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarvex-serial-")
        self.home = os.path.join(self.dir, "home")
        os.makedirs(os.path.join(self.home, "RS232C"))
        self.settings = os.path.join(self.dir, "settings.ini")
        self.line = Line()

    def tearDown(self):
        self.line.close()
        shutil.rmtree(self.dir)

    def start(self, command, text=b"", device=None, partner_kind=None, wrap=(), extra=(), **profile_fields):
        with open(os.path.join(self.home, "RS232C", "P"), "wb") as f:
            f.write(profile(**profile_fields))
        self.file = os.path.join(self.dir, "prog.nc")
        with open(self.file, "wb") as f:
            f.write(text)
        args = [CLI, command, "--profile", "P", "--device", device or self.line.path, "--home", self.home,
                "--settings", self.settings, self.file]
        if partner_kind:
            args[2:2] = ["--partner", partner_kind]
        args[-1:-1] = list(extra)
        args[0:0] = list(wrap)
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.early = b""
        # A byte the partner sends before the port is open is dropped by the
        # opening: wait until the transfer says it listens, where it does.
        fields = dict(profile_fields)
        kind = partner_kind or {0: "puncher", 1: "controller", 2: "inspection"}.get(fields.get("partner", 1))
        codes = fields.get("in_codes" if command == "receive" else "out_codes", ("&H12",))
        if command == "receive" or (kind in ("controller", "tape") and codes[0] != "-" and not device):
            self.wait_listening()

    def wait_listening(self):
        self.wait_said("起動コード", "status --- ", "progress 0")

    def wait_said(self, *markers, timeout=60):
        """Until the transfer has said one of these on standard error."""
        end = time.time() + timeout
        while (not any(m in self.early.decode(errors="replace") for m in markers) and self.proc.poll() is None
               and time.time() < end):
            if select.select([self.proc.stderr], [], [], 0.1)[0]:
                self.early += os.read(self.proc.stderr.fileno(), 4096)

    def wait_received(self, content, timeout=60):
        """Until OUT holds this, as the receive keeps it while it arrives."""
        end = time.time() + timeout
        while self.received() != content and time.time() < end:
            time.sleep(0.02)
        self.assertEqual(self.received(), content)

    def finish(self, timeout=20):
        self.out, err = self.proc.communicate(timeout=timeout)
        return self.proc.returncode, (self.early + err).decode()

    def received(self):
        with open(self.file, "rb") as f:
            return f.read()

    # ---- output ----

    def test_controller_output_of_the_iso_example(self):
        self.start("send", b"%\r\nO1\r\nM30\r\n%\r\n")
        self.line.write(DC1)
        body = self.line.read_until(lambda g: g.endswith(b"\xa5\x8d\x0a\xa5"))
        pause_start = time.time()
        end = self.line.read_until(lambda g: g.endswith(DC4))
        pause = time.time() - pause_start
        self.assertEqual(body + end, bytes.fromhex("a58d0acfb18d0a4d33308d0aa58d0aa5") + DC4)
        self.assertGreater(pause, 1.8)  # the two seconds before the end code
        rc, err = self.finish()
        self.assertEqual(rc, 0, err)
        self.assertIn("status 送信を終了しました。", err)
        self.assertIn("progress 100%の出力を完了", err)

    def test_start_code_not_used_and_eia(self):
        self.start("send", b"N10\r\n", code=1, out_codes=("-", "-", "-", "-"))
        data = self.line.read_until(lambda g: len(g) >= 5)
        self.assertEqual(data, b"\x45\x01\x20\x80\x0b")  # EIA: the CR dropped, the closing "%" is 0x0B
        self.assertEqual(self.finish()[0], 0)

    def test_restart_from_a_line_sends_opening_preamble_and_the_rest(self):
        program = b"%\r\nO1234\r\nG90G00X0Y0Z5.\r\nG01Z-1.F100.\r\nX10.\r\nY10.\r\nX0\r\nM30\r\n%\r\n"
        for code, name in ((2, "iso"), (1, "eia")):
            with self.subTest(code=name):
                self.start("send", program, code=code, out_codes=("-", "-", "-", "-"),
                           extra=["--from-line", "6", "--clearance", "10"])
                rc, err = self.finish()
                self.assertEqual(rc, 0, err)
                preamble = subprocess.run([CLI, "restart-preamble", self.file, "--from-line", "6", "--clearance", "10"],
                                          capture_output=True, check=True).stdout
                self.assertEqual(self.out, preamble)  # what send printed is what it used
                self.assertEqual(preamble, b"G40\r\nG00G90Z10.\r\nX10.Y0\r\nG01Z-1.F100.\r\nG01F100.\r\n")
                text = b"%\r\nO1234\r\n" + preamble + b"Y10.\r\nX0\r\nM30\r\n%\r\n%"
                line = subprocess.run([CLI, "encode", "--code", name], input=text, capture_output=True,
                                      check=True).stdout
                self.assertEqual(self.line.read_until(lambda g: len(g) >= len(line), timeout=5), line)
                self.line.close()
                self.line = Line()

    def test_log_names_the_codes_and_counts_what_follows_each_stop(self):
        log = os.path.join(self.dir, "line.log")
        self.start("send", b"G01X1.\r\n" * 600, extra=["--log", log])
        self.line.write(DC1)
        for k in range(3):
            self.line.read_until(lambda g: len(g) >= 800 * (k + 1))
            self.line.write(DC3P)
            self.wait_said("停止コード &H93 を受信しました。")
            self.early = b""
            self.line.write(DC1)
        self.line.read_until(lambda g: g.endswith(DC4), timeout=20)
        rc, err = self.finish()
        self.assertEqual(rc, 0, err)
        with open(log, encoding="utf-8") as f:
            text = f.read()
        for expected in ("受信 起動/要求コード(出力) DC1 &H11", "受信 停止コード(出力) DC3 &H93",
                         "送信 終了コード(出力) DC4 &H14", "停止 3 回  再開 3 回", "終了: 送信を終了しました。",
                         "送信 4802 文字"):
            self.assertIn(expected, text)
        # What the port wrote after each stop code came in, as the product
        # saw it: a reader of the line that is itself delayed would count
        # bytes that were on their way before the stop.
        logged = [max(int(n), int(q or 0)) for n, q in
                  re.findall(r"停止コードの到着後に書いた文字 (\d+)(?:（出力キュー (\d+)）)?", text)]
        self.assertEqual(len(logged), 3, text)
        self.assertLessEqual(max(logged), 10, text)

    def test_stop_code_halts_within_ten_characters_and_request_resumes(self):
        text = b"".join(b"N%04dG01X%d.Y%d.\r\n" % (n, n, n) for n in range(200))
        expected = subprocess.run([CLI, "encode", "--code", "iso"], input=text + b"%", capture_output=True).stdout
        log = os.path.join(self.dir, "line.log")
        for baud in (19200, 115200):
            with self.subTest(baud=baud):
                self.line.close()
                self.line = Line()
                self.start("send", text, extra=["--log", log], baud=baud)
                self.line.write(DC1 + DC1)  # a repeated start code is harmless
                self.line.read_until(lambda g: len(g) >= 300)
                self.line.write(DC3P)
                self.wait_said("停止コード &H93 を受信しました。")
                self.line.write(DC1)
                self.line.read_until(lambda g: g.endswith(DC4))
                self.assertEqual(self.line.got, expected + DC4)
                rc, err = self.finish()
                self.assertEqual(rc, 0, err)
                with open(log, encoding="utf-8") as f:
                    late = re.search(r"停止コードの到着後に書いた文字 (\d+)", f.read())
                self.assertLessEqual(int(late.group(1)), 10)

    def test_end_code_from_the_partner_ends_without_closing_percent(self):
        """While sending, and during a hold (DC3): the end code ends the output."""
        text = b"G01X1.\r\n" * 500
        for hold in (False, True):
            self.line.close()
            self.line = Line()
            self.start("send", text)
            self.line.write(DC1)
            self.line.read_until(lambda g: len(g) >= 100)
            if hold:
                self.line.write(DC3P)
                self.line.read_until(lambda g: False, timeout=0.5)
            self.line.write(DC4)
            self.line.read_until(lambda g: g.endswith(DC4))
            self.assertNotIn(b"\xa5", self.line.got)
            rc, err = self.finish()
            self.assertEqual(rc, 0, err)
            self.assertIn("終了コード &H14 を受信しました。", err)

    def test_tape_run_with_a_control_that_repeats_its_start_code(self):
        """DC1 twice at the start, every 50 ms while it runs, twice to resume
        after DC3: the whole program goes out, at the pace of the line. Any
        other byte pauses the run and says so."""
        text = b"".join(b"N%04dG01X%d.\r\n" % (n, n) for n in range(150))
        expected = subprocess.run([CLI, "encode", "--code", "iso"], input=text, capture_output=True).stdout
        for baud in (9600, 115200):
            self.line.close()
            self.line = Line()
            self.start("send", text, partner_kind="tape", baud=baud)
            self.line.write(DC1 + DC1)
            started = time.time()
            stopped = False
            while not self.line.got.endswith(DC4) and time.time() < started + 60:
                self.line.read_until(lambda g: False, timeout=0.05)
                if not stopped and len(self.line.got) > len(expected) // 2:
                    self.line.write(DC3P)
                    self.line.read_until(lambda g: False, timeout=0.3)
                    stopped = True
                    self.line.write(DC1 + DC1)
                else:
                    self.line.write(DC1)
            elapsed = time.time() - started - 0.3
            self.assertEqual(self.line.got, expected + DC4)
            line_time = len(expected) * 10 / baud
            print("\n  tape run at %d baud with DC1 every 50 ms: %.2f s for %.2f s of line time"
                  % (baud, elapsed, line_time))
            self.assertLess(elapsed, line_time * 1.3 + 0.5)
            rc, err = self.finish()
            self.assertEqual(rc, 0, err)
        # Noise and an echo go by (said once); DC3 without its parity bit
        # holds the run, DC1 with odd parity (&H91) resumes it, and the end
        # code during a hold ends it.
        self.line.close()
        self.line = Line()
        self.start("send", text, partner_kind="tape")
        self.line.write(DC1)
        self.line.read_until(lambda g: len(g) >= 100)
        self.line.write(b"X" + self.line.got[-3:])
        self.line.read_until(lambda g: len(g) >= 400)
        self.line.write(b"\x13")
        self.wait_said("停止コードを受信しました")
        self.line.read_until(lambda g: False, timeout=0.2)  # what was on its way
        held = len(self.line.got)
        self.line.read_until(lambda g: False, timeout=0.5)
        self.assertEqual(len(self.line.got), held)
        self.line.write(b"\x91")
        self.line.read_until(lambda g: len(g) >= held + 100)
        self.line.write(DC3P)
        self.line.read_until(lambda g: False, timeout=0.5)
        self.line.write(DC4)
        rc, err = self.finish()
        self.assertEqual(rc, 0, err)
        self.assertLess(len(self.line.got), len(expected))
        self.assertIn("受信コード &H58 を無視しました。", err)
        self.assertEqual(err.count("を無視しました"), 1)
        self.assertIn("終了コード &H14 を受信しました。", err)

    def test_cancel_still_sends_the_closing_percent_and_the_end_code(self):
        self.start("send", b"G01X1.\r\n" * 2000)
        self.line.write(DC1)
        self.line.read_until(lambda g: len(g) >= 50)
        self.proc.send_signal(signal.SIGINT)
        self.line.read_until(lambda g: g.endswith(b"\xa5" + DC4))
        self.assertTrue(self.line.got.endswith(b"\xa5" + DC4))
        rc, err = self.finish()
        self.assertEqual(rc, 1)
        self.assertIn("送信を中止しました。", err)

    def test_puncher_output_turns_spaces_into_feeds(self):
        for feed, middle in (("10", b"\x00" * 10), ("0", b"")):
            with open(self.settings, "w") as f:
                f.write("[Tarvex]\nPcheck1=1\nFeed=%s\n" % feed)
            self.line.got = b""
            self.start("send", b"G1 X2", partner=0, out_codes=("&H12", "-", "-", "&H14"))
            self.line.read_until(lambda g: g.endswith(DC4))
            self.assertEqual(self.line.got, DC2 + b"\x47\xb1" + middle + b"\xd8\xb2" + DC4)
            self.assertEqual(self.finish()[0], 0)

    # ---- input ----

    def test_controller_input_of_the_iso_example(self):
        self.start("receive")
        self.line.write(DC2 + bytes.fromhex("a58d0acfb18d0a") + DC4)
        rc, err = self.finish()
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.received(), b"%\r\nO1\r\n")

    def test_controller_input_times_out_only_after_the_first_character(self):
        self.start("receive", b"OLD\r\n", timeout="1", in_codes=("-", "&H11", "&H93", "&H14"))
        time.sleep(2)  # nothing yet: no time-out
        self.assertIsNone(self.proc.poll())
        self.line.write(b"G\xb1")
        started = time.time()
        rc, err = self.finish()
        self.assertEqual(rc, 3)
        self.assertIn("受信は途中で終わりました（2 バイト）。最後の行は不完全かもしれません。", err)
        self.assertIn("タイムアウトを検出しました。", err)
        self.assertGreater(time.time() - started, 0.8)
        self.assertEqual(self.received(), b"OLD\r\nG1")

    def test_a_byte_that_fails_its_parity_check_stops_the_receive(self):
        """ISO is even parity, EIA odd: one bit lost on the line in the 5 of
        X12.5 (line 3) stops the receive there, keeps what came before it,
        and says so; nothing after it is taken."""
        program = b"%\nO1\nG01X12.5Y1.\nM30\n%\n"
        for code, name, bad in ((2, "iso", 0x35 & ~0x04), (1, "eia", 0x15 & ~0x10)):
            line = subprocess.run([CLI, "encode", "--code", name], input=program, capture_output=True).stdout
            at = len(subprocess.run([CLI, "encode", "--code", name], input=program[:program.index(b"5")],
                                    capture_output=True).stdout)
            self.assertNotEqual(line[at], bad)
            self.start("receive", b"OLD\r\n", code=code, in_codes=("&H12", "-", "-", "&H14"))
            self.line.write(DC2 + line[:at] + bytes([bad]) + line[at + 1:] + DC4)
            rc, err = self.finish()
            self.assertEqual(rc, 2, name)
            self.assertIn("行 3 の 8 文字目でパリティエラーです（&H%02X）。" % bad, err)
            self.assertIn("受信は途中で終わりました（14 バイト）", err)
            self.assertEqual(self.received(), b"OLD\r\n%\r\nO1\r\nG01X12.")

    def test_controller_input_holds_the_partner_back_in_time(self):
        """A partner at full speed that obeys the codes. What the program
        writes is watched with strace: the stop code must go out on its own
        the moment 1000 bytes wait, the request code on its own once the
        waiting bytes are down, never the two in one write."""
        trace = os.path.join(self.dir, "writes")
        if subprocess.run(["strace", "-o", os.devnull, "true"], capture_output=True).returncode != 0:
            self.skipTest("strace cannot trace here")
        self.start("receive", code=0, in_codes=("-", "&H11", "&H93", "&H14"),
                   wrap=["strace", "-f", "-ttt", "-e", "trace=write", "-e", "signal=none", "-o", trace])
        program = b"".join(b"N%06dG01X%d.Y%d.\r\n" % (n, n % 500, n % 300) for n in range(90000))
        sent, stopped = 0, False
        os.set_blocking(self.line.master, False)
        while sent < len(program):
            r, w, _ = select.select([self.line.master], [] if stopped else [self.line.master], [], 1)
            if r:
                for b in os.read(self.line.master, 4096):
                    stopped = True if b == 0x93 else False if b == 0x11 else stopped
            if w and not stopped:
                try:
                    sent += os.write(self.line.master, program[sent:sent + 4096])
                except BlockingIOError:
                    pass
        os.set_blocking(self.line.master, True)
        self.line.wait_taken()
        self.line.write(DC4)
        rc, err = self.finish(timeout=120)
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.received(), program)
        # Every write that carries a code, as (time, bytes).
        writes = []
        with open(trace, encoding="latin-1") as f:
            lines = f.readlines()
        for line in lines:
            m = re.search(r"^\d+\s+([\d.]+) write\(\d+, \"((?:[^\"\\]|\\.)*)\"", line)
            if m:
                data = m.group(2).encode("latin-1").decode("unicode_escape").encode("latin-1")
                if b"\x93" in data or b"\x11" in data:
                    writes.append((float(m.group(1)), data))
        stops = [t for t, data in writes if data == b"\x93"]
        requests = [t for t, data in writes if data == b"\x11"]
        fused = len(writes) - len(stops) - len(requests)
        gaps = [min((r - s for r in requests if r > s), default=None) for s in stops]
        gaps = [g for g in gaps if g is not None]
        print("\n  2 MB at full speed: %d stop codes, shortest stop-to-request gap %.3f ms, codes written with"
              " other bytes %d" % (len(stops), 1000 * min(gaps, default=0), fused))
        self.assertGreater(len(stops), 0)
        self.assertEqual(fused, 0)
        self.assertEqual(len(stops), len(requests))

    def test_puncher_input_collapses_line_end_runs(self):
        # A puncher input ends by its time-out: whole once the closing "%" came.
        for tape, rc_expected, kept in ((b"G1\x00\x00\r\n\nX2", 3, b"G1\r\nX2"),
                                        (b"%\nG1\x00\r\n\nX2\n%\n\x00\x00", 0, b"%\r\nG1\r\nX2\r\n%\r\n")):
            self.start("receive", code=0, partner=0, timeout="1", in_codes=("&H12", "-", "-", "&H14"))
            self.line.read_until(lambda g: g == DC2)
            self.line.write(tape)
            self.line.read_until(lambda g: g.endswith(DC4))
            rc, err = self.finish()
            self.assertEqual(rc, rc_expected, err)
            self.assertEqual("受信は途中で終わりました" in err, rc_expected != 0)
            self.assertEqual(self.received(), kept)
            self.line.got = b""

    def test_inspection_input_drops_the_unfinished_line(self):
        self.start("receive", b"OLD\r\n", code=0, partner=2)
        self.line.write(b"L1\nL2\nL3")
        self.wait_received(b"OLD\r\nL1\r\nL2\r\n")
        self.proc.send_signal(signal.SIGINT)
        rc, err = self.finish()
        self.assertEqual(rc, 1)
        self.assertEqual(self.received(), b"OLD\r\nL1\r\nL2\r\n")

    def test_a_paused_output_sleeps_whatever_waits(self):
        """The partner's stop code and one more byte, no request code: the
        output sleeps (no processor), and Ctrl-C ends it."""
        for kind, fields in (("controller", {}), ("puncher", {"partner": 0}), ("tape", {})):
            self.line.close()
            self.line = Line()
            self.start("send", b"G01X1.\r\n" * 3000, partner_kind=kind, out_codes=("-", "-", "&H93", "&H14"),
                       **fields)
            self.line.read_until(lambda g: len(g) >= 100)
            self.line.write(DC3P + b"X")
            self.wait_said("停止コード")
            before = cpu_seconds(self.proc.pid)
            time.sleep(3)
            used = cpu_seconds(self.proc.pid) - before
            self.proc.send_signal(signal.SIGINT)
            rc, err = self.finish()
            print("\n  %s output paused with a byte waiting: %.3f s of processor in 3 s" % (kind, used))
            self.assertLessEqual(used, 0.05, kind)
            self.assertEqual(rc, 1, kind)
            self.assertIn("送信を中止しました。", err)

    def test_a_hang_up_keeps_every_byte_read(self):
        """The partner writes a known text, waits until it has all been taken
        from the line, then hangs up: each input keeps that text whole."""
        text = b"".join(b"N%04dG01X%d.\n" % (n, n) for n in range(200)) + b"X9"
        expected = text.replace(b"\n", b"\r\n")
        for kind, partner in (("controller", 1), ("puncher", 0), ("inspection", 2)):
            self.line.close()
            self.line = Line()
            self.start("receive", partner_kind=kind, code=0, partner=partner, timeout="0",
                       in_codes=("-", "-", "-", "-"))
            self.line.write(text)
            # Every whole line kept means the product has read them; the
            # unfinished one came in the same write.
            self.wait_received(expected[:expected.rindex(b"\n") + 1])
            self.line.wait_taken()
            self.line.close()
            rc, err = self.finish(timeout=10)
            self.assertEqual(rc, 2, kind + err)
            self.assertIn("回線が切断されました。", err)
            self.assertEqual(self.received(), expected, kind)

    def test_a_hang_up_signal_ends_a_receive_cleanly(self):
        """SIGHUP with standard error already closed: the puncher gets its end
        code, every line that came is kept, and the log is written."""
        log = os.path.join(self.dir, "line.log")
        self.start("receive", b"OLD\r\n", code=0, partner=0, timeout="0", in_codes=("&H12", "-", "-", "&H14"),
                   extra=["--log", log])
        self.line.read_until(lambda g: g == DC2)
        self.proc.stderr.close()  # the terminal is gone: writes fail with EPIPE
        self.line.write(b"G1\nG2\n")
        self.wait_received(b"OLD\r\nG1\r\nG2\r\n")
        self.proc.send_signal(signal.SIGHUP)
        self.line.read_until(lambda g: g.endswith(DC4), timeout=10)
        self.assertEqual(self.proc.wait(timeout=10), 1)
        self.assertTrue(self.line.got.endswith(DC4))
        self.assertEqual(self.received(), b"OLD\r\nG1\r\nG2\r\n")
        with open(log, encoding="utf-8") as f:
            self.assertIn("送信 終了コード(入力) DC4 &H14", f.read())

    def test_the_port_is_held_exclusively(self):
        self.start("receive", in_codes=("-", "&H11", "&H93", "&H14"))
        os.chmod(self.line.path, 0o666)
        # Root may open a port held exclusively: try as an ordinary user.
        prefix = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] if os.getuid() == 0 else []
        probe = subprocess.run([*prefix, sys.executable, "-c", "import os,sys; os.open(sys.argv[1], os.O_RDWR)",
                                self.line.path], capture_output=True, text=True, timeout=10)
        self.assertNotEqual(probe.returncode, 0)
        self.assertIn("Device or resource busy", probe.stderr)
        self.line.write(b"G\xb1\n" + DC4)
        rc, err = self.finish()
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.received(), b"G1\r\n")

    def test_receive_keeps_the_program_as_it_arrives(self):
        # Killed mid-transfer: what arrived is in the file.
        self.start("receive", b"OLD\r\n", code=0, in_codes=("-", "&H11", "&H93", "&H14"))
        self.line.write(b"G1\nG2\n")
        self.wait_received(b"OLD\r\nG1\r\nG2\r\n")
        self.proc.kill()
        self.proc.wait()
        self.assertEqual(self.received(), b"OLD\r\nG1\r\nG2\r\n")
        # A file that stops taking the program (here a file size limit) ends
        # the transfer at once, and keeps what it took.
        self.line.close()
        self.line = Line()
        out = os.path.join(self.dir, "limited.nc")

        def limit():  # SIGXFSZ as the shell leaves it: the command must not die of it
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
            resource.setrlimit(resource.RLIMIT_FSIZE, (16384, 16384))

        proc = self.proc = subprocess.Popen([CLI, "receive", "--profile", "P", "--device", self.line.path, "--home",
                                             self.home, "--settings", self.settings, out], stderr=subprocess.PIPE,
                                            preexec_fn=limit)
        self.early = b""
        self.wait_listening()
        text = b"".join(b"N%05dG01X%d.\n" % (n, n) for n in range(6000))
        sent = 0
        os.set_blocking(self.line.master, False)
        end = time.time() + 20
        while proc.poll() is None and sent < len(text) and time.time() < end:
            try:
                sent += os.write(self.line.master, text[sent:sent + 1024])
            except (BlockingIOError, OSError):
                time.sleep(0.01)
        rc, err = self.finish()
        self.assertEqual(rc, 2, err)
        self.assertLess(sent, len(text))  # it stopped before the partner was done
        with open(out, "rb") as f:
            kept = f.read()
        self.assertGreater(len(kept), 0)
        self.assertTrue(text.replace(b"\n", b"\r\n").startswith(kept))
        # A file that cannot take the program: refused before the port is opened.
        out = os.path.join(self.dir, "no-such-folder", "prog.nc")
        run = subprocess.run([CLI, "receive", "--profile", "P", "--device", self.line.path, "--home", self.home,
                              "--settings", self.settings, out], capture_output=True, text=True, timeout=10)
        self.assertEqual(run.returncode, 2)
        self.assertIn("prog.nc", run.stderr)
        self.assertNotIn("status", run.stderr)
        # A port that cannot be opened leaves the file as it was: not made at all.
        out = os.path.join(self.dir, "new.nc")
        run = subprocess.run([CLI, "receive", "--profile", "P", "--device", os.path.join(self.dir, "none"),
                              "--home", self.home, "--settings", self.settings, out], capture_output=True, timeout=10)
        self.assertEqual(run.returncode, 2)
        self.assertFalse(os.path.exists(out))

    # ---- failures ----

    def test_a_port_that_does_not_exist(self):
        self.start("send", b"G1", device=os.path.join(self.dir, "no-such-tty"))
        rc, err = self.finish()
        self.assertEqual(rc, 2)
        self.assertEqual(err, "error プロパティの値が正しくありません\nerror ファイルが見つかりません。\n")

    def test_the_partner_closing_the_line_mid_transfer(self):
        self.start("receive", b"A", in_codes=("-", "&H11", "&H93", "&H14"))
        self.line.write(bytes.fromhex("42b18d0a"))
        self.wait_received(b"AB1\r\n")
        self.line.close()
        self.line = Line()  # for tearDown
        rc, err = self.finish(timeout=10)
        self.assertEqual(rc, 2, err)
        self.assertEqual(self.received(), b"AB1\r\n")  # what arrived is kept


if __name__ == "__main__":
    run_tests([sys.argv[0], "-v", *sys.argv[2:]])
