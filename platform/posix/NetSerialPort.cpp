#include "platform/posix/NetSerialPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Telnet (RFC 854) and its COM-PORT option (RFC 2217).
constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr std::uint8_t BINARY = 0, SGA = 3, COM_PORT = 44;
constexpr std::uint8_t SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3, SET_STOPSIZE = 4, SET_CONTROL = 5,
                       SET_LINESTATE_MASK = 10, SET_MODEMSTATE_MASK = 11, SERVER = 100, NOTIFY_LINESTATE = 6,
                       NOTIFY_MODEMSTATE = 7;

Error settingsError() { return {380, "プロパティの値が正しくありません"}; }

} // namespace

bool NetSerialPort::isNetworkDevice(const std::string& device)
{
    return device.rfind("rfc2217://", 0) == 0 || device.rfind("tcp://", 0) == 0;
}

bool NetSerialPort::parseAddress(const std::string& device, Address& address)
{
    std::string rest;
    if (device.rfind("rfc2217://", 0) == 0) {
        address.telnet = true;
        rest = device.substr(10);
    } else if (device.rfind("tcp://", 0) == 0) {
        address.telnet = false;
        rest = device.substr(6);
    } else {
        return false;
    }
    while (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size())
        return false;
    std::string host = rest.substr(0, colon), port = rest.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find_first_of(":[]/@ ") != std::string::npos)
        return false; // an IPv6 host needs its brackets
    if (host.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int number = std::stoi(port);
    if (number < 1 || number > 65535)
        return false;
    address.host = host;
    address.port = port;
    return true;
}

NetSerialPort::~NetSerialPort() { close(); }

Error NetSerialPort::open(const std::string& device, const LineSettings& line, bool receiveEvents)
{
    close();
    Address address;
    if (!parseAddress(device, address))
        return settingsError();
    telnet_ = address.telnet;
    const std::string host = address.host, port = address.port;
    server_ = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + port;
    if (Error e = inbox_.open(receiveEvents))
        return e;
    line_ = line;
    out_.clear();
    queue_.start(line.characterTime());
    modem_ = 0;
    in_ = In::Data;
    sub_.clear();
    agreed_ = settingsOut_ = false;
    acknowledged_ = 0;
    ready_ = false;
    stop_ = false;
    thread_ = std::thread([this, host, port] { run(host, port); });
    return {};
}

Error NetSerialPort::hangUp() const { return {57, "回線が切断されました。（通信サーバ " + server_ + "）"}; }

void NetSerialPort::close()
{
    if (!thread_.joinable())
        return;
    // What waits goes out first while the server takes it; a hold code or a
    // server that holds the line gives it up.
    queue_.waitSent(queue_.lineTime() + std::chrono::seconds(1), std::chrono::milliseconds(2), true,
                    [this] { return ready_ && !failure(); });
    stop_ = true;
    inbox_.wake();
    thread_.join();
    queue_.discard();
    if (sock_ >= 0) {
        // The last bytes, the end code among them, reach the server before
        // the connection ends: what is still here goes out (unless the server
        // holds it), the sending side is shut after it, and the socket is
        // read until the server closes. Closing with bytes unread would reset
        // the connection and lose what the server had not taken yet.
        using namespace std::chrono;
        const auto until = Clock::now() + 3s;
        {
            std::lock_guard lock(writeMutex_);
            while (!failure() && !out_.empty() && !queue_.partnerHolds() && Clock::now() < until) {
                pushOut();
                pollfd p{sock_, POLLOUT, 0};
                ::poll(&p, 1, 20);
            }
        }
        ::shutdown(sock_, SHUT_WR);
        char chunk[4096];
        for (auto left = until - Clock::now(); left > 0ns; left = until - Clock::now()) {
            pollfd p{sock_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(duration_cast<milliseconds>(left).count()) + 1) <= 0)
                break;
            if (::recv(sock_, chunk, sizeof chunk, 0) <= 0)
                break;
        }
        ::close(sock_);
    }
    sock_ = -1;
    inbox_.closePipe();
    ready_ = false;
}

// Why a connection was not made, as the user is told: the setting is wrong
// (the window's usual words) and what the system said of the server.
int NetSerialPort::connectTo(const std::string& host, const std::string& port, Error& why)
{
    auto failed = [&](const std::string& what) {
        why = {380, "プロパティの値が正しくありません（通信サーバ " + server_ + ": " + what + "）"};
    };
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int e = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); e != 0) {
        failed(std::string("ホストが見つかりません: ") + ::gai_strerror(e));
        return -1;
    }
    failed("応答がありません（" + std::to_string(connectTimeout.count()) + " 秒）");
    const auto deadline = Clock::now() + connectTimeout;
    int s = -1;
    for (addrinfo* a = found; a && s < 0 && !stop_; a = a->ai_next) {
        s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0)
            continue;
        const int r = ::connect(s, a->ai_addr, a->ai_addrlen);
        if (r != 0 && errno != EINPROGRESS) {
            failed(std::strerror(errno));
            ::close(s);
            s = -1;
            continue;
        }
        // Wait for the answer, or the time-out, or close().
        while (r != 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms || stop_) {
                ::close(s);
                s = -1;
                break;
            }
            pollfd fds[2] = {{s, POLLOUT, 0}, {inbox_.wakeFd(), POLLIN, 0}};
            if (::poll(fds, 2, static_cast<int>(left.count())) > 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
                int error = 0;
                socklen_t len = sizeof error;
                ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len);
                if (error != 0) {
                    failed(std::strerror(error));
                    ::close(s);
                    s = -1;
                }
                break;
            }
        }
    }
    ::freeaddrinfo(found);
    if (s >= 0) {
        // Each character goes out when the pace says, not when a segment fills;
        // a link that dies quietly is found.
        // An idle link that dies (the server restarted, the cable pulled) is
        // found within about twenty seconds.
        int on = 1, idle = 10, interval = 3, count = 3;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        ::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
        ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    }
    return s;
}

void NetSerialPort::run(const std::string& host, const std::string& port)
{
    Error why;
    const int s = connectTo(host, port, why);
    if (stop_) {
        if (s >= 0)
            ::close(s);
        return;
    }
    if (s < 0) {
        inbox_.fail(why);
        return;
    }
    sock_ = s;
    if (!telnet_) {
        becomeReady();
    } else {
        // Binary both ways (no CR/NUL rules), and the COM-PORT option.
        sendAll(std::string{char(IAC), char(WILL), char(COM_PORT), char(IAC), char(WILL), char(BINARY),
                            char(IAC), char(DO), char(BINARY), char(IAC), char(WILL), char(SGA), char(IAC), char(DO),
                            char(SGA)});
    }
    readLoop();
}

void NetSerialPort::readLoop()
{
    std::uint8_t chunk[4096];
    std::string data;
    const auto connected = Clock::now();
    auto lastLook = connected;
    raiseThreadPriority();
    while (!stop_) {
        std::chrono::nanoseconds next{0};
        if (ready_ && !failure())
            sendDue(next);
        const std::size_t room = inbox_.room();
        // While the buffer is full the bytes stay in the socket (and the
        // server): nothing is lost.
        pollfd fds[2] = {{sock_, static_cast<short>(room ? POLLIN : 0), 0}, {inbox_.wakeFd(), POLLIN, 0}};
        const int ready = pollFor(fds, 2, next, std::chrono::milliseconds(50));
        if (stop_)
            break;
        if (ready > 0 && room && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::recv(sock_, chunk, std::min(room, sizeof chunk), 0);
            if (n > 0) {
                data.clear();
                if (telnet_)
                    parse(chunk, static_cast<std::size_t>(n), data);
                else
                    data.assign(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(n));
                queue_.received(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
                if (!data.empty())
                    inbox_.put(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                inbox_.fail(hangUp()); // the server closed, or the link is gone
                return;
            }
        }
        if (fds[1].revents & POLLIN)
            inbox_.drainWake();
        if (const auto now = Clock::now(); now - lastLook >= 500ms) {
            lastLook = now;
            if (peerGone()) {
                inbox_.fail({57, "通信サーバ " + server_ + " が応答しません。回線が切断されました。"});
                return;
            }
        }
        if (telnet_ && !ready_) {
            const auto now = Clock::now();
            if (!agreed_ && now - connected >= negotiateTimeout) {
                inbox_.fail({380, "通信サーバがRFC 2217のポート設定(COM-PORT)に応じません。"});
                return;
            }
            // A server that confirms not every setting (flow control on some
            // ports) is not waited for beyond a second.
            if (settingsOut_ && now - settingsSent_ >= 1s)
                becomeReady();
        }
    }
}

void NetSerialPort::parse(const std::uint8_t* raw, std::size_t n, std::string& data)
{
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint8_t b = raw[k];
        switch (in_) {
        case In::Data:
            if (b == IAC)
                in_ = In::Iac;
            else
                data.push_back(static_cast<char>(b));
            break;
        case In::Iac:
            if (b == IAC) {
                data.push_back(static_cast<char>(IAC)); // a doubled 0xFF is one data byte
                in_ = In::Data;
            } else if (b == WILL || b == WONT || b == DO || b == DONT) {
                command_ = b;
                in_ = In::Option;
            } else if (b == SB) {
                sub_.clear();
                in_ = In::Sub;
            } else {
                in_ = In::Data; // NOP, GA and the like
            }
            break;
        case In::Option:
            option(command_, b);
            in_ = In::Data;
            break;
        case In::Sub:
            if (b == IAC)
                in_ = In::SubIac;
            else if (sub_.size() < 64)
                sub_.push_back(static_cast<char>(b));
            break;
        case In::SubIac:
            if (b == SE) {
                subnegotiation(sub_);
                in_ = In::Data;
            } else {
                if (b == IAC && sub_.size() < 64)
                    sub_.push_back(static_cast<char>(IAC));
                in_ = In::Sub;
            }
            break;
        }
    }
}

void NetSerialPort::option(std::uint8_t command, std::uint8_t opt)
{
    const bool ours = opt == COM_PORT || opt == BINARY || opt == SGA;
    if (command == DO) {
        if (opt == COM_PORT && !agreed_) {
            agreed_ = true;
            sendSettings();
        } else if (!ours) {
            sendAll(std::string{char(IAC), char(WONT), char(opt)});
        }
    } else if (command == DONT && opt == COM_PORT) {
        inbox_.fail({380, "通信サーバがRFC 2217のポート設定(COM-PORT)に応じません。"});
    } else if (command == WILL && !ours) {
        sendAll(std::string{char(IAC), char(DONT), char(opt)});
    }
}

void NetSerialPort::comPort(std::uint8_t command, const std::string& value)
{
    std::string out{char(IAC), char(SB), char(COM_PORT), char(command)};
    for (char c : value) {
        out.push_back(c);
        if (static_cast<std::uint8_t>(c) == IAC)
            out.push_back(c);
    }
    out += std::string{char(IAC), char(SE)};
    sendAll(out);
}

// The profile's settings in the order a transfer applies them: baud,
// parity, data bits, stop bits, then the handshake; then the line and
// modem changes the server is to report.
void NetSerialPort::sendSettings()
{
    const auto baud = static_cast<std::uint32_t>(line_.baud);
    comPort(SET_BAUDRATE, std::string{char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)});
    comPort(SET_PARITY, std::string(1, char(line_.parity == 'O' ? 2 : line_.parity == 'E' ? 3 : 1)));
    comPort(SET_DATASIZE, std::string(1, char(line_.dataBits)));
    comPort(SET_STOPSIZE, std::string(1, char(line_.stopBits == 2 ? 2 : 1)));
    // XON/XOFF both ways, or, where the transfer's own codes are DC1/DC3,
    // only for what the server receives (1 none outbound, 14 XON/XOFF inbound).
    if (line_.handshake == 1 && !line_.xonXoffOutput) {
        comPort(SET_CONTROL, std::string(1, char(1)));
        comPort(SET_CONTROL, std::string(1, char(14)));
    } else {
        comPort(SET_CONTROL, std::string(1, char(line_.handshake == 1 ? 2 : line_.handshake >= 2 ? 3 : 1)));
    }
    comPort(SET_LINESTATE_MASK, std::string(1, char(0x1E)));
    comPort(SET_MODEMSTATE_MASK, std::string(1, char(0xFF)));
    settingsSent_ = Clock::now();
    settingsOut_ = true;
}

void NetSerialPort::subnegotiation(const std::string& sub)
{
    if (sub.size() < 2 || static_cast<std::uint8_t>(sub[0]) != COM_PORT)
        return;
    const std::uint8_t command = static_cast<std::uint8_t>(sub[1]);
    const std::uint8_t value = sub.size() > 2 ? static_cast<std::uint8_t>(sub[2]) : 0;
    if (command >= SERVER + SET_BAUDRATE && command <= SERVER + SET_STOPSIZE) {
        acknowledged_ |= 1 << (command - SERVER - SET_BAUDRATE);
        if (acknowledged_ == 0xF)
            becomeReady();
    } else if (command == SERVER + NOTIFY_LINESTATE) {
        if (value & 0x10)
            inbox_.push(comm::ErBreak);
        if (value & 0x08)
            inbox_.push(comm::ErFrame);
        if (value & 0x04)
            inbox_.push(comm::ErRxParity);
        if (value & 0x02)
            inbox_.push(comm::ErOverrun);
    } else if (command == SERVER + NOTIFY_MODEMSTATE) {
        modem_ = value;
        if (value & 0x01)
            inbox_.push(comm::EvCTS);
        if (value & 0x02)
            inbox_.push(comm::EvDSR);
        if (value & 0x04)
            inbox_.push(comm::EvRing);
        if (value & 0x08)
            inbox_.push(comm::EvCD);
    }
}

void NetSerialPort::becomeReady()
{
    if (ready_)
        return;
    {
        // What was written while connecting waits in the queue and goes first.
        std::lock_guard lock(writeMutex_);
        ready_ = true;
    }
    inbox_.notify(); // a wait for the port to be ready ends
}

bool NetSerialPort::sendAll(const std::string& bytes)
{
    std::lock_guard lock(writeMutex_);
    return sendLocked(bytes);
}

bool NetSerialPort::sendLocked(const std::string& bytes)
{
    out_ += bytes;
    return pushOut();
}

bool NetSerialPort::pushOut()
{
    std::size_t done = 0;
    struct Moved {
        std::size_t& done;
        OutputQueue& queue;
        ~Moved()
        {
            if (done > 0)
                queue.moved();
        }
    } moved{done, queue_};
    while (done < out_.size()) {
        const ssize_t n = ::send(sock_, out_.data() + done, out_.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0 && errno != EAGAIN) {
                out_.clear();
                inbox_.fail(hangUp()); // a write to a dropped connection: the line is gone
                return false;
            }
            break; // the server holds the line: the rest waits
        }
    }
    out_.erase(0, done);
    return true;
}

bool NetSerialPort::peerGone() const
{
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(sock_, IPPROTO_TCP, TCP_INFO, &info, &len) != 0)
        return false;
    // Data sent again and again without an answer, or window probes
    // unanswered: the peer is gone. A peer that answers its probes with a
    // closed window only holds the flow.
    return info.tcpi_retransmits >= 6 || info.tcpi_probes >= 6;
}

std::size_t NetSerialPort::InBufferCount() const { return inbox_.count(); }

std::optional<std::uint8_t> NetSerialPort::readByte()
{
    const auto b = inbox_.take();
    if (b)
        queue_.taken(*b);
    return b;
}

// The caller waits only while the queue is full.
std::chrono::nanoseconds NetSerialPort::writeDelay()
{
    if (!thread_.joinable() || failure())
        return 0ns;
    return queue_.writeWait();
}

// Bytes the socket has not sent yet, and those it would not take: as a
// local driver's queue.
std::size_t NetSerialPort::unsent() const
{
    int n = 0;
    if (::ioctl(sock_, SIOCOUTQNSD, &n) != 0)
        n = 0;
    return static_cast<std::size_t>(std::max(n, 0)) + out_.size();
}

std::optional<std::size_t> NetSerialPort::OutBufferCount() const
{
    if (!ready_)
        return std::nullopt;
    std::lock_guard lock(writeMutex_);
    return unsent();
}

void NetSerialPort::sendDue(std::chrono::nanoseconds& next)
{
    std::lock_guard lock(writeMutex_);
    if (!out_.empty())
        pushOut(); // what a server held back goes on when it reads again
    const std::string bytes = queue_.due(unsent(), next);
    if (bytes.empty())
        return;
    std::string escaped;
    for (char c : bytes) {
        escaped.push_back(c);
        if (telnet_ && static_cast<std::uint8_t>(c) == IAC)
            escaped.push_back(c); // 0xFF is data, not a command
    }
    sendLocked(escaped);
}

Error NetSerialPort::writeByte(std::uint8_t b)
{
    if (!thread_.joinable())
        return {57, "ポートが開いていません。"};
    if (Error e = failure())
        return e;
    if (queue_.push(b))
        inbox_.wake(); // the thread looks every 50 ms at least; now at once
    return failure();
}

void NetSerialPort::flush()
{
    if (thread_.joinable())
        inbox_.wake();
}

void NetSerialPort::releaseHold()
{
    queue_.release();
    inbox_.wake();
}

void NetSerialPort::setRTSEnable(bool on)
{
    // SET-CONTROL 11/12; a raw port has no lines to set.
    if (telnet_ && ready_)
        comPort(SET_CONTROL, std::string(1, char(on ? 11 : 12)));
}

std::vector<int> NetSerialPort::takeEvents() { return inbox_.takeEvents(); }

Error NetSerialPort::failure() const { return inbox_.failure(); }

} // namespace tarvex
