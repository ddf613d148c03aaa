#!/usr/bin/env python3
"""Serial transfers through a pseudo-terminal pair, with tarvex-cli on one
side and this script as the partner on the other:
- controller output of 10,000 characters at 19,200 baud 8N1, slider 0:
  the time against the line time, and the processor use;
- characters that reach the partner after it sent its stop code (worst of 20
  tries at random points), on the local line and through a ser2net on
  127.0.0.1 over RFC 2217 (when ser2net is installed);
- controller input of a 1,000,000-line program sent as fast as the
  pseudo-terminal takes, the partner obeying the stop and request codes;
- processor time used while waiting 10 s for a start code.
With --log every transfer also writes the line monitor's log, to compare
the figures with the monitor listening and without.
Usage: bench_serial.py TARVEX_CLI [--log]"""
import os
import random
import select
import shutil
import subprocess
import sys
import tempfile
import time
import tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from ser2net_server import Ser2net  # noqa: E402
from proc_cpu import cpu_seconds  # noqa: E402

CLI = sys.argv[1]
LOG = "--log" in sys.argv[2:]


def profile(baud=19200, code=0, in_codes=("-", "&H11", "&H93", "&H14"), out_codes=("-", "&H11", "&H93", "-")):
    fields = ["1", str(baud), "N", "8", "1", "0", str(code), "1", *in_codes, *out_codes, "0", "0"]
    return "".join(f + "\r\n" for f in fields).encode()



class Run:
    def __init__(self, home, command, file, prof, network=False):
        with open(os.path.join(home, "RS232C", "P"), "wb") as f:
            f.write(prof)
        self.master, slave = os.openpty()
        tty.setraw(self.master)
        path = os.ttyname(slave)
        os.close(slave)
        self.server = Ser2net(path) if network else None
        device = self.server.url if network else path
        log = ["--log", os.path.join(home, "line.log")] if LOG else []
        self.proc = subprocess.Popen([CLI, command, "--profile", "P", "--device", device, "--home", home,
                                      "--settings", os.path.join(home, "s.ini"), *log, file],
                                     stderr=subprocess.DEVNULL)
        time.sleep(1.0 if network else 0.3)

    def read(self, timeout):
        r, _, _ = select.select([self.master], [], [], timeout)
        if not r:
            return b""
        try:
            return os.read(self.master, 65536)
        except OSError:
            return b""

    def close(self):
        self.proc.wait(timeout=60)
        if self.server:
            self.server.stop()
        os.close(self.master)


def output_speed(home):
    text = os.path.join(home, "out.nc")
    with open(text, "wb") as f:
        f.write(b"".join(b"G01X%d.Y%d.\r\n" % (n % 1000, n % 777) for n in range(2000))[:10000])
    run = Run(home, "send", text, profile(out_codes=("&H11", "&H11", "&H93", "-")))
    cpu_before = cpu_seconds(run.proc.pid)
    os.write(run.master, b"\x11")
    start = time.monotonic()
    got = b""
    while len(got) < 10001:
        data = run.read(5)
        if not data:
            break
        got += data
    taken = time.monotonic() - start
    cpu = cpu_seconds(run.proc.pid) - cpu_before
    run.close()
    line = 10001 * 10 / 19200
    print("output 10,000 characters at 19200 8N1: %.3f s, line time %.3f s (%+.1f%%), processor %.2f%% of a core"
          % (taken, line, 100 * (taken / line - 1), 100 * cpu / taken))


def stop_reaction(home, network=False):
    text = os.path.join(home, "out.nc")
    with open(text, "wb") as f:
        f.write(b"G01X1.Y1.\r\n" * 1200)
    worst = 0
    rng = random.Random(7)
    for _ in range(20):
        run = Run(home, "send", text, profile(), network)
        point = rng.randrange(200, 9000)
        got = b""
        while len(got) < point:
            got += run.read(5)
        os.write(run.master, b"\x93")
        at = len(got)
        end = time.monotonic() + 0.3
        while time.monotonic() < end:
            got += run.read(0.05)
        worst = max(worst, len(got) - at)
        os.write(run.master, b"\x11")
        while not got.endswith(b"%"):
            data = run.read(5)
            if not data:
                break
            got += data
        run.close()
    print("characters after the stop code%s: at most %d (20 tries)"
          % (" over RFC 2217 (ser2net)" if network else "", worst))


def input_speed(home):
    out = os.path.join(home, "in.nc")
    if os.path.exists(out):
        os.remove(out)
    program = b"".join(b"N%dG01X%d.%03dY%d.%03d\r\n" % (n, n % 500, n % 1000, n % 300, n % 997) for n in range(1000000))
    run = Run(home, "receive", out, profile())
    os.set_blocking(run.master, False)
    sent, stops, requests, stopped = 0, 0, 0, False
    start = time.monotonic()
    while sent < len(program):
        r, w, _ = select.select([run.master], [] if stopped else [run.master], [], 1)
        if r:
            for b in os.read(run.master, 4096):
                if b == 0x93:
                    stopped, stops = True, stops + 1
                elif b == 0x11:
                    stopped, requests = False, requests + 1
        if w and not stopped:
            try:
                sent += os.write(run.master, program[sent:sent + 65536])
            except BlockingIOError:
                pass
    os.set_blocking(run.master, True)
    os.write(run.master, b"\x14")
    run.proc.wait(timeout=120)
    taken = time.monotonic() - start
    os.close(run.master)
    size = os.path.getsize(out)
    print("input of 1,000,000 lines (%.1f MB): %.2f s, %.0f KB/s; stop codes %d, request codes %d; received %s"
          % (len(program) / 1e6, taken, len(program) / taken / 1000, stops, requests,
             "all" if size == len(program) else "%d of %d bytes" % (size, len(program))))


def idle_wait(home):
    text = os.path.join(home, "out.nc")
    run = Run(home, "send", text, profile(out_codes=("&H11", "&H11", "&H93", "-")))
    before = cpu_seconds(run.proc.pid)
    time.sleep(10)
    used = cpu_seconds(run.proc.pid) - before
    os.write(run.master, b"\x11")
    while run.read(3):
        pass
    run.close()
    print("waiting 10 s for the start code: %.2f s of processor time" % used)


def main():
    print("with the line monitor's log" if LOG else "without the line monitor")
    home = tempfile.mkdtemp(prefix="tarvex-bench-")
    os.makedirs(os.path.join(home, "RS232C"))
    try:
        output_speed(home)
        stop_reaction(home)
        if shutil.which("ser2net"):
            stop_reaction(home, network=True)
        input_speed(home)
        idle_wait(home)
    finally:
        shutil.rmtree(home)


if __name__ == "__main__":
    main()
