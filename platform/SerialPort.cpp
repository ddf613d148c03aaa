#include "platform/SerialPort.h"

namespace tarvex {

std::chrono::nanoseconds LineSettings::characterTime() const
{
    const int bits = 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits;
    return std::chrono::nanoseconds(baud > 0 ? 1'000'000'000LL * bits / baud : 0);
}

} // namespace tarvex
