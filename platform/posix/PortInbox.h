#pragma once
#include "platform/SerialPort.h"

#include <deque>
#include <mutex>

namespace tarvex {

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
    void push(int event);
    void fail(const Error& e);

    // The transfer's side.
    std::size_t count() const;
    std::optional<std::uint8_t> take();
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
    std::vector<int> events_;
    Error failure_;
};

} // namespace tarvex
