#pragma once
#include "dnc/Machine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tarvex {

// What the shop is doing, as the machines publish it for those who look: the
// status page reads it and nothing else, so a reader never holds a machine.
class ShopBoard {
public:
    struct Row {
        std::string name;
        MachineStatus status;
        bool operator==(const Row&) const = default;
    };
    struct Event {
        std::time_t time;
        std::string machine, text;
        bool error;
    };
    static constexpr std::size_t eventsKept = 50;

    // The machines in the order of the configuration (the service's loop).
    void publish(std::vector<Row> rows);
    // Something that happened on a machine (a program received, a request
    // answered or refused, an error); the oldest beyond eventsKept go.
    void event(const std::string& machine, const std::string& text, bool error);

    struct Snapshot {
        std::vector<Row> rows;
        std::deque<Event> events; // newest first
        std::uint64_t version = 0;
    };
    Snapshot snapshot() const;
    // Waits until the version differs from seen, or the time has passed, or
    // stop is set and wake() called: the version then.
    std::uint64_t waitChange(std::uint64_t seen, std::chrono::milliseconds most, const std::atomic<bool>& stop) const;
    void wake() const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Row> rows_;
    std::deque<Event> events_;
    std::uint64_t version_ = 1;
};

// The programs a machine's folder of received programs holds from today
// (local time), newest first: name, size, and whether it came whole.
struct ReceivedToday {
    std::string name;
    std::uintmax_t size;
    bool complete;
};
std::vector<ReceivedToday> receivedToday(const std::string& folder, std::time_t now);

// The page's data as JSON: every machine (name, state, program, percent,
// bytes, since, seconds, lastError, received), the events, the viewers.
std::string shopJson(const ShopBoard::Snapshot& s, const std::map<std::string, std::vector<ReceivedToday>>& received,
                     int viewers, std::time_t now);
// A JSON string literal.
std::string jsonString(std::string_view text);

} // namespace tarvex
