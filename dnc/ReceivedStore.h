#pragma once
#include <chrono>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

// The name of the n-th choice (from 1) for a received program: its number
// as written, else the local time of arrival; "-2", "-3"… from the second;
// ".partial.nc" instead of ".nc" for a program cut short.
std::string receivedName(const std::string& number, std::time_t arrival, int n, bool partial);

// A receive written as it arrives into a hidden file of its folder
// (".tarvex-rx-" and six characters), locked while this process holds it: a
// process killed meanwhile leaves what came for the next start.
class ReceiveSpool {
public:
    ReceiveSpool() = default;
    ~ReceiveSpool();
    ReceiveSpool(const ReceiveSpool&) = delete;
    ReceiveSpool& operator=(const ReceiveSpool&) = delete;

    // 0, or the errno of the failure. The folder is made when missing; the
    // file gets mode (the usual permissions of a new file).
    int open(const std::string& folder, unsigned mode);
    bool isOpen() const { return fd_ >= 0; }
    // A failed write leaves the spool unsound: error() then holds its errno.
    // What was written goes to the disk at most a second later.
    void append(std::string_view bytes);
    int error() const { return error_; }
    // Gives the file its name in the folder, never over another file: the
    // first free one of name(1), name(2)…. 0 and the name taken, or errno.
    int publish(const std::function<std::string(int)>& name, std::string& taken);
    // Removes the file.
    void drop();
    // Lets the file go, as a process that dies does: it stays for the next start.
    void close();

private:
    int fd_ = -1;
    std::string folder_, path_;
    int error_ = 0;
    bool unsynced_ = false;
    std::chrono::steady_clock::time_point lastSync_{};
};

// Writes bytes as a new file of the folder (made when missing), named as
// publish() names: 0 and the name taken, or errno.
int storeReceived(const std::string& folder, std::string_view bytes, unsigned mode,
                  const std::function<std::string(int)>& name, std::string& taken);

// The spools that a killed process left in the folder: each that holds
// something is named as a program cut short (by its program number, else
// the time it was last written), each empty one older than a day removed;
// a spool that a running process holds is left alone. One line per file
// saying what became of it.
std::vector<std::string> recoverSpools(const std::string& folder);

} // namespace tarvex
