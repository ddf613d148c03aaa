#include "platform/posix/PosixSerialPort.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace tarvex {

namespace {

speed_t speedOf(int baud)
{
    switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return 0;
    }
}

Error lineSettingError() { return {380, "プロパティの値が正しくありません"}; }

} // namespace

PosixSerialPort::~PosixSerialPort() { close(); }

Error PosixSerialPort::open(const std::string& device, const LineSettings& line, bool receiveEvents)
{
    close();
    const speed_t speed = speedOf(line.baud);
    if (!speed)
        return {380, "プロパティの値が正しくありません（"
                         + (line.baud > 0 ? std::to_string(line.baud) + " bps はこのポートで使えません）"
                                          : std::string("通信速度が読めません）"))};
    if ((line.parity != 'E' && line.parity != 'N' && line.parity != 'O') || (line.dataBits != 7 && line.dataBits != 8)
        || (line.stopBits != 1 && line.stopBits != 2) || line.handshake < 0 || line.handshake > 3)
        return lineSettingError();
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fileError(errno);
    // One user of a port at a time: a port another program holds is busy.
    // The lock keeps out programs that ask for it; TIOCEXCL keeps out every
    // later open, so that no other program takes bytes meant for a transfer.
    if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        Error e = ::isatty(fd) ? Error{70, "ポートは使用中です。"} : lineSettingError();
        ::close(fd);
        return e;
    }
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= (line.dataBits == 7 ? CS7 : CS8) | CLOCAL | CREAD;
    if (line.parity != 'N') {
        t.c_cflag |= PARENB | (line.parity == 'O' ? PARODD : 0);
        // The driver checks each byte and marks the bad ones in place: a
        // byte that went wrong on the line must not read as another one.
        t.c_iflag |= INPCK | PARMRK;
        t.c_iflag &= ~(IGNPAR | ISTRIP);
    }
    if (line.stopBits == 2)
        t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (line.handshake == 1 || line.handshake == 3)
        t.c_iflag |= IXOFF | (line.xonXoffOutput ? IXON : 0);
    if (line.handshake == 2 || line.handshake == 3)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        ::close(fd);
        return {380, "プロパティの値が正しくありません（" + device + " は " + std::to_string(line.baud)
                         + " bps の設定を受け付けません）"};
    }
    // Bytes that came before the port was ours are dropped. What a transfer
    // just before wrote stays: on a pseudo-terminal (a virtual port) it waits
    // there for its reader, and the last end code would be lost.
    ::tcflush(fd, TCIFLUSH);
    if (Error e = inbox_.open(receiveEvents)) {
        ::close(fd);
        return e;
    }
    fd_ = fd;
    marking_ = line.parity != 'N';
    marks_.reset();
    out_.start(line.characterTime());
    modemSupported_ = countersSupported_ = outqSupported_ = true;
    setRTSEnable(true);
    watchLines(true);
    stop_ = false;
    reader_ = std::thread([this] { ioLoop(); });
    return {};
}

void PosixSerialPort::close()
{
    if (fd_ < 0)
        return;
    // What waits goes out first, as long as the line moves; what the
    // partner holds back (XOFF, CTS off, a hold code) is given up.
    out_.waitSent(out_.lineTime() + std::chrono::seconds(1), std::chrono::milliseconds(2), true,
                  [this] { return !failure(); });
    stop_ = true;
    inbox_.wake();
    if (reader_.joinable())
        reader_.join();
    if (out_.waiting() > 0 || drivers() > 3)
        ::tcflush(fd_, TCOFLUSH);
    out_.discard();
    inbox_.closePipe();
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

// Modem lines and error counters, where the driver has them (a
// pseudo-terminal has neither: ENOTTY, and then they are not asked again).
void PosixSerialPort::watchLines(bool first)
{
    if (modemSupported_) {
        int bits = 0;
        if (::ioctl(fd_, TIOCMGET, &bits) == 0) {
            const int now = (bits & TIOCM_CTS ? cts : 0) | (bits & TIOCM_DSR ? dsr : 0) | (bits & TIOCM_CAR ? cd : 0)
                            | (bits & TIOCM_RNG ? ring : 0);
            const int before = modem_.exchange(now);
            if (!first) {
                if ((now ^ before) & cts)
                    inbox_.push(comm::EvCTS);
                if ((now ^ before) & dsr)
                    inbox_.push(comm::EvDSR);
                if ((now ^ before) & cd)
                    inbox_.push(comm::EvCD);
                if ((now & ring) && !(before & ring))
                    inbox_.push(comm::EvRing);
            }
        } else {
            modemSupported_ = false;
        }
    }
    if (countersSupported_) {
        serial_icounter_struct c{};
        if (::ioctl(fd_, TIOCGICOUNT, &c) == 0) {
            if (!first) {
                if (c.brk > counters_.brk && !marking_)
                    inbox_.push(comm::ErBreak);
                // Checked bytes carry their parity and framing errors in place.
                if (c.frame > counters_.frame && !marking_)
                    inbox_.push(comm::ErFrame);
                if (c.overrun > counters_.overrun)
                    inbox_.push(comm::ErOverrun);
                if (c.parity > counters_.parity && !marking_)
                    inbox_.push(comm::ErRxParity);
                if (c.buf_overrun > counters_.bufOverrun)
                    inbox_.push(comm::ErRxOver);
            }
            // Checked bytes count their own errors as they are read (takeMarked).
            const bool inBand = marking_ && !first;
            counters_ = {c.brk, inBand ? counters_.frame : c.frame, c.overrun, inBand ? counters_.parity : c.parity,
                         c.buf_overrun};
        } else {
            countersSupported_ = false;
        }
    }
}

// The port's one thread: what arrives goes to the inbox (a hold code holds
// the output at once), what waits in the queue goes out at the line's pace.
void PosixSerialPort::ioLoop()
{
    using namespace std::chrono;
    raiseThreadPriority();
    std::uint8_t chunk[4096];
    auto lastWatch = steady_clock::now();
    bool blocked = false; // the device took not all: wait until it can take more
    while (!stop_) {
        nanoseconds next{0};
        if (!blocked && !failure()) {
            const std::string bytes = out_.due(outqSupported_ ? std::optional<std::size_t>(drivers()) : std::nullopt, next);
            if (!bytes.empty())
                blocked = !writeOut(bytes);
        }
        const std::size_t room = inbox_.room();
        // While the buffer is full the bytes stay in the driver: nothing is lost.
        pollfd fds[2] = {{fd_, static_cast<short>((room ? POLLIN : 0) | (blocked ? POLLOUT : 0)), 0},
                         {inbox_.wakeFd(), POLLIN, 0}};
        // Modem lines and counters are looked at every 50 ms; a line without
        // them (a pseudo-terminal) sleeps until a byte, a hang-up, the next
        // character's time or the close.
        std::optional<nanoseconds> cap;
        if (modemSupported_ || countersSupported_)
            cap = milliseconds(50);
        if (blocked && (!cap || *cap > milliseconds(20)))
            cap = milliseconds(20); // a partner that holds the line: look again
        const int ready = pollFor(fds, 2, next, cap);
        if (stop_)
            break;
        if (ready > 0 && (fds[0].revents & POLLOUT))
            blocked = false;
        if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) && room) {
            // Bytes first; a hang-up (the other end gone, an adapter unplugged)
            // reads as the end of the file or an error once they are taken.
            const ssize_t n = ::read(fd_, chunk, std::min(room, sizeof chunk));
            if (n > 0) {
                out_.received(chunk, static_cast<std::size_t>(n));
                if (marking_)
                    takeMarked(chunk, static_cast<std::size_t>(n));
                else
                    inbox_.put(chunk, static_cast<std::size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                inbox_.fail(errno == EIO ? Error{57, "回線が切断されました。"} : fileError(errno));
                return;
            } else if (n == 0 && (fds[0].revents & POLLHUP)) {
                // A raw line with nothing to read also reads empty: only the
                // driver's hang-up ends it.
                inbox_.fail({57, "回線が切断されました。"});
                return;
            }
        } else if (ready > 0 && (fds[0].revents & POLLNVAL)) {
            inbox_.fail({57, "回線が切断されました。"});
            return;
        } else if (ready > 0 && !room && (fds[0].revents & (POLLHUP | POLLERR))) {
            // A hang-up behind a full buffer: wait for the reader of the buffer.
            std::this_thread::sleep_for(milliseconds(5));
        }
        if (fds[1].revents & POLLIN)
            inbox_.drainWake();
        const auto now = steady_clock::now();
        if (now - lastWatch >= milliseconds(50)) {
            lastWatch = now;
            watchLines(false);
        }
    }
}

// What the driver takes now; the rest goes back to the queue while the
// partner holds the line (XOFF, CTS off), however long: a hold is no error.
bool PosixSerialPort::writeOut(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0 && errno != EAGAIN) {
                // The line gone, or another failure of the device.
                inbox_.fail(errno == EIO ? Error{57, "回線が切断されました。"} : fileError(errno));
                return true;
            }
            break;
        }
    }
    if (done > 0)
        out_.moved();
    if (done < bytes.size())
        out_.putBack(std::string_view(bytes).substr(done));
    return done == bytes.size();
}

// Bytes the driver holds (TIOCOUTQ), where it says; a pseudo-terminal does not.
std::size_t PosixSerialPort::drivers()
{
    int queued = 0;
    if (outqSupported_ && ::ioctl(fd_, TIOCOUTQ, &queued) != 0)
        outqSupported_ = false;
    return static_cast<std::size_t>(std::max(queued, 0));
}

// Bytes read from a line the driver checks: marked bytes keep their place
// with the error, framing where the driver's counter says so, else parity.
void PosixSerialPort::takeMarked(const std::uint8_t* bytes, std::size_t n)
{
    std::uint8_t plain[4096]; // n is at most a read's 4,096
    std::size_t count = 0;
    auto putPlain = [&] {
        inbox_.put(plain, count);
        count = 0;
    };
    marks_.feed(
        bytes, n,
        [&](std::uint8_t b, bool marked) {
            if (!marked) {
                plain[count++] = b;
                return;
            }
            putPlain();
            int error = comm::ErRxParity;
            serial_icounter_struct c{};
            if (countersSupported_ && ::ioctl(fd_, TIOCGICOUNT, &c) == 0) {
                if (c.frame > counters_.frame)
                    error = comm::ErFrame;
                counters_.frame = c.frame;
                counters_.parity = c.parity;
            }
            inbox_.putFaulty(b, error);
        },
        [&] {
            putPlain();
            inbox_.push(comm::ErBreak);
        });
    if (count)
        putPlain();
}

int PosixSerialPort::byteError() const { return inbox_.takenError(); }

std::size_t PosixSerialPort::InBufferCount() const { return inbox_.count(); }

std::optional<std::uint8_t> PosixSerialPort::readByte()
{
    const auto b = inbox_.take();
    if (b)
        out_.taken(*b);
    return b;
}

// The caller waits only while the queue is full: half a second of line
// time is ahead of the line.
std::chrono::nanoseconds PosixSerialPort::writeDelay()
{
    if (fd_ < 0 || failure())
        return std::chrono::nanoseconds(0);
    return out_.writeWait();
}

std::optional<std::size_t> PosixSerialPort::OutBufferCount() const
{
    // Without the driver's count (a pseudo-terminal) the queue is not known.
    int driver = 0;
    if (fd_ < 0 || !outqSupported_ || ::ioctl(fd_, TIOCOUTQ, &driver) != 0)
        return std::nullopt;
    return static_cast<std::size_t>(std::max(driver, 0));
}

Error PosixSerialPort::writeByte(std::uint8_t b)
{
    if (fd_ < 0)
        return {57, "ポートが開いていません。"};
    if (Error e = failure())
        return e;
    if (out_.push(b))
        inbox_.wake(); // the thread sleeps while nothing waits
    return failure();
}

void PosixSerialPort::flush()
{
    if (fd_ >= 0)
        inbox_.wake();
}

bool PosixSerialPort::outputHeld() const { return out_.partnerHolds(); }

void PosixSerialPort::holdOn(HoldCodes codes) { out_.holdOn(std::move(codes)); }

void PosixSerialPort::releaseHold()
{
    out_.release();
    inbox_.wake();
}

void PosixSerialPort::discardOutput() { out_.discard(); }

void PosixSerialPort::setRTSEnable(bool on)
{
    if (fd_ < 0)
        return;
    int bit = TIOCM_RTS;
    ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit); // a pseudo-terminal has no RTS line
}

std::vector<int> PosixSerialPort::takeEvents() { return inbox_.takeEvents(); }

Error PosixSerialPort::failure() const { return inbox_.failure(); }

} // namespace tarvex
