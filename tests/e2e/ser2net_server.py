"""A real ser2net on 127.0.0.1 serving one pseudo-terminal, for the tests and
the benchmark: RFC 2217 (Telnet) or raw TCP."""
import os
import socket
import subprocess
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Ser2net:
    def __init__(self, tty_path, telnet=True):
        self.tty = os.path.realpath(tty_path)
        self.dir = tempfile.mkdtemp(prefix="tarvex-ser2net-")
        self.port = free_port()
        accepter = "telnet(rfc2217),tcp" if telnet else "tcp"
        config = os.path.join(self.dir, "ser2net.yaml")
        with open(config, "w") as f:
            f.write("connection: &line\n"
                    "  accepter: %s,127.0.0.1,%d\n"
                    "  connector: serialdev,%s,9600n81,local\n" % (accepter, self.port, tty_path))
        self.proc = subprocess.Popen(["ser2net", "-n", "-c", config, "-P", os.path.join(self.dir, "pid")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Ready once it accepts connections.
        end = time.time() + 10
        while time.time() < end:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                break
            except OSError:
                time.sleep(0.05)
        time.sleep(0.2)  # the probe connection is gone on its side too
        self.url = ("rfc2217://127.0.0.1:%d" if telnet else "tcp://127.0.0.1:%d") % self.port

    def holds_device(self):
        """Whether the server has the device open (a client is connected)."""
        fds = "/proc/%d/fd" % self.proc.pid
        try:
            return any(os.path.realpath(os.path.join(fds, fd)) == self.tty for fd in os.listdir(fds))
        except OSError:
            return False

    def wait_device(self, held=True, timeout=10):
        """Until the server has opened (or closed) the device: a byte written
        before it opens may be flushed away."""
        end = time.time() + timeout
        while self.holds_device() != held and time.time() < end:
            time.sleep(0.02)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.kill()
        for name in os.listdir(self.dir):
            os.remove(os.path.join(self.dir, name))
        os.rmdir(self.dir)
