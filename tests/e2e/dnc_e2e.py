#!/usr/bin/env python3
"""End to end: tarvex-dnc serving three machines on pseudo-terminals at once,
the test playing the controls: punches saved under their numbers, a request
answered from the library, a drip request sent as a tape run, a line that
goes away and comes back, a stop in the middle of a punch; punches back to
back, cut short, into a folder that cannot be written, and a service killed
in the middle of one; the shop floor page read in a headless Chromium. Run as root, the service runs as nobody, so that a
folder's permissions hold for it.
Usage: dnc_e2e.py TARVEX_DNC"""
import fcntl
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import termios
import time
import unittest
import urllib.request

from partner import DC1, DC2, DC3P, DC4, Line, profile
from ser2net_server import Ser2net
from outcome import run_tests

DNC = sys.argv[1]


def iso(text):
    """Text as a control punches it in ISO code: even parity, LF line ends."""
    out = bytearray()
    for b in text.replace(b"\r\n", b"\n"):
        out.append(b | 0x80 if bin(b).count("1") % 2 else b)
    return bytes(out)


def plain(line_bytes):
    """What a control reads of ISO bytes: the parity bit gone, CR dropped."""
    return bytes(b & 0x7F for b in line_bytes if b & 0x7F not in (0x0D, 0x00))


class Shop(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarvex-dnc-")
        os.chmod(self.dir, 0o755)
        self.folders = {k: os.path.join(self.dir, k) for k in ("library", "received", "profiles", "logs")}
        for f in self.folders.values():
            os.makedirs(f)
            os.chmod(f, 0o777)
        os.makedirs(os.path.join(self.folders["library"], "mill"))
        self.program = b"%\r\nO1234(BRACKET)\r\nG01X10.Y5.F100\r\nM30\r\n%\r\n"
        with open(os.path.join(self.folders["library"], "1234.nc"), "wb") as f:
            f.write(self.program)
        with open(os.path.join(self.folders["library"], "mill", "O5678.nc"), "wb") as f:
            f.write(b"%\r\nO5678\r\nG01X1.\r\n" * 3 + b"M30\r\n%\r\n")
        with open(os.path.join(self.folders["profiles"], "FANUC"), "wb") as f:
            f.write(profile(timeout="2"))
        self.lines = {name: self.line() for name in ("MC1", "MC2", "MC3", "MC4")}
        self.links = {}
        for name in ("MC1", "MC2", "MC3"):
            # A stable name for the device, as udev gives a USB adapter.
            self.links[name] = os.path.join(self.dir, name.lower())
            os.symlink(self.lines[name].path, self.links[name])
        # The fourth machine stands behind a real ser2net.
        self.assertTrue(shutil.which("ser2net"), "ser2net is missing (the set-up installs it)")
        self.server = Ser2net(self.lines["MC4"].path)
        if self.server:
            self.links["MC4"] = self.server.url
        else:
            del self.lines["MC4"]
        self.config = os.path.join(self.dir, "dnc.ini")
        self.write_config()
        self.proc = None

    def write_config(self, extra="", disabled=(), without=(), profiles=None, shop=""):
        text = "[Shop]\n" + "".join("%s=%s\n" % (k.capitalize(), v) for k, v in self.folders.items()) + shop
        for name in self.lines:
            if name in without:
                continue
            text += ("\n[Machine %s]\nDevice=%s\nProfile=%s\nRequestProgram=O9999\nDripProgram=O9998\n"
                     "RequestTimeout=%d\n%s" % (name, self.links[name], (profiles or {}).get(name, "FANUC"),
                                                 2 if name == "MC3" else 20, "Enabled=no\n" if name in disabled else ""))
        with open(self.config, "w") as f:
            f.write(text + extra)

    def tearDown(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.server:
            self.server.stop()
        for line in self.lines.values():
            line.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    @staticmethod
    def line():
        line = Line()
        os.chmod(line.path, 0o666)
        return line

    def start(self, env=None):
        self.log = open(os.path.join(self.dir, "stderr"), "a")
        self.addCleanup(self.log.close)
        user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] if os.getuid() == 0 else []
        status = os.path.join(self.folders["logs"], "status")
        if os.path.exists(status):
            os.remove(status)  # a killed service's: the states are this one's
        self.proc = subprocess.Popen([*user, DNC, "--config", self.config], stderr=self.log,
                                     env=dict(os.environ, **(env or {})))
        self.wait_for(lambda: all(self.state(n) == "idle" for n in self.lines), "every machine idle")

    def status(self):
        out = subprocess.run([DNC, "--status", "--config", self.config], capture_output=True, text=True)
        return {l.split("\t")[0]: l.split("\t") for l in out.stdout.splitlines()}

    @staticmethod
    def content(path, mode="rb"):
        with open(path, mode) as f:
            return f.read()

    def state(self, name):
        return self.status().get(name, ["", "?"])[1]

    def wait_for(self, condition, what, timeout=20):
        end = time.time() + timeout
        while time.time() < end:
            if condition():
                return
            time.sleep(0.05)
        self.fail("waited in vain for " + what + ": " + repr(self.status()))

    def received(self, name, hidden=False):
        folder = os.path.join(self.folders["received"], name)
        files = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        return [f for f in files if hidden == f.startswith(".")]

    def read(self, name, file):
        with open(os.path.join(self.folders["received"], name, file), "rb") as f:
            return f.read()

    def punch(self, name, text):
        self.lines[name].write(DC2 + iso(text) + DC4)

    def test_machines_at_once(self):
        self.start()
        # MC2 asks for a program while MC1 punches two with one number.
        self.punch("MC2", b"%\nO9999(1234)\n%\n")
        self.punch("MC1", b"%\nO0012(FIRST)\nG01X1.\nM30\n%\n")
        self.wait_for(lambda: self.received("MC1") == ["O0012.nc"], "the first punch")
        if self.server:
            self.server.wait_device()
            self.punch("MC4", b"%\nO0400(NET)\nM30\n%\n")
            self.wait_for(lambda: self.received("MC4") == ["O0400.nc"], "the punch through ser2net")
        self.punch("MC1", b"%\nO0012(SECOND)\nM30\n%\n")
        self.wait_for(lambda: self.received("MC1") == ["O0012-2.nc", "O0012.nc"], "the second punch beside it")
        with open(os.path.join(self.folders["received"], "MC1", "O0012.nc"), "rb") as f:
            self.assertEqual(f.read(), b"%\r\nO0012(FIRST)\r\nG01X1.\r\nM30\r\n%\r\n")
        # The request: the control sends its start code, the program follows with the end code.
        self.wait_for(lambda: self.state("MC2") == "waiting-start", "the request's wait")
        self.lines["MC2"].write(DC1)
        got = self.lines["MC2"].read_until(lambda g: DC4 in g, timeout=20)
        # The library's program exactly, and the closing "%" every output adds.
        self.assertEqual(plain(got[:got.index(DC4)]), self.program.replace(b"\r\n", b"\n") + b"%")
        self.assertEqual(self.received("MC2"), [])  # a request is no program to keep
        # A punch goes before a request still waiting: nothing is sent, the punch is kept whole.
        self.wait_for(lambda: self.state("MC2") == "idle", "MC2 listening again")
        self.punch("MC2", b"%\nO9999(1234)\n%\n")
        self.wait_for(lambda: self.state("MC2") == "waiting-start", "the second request's wait")
        self.punch("MC2", b"%\nO0055(FIRST)\nM30\n%\n")
        self.wait_for(lambda: self.received("MC2") == ["O0055.nc"], "the punch before the request")
        with open(os.path.join(self.folders["received"], "MC2", "O0055.nc"), "rb") as f:
            self.assertEqual(f.read(), b"%\r\nO0055(FIRST)\r\nM30\r\n%\r\n")
        self.assertEqual(self.lines["MC2"].read_until(lambda g: False, timeout=0.3), b"")
        # A request that the control never takes is dropped, and said so.
        self.punch("MC3", b"%\nO9999(1234)\n%\n")
        self.wait_for(lambda: self.state("MC3") == "waiting-start", "MC3's request")
        self.wait_for(lambda: self.state("MC3") == "idle", "the request dropped", timeout=10)
        with open(os.path.join(self.folders["logs"], "MC3.log"), encoding="utf-8") as f:
            self.assertIn("起動コードが 2 秒来ないため取りやめました", f.read())
        self.assertEqual(self.lines["MC3"].read_until(lambda g: DC4 in g, timeout=5), DC4)  # only the end code
        self.lines["MC3"].got = b""
        # A drip request from a subfolder, as a tape run.
        self.punch("MC3", b"%\nO9998\n(PRG=5678)\n%\n")
        self.wait_for(lambda: self.state("MC3") in ("waiting-start", "drip"), "the drip feed")
        self.lines["MC3"].write(DC1)
        got = self.lines["MC3"].read_until(lambda g: DC4 in g, timeout=20)
        self.assertIn(b"O5678\nG01X1.\n", plain(got))
        # MC1's line goes away: the others are served meanwhile, and MC1 again once it is back.
        self.lines["MC1"].close()
        self.wait_for(lambda: self.state("MC1") == "retrying", "MC1 retrying")
        self.punch("MC2", b"%\nO0077\nM30\n%\n")
        self.wait_for(lambda: self.received("MC2") == ["O0055.nc", "O0077.nc"], "MC2 served meanwhile")
        self.lines["MC1"] = self.line()
        os.remove(self.links["MC1"])
        os.symlink(self.lines["MC1"].path, self.links["MC1"])
        self.wait_for(lambda: self.state("MC1") == "idle", "MC1 back", timeout=40)
        self.punch("MC1", b"%\nO0013\nM30\n%\n")
        self.wait_for(lambda: "O0013.nc" in self.received("MC1"), "MC1 served again")
        # A stop in the middle of a punch keeps what came, marked as cut short,
        # and ends the service cleanly.
        self.lines["MC3"].write(DC2 + iso(b"%\nO0100(HALF)\nG01X1.\n"))
        self.wait_for(lambda: self.status()["MC3"][1:6:4] == ["receiving", "24"], "MC3's 24 bytes received")
        self.proc.send_signal(signal.SIGTERM)
        self.assertEqual(self.proc.wait(timeout=20), 0)
        self.assertEqual(self.read("MC3", "O0100.partial.nc"), b"%\r\nO0100(HALF)\r\nG01X1.\r\n")
        self.assertEqual(self.received("MC3", hidden=True), [])
        with open(os.path.join(self.folders["logs"], "MC2.log"), encoding="utf-8") as f:
            self.assertIn("要求 O9999: 1234", f.read())

    def test_nothing_punched_is_lost(self):
        os.makedirs(os.path.join(self.folders["received"], "MC3"), mode=0o555)
        os.chmod(os.path.join(self.folders["received"], "MC3"), 0o555)
        self.start()
        # Two programs back to back, with no gap, through ser2net where it is: both land.
        batch = "MC4" if self.server else "MC1"
        if self.server:
            self.server.wait_device()
        self.lines[batch].write(DC2 + iso(b"%\nO0201\nM30\n%\n") + DC4 + DC2 + iso(b"%\nO0202\nM30\n%\n") + DC4)
        self.wait_for(lambda: self.received(batch) == ["O0201.nc", "O0202.nc"], "both programs of the batch")
        self.assertEqual(self.read(batch, "O0202.nc"), b"%\r\nO0202\r\nM30\r\n%\r\n")
        # A punch without its end code, ended by the time-out: never under its plain name.
        self.lines["MC2"].write(DC2 + iso(b"%\nO6161\nG01X1.\n"))
        self.wait_for(lambda: self.status()["MC2"][4] == "O6161.partial.nc: 途中まで（タイムアウトを検出しました。）",
                      "the punch cut short, said so")
        self.assertEqual(self.received("MC2"), ["O6161.partial.nc"])
        # A bad byte ("1" without its parity bit), the program sent again at once: it comes whole.
        self.lines["MC2"].write(DC2 + iso(b"%\nO0401\nG0") + b"\x31" + DC2 + iso(b"%\nO0401\nM30\n%\n") + DC4)
        self.wait_for(lambda: self.received("MC2") == ["O0401.nc", "O0401.partial.nc", "O6161.partial.nc"],
                      "the program sent again after a bad byte")
        # A folder that cannot be written: the program waits in memory, said
        # so, and is written within 20 s of the folder taking it again.
        self.punch("MC3", b"%\nO0300\nM30\n%\n")
        self.wait_for(lambda: self.state("MC3") == "unsaved", "the program unsaved")
        self.assertIn("O0300.nc: Permission denied", self.status()["MC3"][4])
        os.chmod(os.path.join(self.folders["received"], "MC3"), 0o777)
        self.wait_for(lambda: self.received("MC3") == ["O0300.nc"], "the program written", timeout=20)
        self.wait_for(lambda: self.state("MC3") == "idle", "MC3 idle")
        # Killed in the middle of a punch: what came is named at the next start.
        self.lines["MC1"].write(DC2 + iso(b"%\nO0100(HALF)\nG01X1.\n"))
        folder = os.path.join(self.folders["received"], "MC1")
        self.wait_for(lambda: any(os.path.getsize(os.path.join(folder, f)) == 24
                                  for f in self.received("MC1", hidden=True)), "the punch on the disk")
        self.proc.kill()
        self.proc.wait()
        # The pseudo-terminals outlive it, held by the test: their exclusive
        # flag too (a real port's goes with its last user).
        for name in ("MC1", "MC2", "MC3"):
            fcntl.ioctl(self.lines[name].slave, termios.TIOCNXCL)
        self.start()
        self.assertEqual(self.read("MC1", "O0100.partial.nc"), b"%\r\nO0100(HALF)\r\nG01X1.\r\n")
        with open(os.path.join(self.folders["logs"], "MC1.log"), encoding="utf-8") as f:
            self.assertIn("O0100.partial.nc にしました", f.read())
        # Still unwritable at a stop: the program goes to the logs' folder.
        os.chmod(os.path.join(self.folders["received"], "MC3"), 0o555)
        self.punch("MC3", b"%\nO0301\nM30\n%\n")
        self.wait_for(lambda: self.state("MC3") == "unsaved", "the second program unsaved")
        self.proc.send_signal(signal.SIGTERM)
        self.assertEqual(self.proc.wait(timeout=20), 0)
        with open(os.path.join(self.folders["logs"], "unsaved", "MC3", "O0301.nc"), "rb") as f:
            self.assertEqual(f.read(), b"%\r\nO0301\r\nM30\r\n%\r\n")
        with open(os.path.join(self.dir, "stderr"), encoding="utf-8") as f:
            self.assertEqual(f.read().count("MC3: 受信したプログラムを保存できません"), 2)

    def notified(self, what):
        """Waits for a notification to systemd's socket, after the last one
        waited for: the test stands in for systemd, reading them all."""
        self.wait_for(lambda: what in self.messages[self.seen:], what)
        self.seen = self.messages.index(what, self.seen) + 1

    def listen_as_systemd(self):
        self.notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.addCleanup(self.notify.close)
        path = os.path.join(self.dir, "notify")
        self.notify.bind(path)
        os.chmod(path, 0o777)
        self.messages, self.seen = [], 0

        def read():
            while True:
                try:
                    self.messages += self.notify.recv(4096).decode().split("\n")
                except OSError:
                    return
        threading.Thread(target=read, daemon=True).start()
        return path

    def test_an_administrator_leaves_it_running(self):
        self.start({"NOTIFY_SOCKET": self.listen_as_systemd(), "WATCHDOG_USEC": "600000"})
        self.notified("READY=1")
        self.notified("WATCHDOG=1")
        # A second start on the same configuration touches nothing.
        before = {f: self.content(os.path.join(self.folders["logs"], f)) for f in os.listdir(self.folders["logs"])}
        second = subprocess.run([DNC, "--config", self.config], capture_output=True, text=True)
        self.assertEqual(second.returncode, 1)
        self.assertIn("tarvex-dnc は既に動いています（PID %d）。" % self.proc.pid, second.stderr)
        after = {f: self.content(os.path.join(self.folders["logs"], f)) for f in os.listdir(self.folders["logs"])}
        self.assertEqual(after, before)
        # A drip feed, seen by --status, goes on through a reload that adds a machine and disables another.
        drip = b"%\r\nO5678\r\n" + b"".join(b"N%dG01X%d.\r\n" % (k, k) for k in range(900)) + b"M30\r\n%\r\n"
        with open(os.path.join(self.folders["library"], "mill", "O5678.nc"), "wb") as f:
            f.write(drip)
        self.punch("MC3", b"%\nO9998\n(PRG=5678)\n%\n")
        self.wait_for(lambda: self.state("MC3") == "waiting-start", "the drip's wait")
        self.lines["MC3"].write(DC1)
        self.wait_for(lambda: self.status()["MC3"][1] == "drip" and self.status()["MC3"][3] not in ("-", "0"),
                      "the drip under way", timeout=30)
        self.lines["MC3"].write(DC3P)  # the control holds it while the service reloads
        self.lines["MC5"] = self.line()
        self.links["MC5"] = self.lines["MC5"].path
        self.write_config(disabled=("MC2",))
        self.proc.send_signal(signal.SIGHUP)
        self.notified("RELOADING=1")
        self.notified("READY=1")
        self.wait_for(lambda: self.state("MC5") == "idle" and self.state("MC2") == "disabled", "the new configuration")
        self.punch("MC5", b"%\nO0500\nM30\n%\n")
        self.wait_for(lambda: self.received("MC5") == ["O0500.nc"], "a punch to the new machine")
        self.assertEqual(self.state("MC3"), "drip")
        self.lines["MC3"].write(DC1)
        got = self.lines["MC3"].read_until(lambda g: g.endswith(DC4), timeout=60)
        self.assertEqual(plain(got), drip.replace(b"\r\n", b"\n") + DC4)
        # The transfer's record reaches the machine's log once the run has ended.
        mc3 = os.path.join(self.folders["logs"], "MC3.log")
        self.wait_for(lambda: "開始: ﾃｰﾌﾟ運転".encode() in self.content(mc3), "the drip's record")
        with open(mc3, encoding="utf-8") as f:
            log = f.read()
        self.assertEqual((log.count("装置設定 FANUC"), log.count("開始: ﾃｰﾌﾟ運転")), (1, 1))  # never restarted
        # A configuration with a fault is refused on reload; the service goes on.
        with open(self.config, "a") as f:
            f.write("[Machine MC9]\nDevice=tcp://cell:0\nProfile=FANUC\n")
        self.proc.send_signal(signal.SIGHUP)
        self.wait_for(lambda: "読み直しません".encode() in self.content(os.path.join(self.dir, "stderr")),
                      "the reload refused")
        self.assertNotIn("MC9", self.status())
        # A machine changed to a profile without an input start code starts
        # again and listens; removed, it goes at once, its line untouched.
        with open(os.path.join(self.folders["profiles"], "NOSTART"), "wb") as f:
            f.write(profile(timeout="2", in_codes=("-", "&H11", "&H93", "&H14")))
        self.write_config(profiles={"MC1": "NOSTART"})
        self.proc.send_signal(signal.SIGHUP)
        self.wait_for(lambda: b"NOSTART" in self.content(os.path.join(self.folders["logs"], "MC1.log"))
                      and self.state("MC1") == "idle", "MC1 with its new profile")
        self.write_config(without=("MC1",))
        self.proc.send_signal(signal.SIGHUP)
        self.wait_for(lambda: "MC1" not in self.status(), "MC1 gone")
        self.proc.send_signal(signal.SIGTERM)
        self.notified("STOPPING=1")
        self.assertEqual(self.proc.wait(timeout=20), 0)
        out = subprocess.run([DNC, "--status", "--config", self.config], capture_output=True, text=True)
        self.assertEqual(out.returncode, 3)
        self.assertEqual(out.stdout.splitlines()[0], "tarvex-dnc: stopped")
        self.assertEqual({l.split("\t")[1] for l in out.stdout.splitlines()[1:]}, {"stopped"})

    def test_check_names_every_fault(self):
        user = ["--user", "nobody"] if os.getuid() == 0 else []
        self.assertEqual(subprocess.run([DNC, "--check", *user, "--config", self.config]).returncode, 0)
        self.write_config("[Machine MC 4]\nDevice=%s\nProfile=NONE\nBaud=9600\n[Extra]\n"
                          "[Machine MC7]\nDevice=rfc2217://cell:99999\nProfile=FANUC\n" % self.links["MC1"])
        os.chmod(self.folders["received"], 0o555)
        # The unit's sandbox: the logs writable, the received programs not.
        unit = os.path.join(self.dir, "tarvex-dnc.service")
        with open(unit, "w") as f:
            f.write("[Service]\nProtectSystem=strict\nReadWritePaths=-/srv/nc/received\n")
        os.makedirs(unit + ".d")
        with open(os.path.join(unit + ".d", "folders.conf"), "w") as f:
            f.write("[Service]\nReadWritePaths=%s\n" % self.folders["logs"])
        out = subprocess.run([DNC, "--check", *user, "--unit", unit, "--config", self.config],
                             capture_output=True, text=True)
        self.assertEqual(out.returncode, 1)
        for fault in ("only letters", "unknown key Baud", "unknown section [Extra]", "on one device",
                      "no profile NONE", "Device rfc2217://cell:99999", "Received %s: no folder" % self.folders["received"],
                      "Received %s: the service's unit keeps it read-only" % self.folders["received"]):
            self.assertIn(fault, out.stdout)
        self.assertNotIn("Logs %s" % self.folders["logs"], out.stdout)
        self.assertEqual(subprocess.run([DNC, "--check", *user, "--config", self.config + ".none"]).returncode, 2)
        # The service does not start on them.
        self.assertEqual(subprocess.run([DNC, "--config", self.config], capture_output=True).returncode, 1)

    def get(self, path, method="GET", headers=None):
        """The status and body of a request; None while nothing listens (a reload)."""
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=20)
        try:
            c.request(method, path, headers=headers or {})
            r = c.getresponse()
            return r.status, r.read()
        except ConnectionRefusedError:
            return None, b""
        finally:
            c.close()

    def test_a_punch_shows_live_and_bad_requests_are_refused(self):
        self.assertTrue(shutil.which("chromium"), "chromium is missing (the set-up installs it)")
        if self.server:  # three machines, all on pseudo-terminals
            self.server.stop()
            self.server = None
            self.lines.pop("MC4").close()
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.write_config(shop="Listen=127.0.0.1:%d\n" % self.port)
        self.start()
        browser = Browser("http://127.0.0.1:%d/" % self.port, os.path.join(self.dir, "chromium"))
        self.addCleanup(browser.close)
        cards = "[...document.querySelectorAll('.machine')].map(c => [c.id, c.dataset.state, c.innerText])"

        def page(condition, what):
            self.wait_for(lambda: condition(browser.evaluate(cards) or []), what + " on the page", timeout=60)

        page(lambda c: [(i, s) for i, s, _ in c] == [("machine-MC%d" % k, "idle") for k in (1, 2, 3)], "three idle machines")
        self.assertIn("待機", browser.evaluate(cards)[0][2])
        # A punch on MC2, seen as it arrives and then in today's programs, without a reload.
        self.lines["MC2"].write(DC2 + iso(b"%\nO0321(PAGE)\nG01X1.\n"))
        page(lambda c: c[1][1] == "receiving" and "受信中" in c[1][2], "MC2 receiving")
        self.lines["MC2"].write(iso(b"M30\n%\n") + DC4)
        page(lambda c: c[1][1] == "idle" and "O0321.nc" in c[1][2], "MC2's program received")
        self.assertIn("受信: O0321.nc", browser.evaluate("document.getElementById('events').innerText"))
        shot = browser.call("Page.captureScreenshot")["data"]
        with open(os.path.join(tempfile.gettempdir(), "tarvex-shop-page.png"), "wb") as f:
            f.write(__import__("base64").b64decode(shot))  # looked at by hand, never kept in the repository
        # Read-only, no file by its path, bounded requests.
        self.assertEqual(json.loads(self.get("/api/received/MC2")[1]), ["O0321.nc"])
        for method, path, code in (("POST", "/", 405), ("GET", "/../etc/passwd", 404), ("GET", "/api/received/..", 404),
                                   ("GET", "/api/received/%2e%2e%2fMC2", 404), ("GET", "/x" * 2000, 414),
                                   ("DELETE", "/api/status", 405), ("GET", "/api/other", 404)):
            self.assertEqual(self.get(path, method)[0], code, (method, path[:40]))
        # With a token, every request needs it.
        token = "k3J9-shop-floor-token-0042"
        self.write_config(shop="Listen=127.0.0.1:%d\nAccessToken=%s\n" % (self.port, token))
        self.proc.send_signal(signal.SIGHUP)
        self.wait_for(lambda: self.get("/api/status")[0] == 401, "the token required")
        self.assertEqual(self.get("/api/status", headers={"Authorization": "Bearer " + token})[0], 200)
        self.assertEqual(self.get("/?token=" + token)[0], 200)
        self.assertEqual(self.get("/api/status?token=wrong")[0], 401)


class Browser:
    """A headless Chromium, read through its debugging protocol: the page's
    DOM as it stands, without loading it again."""

    def __init__(self, url, folder):
        import websocket  # Debian's python3-websocket, installed by the set-up
        self.proc = subprocess.Popen(["chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
                                      "--remote-debugging-port=0", "--user-data-dir=" + folder,
                                      "--window-size=1000,800", url],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        active = os.path.join(folder, "DevToolsActivePort")
        end = time.time() + 60
        while not (os.path.exists(active) and Shop.content(active).count(b"\n") >= 1):
            assert time.time() < end and self.proc.poll() is None, "chromium did not start"
            time.sleep(0.05)
        port = Shop.content(active).split()[0].decode()
        pages = []
        while not pages:
            pages = [t for t in json.load(urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port))
                     if t["type"] == "page"]
        self.ws = websocket.create_connection(pages[0]["webSocketDebuggerUrl"], suppress_origin=True)
        self.id = 0

    def call(self, method, **params):
        self.id += 1
        self.ws.send(json.dumps({"id": self.id, "method": method, "params": params}))
        while True:
            answer = json.loads(self.ws.recv())
            if answer.get("id") == self.id:
                return answer["result"]

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", expression=expression, returnByValue=True)["result"].get("value")

    def close(self):
        self.ws.close()
        self.proc.terminate()
        self.proc.wait()


if __name__ == "__main__":
    run_tests([sys.argv[0]] + sys.argv[2:])
