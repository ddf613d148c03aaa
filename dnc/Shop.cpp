#include "dnc/Shop.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace tarvex {

void Shop::start(const MachineConfig& config)
{
    Entry e;
    e.machine = std::make_unique<Machine>(config_, config, stopping_);
    Machine* m = e.machine.get();
    e.thread = std::thread([m] { m->run(); });
    entries_.push_back(std::move(e));
}

void Shop::apply(const DncConfig& config)
{
    const bool sameFolders = config_.sameFolders(config);
    config_ = config;
    for (Entry& e : entries_) {
        const MachineConfig& was = e.machine->config();
        const auto now = std::find_if(config.machines.begin(), config.machines.end(),
                                      [&](const MachineConfig& m) { return m.name == was.name; });
        const bool keep = now != config.machines.end() && now->enabled;
        if (keep && *now == was && sameFolders && !e.retiring)
            continue;
        if (!e.retiring)
            e.machine->retire();
        e.retiring = true;
        e.next.reset();
        if (keep && (*now != was || !sameFolders))
            e.next = *now;
        else if (keep)
            e.next = was; // retired by an earlier reload, wanted again
    }
    for (const MachineConfig& m : config.machines) {
        const bool known = std::any_of(entries_.begin(), entries_.end(),
                                       [&](const Entry& e) { return e.machine->config().name == m.name; });
        if (m.enabled && !known)
            start(m);
    }
}

void Shop::tend()
{
    for (std::size_t k = 0; k < entries_.size();) {
        Entry& e = entries_[k];
        if (!e.retiring || !e.machine->finished()) {
            ++k;
            continue;
        }
        e.thread.join();
        std::optional<MachineConfig> next = std::move(e.next);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(k));
        if (next)
            start(*next); // appended: the loop reaches it and leaves it running
    }
}

void Shop::stop()
{
    for (Entry& e : entries_)
        e.machine->wake();
    for (Entry& e : entries_)
        if (e.thread.joinable())
            e.thread.join();
}

std::string Shop::statusLines() const
{
    std::string lines;
    auto entry = [&](const std::string& name) -> const Entry* {
        for (const Entry& e : entries_)
            if (e.machine->config().name == name && (!e.retiring || e.next))
                return &e;
        return nullptr;
    };
    for (const MachineConfig& m : config_.machines) {
        if (!m.enabled) {
            MachineStatus s;
            s.state = "disabled";
            lines += statusLine(m.name, s);
        } else if (const Entry* e = entry(m.name)) {
            lines += statusLine(m.name, e->machine->status());
        }
    }
    for (const Entry& e : entries_)
        if (e.retiring && !e.next)
            lines += statusLine(e.machine->config().name, e.machine->status());
    return lines;
}

std::string lockPath(const DncConfig& config) { return joinPath(config.logs, "tarvex-dnc.lock"); }

std::optional<long> lockHolder(const std::string& path)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF": the device in hex.
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%lu", ::major(st.st_dev), ::minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream words(line);
        std::string id, kind, mode, access, file;
        long pid = 0;
        if (words >> id >> kind >> mode >> access >> pid >> file && kind == "FLOCK" && file == device)
            return pid;
    }
    return std::nullopt;
}

} // namespace tarvex
