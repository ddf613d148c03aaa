#pragma once
#include "platform/posix/NetSerialPort.h"
#include "platform/posix/PosixSerialPort.h"

namespace tarvex {

// The port a device names: a local serial device (/dev/ttyS0, /dev/ttyUSB0)
// or a serial device server of the network (rfc2217://, tcp://).
class DevicePort final : public SerialPort {
public:
    DevicePort();
    Error open(const std::string& device, const LineSettings& line, bool receiveEvents) override;
    void close() override { port_->close(); }
    bool isOpen() const override { return port_->isOpen(); }
    std::size_t InBufferCount() const override { return port_->InBufferCount(); }
    std::optional<std::uint8_t> readByte() override { return port_->readByte(); }
    int byteError() const override { return port_->byteError(); }
    std::chrono::nanoseconds writeDelay() override { return port_->writeDelay(); }
    Error writeByte(std::uint8_t b) override { return port_->writeByte(b); }
    void flush() override { port_->flush(); }
    std::optional<std::size_t> OutBufferCount() const override { return port_->OutBufferCount(); }
    bool outputHeld() const override { return port_->outputHeld(); }
    void holdOn(HoldCodes codes) override { port_->holdOn(std::move(codes)); }
    void holdOutput() override { port_->holdOutput(); }
    void releaseHold() override { port_->releaseHold(); }
    void discardOutput() override { port_->discardOutput(); }
    std::size_t sentSinceHoldCode() const override { return port_->sentSinceHoldCode(); }
    std::size_t waitingOutput() const override { return port_->waitingOutput(); }
    void drainOutput(std::chrono::milliseconds atMost) override { port_->drainOutput(atMost); }
    bool CTSHolding() const override { return port_->CTSHolding(); }
    bool DSRHolding() const override { return port_->DSRHolding(); }
    bool CDHolding() const override { return port_->CDHolding(); }
    void setRTSEnable(bool on) override { port_->setRTSEnable(on); }
    std::vector<int> takeEvents() override { return port_->takeEvents(); }
    Error failure() const override { return port_->failure(); }

private:
    PosixSerialPort local_;
    NetSerialPort network_;
    SerialPort* port_ = &local_;
};

} // namespace tarvex
