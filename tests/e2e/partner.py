"""The partner's side of a serial line for the end-to-end tests: a
pseudo-terminal pair and device profiles."""
import fcntl
import os
import select
import struct
import termios
import time
import tty

DC1, DC2, DC3P, DC4 = b"\x11", b"\x12", b"\x93", b"\x14"


def profile(baud=19200, code=2, partner=1, in_codes=("&H12", "&H11", "&H93", "&H14"),
            out_codes=("&H11", "&H11", "&H93", "&H14"), timeout="3", wait=0):
    fields = ["1", str(baud), "N", "8", "1", "0", str(code), str(partner), *in_codes, *out_codes, timeout, str(wait)]
    return "".join(f + "\r\n" for f in fields).encode()


class Line:
    """The partner's end of a pseudo-terminal pair. The test keeps the other
    end open too, to see how much the program has not read yet."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.master)
        self.path = os.ttyname(self.slave)
        self.got = b""

    def unread(self):
        """Bytes written to the line that the program has not taken yet."""
        return struct.unpack("i", fcntl.ioctl(self.slave, termios.FIONREAD, b"\0\0\0\0"))[0]

    def wait_taken(self, timeout=10):
        end = time.time() + timeout
        while self.unread() and time.time() < end:
            time.sleep(0.01)

    def write(self, data):
        os.write(self.master, data)

    def read_until(self, predicate, timeout=10):
        """Reads until predicate(all bytes so far) holds; returns the new bytes."""
        start = len(self.got)
        end = time.time() + timeout
        while not predicate(self.got) and time.time() < end:
            r, _, _ = select.select([self.master], [], [], 0.05)
            if r:
                try:
                    data = os.read(self.master, 4096)
                except OSError:
                    break
                if not data:
                    break
                self.got += data
        return self.got[start:]

    def close(self):
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass
