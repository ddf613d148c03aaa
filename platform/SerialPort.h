#pragma once
#include "platform/Error.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvex {

// The line settings of a port, as a device profile gives them.
struct LineSettings {
    int baud = 9600;
    char parity = 'N'; // 'E', 'N' or 'O'
    int dataBits = 8;
    int stopBits = 1;
    int handshake = 0; // 0 none, 1 XOn/XOff, 2 RTS/CTS, 3 both
    // With XOn/XOff, whether the driver obeys the partner's XON/XOFF (IXON):
    // not when the transfer's own codes are DC1/DC3, which it must see.
    bool xonXoffOutput = true;
    // The time one character takes on the line: start bit, data, parity, stop bits.
    std::chrono::nanoseconds characterTime() const;
    bool operator==(const LineSettings&) const = default;
};

// The pace of output at the line's character rate: what was written is never
// more than four characters ahead of the line. Once the line is down to one
// character, three go in a row: one wake-up for three characters.
class LinePacer {
public:
    void start(std::chrono::nanoseconds characterTime);
    // 0 to write now, else the wait before the next byte (the bytes gathered
    // meanwhile should go out before it).
    std::chrono::nanoseconds delay();
    void wrote();
    std::chrono::nanoseconds characterTime() const { return characterTime_; }

private:
    std::chrono::nanoseconds characterTime_{0};
    std::chrono::steady_clock::time_point lineFree_{};
    bool refilling_ = true;
};

// Whether output moves: bytes wait to go out (in our hands or the driver's
// queue) and none has left for a second: the partner holds the flow (XOFF,
// CTS off, a network peer that stops reading). Sampled at each look at the
// queue.
class OutputWatch {
public:
    void sample(std::size_t waiting);
    bool held() const;

private:
    std::size_t last_ = 0;
    std::chrono::steady_clock::time_point since_{};
};

// Line events, by the numbers the transfers know them.
namespace comm {
inline constexpr int EvSend = 1, EvReceive = 2, EvCTS = 3, EvDSR = 4, EvCD = 5, EvRing = 6, EvEOF = 7;
inline constexpr int ErBreak = 1001, ErCTSTO = 1002, ErDSRTO = 1003, ErFrame = 1004, ErOverrun = 1006,
                     ErCDTO = 1007, ErRxOver = 1008, ErRxParity = 1009, ErTxFull = 1010, ErDCB = 1011;
} // namespace comm

// A serial port. Bytes are read one at a time from a receive buffer of 5,120
// bytes; output is paced at the line rate by the caller asking writeDelay()
// before each byte, so that it never runs more than four characters ahead of
// the line. Line events (modem lines, break and line errors) are collected
// and handed out by takeEvents() when the caller is ready for them.
class SerialPort {
public:
    static constexpr std::size_t receiveBufferSize = 5120;

    virtual ~SerialPort() = default;
    // Applies the settings and opens the port. receiveEvents: report every
    // arrival of bytes as event 2 (the tape run's port).
    virtual Error open(const std::string& device, const LineSettings& line, bool receiveEvents) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Bytes received and not yet read.
    virtual std::size_t InBufferCount() const = 0;
    virtual std::optional<std::uint8_t> readByte() = 0;
    // The line error the driver found in the byte readByte() gave last
    // (comm::ErRxParity or comm::ErFrame), 0 for none. Such a byte is still
    // handed out, in its place; the error's event follows it.
    virtual int byteError() const { return 0; }
    // How long the caller should wait before writing the next byte.
    virtual std::chrono::nanoseconds writeDelay() = 0;
    // Written bytes may be gathered for a moment (a few characters of line
    // time); flush sends them now. A failure shows in failure().
    virtual Error writeByte(std::uint8_t b) = 0;
    virtual void flush() = 0;
    // Bytes written and not yet on the line, where the port can tell.
    virtual std::optional<std::size_t> OutBufferCount() const { return std::nullopt; }
    // The partner has held the output back for a while (see OutputWatch);
    // the caller waits, however long it lasts.
    virtual bool outputHeld() const { return false; }

    virtual bool CTSHolding() const = 0;
    virtual bool DSRHolding() const = 0;
    virtual bool CDHolding() const = 0;
    virtual void setRTSEnable(bool on) = 0;

    // The line events since the last call, in the order they came.
    virtual std::vector<int> takeEvents() = 0;
    // Set when the line failed (read error, hang-up, adapter unplugged).
    virtual Error failure() const = 0;

    // Called from any thread when bytes, events or a failure arrive, so that a
    // wait can end early.
    std::function<void()> onActivity;
};

} // namespace tarvex
