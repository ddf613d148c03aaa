#include "platform/posix/PortInbox.h"

#include <cerrno>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace tarvex {

int pollFor(pollfd* fds, int n, std::chrono::nanoseconds due, std::optional<std::chrono::nanoseconds> cap)
{
    using namespace std::chrono;
    std::optional<nanoseconds> wait = cap;
    if (due > nanoseconds(0))
        wait = cap ? std::min(*cap, due) : due;
    if (!wait)
        return ::ppoll(fds, static_cast<nfds_t>(n), nullptr, nullptr);
    const timespec ts{static_cast<time_t>(wait->count() / 1'000'000'000), static_cast<long>(wait->count() % 1'000'000'000)};
    return ::ppoll(fds, static_cast<nfds_t>(n), &ts, nullptr);
}

void raiseThreadPriority()
{
    // Round-robin real time where allowed (root, or a limit granted for it):
    // the thread sleeps between characters and never spins, so it takes
    // little, but gets it at once. Else a niceness of -10 where allowed.
    sched_param rt{};
    rt.sched_priority = 10;
    if (::pthread_setschedparam(::pthread_self(), SCHED_RR, &rt) == 0)
        return;
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0 && now > -10)
        ::setpriority(PRIO_PROCESS, self, -10);
}

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
