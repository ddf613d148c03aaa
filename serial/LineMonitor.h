#pragma once
// The line monitor: what each transfer did on the line and when, recorded
// from the transfers' own events (the port is never read a second time).
// Program characters are counted, not listed: between two events one line
// says how many went each way.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvex {

struct LineSettings;

class LineMonitor {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kept = 10;
    // More characters than this after a stop code risk a controller's buffer.
    static constexpr std::size_t stopOverrunLimit = 10;

    struct Stop {
        std::size_t writtenAfter = 0;        // written after the code arrived
        std::optional<std::size_t> queued;   // still in the port's output queue when it was read
        // What the partner still gets: the queue holds the bytes just written
        // too, unless they have left already.
        std::size_t total() const { return std::max(writtenAfter, queued.value_or(0)); }
    };
    // A transfer's log keeps its first and its last lines: a partner that
    // floods the line with events cannot fill the memory.
    static constexpr std::size_t headLines = 2000, tailLines = 500;

    struct Record {
        std::string title;
        std::vector<std::string> lines;       // the first headLines
        std::deque<std::string> tail;         // then the last tailLines
        std::size_t omitted = 0;              // left out between them
        std::size_t added = 0;                // every line ever added, for a window that appends
        // The lines added after the first `shown` of them (those still kept,
        // with a line saying how many were left out between).
        std::vector<std::string> since(std::size_t shown) const;
        long long sent = 0, received = 0;
        int stops = 0, resumptions = 0;
        double longestPause = 0; // seconds
        std::vector<Stop> afterStops;
        std::vector<std::string> warnings; // said once each at the end
        bool running = true;
        std::size_t id = 0; // one number per transfer since the start
        // The log as saved and shown: events, counters and, where a stop
        // code was followed by too many characters, what it likely means.
        std::string text() const;
        // What follows the lines once the transfer has ended: the counters and warnings.
        std::string summary() const;
    };

    // A transfer starts: the kind, the port and the settings applied.
    void begin(const std::string& title, const std::string& device, const LineSettings& line);
    // Characters of the program, one at a time (cheap: counted only).
    void sentData() { ++pendingSent_; }
    void receivedData() { ++pendingReceived_; }
    // A control code, named by its role ("停止コード(出力)").
    void sentCode(std::uint8_t b, const std::string& role);
    void receivedCode(std::uint8_t b, const std::string& role);
    // What went to the partner after the stop code just received arrived.
    void stopCounted(const Stop& after);
    // The flow stopped by the partner (or held back by us) and going again.
    void paused();
    void resumed();
    // The pause ends without the flow going again (the cancel button).
    void pauseOver();
    // Something the user should check, said at the end of the log.
    void warn(const std::string& text);
    // Anything else worth a line: a line event, a time-out, the cancel button.
    void event(const std::string& text);
    void end(const std::string& status);

    // The transfers kept, the latest last.
    const std::deque<Record>& records() const { return records_; }
    // Called after each change, for a window showing the log.
    std::function<void()> onChange;

private:
    Record* current();
    void line(const std::string& text);
    void keep(Record& r, std::string text);
    void endRepeat();
    void flushCounts();
    void changed();
    std::deque<Record> records_;
    Clock::time_point start_{};
    std::optional<Clock::time_point> pausedAt_;
    long long pendingSent_ = 0, pendingReceived_ = 0;
    // The same line again and again is kept once, then how often it came.
    std::string lastText_;
    std::size_t repeats_ = 0;
    std::size_t nextId_ = 1;
};

// "DC3 &H93" for a control code: the DC name where the byte is one (parity bit aside).
std::string codeName(std::uint8_t b);

} // namespace tarvex
