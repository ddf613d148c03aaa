#include "dnc/ShopBoard.h"
#include "dnc/ShopPrograms.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace tarvex {

void ShopBoard::publish(std::vector<Row> rows)
{
    std::lock_guard lock(mutex_);
    if (rows == rows_)
        return;
    rows_ = std::move(rows);
    ++version_;
    changed_.notify_all();
}

void ShopBoard::event(const std::string& machine, const std::string& text, bool error)
{
    std::lock_guard lock(mutex_);
    events_.push_front({std::time(nullptr), machine, text, error});
    if (events_.size() > eventsKept)
        events_.pop_back();
    ++version_;
    changed_.notify_all();
}

ShopBoard::Snapshot ShopBoard::snapshot() const
{
    std::lock_guard lock(mutex_);
    return {rows_, events_, version_};
}

std::uint64_t ShopBoard::waitChange(std::uint64_t seen, std::chrono::milliseconds most,
                                    const std::atomic<bool>& stop) const
{
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, most, [&] { return version_ != seen || stop; });
    return version_;
}

void ShopBoard::wake() const
{
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

std::vector<ReceivedToday> receivedToday(const std::string& folder, std::time_t now)
{
    namespace fs = std::filesystem;
    std::tm today{};
    localtime_r(&now, &today);
    std::vector<std::pair<std::time_t, ReceivedToday>> found;
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        struct stat st{};
        if (name.starts_with(".") || !name.ends_with(".nc") || ::stat(it->path().c_str(), &st) != 0
            || !S_ISREG(st.st_mode))
            continue;
        std::tm when{};
        localtime_r(&st.st_mtime, &when);
        if (when.tm_year == today.tm_year && when.tm_yday == today.tm_yday)
            found.push_back({st.st_mtime, {name, static_cast<std::uintmax_t>(st.st_size), !name.ends_with(".partial.nc")}});
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second.name > b.second.name;
    });
    std::vector<ReceivedToday> out;
    for (auto& f : found)
        out.push_back(std::move(f.second));
    return out;
}

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c); // UTF-8 as it is
        }
    }
    return out + "\"";
}

std::string shopJson(const ShopBoard::Snapshot& s, const std::map<std::string, std::vector<ReceivedToday>>& received,
                     int viewers, std::time_t now)
{
    std::string j = "{\"time\":" + jsonString(localTime(now, "%Y-%m-%dT%H:%M:%S")) + ",\"viewers\":"
                    + std::to_string(viewers) + ",\"machines\":[";
    for (std::size_t k = 0; k < s.rows.size(); ++k) {
        const MachineStatus& m = s.rows[k].status;
        j += std::string(k ? "," : "") + "{\"name\":" + jsonString(s.rows[k].name) + ",\"state\":" + jsonString(m.state)
             + ",\"program\":" + jsonString(m.program) + ",\"percent\":"
             + (m.percent < 0 ? "null" : std::to_string(m.percent)) + ",\"bytes\":"
             + (m.bytes < 0 ? "null" : std::to_string(m.bytes)) + ",\"since\":"
             + (m.since ? jsonString(localTime(m.since, "%Y-%m-%dT%H:%M:%S")) : "null") + ",\"seconds\":"
             + (m.since ? std::to_string(std::max<long long>(0, now - m.since)) : "null")
             + ",\"lastError\":" + jsonString(m.lastError) + ",\"received\":[";
        if (auto it = received.find(s.rows[k].name); it != received.end())
            for (std::size_t r = 0; r < it->second.size(); ++r) {
                const ReceivedToday& p = it->second[r];
                j += std::string(r ? "," : "") + "{\"name\":" + jsonString(p.name) + ",\"size\":" + std::to_string(p.size)
                     + ",\"complete\":" + (p.complete ? "true" : "false") + "}";
            }
        j += "]}";
    }
    j += "],\"events\":[";
    for (std::size_t k = 0; k < s.events.size(); ++k) {
        const ShopBoard::Event& e = s.events[k];
        j += std::string(k ? "," : "") + "{\"time\":" + jsonString(localTime(e.time, "%Y-%m-%d %H:%M:%S"))
             + ",\"machine\":" + jsonString(e.machine) + ",\"text\":" + jsonString(e.text)
             + ",\"error\":" + (e.error ? "true" : "false") + "}";
    }
    return j + "]}";
}

} // namespace tarvex
