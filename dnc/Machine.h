#pragma once
#include "dnc/DncConfig.h"

#include <atomic>
#include <cstdint>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvex {

// What a machine is doing, as the status lines say it.
struct MachineStatus {
    // starting (until its port first listens), idle, receiving, waiting-start,
    // sending, drip, retrying, unsaved; disabled and stopped are the service's

    std::string state = "starting";
    std::string program;        // the program received or sent
    int percent = -1;           // of an output; -1 none
    std::string lastError;
    long long bytes = -1; // received so far, while receiving; -1 none
    std::time_t since = 0; // when the state began
    bool operator==(const MachineStatus&) const = default;
};

// One machine of the shop, served by its own thread: what it punches is
// received and saved, a punched request is answered with the library's
// program, a drip request is sent as a tape run. The transfers are the
// window's own, on the machine's device.
class Machine {
public:
    // event: told what happened (a program received, a request answered or
    // refused, an error), for the shop's status page; may be empty.
    using EventSink = std::function<void(const std::string& machine, const std::string& text, bool error)>;
    Machine(const DncConfig& shop, MachineConfig config, const std::atomic<bool>& stopping, EventSink event = {});
    ~Machine();
    // Serves until stopping is set (and wake() called): transfers under way
    // end as the cancel button ends them.
    void run();
    void wake();
    // Serves until its transfer has ended (a wait for a punch ends at once),
    // then returns from run(): for a configuration that no longer has it so.
    void retire();
    bool finished() const { return finished_; }
    const MachineConfig& config() const { return config_; }
    MachineStatus status() const;
    const std::string& name() const { return config_.name; }

    // The longest wait between tries of a device that cannot be opened.
    std::chrono::seconds maxBackOff{60};
    // How often a program that could not be written is tried again.
    std::chrono::seconds saveRetry{10};

private:
    struct Impl;
    void setStatus(const MachineStatus& s);
    void log(const std::string& line);
    // A line of the log that the journal gets too (standard error, with the
    // machine's name), and the shop's events unless event is false.
    void error(const std::string& line, bool event = true);
    struct Unsaved;
    // A punch that arrived: saved, or a request answered. complete: its end
    // came and every byte passed its check; why: what ended it otherwise.
    void take(const std::string& received, bool complete, const std::string& why);
    void save(std::unique_ptr<Unsaved> program);
    // Writes a program: false when it cannot be written (its error says why).
    bool store(Unsaved& program, bool retry);
    // Programs that could not be written, tried again every saveRetry; at
    // the stop, what is left goes to the logs' folder.
    void retryUnsaved(bool force);
    void keepUnsavedAtStop();
    void answer(const std::string& received, const std::string& number, bool drip);
    // Waits, ended early by a stop (and by retiring when untilRetired).
    void pause(std::chrono::duration<double> time, bool untilRetired = false);

    const DncConfig shop_; // its own copy: a reload may change the service's
    MachineConfig config_;
    const std::atomic<bool>& stopping_;
    EventSink event_;
    std::atomic<bool> retiring_{false}, finished_{false};
    mutable std::mutex mutex_;
    MachineStatus status_;
    std::vector<std::unique_ptr<Unsaved>> unsaved_;
    std::chrono::steady_clock::time_point nextRetry_{};
    std::unique_ptr<Impl> impl_;
};

// The status line of a machine: NAME STATE PROGRAM PERCENT LAST-ERROR BYTES,
// separated by tabs ("-" for what is not known).
std::string statusLine(const std::string& name, const MachineStatus& s);

// Appends to a log, keeping it under a size: a full log becomes LOG.1, the
// older ones LOG.2… up to keep.
void appendRotated(const std::string& path, const std::string& text, std::uintmax_t limit = 10u << 20, int keep = 5);

} // namespace tarvex
