#!/usr/bin/env python3
"""A drip feed (tarvex-cli's tape run) into an emulated control that runs
the program from a small receive buffer, the way a drip-fed machine starves
when its buffer runs dry: 256 bytes, drained at 70 % of the line rate, the
stop code (DC3) sent at 224 bytes and the request code (DC1) at 96; it
starts running the program once it holds 96 bytes. Prints,
for a run of SECONDS (default 60) at BAUD (default 19200), once on a quiet
machine and once with four processor hogs at normal priority:
- underruns (the buffer empty while the program has not ended) and
  overflows (more than 256 bytes);
- the rate achieved while the control does not hold the line, against the
  line rate, and the longest gap between two bytes then;
- the characters that arrive after each stop code (the worst).
The control runs at real-time priority where it may, so that it is the
judge and not a second victim of the load.
With --window TARVEX the window's tape run is measured instead (on an Xvfb
display of its own, a program of a million lines that the window colours
and draws): the transfer must never wait for the window.
Usage: bench_drip.py TARVEX_CLI [BAUD] [SECONDS] [--window TARVEX]"""
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

ARGS = sys.argv[1:]
WINDOW = None
if "--window" in ARGS:
    k = ARGS.index("--window")
    WINDOW = ARGS[k + 1]
    del ARGS[k:k + 2]
CLI = ARGS[0]
BAUD = int(ARGS[1]) if len(ARGS) > 1 else 19200
SECONDS = float(ARGS[2]) if len(ARGS) > 2 else 60
DISPLAY = None
SIZE, HIGH, LOW, DRAIN = 256, 224, 96, 0.70
DC1, DC3, DC4 = 0x11, 0x13, 0x14


def program(chars, least_lines=0):
    lines, k, size = [b"%", b"O1000"], 0, 0
    while size < chars or k < least_lines:
        lines.append(b"N%dG01X%d.%03dY%d.5F800" % (k, k % 700, k % 1000, k % 300))
        size += len(lines[-1]) + 2
        k += 1
    return b"\r\n".join(lines + [b"M30", b"%"]) + b"\r\n"


def control(master, seconds, rate):
    """The control: returns its figures once the time is up or the program ended."""
    os.set_blocking(master, False)
    os.write(master, bytes([DC1]))  # the start code
    buf, held, started, starved = 0.0, False, False, False
    underruns = overflows = after = worst_after = 0
    free_bytes, free_time, gap = 0, 0.0, 0.0
    last = last_byte = free_since = begun = time.monotonic()
    first_underrun = None
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
                    if first_underrun is None:
                        first_underrun = now - begun
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
            starved = False
            buf += len(data)
            started = started or buf >= LOW  # the control runs once it has a few blocks
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
    return (underruns, overflows, free_bytes / free_time / rate if free_time else 0, gap, worst_after,
            first_underrun)


def run(home, text, hogs):
    master, slave = os.openpty()
    tty.setraw(master)
    path = os.ttyname(slave)
    if not WINDOW:
        os.close(slave)
    busy = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(hogs)]
    try:
        if WINDOW:
            settings = os.path.join(home, "w.ini")
            with open(settings, "w") as f:
                f.write("[Ports]\nCom1=%s\n[Tarvex]\nFileName=P\nWidth=15000\nHeight=11000\n" % path)
            proc = subprocess.Popen([WINDOW, "--home", home, "--settings", settings, "--press", "Command11", text],
                                    env=dict(os.environ, DISPLAY=DISPLAY), stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            # The window listens once it has loaded the program and opened
            # the port: the control repeats its start code until bytes come.
            # (The line stays open on this side until then: a pseudo-terminal
            # that nobody holds reads as hung up.)
            while not select.select([master], [], [], 0.2)[0] and proc.poll() is None:
                os.write(master, bytes([DC1]))
            os.close(slave)
        else:
            proc = subprocess.Popen([CLI, "send", "--partner", "tape", "--profile", "P", "--device", path, "--home",
                                     home, "--settings", os.path.join(home, "s.ini"), text], stderr=subprocess.PIPE)
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
        proc.send_signal(signal.SIGKILL if WINDOW else signal.SIGINT)
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
            f.write(program(int(BAUD / 10 * SECONDS * 1.2), 1_000_000 if WINDOW else 0))
        if WINDOW:
            xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            global DISPLAY
            DISPLAY = ":" + xvfb.stdout.readline().decode().strip()
        for hogs in (0, 4):
            u, o, rate, gap, after, first = run(home, text, hogs)
            print(("window: " if WINDOW else "") + "%d hogs, %d baud, %.0f s: underruns %d%s, overflows %d, "
                  "rate while not held %.1f %% of the line, longest gap %.3f s, characters after a stop code at most "
                  "%d" % (hogs, BAUD, SECONDS, u, "" if first is None else " (the first at %.2f s)" % first, o,
                          rate * 100, gap, after))
            sys.stdout.flush()
    finally:
        if WINDOW:
            xvfb.terminate()
            xvfb.wait()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
