#!/usr/bin/env python3
"""The DNC service at scale, on one processor core (taskset): 32 machines on
pseudo-terminals, this script playing every control:
- processor use of the whole service over 10 s with all 32 idle;
- 8 machines sending (answers to requests, 10,000 characters each) and 8
  receiving (punches of 10,000 characters paced at the line rate) at once at
  19,200 baud 8N1: each transfer's time against its line time, and the
  characters that reach a control after it sends its stop code (each
  sending control stops the flow once, at a random point).
Usage: bench_dnc.py TARVEX_DNC"""
import os
import random
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from partner import DC1, DC2, DC3P, DC4, Line, profile  # noqa: E402
from proc_cpu import cpu_seconds  # noqa: E402

DNC = sys.argv[1]
MACHINES, SENDING, RECEIVING = 32, 8, 8
BAUD, CHARS = 19200, 10000
CHAR_TIME = 10 / BAUD  # 8N1


def iso(data):
    return bytes(b | 0x80 if bin(b).count("1") % 2 else b for b in data)


def program(number, chars):
    body = b"%\n" + number + b"\n"
    k = 0
    while len(body) < chars - 4:
        body += b"G01X%d.Y%d.\n" % (k % 500, k % 37)
        k += 1
    return (body + b"M30\n%\n")[:chars]


def status(config):
    out = subprocess.run([DNC, "--status", "--config", config], capture_output=True, text=True)
    return {line.split("\t")[0]: line.split("\t")[1] for line in out.stdout.splitlines()}


def main():
    # The controls on the other core: the service has core 0 to itself.
    if os.cpu_count() > 1:
        os.sched_setaffinity(0, {1})
    work = tempfile.mkdtemp(prefix="tarvex-bench-dnc-")
    folders = {k: os.path.join(work, k) for k in ("library", "received", "profiles", "logs")}
    for f in folders.values():
        os.makedirs(f)
    with open(os.path.join(folders["profiles"], "P"), "wb") as f:
        f.write(profile(baud=BAUD, timeout="3"))
    sent_program = program(b"O2000", CHARS)
    with open(os.path.join(folders["library"], "2000.nc"), "wb") as f:
        f.write(sent_program.replace(b"\n", b"\r\n"))
    lines = [Line() for _ in range(MACHINES)]
    config = os.path.join(work, "dnc.ini")
    with open(config, "w") as f:
        f.write("[Shop]\n" + "".join("%s=%s\n" % (k.capitalize(), v) for k, v in folders.items()))
        for k, line in enumerate(lines):
            f.write("[Machine M%02d]\nDevice=%s\nProfile=P\nRequestProgram=O9999\n" % (k, line.path))
    proc = subprocess.Popen(["taskset", "-c", "0", DNC, "--config", config], stderr=subprocess.DEVNULL)
    try:
        end = time.time() + 30
        while time.time() < end and sum(s == "idle" for s in status(config).values()) < MACHINES:
            time.sleep(0.1)
        time.sleep(1)
        c0, t0 = cpu_seconds(proc.pid), time.time()
        time.sleep(10)
        idle = (cpu_seconds(proc.pid) - c0) / (time.time() - t0) * 100
        print("%d machines idle: processor %.2f %% of one core" % (MACHINES, idle))
        sys.stdout.flush()

        results = {}

        def send(k):
            line = lines[k]
            line.write(DC2 + iso(b"%\nO9999(2000)\n%\n") + DC4)
            deadline = time.time() + 30
            while time.time() < deadline and status(config).get("M%02d" % k) != "waiting-start":
                time.sleep(0.05)
            line.write(DC1)
            got, first, after_stop, stop_at = b"", None, 0, random.randint(1000, CHARS - 1000)
            stopped, paused, last = False, 0.0, None
            while DC4 not in got and time.time() < deadline + 60:
                r, _, _ = select.select([line.master], [], [], 0.5)
                if not r:
                    continue
                data = os.read(line.master, 4096)
                if first is None and data:
                    first = time.time()
                if data.strip(DC4):
                    last = time.time()  # the program's last character, not the end code after its pause
                got += data
                if not stopped and len(got) >= stop_at:
                    line.write(DC3P)
                    mark = len(got)
                    quiet = time.time() + 0.5
                    while time.time() < quiet:
                        r, _, _ = select.select([line.master], [], [], 0.05)
                        if r:
                            got += os.read(line.master, 4096)
                    after_stop = len(got) - mark
                    pause_start = time.time()
                    line.write(DC1)
                    stopped = True
                    paused = time.time() - pause_start + 0.5
            chars = got.index(DC4) if DC4 in got else len(got)
            results[("send", k)] = (last - first - paused, chars * CHAR_TIME, after_stop)

        def receive(k):
            line = lines[k]
            data = DC2 + iso(program(b"O%04d" % (3000 + k), CHARS)) + DC4
            start = time.time()
            for i in range(0, len(data), 64):
                due = start + i * CHAR_TIME
                if due > time.time():
                    time.sleep(due - time.time())
                line.write(data[i:i + 64])
            target = os.path.join(folders["received"], "M%02d" % k, "O%04d.nc" % (3000 + k))
            while not os.path.exists(target) and time.time() < start + 120:
                time.sleep(0.01)
            results[("receive", k)] = (time.time() - start, len(data) * CHAR_TIME, 0)

        threads = [threading.Thread(target=send, args=(k,)) for k in range(SENDING)]
        threads += [threading.Thread(target=receive, args=(SENDING + k,)) for k in range(RECEIVING)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for kind in ("send", "receive"):
            rows = [v for (w, _), v in results.items() if w == kind]
            worst = max(r[0] / r[1] for r in rows)
            print("%d %s at once at %d baud: worst %.1f %% of the line time (%.2f s for %.2f s)%s" % (
                len(rows), "sending" if kind == "send" else "receiving", BAUD, worst * 100,
                max(r[0] for r in rows), max(r[1] for r in rows),
                "; characters after a stop code: at most %d" % max(r[2] for r in rows) if kind == "send" else ""))
    finally:
        proc.terminate()
        proc.wait()
        for line in lines:
            line.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
