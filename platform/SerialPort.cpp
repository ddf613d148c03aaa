#include "platform/SerialPort.h"

#include <algorithm>
#include <thread>

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

void OutputQueue::start(std::chrono::nanoseconds characterTime)
{
    std::lock_guard lock(mutex_);
    bytes_.clear();
    codes_ = {};
    ended_ = false;
    held_ = false;
    codesIn_ = codesTaken_ = 0;
    pacer_.start(characterTime);
    driver_ = 0;
    lastMove_ = std::chrono::steady_clock::now();
    // Half a second of line time: a window that draws for a while does not
    // starve the line. A hold code stops it at once however much waits.
    const auto half = std::chrono::milliseconds(500);
    bound_ = characterTime.count() > 0 ? std::max<std::size_t>(16, static_cast<std::size_t>(half / characterTime)) : 16;
}

std::size_t OutputQueue::room() const
{
    std::lock_guard lock(mutex_);
    return bytes_.size() < bound_ ? bound_ - bytes_.size() : 0;
}

std::chrono::nanoseconds OutputQueue::writeWait() const
{
    std::lock_guard lock(mutex_);
    if (bytes_.size() < bound_)
        return std::chrono::nanoseconds(0);
    return std::max<std::chrono::nanoseconds>(pacer_.characterTime() * static_cast<long>(std::max<std::size_t>(1, bound_ / 8)),
                                              std::chrono::milliseconds(1));
}

bool OutputQueue::push(std::uint8_t b)
{
    std::lock_guard lock(mutex_);
    if (bytes_.empty() && driver_ == 0)
        lastMove_ = std::chrono::steady_clock::now(); // an idle line is no held one
    bytes_.push_back(b);
    return bytes_.size() == 1;
}

void OutputQueue::discard()
{
    std::lock_guard lock(mutex_);
    bytes_.clear();
}

void OutputQueue::holdOn(HoldCodes codes)
{
    std::lock_guard lock(mutex_);
    codes_ = std::move(codes);
    held_ = ended_ = false;
    sinceCode_ = 0;
    codesIn_ = codesTaken_ = 0;
}

void OutputQueue::hold()
{
    std::lock_guard lock(mutex_);
    held_ = true;
}

void OutputQueue::release()
{
    std::lock_guard lock(mutex_);
    if (codesTaken_ < codesIn_)
        return; // a stop or end code on its way to the caller holds on
    if (held_)
        lastMove_ = std::chrono::steady_clock::now(); // our own hold is no hold of the partner's
    held_ = ended_ = false;
    sinceCode_ = 0;
}

std::size_t OutputQueue::sentSinceCode() const
{
    std::lock_guard lock(mutex_);
    return sinceCode_;
}

bool OutputQueue::heldByCode() const
{
    std::lock_guard lock(mutex_);
    return held_;
}

std::size_t OutputQueue::waiting() const
{
    std::lock_guard lock(mutex_);
    return bytes_.size();
}

void OutputQueue::taken(std::uint8_t b)
{
    std::lock_guard lock(mutex_);
    if (sameCode(codes_.stop, b) || sameCode(codes_.end, b))
        ++codesTaken_;
}

void OutputQueue::received(const std::uint8_t* bytes, std::size_t n)
{
    std::lock_guard lock(mutex_);
    for (std::size_t k = 0; k < n; ++k) {
        auto is = [b = bytes[k]](std::optional<std::uint8_t> code) { return sameCode(code, b); };
        if (is(codes_.stop) || is(codes_.end)) {
            ++codesIn_;
            sinceCode_ = held_ ? sinceCode_ : 0;
            held_ = true;
            ended_ = ended_ || is(codes_.end);
        } else if (held_ && !ended_) {
            for (std::uint8_t code : codes_.resume)
                if (is(code)) {
                    held_ = false;
                    lastMove_ = std::chrono::steady_clock::now();
                }
        }
    }
}

std::string OutputQueue::due(std::optional<std::size_t> driver, std::chrono::nanoseconds& next)
{
    using namespace std::chrono;
    std::lock_guard lock(mutex_);
    std::string out;
    next = nanoseconds(0);
    if (driver && *driver < driver_)
        lastMove_ = steady_clock::now(); // the device's queue went down: the line moves
    driver_ = driver.value_or(0);
    if (held_ || bytes_.empty())
        return out;
    // The driver's own queue first, where it tells it: no more than three
    // characters in it, so that a stop from the partner acts within a few.
    if (driver && *driver > 3) {
        next = pacer_.characterTime() * static_cast<long>(*driver - 3);
        return out;
    }
    while (!bytes_.empty()) {
        if (const nanoseconds wait = pacer_.delay(); wait > nanoseconds(0)) {
            next = wait;
            break;
        }
        out.push_back(static_cast<char>(bytes_.front()));
        bytes_.pop_front();
        pacer_.wrote();
        ++sinceCode_;
    }
    if (!bytes_.empty() && next == nanoseconds(0))
        next = pacer_.characterTime();
    return out;
}

void OutputQueue::putBack(std::string_view rest)
{
    std::lock_guard lock(mutex_);
    for (auto it = rest.rbegin(); it != rest.rend(); ++it)
        bytes_.push_front(static_cast<std::uint8_t>(*it));
}

void OutputQueue::moved()
{
    std::lock_guard lock(mutex_);
    lastMove_ = std::chrono::steady_clock::now();
}

std::chrono::nanoseconds OutputQueue::lineTime() const
{
    std::lock_guard lock(mutex_);
    return pacer_.characterTime() * static_cast<long>(bytes_.size());
}

void OutputQueue::waitSent(std::chrono::nanoseconds atMost, std::chrono::microseconds step, bool partnerToo,
                           const std::function<bool()>& alive) const
{
    const auto until = std::chrono::steady_clock::now() + atMost;
    while (alive() && waiting() > 0 && !heldByCode() && !(partnerToo && partnerHolds())
           && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(step);
}

bool OutputQueue::partnerHolds() const
{
    std::lock_guard lock(mutex_);
    return !held_ && bytes_.size() + driver_ > 0 && std::chrono::steady_clock::now() - lastMove_ >= std::chrono::seconds(1);
}

} // namespace tarvex
