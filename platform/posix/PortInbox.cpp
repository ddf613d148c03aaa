#include "platform/posix/PortInbox.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace tarvex {

Error PortInbox::open(bool receiveEvents)
{
    closePipe();
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return fileError(errno);
    }
    std::lock_guard lock(mutex_);
    receiveEvents_ = receiveEvents;
    buffer_.clear();
    faults_.clear();
    put_ = taken_ = 0;
    takenError_ = 0;
    events_.clear();
    failure_ = {};
    return {};
}

void PortInbox::closePipe()
{
    for (int& fd : pipe_)
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
}

void PortInbox::wake()
{
    char c = 0;
    [[maybe_unused]] auto n = ::write(pipe_[1], &c, 1);
}

void PortInbox::drainWake()
{
    char drain[64];
    while (::read(pipe_[0], drain, sizeof drain) > 0) {
    }
}

void PortInbox::notify()
{
    if (owner_.onActivity)
        owner_.onActivity();
}

std::size_t PortInbox::room() const
{
    std::lock_guard lock(mutex_);
    return SerialPort::receiveBufferSize - buffer_.size();
}

void PortInbox::put(const std::uint8_t* bytes, std::size_t n)
{
    {
        std::lock_guard lock(mutex_);
        buffer_.insert(buffer_.end(), bytes, bytes + n);
        put_ += n;
        if (receiveEvents_)
            events_.push_back(comm::EvReceive);
    }
    notify();
}

void PortInbox::putFaulty(std::uint8_t b, int error)
{
    {
        std::lock_guard lock(mutex_);
        faults_.emplace_back(put_, error);
    }
    put(&b, 1);
}

void PortInbox::push(int event)
{
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    notify();
}

void PortInbox::fail(const Error& e)
{
    {
        std::lock_guard lock(mutex_);
        if (!failure_)
            failure_ = e;
    }
    notify();
}

std::size_t PortInbox::count() const
{
    std::lock_guard lock(mutex_);
    return buffer_.size();
}

std::optional<std::uint8_t> PortInbox::take()
{
    std::optional<std::uint8_t> b;
    bool wasFull;
    {
        std::lock_guard lock(mutex_);
        if (buffer_.empty())
            return std::nullopt;
        wasFull = buffer_.size() == SerialPort::receiveBufferSize;
        b = buffer_.front();
        buffer_.pop_front();
        takenError_ = 0;
        if (!faults_.empty() && faults_.front().first == taken_) {
            // The error's event comes after the byte: what came before it is read first.
            takenError_ = faults_.front().second;
            events_.push_back(takenError_);
            faults_.pop_front();
        }
        ++taken_;
    }
    if (wasFull)
        wake(); // the reader waits for room: tell it there is some
    return b;
}

int PortInbox::takenError() const
{
    std::lock_guard lock(mutex_);
    return takenError_;
}

std::vector<int> PortInbox::takeEvents()
{
    std::lock_guard lock(mutex_);
    return std::exchange(events_, {});
}

Error PortInbox::failure() const
{
    std::lock_guard lock(mutex_);
    return failure_;
}

} // namespace tarvex
