#include "platform/SerialPort.h"

#include <algorithm>

namespace tarvex {

std::chrono::nanoseconds LineSettings::characterTime() const
{
    const int bits = 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits;
    return std::chrono::nanoseconds(baud > 0 ? 1'000'000'000LL * bits / baud : 0);
}

void LinePacer::start(std::chrono::nanoseconds characterTime)
{
    characterTime_ = characterTime;
    lineFree_ = std::chrono::steady_clock::now();
    refilling_ = true;
}

std::chrono::nanoseconds LinePacer::delay()
{
    using namespace std::chrono;
    const auto ahead = lineFree_ - steady_clock::now();
    if (ahead <= characterTime_)
        refilling_ = true;
    else if (ahead > characterTime_ * 3)
        refilling_ = false;
    if (refilling_)
        return nanoseconds(0);
    return duration_cast<nanoseconds>(ahead - characterTime_);
}

void LinePacer::wrote()
{
    lineFree_ = std::max(lineFree_, std::chrono::steady_clock::now()) + characterTime_;
}

void OutputWatch::sample(std::size_t waiting)
{
    const auto now = std::chrono::steady_clock::now();
    if (waiting == 0 || waiting < last_ || since_ == std::chrono::steady_clock::time_point{})
        since_ = now;
    last_ = waiting;
}

bool OutputWatch::held() const
{
    return last_ > 0 && std::chrono::steady_clock::now() - since_ >= std::chrono::seconds(1);
}

} // namespace tarvex
