#pragma once
#include "platform/SerialPort.h"

#include <chrono>
#include <deque>
#include <optional>
#include <poll.h>
#include <mutex>
#include <utility>

namespace tarvex {

// A port's thread takes a higher priority where the system allows it (a
// niceness of -10, what the service's unit grants): a busy computer must
// not leave the line without characters. Refused, it goes on as it is.
void raiseThreadPriority();

// poll() to the nanosecond, at most `cap` (none: no cap) when nothing is due:
// at 115,200 baud a character takes 87 µs, and a millisecond's sleep would
// leave the line idle.
int pollFor(pollfd* fds, int n, std::chrono::nanoseconds due, std::optional<std::chrono::nanoseconds> cap);

// What a port's reader thread hands to the transfer: the bytes received (at
// most the receive buffer's size), the line events and the first failure,
// each reported to the port's onActivity; and a wake pipe that tells the
// reader there is room again or that it should stop.
class PortInbox {
public:
    explicit PortInbox(SerialPort& owner) : owner_(owner) {}
    ~PortInbox() { closePipe(); }

    // Empties the inbox and makes the wake pipe; receiveEvents: an event 2
    // with every arrival of bytes.
    Error open(bool receiveEvents);
    void closePipe();
    int wakeFd() const { return pipe_[0]; }
    void wake();
    void drainWake();

    // The reader's side.
    std::size_t room() const;
    void put(const std::uint8_t* bytes, std::size_t n);
    // One byte that the driver marked with a line error (an event).
    void putFaulty(std::uint8_t b, int error);
    void push(int event);
    void fail(const Error& e);

    // The transfer's side.
    std::size_t count() const;
    std::optional<std::uint8_t> take();
    // The error of the byte take() gave last, 0 for none.
    int takenError() const;
    std::vector<int> takeEvents();
    Error failure() const;
    // Tells the port's onActivity that something changed.
    void notify();

private:
    SerialPort& owner_;
    int pipe_[2] = {-1, -1};
    bool receiveEvents_ = false;
    mutable std::mutex mutex_;
    std::deque<std::uint8_t> buffer_;
    // The marked bytes still in the buffer: their number since the opening, and the error.
    std::deque<std::pair<std::uint64_t, int>> faults_;
    std::uint64_t put_ = 0, taken_ = 0;
    int takenError_ = 0;
    std::vector<int> events_;
    Error failure_;
};

} // namespace tarvex

namespace tarvex {

// The driver's marks in what a port reads when it checks parity (PARMRK):
// a byte received with a parity or framing error comes as FF 00 and the
// byte, a break as FF 00 00, and a true FF as FF FF. Fed the bytes as they
// are read, in pieces of any size, it hands on each byte with whether it
// was marked, and each break.
class LineMarks {
public:
    template <typename Byte, typename Break>
    void feed(const std::uint8_t* bytes, std::size_t n, Byte&& byte, Break&& lineBreak)
    {
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint8_t b = bytes[k];
            switch (state_) {
            case Plain:
                if (b == 0xFF)
                    state_ = AfterFF;
                else
                    byte(b, false);
                break;
            case AfterFF:
                state_ = b == 0x00 ? AfterMark : Plain;
                if (b != 0x00)
                    byte(b, false); // FF FF is one FF; anything else is no mark
                break;
            case AfterMark:
                state_ = Plain;
                if (b == 0x00)
                    lineBreak();
                else
                    byte(b, true);
                break;
            }
        }
    }
    void reset() { state_ = Plain; }

private:
    enum { Plain, AfterFF, AfterMark } state_ = Plain;
};

} // namespace tarvex
