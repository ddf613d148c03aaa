#!/usr/bin/env python3
"""End to end: tarvex-cli send and receive through a real ser2net on
127.0.0.1, over RFC 2217 and raw TCP, to a pseudo-terminal on whose other
side the test plays the partner. Usage: network_e2e.py TARVEX_CLI"""
import os
import select
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

from serial_e2e import CLI, DC1, DC3P, DC4, Line, profile
from ser2net_server import Ser2net, free_port
from outcome import run_tests


def fields(baud, parity, data, stop, code, partner, in_codes, out_codes, timeout="3"):
    values = ["1", str(baud), parity, str(data), str(stop), "0", str(code), str(partner), *in_codes, *out_codes,
              timeout, "0"]
    return "".join(v + "\r\n" for v in values).encode()


class Network(unittest.TestCase):
    def setUp(self):
        self.assertTrue(shutil.which("ser2net"), "ser2net is missing (the set-up installs it)")
        self.dir = tempfile.mkdtemp(prefix="tarvex-net-")
        self.home = os.path.join(self.dir, "home")
        os.makedirs(os.path.join(self.home, "RS232C"))
        self.line = Line()
        self.server = None

    def tearDown(self):
        if self.server:
            self.server.stop()
        self.line.close()
        shutil.rmtree(self.dir)

    def serve(self, telnet=True):
        self.server = Ser2net(self.line.path, telnet)
        return self.server.url

    def start(self, command, device, prof, text=b"", extra=()):
        with open(os.path.join(self.home, "RS232C", "P"), "wb") as f:
            f.write(prof)
        self.file = os.path.join(self.dir, "prog.nc")
        with open(self.file, "wb") as f:
            f.write(text)
        self.proc = subprocess.Popen([CLI, command, "--profile", "P", "--device", device, "--home", self.home,
                                      "--settings", os.path.join(self.dir, "s.ini"), *extra, self.file],
                                     stderr=subprocess.PIPE)

    def finish(self, timeout=30):
        _, err = self.proc.communicate(timeout=timeout)
        return self.proc.returncode, (getattr(self, "early", b"") + err).decode()

    def received(self):
        with open(self.file, "rb") as f:
            return f.read()

    def wait_settings(self, baud):
        """Until the server has opened the device and set the line (the client connected)."""
        self.server.wait_device()
        end = time.time() + 10
        while time.time() < end and termios.tcgetattr(self.line.slave)[4] != baud:
            time.sleep(0.05)
        # And the transfer says it listens.
        self.early = b""
        end = time.time() + 30
        while (not any(m in self.early.decode(errors="replace") for m in ("起動コード", "progress 0"))
               and self.proc.poll() is None and time.time() < end):
            if select.select([self.proc.stderr], [], [], 0.1)[0]:
                self.early += os.read(self.proc.stderr.fileno(), 4096)

    # ---- RFC 2217 ----

    def test_iso_controller_output_with_the_profiles_line_settings(self):
        url = self.serve()
        self.start("send", url, fields(4800, "E", 7, 2, 2, 1, ("&H12", "&H11", "&H93", "&H14"),
                                       ("&H11", "&H11", "&H93", "&H14")), b"%\r\nO1\r\nM30\r\n%\r\n")
        self.wait_settings(termios.B4800)
        # Baud and stop bits arrive at the device (a pseudo-terminal keeps no
        # parity and no 7 bits, whatever it is told).
        attrs = termios.tcgetattr(self.line.slave)
        self.assertEqual((attrs[4], attrs[5]), (termios.B4800, termios.B4800))
        self.assertTrue(attrs[2] & termios.CSTOPB)
        self.line.write(DC1)
        self.line.read_until(lambda g: g.endswith(DC4), timeout=20)
        self.assertEqual(self.line.got, bytes.fromhex("a58d0acfb18d0a4d33308d0aa58d0aa5") + DC4)
        rc, err = self.finish()
        self.assertEqual(rc, 0, err)

    def test_stop_code_halts_within_ten_characters_and_request_resumes(self):
        url = self.serve()
        text = b"".join(b"N%04dG01X%d.Y%d.\r\n" % (n, n, n) for n in range(150))
        log = os.path.join(self.dir, "line.log")
        self.start("send", url, profile(), text, extra=["--log", log])
        self.wait_settings(termios.B19200)
        self.line.write(DC1)
        self.line.read_until(lambda g: len(g) >= 300)
        self.line.write(DC3P)
        self.line.write(DC1)
        self.line.read_until(lambda g: g.endswith(DC4), timeout=20)
        expected = subprocess.run([CLI, "encode", "--code", "iso"], input=text + b"%", capture_output=True).stdout
        self.assertEqual(self.line.got, expected + DC4)
        self.assertEqual(self.finish()[0], 0)
        # What the port wrote after the stop code came in, and what the
        # socket still held: the product's own count.
        with open(log, encoding="utf-8") as f:
            text = f.read()
        late = re.search(r"停止コードの到着後に書いた文字 (\d+)(?:（出力キュー (\d+)）)?", text)
        self.assertLessEqual(max(int(late.group(1)), int(late.group(2) or 0)), 10, text)

    def test_byte_ff_both_ways(self):
        """0xFF is Telnet's command byte: doubled on the wire, one byte at the
        ends. In: among a program's bytes (ASCII); out: an end code &HFF."""
        url = self.serve()
        self.start("receive", url, fields(9600, "N", 8, 1, 0, 1, ("-", "&H11", "&H93", "&H14"), ("-",) * 4))
        self.wait_settings(termios.B9600)
        self.line.write(b"G1\xffX2\xff\xffY3\r\n" + DC4)
        rc, err = self.finish()
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.received(), b"G1\xffX2\xff\xffY3\r\n")
        self.line.got = b""
        self.server.wait_device(held=False)
        self.start("send", url, fields(9600, "N", 8, 1, 0, 1, ("-",) * 4, ("-", "-", "-", "&HFF")), b"A\xffB")
        self.line.read_until(lambda g: g.endswith(b"%\xff"), timeout=20)
        self.assertEqual(self.finish()[0], 0)
        self.assertEqual(self.line.got, b"A\xffB%\xff")

    def test_the_server_killed_mid_transfer(self):
        url = self.serve()
        self.start("receive", url, fields(9600, "N", 8, 1, 0, 1, ("-", "&H11", "&H93", "&H14"), ("-",) * 4), b"A")
        self.wait_settings(termios.B9600)
        self.line.write(b"G1\r\nG2\r\n")
        end = time.time() + 30  # until the receive has kept both lines: it writes them as they come
        while self.received() != b"AG1\r\nG2\r\n" and time.time() < end:
            time.sleep(0.02)
        self.server.kill()
        rc, err = self.finish(timeout=15)
        self.assertEqual(rc, 2, err)
        self.assertIn("回線が切断されました。", err)
        self.assertEqual(self.received(), b"AG1\r\nG2\r\n")

    def test_a_refused_port_and_a_server_without_the_com_port_option(self):
        started = time.time()
        self.start("send", "rfc2217://127.0.0.1:%d" % free_port(), profile(), b"G1")
        rc, err = self.finish()
        self.assertEqual(rc, 2)
        self.assertIn("プロパティの値が正しくありません", err)
        self.assertLess(time.time() - started, 5)
        # A plain TCP service that never answers the option: said so, not hung on.
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        held = []
        threading.Thread(target=lambda: held.append(listener.accept()), daemon=True).start()
        started = time.time()
        self.start("receive", "rfc2217://127.0.0.1:%d" % listener.getsockname()[1], profile())
        rc, err = self.finish()
        self.assertEqual(rc, 2)
        self.assertIn("RFC 2217", err)
        self.assertLess(time.time() - started, 8)
        for connection, _ in held:
            connection.close()
        listener.close()

    def test_a_server_that_stops_reading_holds_the_output(self):
        """A device server whose partner holds the flow stops reading: the
        output pauses, says so, waits as long as the hold lasts and ends by
        the cancel button, never by a send-buffer error."""
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # its window closes soon
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        held = []
        threading.Thread(target=lambda: held.append(listener.accept()), daemon=True).start()
        log = os.path.join(self.dir, "line.log")
        with open(os.path.join(self.home, "RS232C", "P"), "wb") as f:
            f.write(profile(code=0, out_codes=("-", "&H11", "&H93", "&H14")))
        self.file = os.path.join(self.dir, "prog.nc")
        with open(self.file, "wb") as f:
            f.write(b"G01X1.Y1.\r\n" * 20000)
        self.proc = subprocess.Popen([CLI, "send", "--profile", "P", "--device",
                                      "tcp://127.0.0.1:%d" % listener.getsockname()[1], "--home", self.home,
                                      "--settings", os.path.join(self.dir, "s.ini"), "--log", log, self.file],
                                     stderr=subprocess.PIPE)
        err = b""
        end = time.time() + 30
        while b"\xe9\x80\x81\xe4\xbf\xa1\xe5\xbe\x85\xe3\x81\xa1" not in err and time.time() < end:  # "送信待ち"
            err += os.read(self.proc.stderr.fileno(), 4096)
        time.sleep(3)  # a hold of seconds is no failure
        self.assertIsNone(self.proc.poll())
        self.proc.send_signal(signal.SIGINT)
        started = time.time()
        rc, rest = self.finish(timeout=15)
        err = err.decode() + rest
        self.assertEqual(rc, 1, err)
        self.assertLess(time.time() - started, 6)
        self.assertIn("相手が受信を止めています（送信待ち）。", err)
        self.assertNotIn("送信ﾊﾞｯﾌｧ", err)
        with open(log, encoding="utf-8") as f:
            self.assertIn("送信待ち: 相手が受信を止めています", f.read())
        for connection, _ in held:
            connection.close()
        listener.close()

    # ---- raw TCP ----

    def test_raw_tcp_output_and_input(self):
        url = self.serve(telnet=False)
        text = b"%\r\nO1\r\nM30\r\n%\r\n"
        self.start("send", url, profile(), text)
        self.server.wait_device()
        self.line.write(DC1)
        self.line.read_until(lambda g: g.endswith(DC4), timeout=20)
        self.assertEqual(self.line.got, bytes.fromhex("a58d0acfb18d0a4d33308d0aa58d0aa5") + DC4)
        self.assertEqual(self.finish()[0], 0)
        self.server.wait_device(held=False)
        self.start("receive", url, fields(9600, "N", 8, 1, 0, 1, ("-", "&H11", "&H93", "&H14"), ("-",) * 4))
        self.server.wait_device()
        self.line.write(b"G1\xffX2\r\n" + DC4)
        rc, err = self.finish()
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.received(), b"G1\xffX2\r\n")


if __name__ == "__main__":
    run_tests([sys.argv[0], "-v", *sys.argv[2:]])
