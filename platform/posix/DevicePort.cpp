#include "platform/posix/DevicePort.h"

namespace tarvex {

DevicePort::DevicePort()
{
    for (SerialPort* p : {static_cast<SerialPort*>(&local_), static_cast<SerialPort*>(&network_)})
        p->onActivity = [this] {
            if (onActivity)
                onActivity();
        };
}

Error DevicePort::open(const std::string& device, const LineSettings& line, bool receiveEvents)
{
    port_->close();
    port_ = NetSerialPort::isNetworkDevice(device) ? static_cast<SerialPort*>(&network_) : &local_;
    return port_->open(device, line, receiveEvents);
}

} // namespace tarvex
