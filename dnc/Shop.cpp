#include "dnc/Shop.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace tarvex {

void Shop::start(const MachineConfig& config)
{
    Entry e;
    e.machine = std::make_unique<Machine>(config_, config, stopping_, event_);
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
        // Changed, or retired by an earlier reload and wanted again.
        e.next = keep ? std::optional<MachineConfig>(*now) : std::nullopt;
    }
    waiting_.clear();
    for (const MachineConfig& m : config.machines) {
        const bool known = std::any_of(entries_.begin(), entries_.end(),
                                       [&](const Entry& e) { return e.machine->config().name == m.name; });
        if (!m.enabled || known)
            continue;
        if (deviceInUse(m.device))
            waiting_.push_back(m); // a port is one machine's at a time
        else
            start(m);
    }
}

bool Shop::deviceInUse(const std::string& device) const
{
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const Entry& e) { return e.machine->config().device == device; });
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
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (deviceInUse(it->device)) {
            ++it;
        } else {
            start(*it);
            it = waiting_.erase(it);
        }
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

std::vector<ShopBoard::Row> Shop::rows() const
{
    std::vector<ShopBoard::Row> rows;
    auto entry = [&](const std::string& name) -> const Entry* {
        for (const Entry& e : entries_)
            if (e.machine->config().name == name)
                return &e;
        return nullptr;
    };
    for (const MachineConfig& m : config_.machines) {
        MachineStatus s;
        if (const Entry* e = entry(m.name))
            s = e->machine->status(); // also one that finishes its transfer before it goes
        else if (!m.enabled)
            s.state = "disabled";
        rows.push_back({m.name, s});
    }
    for (const Entry& e : entries_) {
        const std::string& name = e.machine->config().name;
        if (std::none_of(config_.machines.begin(), config_.machines.end(),
                         [&](const MachineConfig& m) { return m.name == name; }))
            rows.push_back({name, e.machine->status()});
    }
    return rows;
}

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
    // Where the table names the file's device otherwise (some file systems
    // do), the PID the holder wrote, if that process has the file open.
    long pid = 0;
    if (std::ifstream(path) >> pid && pid > 0) {
        namespace fs = std::filesystem;
        std::error_code ec;
        for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
             !ec && it != fs::directory_iterator(); it.increment(ec))
            if (struct stat open{}; ::stat(it->path().c_str(), &open) == 0 && open.st_dev == st.st_dev
                                    && open.st_ino == st.st_ino)
                return pid;
    }
    return std::nullopt;
}

} // namespace tarvex
