#pragma once
#include "platform/UiServices.h"

#include <condition_variable>
#include <mutex>

namespace tarvex {

// The event loop of a program without windows: waits sleep until their time
// is up or wake() is called.
class PosixEventLoop final : public EventLoop {
public:
    void yield() override {}
    void wait(std::chrono::microseconds time) override
    {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, time, [this] { return woken_; });
        woken_ = false;
    }
    void wake() override
    {
        {
            std::lock_guard lock(mutex_);
            woken_ = true;
        }
        cv_.notify_all();
    }
    void setBusy(bool) override {}

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool woken_ = false;
};

} // namespace tarvex
