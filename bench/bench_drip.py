#!/usr/bin/env python3
"""A drip feed (tarvex-cli's tape run) into an emulated control that runs
the program from a small receive buffer, the way a drip-fed machine starves
when its buffer runs dry: 256 bytes, drained at 70 % of the line rate, the
stop code (DC3) sent at 224 bytes and the request code (DC1) at 96. Prints,
for a run of SECONDS (default 60) at BAUD (default 19200), once on a quiet
machine and once with four processor hogs at normal priority:
- underruns (the buffer empty while the program has not ended) and
  overflows (more than 256 bytes);
- the rate achieved while the control does not hold the line, against the
  line rate, and the longest gap between two bytes then;
- the characters that arrive after each stop code (the worst).
The control runs at real-time priority where it may, so that it is the
judge and not a second victim of the load.
Usage: bench_drip.py TARVEX_CLI [BAUD] [SECONDS]"""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from partner import profile  # noqa: E402

CLI = sys.argv[1]
BAUD = int(sys.argv[2]) if len(sys.argv) > 2 else 19200
SECONDS = float(sys.argv[3]) if len(sys.argv) > 3 else 60
SIZE, HIGH, LOW, DRAIN = 256, 224, 96, 0.70
DC1, DC3, DC4 = 0x11, 0x13, 0x14


def program(chars):
    lines, k = [b"%", b"O1000"], 0
    while sum(len(l) + 2 for l in lines) < chars:
        lines.append(b"N%dG01X%d.%03dY%d.5F800" % (k, k % 700, k % 1000, k % 300))
        k += 1
    return b"\r\n".join(lines + [b"M30", b"%"]) + b"\r\n"


def control(master, seconds, rate):
    """The control: returns its figures once the time is up or the program ended."""
    os.set_blocking(master, False)
    os.write(master, bytes([DC1]))  # the start code
    buf, held, started, starved = 0.0, False, False, False
    underruns = overflows = after = worst_after = 0
    free_bytes, free_time, gap = 0, 0.0, 0.0
    last = last_byte = free_since = time.monotonic()
    end = last + seconds
    done = False
    while time.monotonic() < end and not done:
        select.select([master], [], [], 0.001)
        now = time.monotonic()
        if started:
            buf -= (now - last) * rate * DRAIN
            if buf <= 0:
                buf = 0
                if not starved:
                    underruns += 1
                starved = True
        last = now
        try:
            data = os.read(master, 4096)
        except BlockingIOError:
            data = b""
        if data:
            if not held and started:
                gap = max(gap, now - last_byte)
            last_byte = now
            if DC4 in data:
                data = data[:data.index(DC4)]
                done = True
            started = True
            starved = False
            buf += len(data)
            if buf > SIZE:
                overflows += 1
                buf = SIZE
            if held:
                after += len(data)
            else:
                free_bytes += len(data)
        if not held and buf >= HIGH:
            os.write(master, bytes([DC3]))
            held, after = True, 0
            free_time += now - free_since
        elif held and buf <= LOW:
            os.write(master, bytes([DC1]))
            held = False
            worst_after = max(worst_after, after)
            free_since = last_byte = now
    if not held:
        free_time += time.monotonic() - free_since
    return underruns, overflows, free_bytes / free_time / rate if free_time else 0, gap, worst_after


def run(home, text, hogs):
    master, slave = os.openpty()
    tty.setraw(master)
    path = os.ttyname(slave)
    os.close(slave)
    busy = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(hogs)]
    try:
        proc = subprocess.Popen([CLI, "send", "--partner", "tape", "--profile", "P", "--device", path, "--home", home,
                                 "--settings", os.path.join(home, "s.ini"), text], stderr=subprocess.PIPE)
        # It listens once it says it waits for the start code.
        line = b""
        while "送信待機中".encode() not in line and proc.poll() is None:
            line += proc.stderr.read1(4096)
        # Real-time only for the control itself: a child would inherit it.
        realtime = True
        try:
            os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(50))
        except (PermissionError, AttributeError):
            realtime = False
        try:
            figures = control(master, SECONDS, BAUD / 10)
        finally:
            if realtime:
                os.sched_setscheduler(0, os.SCHED_OTHER, os.sched_param(0))
        if not realtime:
            print("(the control ran at normal priority: figures under load are the control's too)")
        proc.send_signal(signal.SIGINT)
        proc.wait(timeout=30)
        return figures
    finally:
        for b in busy:
            b.kill()
            b.wait()
        os.close(master)


def main():
    home = tempfile.mkdtemp(prefix="tarvex-bench-drip-")
    try:
        os.makedirs(os.path.join(home, "RS232C"))
        with open(os.path.join(home, "RS232C", "P"), "wb") as f:
            f.write(profile(baud=BAUD, out_codes=("&H11", "&H11", "&H93", "&H14"), timeout="0"))
        text = os.path.join(home, "drip.nc")
        with open(text, "wb") as f:
            f.write(program(int(BAUD / 10 * SECONDS * 1.2)))
        for hogs in (0, 4):
            u, o, rate, gap, after = run(home, text, hogs)
            print("%d hogs, %d baud, %.0f s: underruns %d, overflows %d, rate while not held %.1f %% of the line, "
                  "longest gap %.3f s, characters after a stop code at most %d" % (hogs, BAUD, SECONDS, u, o,
                                                                                     rate * 100, gap, after))
            sys.stdout.flush()
    finally:
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
