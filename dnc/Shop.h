#pragma once
#include "dnc/DncConfig.h"
#include "dnc/Machine.h"
#include "dnc/ShopBoard.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvex {

// The machines the service serves, each on its own thread, and a new
// configuration applied to them without cutting a transfer: a machine whose
// section is the same goes on untouched (a drip feed included); one that went
// away or changed is retired once its transfer has ended (a changed one then
// starts again as configured); a new one starts at once.
class Shop {
public:
    // event: what the machines tell of what happened (may be empty).
    explicit Shop(const std::atomic<bool>& stopping, Machine::EventSink event = {})
        : stopping_(stopping), event_(std::move(event))
    {
    }
    ~Shop() { stop(); }
    void apply(const DncConfig& config);
    // Joins the machines that have retired and starts what replaces them.
    void tend();
    // Every transfer ends as the cancel button ends it; returns once all have.
    void stop();
    // Each machine of the configuration (Enabled=no reads disabled), then
    // those still finishing after a reload took them away.
    std::vector<ShopBoard::Row> rows() const;
    // The same as status lines.
    std::size_t serving() const { return entries_.size(); }

private:
    struct Entry {
        std::unique_ptr<Machine> machine;
        std::thread thread;
        bool retiring = false;
        std::optional<MachineConfig> next; // what starts once it has retired
    };
    void start(const MachineConfig& config);
    bool deviceInUse(const std::string& device) const;

    const std::atomic<bool>& stopping_;
    Machine::EventSink event_;
    DncConfig config_;
    std::vector<Entry> entries_;
    // New machines whose device a retiring one still holds: started once it is free.
    std::vector<MachineConfig> waiting_;
};

// The process that holds the service's lock (read from the kernel's table
// of locks, without taking it); nullopt when none does.
std::optional<long> lockHolder(const std::string& path);

} // namespace tarvex
