#pragma once
#include "platform/SerialPort.h"
#include "platform/posix/PortInbox.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace tarvex {

// A serial port on a serial device server of the network:
// "rfc2217://HOST:PORT" (Telnet with the COM-PORT option: the profile's line
// settings go to the server, its line and modem state come back as line
// events, the byte 0xFF is doubled both ways) or "tcp://HOST:PORT" (bytes
// unchanged; the server's port has its own settings).
//
// open() returns at once and a thread connects: the transfer's wait stays
// responsive and its cancel works meanwhile. A host that does not answer
// within connectTimeout, refuses, or (RFC 2217) does not agree to the
// COM-PORT option within negotiateTimeout shows as the port's failure.
// Output is paced at the profile's line rate like a local port's: the
// network and the server hold far more than a UART, and only the pace keeps
// a partner's stop code effective. A server that stops reading holds the
// output (outputHeld()); one that stops acknowledging fails, with a message
// that names it. close() lets the last bytes reach the server: it shuts the
// sending side and reads until the server closes (a few seconds at most).
class NetSerialPort final : public SerialPort {
public:
    static constexpr std::chrono::seconds connectTimeout{5};
    static constexpr std::chrono::seconds negotiateTimeout{3};

    // Whether a device names a port of the network.
    static bool isNetworkDevice(const std::string& device);
    // The parts of "rfc2217://HOST:PORT" or "tcp://HOST:PORT" (an IPv6 host
    // in brackets, a port 1-65535); false for any other device.
    struct Address {
        bool telnet = true;
        std::string host, port;
    };
    static bool parseAddress(const std::string& device, Address& address);

    ~NetSerialPort() override;
    Error open(const std::string& device, const LineSettings& line, bool receiveEvents) override;
    void close() override;
    bool isOpen() const override { return thread_.joinable(); }
    std::size_t InBufferCount() const override;
    std::optional<std::uint8_t> readByte() override;
    std::chrono::nanoseconds writeDelay() override;
    Error writeByte(std::uint8_t b) override;
    void flush() override;
    bool outputHeld() const override { return queue_.partnerHolds(); }
    std::optional<std::size_t> OutBufferCount() const override;
    void holdOn(HoldCodes codes) override { queue_.holdOn(std::move(codes)); }
    void holdOutput() override { queue_.hold(); }
    void releaseHold() override;
    std::size_t sentSinceHoldCode() const override { return queue_.sentSinceCode(); }
    std::size_t waitingOutput() const override { return queue_.waiting(); }
    void drainOutput(std::chrono::milliseconds atMost) override
    {
        flush();
        queue_.waitSent(atMost, std::chrono::microseconds(200), false,
                        [this] { return thread_.joinable() && !failure(); });
    }
    void discardOutput() override { queue_.discard(); }
    bool CTSHolding() const override { return modem_ & 0x10; }
    bool DSRHolding() const override { return modem_ & 0x20; }
    bool CDHolding() const override { return modem_ & 0x80; }
    void setRTSEnable(bool on) override;
    std::vector<int> takeEvents() override;
    Error failure() const override;

private:
    void run(const std::string& host, const std::string& port);
    int connectTo(const std::string& host, const std::string& port, Error& why);
    void readLoop();
    void parse(const std::uint8_t* raw, std::size_t n, std::string& data);
    void option(std::uint8_t command, std::uint8_t opt);
    void subnegotiation(const std::string& sub);
    void sendSettings();
    void becomeReady();
    // Sends bytes, from either thread: what the socket does not take now
    // waits (a server that stops reading holds the flow, as a control may,
    // for as long as it likes); false after a failure.
    bool sendAll(const std::string& bytes);
    bool sendLocked(const std::string& bytes); // writeMutex_ held
    bool pushOut();                            // writeMutex_ held
    // What waits in the queue and is due now goes to the socket (the port's thread).
    void sendDue(std::chrono::nanoseconds& next);
    std::size_t unsent() const;
    // The kernel's view of the connection: a server that stops acknowledging
    // (gone, or half-open) fails like an unplugged adapter.
    bool peerGone() const;
    Error hangUp() const;
    void comPort(std::uint8_t command, const std::string& value);

    bool telnet_ = false;
    LineSettings line_;
    int sock_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ready_{false}; // connected, and the settings went out
    PortInbox inbox_{*this};
    std::atomic<int> modem_{0};
    mutable std::mutex writeMutex_;
    std::string out_; // sent, not yet taken by the socket (escaped)
    OutputQueue queue_;
    std::string server_;  // "host:port", for the messages
    // The Telnet reader's state.
    enum class In { Data, Iac, Option, Sub, SubIac } in_ = In::Data;
    std::uint8_t command_ = 0;
    std::string sub_;
    bool agreed_ = false;   // the server took the COM-PORT option
    int acknowledged_ = 0; // bits of the four line settings the server confirmed
    std::chrono::steady_clock::time_point settingsSent_{};
    bool settingsOut_ = false;
};

} // namespace tarvex
