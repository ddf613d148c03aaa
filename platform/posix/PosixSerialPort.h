#pragma once
#include "platform/SerialPort.h"
#include "platform/posix/PortInbox.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace tarvex {

// A serial port over termios: raw mode, the requested baud, parity, data and
// stop bits, IXOFF (and IXON unless the transfer's own codes are DC1/DC3)
// and CRTSCTS for the handshakes. A reader thread takes
// bytes into the receive buffer (leaving the rest in the driver while it is
// full, so nothing is lost), and watches the modem lines (TIOCMGET) and the
// driver's error counters (TIOCGICOUNT) where the driver has them.
class PosixSerialPort final : public SerialPort {
public:
    ~PosixSerialPort() override;
    Error open(const std::string& device, const LineSettings& line, bool receiveEvents) override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }
    std::size_t InBufferCount() const override;
    std::optional<std::uint8_t> readByte() override;
    int byteError() const override;
    std::chrono::nanoseconds writeDelay() override;
    Error writeByte(std::uint8_t b) override;
    void flush() override;
    std::optional<std::size_t> OutBufferCount() const override;
    bool outputHeld() const override;
    void holdOn(HoldCodes codes) override;
    void holdOutput() override { out_.hold(); }
    void releaseHold() override;
    std::size_t sentSinceHoldCode() const override { return out_.sentSinceCode(); }
    std::size_t waitingOutput() const override { return out_.waiting(); }
    void drainOutput(std::chrono::milliseconds atMost) override
    {
        flush();
        out_.waitSent(atMost, std::chrono::microseconds(200), false, [this] { return fd_ >= 0 && !failure(); });
    }
    void discardOutput() override;
    bool CTSHolding() const override { return modem_ & cts; }
    bool DSRHolding() const override { return modem_ & dsr; }
    bool CDHolding() const override { return modem_ & cd; }
    void setRTSEnable(bool on) override;
    std::vector<int> takeEvents() override;
    Error failure() const override;

private:
    static constexpr int cts = 1, dsr = 2, cd = 4, ring = 8;
    void ioLoop();
    bool writeOut(const std::string& bytes);
    std::size_t drivers();
    void watchLines(bool first);
    void takeMarked(const std::uint8_t* bytes, std::size_t n);

    int fd_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    PortInbox inbox_{*this};
    std::atomic<int> modem_{0};
    bool modemSupported_ = true, countersSupported_ = true, outqSupported_ = true;
    struct Counters {
        int brk = 0, frame = 0, overrun = 0, parity = 0, bufOverrun = 0;
    } counters_;
    bool marking_ = false; // the driver checks parity and marks bad bytes
    LineMarks marks_;
    OutputQueue out_;
};

} // namespace tarvex
