#pragma once
#include "platform/Error.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
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

// The partner's codes that steer an output in the port itself: a stop code
// holds it until a resume code (the request or start code), an end code
// holds it for good. Each on its seven bits.
// Whether a received byte is a code: on its seven bits, the parity bit aside
// (a control may send DC1 as &H11 or with its parity bit as &H91).
inline bool sameCode(std::optional<std::uint8_t> code, std::uint8_t b) { return code && ((b ^ *code) & 0x7F) == 0; }

struct HoldCodes {
    std::optional<std::uint8_t> stop, end;
    std::vector<std::uint8_t> resume;
};

// What a port's own thread sends at the line's pace, so that the caller's
// thread (the window's, busy drawing the plot) never sets it: bytes wait
// here, up to half a second of line time. The port's thread holds the
// output the moment a hold code comes in (the partner's stop or end code,
// on its seven bits), before the caller has read it: the stop acts within a
// character whatever the caller is doing. The caller releases the hold, or
// drops what waits (a cancel, an end code); a release never lifts the hold
// of a code the caller has not read yet (it would not know of that stop).
class OutputQueue {
public:
    void start(std::chrono::nanoseconds characterTime);
    // The caller's side. writeWait: zero while there is room, else how long
    // an eighth of the queue takes to go out: the caller wakes a few times a
    // second, not at every character.
    std::size_t room() const;
    std::chrono::nanoseconds writeWait() const;
    // True when it was empty: the port's thread should look now.
    bool push(std::uint8_t b);
    void discard();
    void holdOn(HoldCodes codes);
    void hold();
    void release();
    bool heldByCode() const;
    std::size_t waiting() const;
    // Bytes that went to the device after the last hold code came in (0
    // when the hold acted at once), until the hold is released.
    std::size_t sentSinceCode() const;
    // The port's side: each byte received, and what to write now. driver:
    // what the driver still holds where it says; next: when to look again
    // (zero when nothing waits or the output is held).
    void received(const std::uint8_t* bytes, std::size_t n); // one look at the lock for a read's bytes
    void received(std::uint8_t b) { received(&b, 1); }
    // The caller read this byte from the receive buffer.
    void taken(std::uint8_t b);
    std::string due(std::optional<std::size_t> driver, std::chrono::nanoseconds& next);
    // What the device did not take goes back to the front; moved: it took
    // some.
    void putBack(std::string_view rest);
    void moved();
    // Whether the partner holds the flow: bytes wait (here or in the
    // device) and none has moved for a second; a hold code's hold is no such
    // thing, and dropping what waits does not make the line move.
    bool partnerHolds() const;
    // The line time of what waits.
    std::chrono::nanoseconds lineTime() const;
    // Waits while bytes wait and the line moves: at most atMost, and not
    // once a hold code (with partnerToo, also the partner) holds them or
    // alive() says the port is done. Looks every step.
    void waitSent(std::chrono::nanoseconds atMost, std::chrono::microseconds step, bool partnerToo,
                  const std::function<bool()>& alive) const;

private:
    mutable std::mutex mutex_;
    std::deque<std::uint8_t> bytes_;
    std::size_t bound_ = 16;
    HoldCodes codes_;
    bool held_ = false, ended_ = false;
    std::size_t sinceCode_ = 0;
    // Hold codes come in and read by the caller.
    std::uint64_t codesIn_ = 0, codesTaken_ = 0;
    LinePacer pacer_;
    std::size_t driver_ = 0; // what the device held at the last look
    std::chrono::steady_clock::time_point lastMove_{};
};

// Line events, by the numbers the transfers know them.
namespace comm {
inline constexpr int EvSend = 1, EvReceive = 2, EvCTS = 3, EvDSR = 4, EvCD = 5, EvRing = 6, EvEOF = 7;
inline constexpr int ErBreak = 1001, ErCTSTO = 1002, ErDSRTO = 1003, ErFrame = 1004, ErOverrun = 1006,
                     ErCDTO = 1007, ErRxOver = 1008, ErRxParity = 1009, ErTxFull = 1010, ErDCB = 1011;
} // namespace comm

// A serial port. Bytes are read one at a time from a receive buffer of 5,120
// bytes; output waits in the port's OutputQueue and its own thread puts it
// on the line at the line rate, never more than four characters ahead; the
// caller asks writeDelay() before each byte, which is zero while the queue
// has room. Line events (modem lines, break and line errors) are collected
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
    // Bytes the device (driver, socket) holds on their way to the line,
    // where it can tell; not what waits in the port's queue.
    virtual std::optional<std::size_t> OutBufferCount() const { return std::nullopt; }
    // The partner has held the output back for a while (see OutputQueue::partnerHolds);
    // the caller waits, however long it lasts.
    virtual bool outputHeld() const { return false; }
    // The partner's codes that steer the output the moment they come in
    // (the output side's); none for an input.
    virtual void holdOn(HoldCodes /*codes*/) {}
    // The caller holds the output (a modem line paused the transfer); the
    // output goes on; what waits is dropped.
    virtual void holdOutput() {}
    virtual void releaseHold() {}
    virtual void discardOutput() {}
    // Bytes that went to the device after the last hold code came in.
    virtual std::size_t sentSinceHoldCode() const { return 0; }
    // Bytes that wait in the port's queue.
    virtual std::size_t waitingOutput() const { return 0; }
    // Waits (at most that long) until what waits in the queue has gone to
    // the device: a code that must go on its own goes between two.
    virtual void drainOutput(std::chrono::milliseconds /*atMost*/) {}

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
