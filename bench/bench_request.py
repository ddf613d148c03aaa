#!/usr/bin/env python3
"""A request for a large program from the DNC service: a library program of
SIZE MB (default 200, CR LF lines with a Japanese comment every 1,000 lines),
asked for by a control on a pseudo-terminal at 19,200 baud, this script
playing the control. Prints how long the service took to listen for the
start code after the request, the service's memory (peak resident set,
VmHWM) before the request, while it waits for the start code, and after
SECONDS (default 60) of sending, and checks that what arrived is the
program's beginning.
Usage: bench_request.py TARVEX_DNC [SIZE_MB] [SECONDS]"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from partner import DC1, DC2, DC4, Line, profile  # noqa: E402

DNC = sys.argv[1]
SIZE = int(sys.argv[2]) if len(sys.argv) > 2 else 200
SECONDS = float(sys.argv[3]) if len(sys.argv) > 3 else 60


def iso(data):
    return bytes(b | 0x80 if bin(b).count("1") % 2 else b for b in data)


def memory(pid):
    fields = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return fields["VmHWM"], fields["VmRSS"]


def state(config):
    out = subprocess.run([DNC, "--status", "--config", config], capture_output=True, text=True).stdout
    return out.split("\t")[1] if "\t" in out else "?"


def wait_state(config, wanted, timeout=60):
    end = time.time() + timeout
    while state(config) != wanted:
        if time.time() > end:
            sys.exit("no %s: %s" % (wanted, state(config)))
        time.sleep(0.01)


def main():
    work = tempfile.mkdtemp(prefix="tarvex-bench-request-")
    folders = {k: os.path.join(work, k) for k in ("library", "received", "profiles", "logs")}
    for f in folders.values():
        os.makedirs(f)
    with open(os.path.join(folders["profiles"], "P"), "wb") as f:
        f.write(profile(baud=19200, timeout="3"))
    block = b"".join(b"N%dG01X%d.%03dY-%d.5F1200\r\n" % (k, k % 500, k % 1000, k % 300) for k in range(1000))
    block += "(荒加工 ブロック)\r\n".encode("cp932")
    program = b"%\r\nO1234(BIG)\r\n"
    with open(os.path.join(folders["library"], "BIG.nc"), "wb") as f:
        f.write(program)
        while f.tell() < SIZE << 20:
            f.write(block)
        f.write(b"M30\r\n%\r\n")
        size = f.tell()
    line = Line()
    config = os.path.join(work, "dnc.ini")
    with open(config, "w") as f:
        f.write("[Shop]\n" + "".join("%s=%s\n" % (k.capitalize(), v) for k, v in folders.items()))
        f.write("[Machine MC1]\nDevice=%s\nProfile=P\nRequestProgram=O9999\n" % line.path)
    proc = subprocess.Popen([DNC, "--config", config], stderr=subprocess.DEVNULL)
    try:
        wait_state(config, "idle")
        print("program: %.1f MB" % (size / 1e6))
        print("idle: peak %s, now %s" % memory(proc.pid))
        asked = time.time()
        line.write(DC2 + iso(b"%\nO9999(BIG)\n%\n") + DC4)
        wait_state(config, "waiting-start")
        print("listening for the start code %.3f s after the request" % (time.time() - asked))
        print("waiting for the start code: peak %s, now %s" % memory(proc.pid))
        line.write(DC1)
        got = line.read_until(lambda g: False, timeout=SECONDS)
        print("after %.0f s of sending (%d characters): peak %s, now %s" % ((SECONDS, len(got)) + memory(proc.pid)))
        plain = bytes(b & 0x7F for b in got if b & 0x7F not in (0x0D,))
        expected = open(os.path.join(folders["library"], "BIG.nc"), "rb").read(len(got) * 2).replace(b"\r\n", b"\n")
        # The Japanese comments are no ISO characters: they are not sent.
        expected = expected.replace("(荒加工 ブロック)".encode("cp932"), b"( )")
        print("what arrived is the program's beginning: %s" % expected.startswith(plain))
    finally:
        proc.terminate()
        proc.wait()
        line.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
