#include "dnc/ReceivedStore.h"
#include "dnc/ShopPrograms.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvex {
namespace {

constexpr std::string_view spoolPrefix = ".tarvex-rx-";

std::string stamp(std::time_t t) { return localTime(t, "%Y%m%d-%H%M%S"); }

// A rename that never replaces a file; where the file system cannot promise
// that, a link and an unlink do the same, and where it has no links either,
// a look first (the service is the folder's only writer).
int renameNew(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS)
        return errno;
    if (struct stat st{}; ::lstat(to.c_str(), &st) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Renames to the first of name(1), name(2)… that is free in the folder.
int renameToFree(const std::string& from, const std::string& folder, const std::function<std::string(int)>& name,
                 std::string& taken)
{
    for (int n = 1; n < 10000; ++n) {
        const int e = renameNew(from, folder + "/" + name(n));
        if (e != EEXIST) {
            if (!e)
                taken = name(n);
            return e;
        }
    }
    return EEXIST;
}

void syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::string receivedName(const std::string& number, std::time_t arrival, int n, bool partial)
{
    const std::string base = number.empty() ? stamp(arrival) : number;
    return base + (n > 1 ? "-" + std::to_string(n) : std::string()) + (partial ? ".partial.nc" : ".nc");
}

ReceiveSpool::~ReceiveSpool() { close(); }

void ReceiveSpool::close()
{
    if (fd_ >= 0)
        ::close(fd_); // the lock goes with it
    fd_ = -1;
}

int ReceiveSpool::open(const std::string& folder, unsigned mode)
{
    close();
    error_ = 0;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return ec.value();
    std::string path = folder + "/" + std::string(spoolPrefix) + "XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    ::fchmod(fd, mode);
    ::flock(fd, LOCK_EX);
    fd_ = fd;
    folder_ = folder;
    path_ = path;
    unsynced_ = false;
    lastSync_ = std::chrono::steady_clock::now();
    return 0;
}

void ReceiveSpool::append(std::string_view bytes)
{
    if (fd_ < 0 || error_)
        return;
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = n < 0 ? errno : ENOSPC;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
    unsynced_ = true;
    // A power cut keeps what came up to a second before it.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSync_ >= std::chrono::seconds(1)) {
        if (::fdatasync(fd_) != 0)
            error_ = errno;
        unsynced_ = false;
        lastSync_ = now;
    }
}

int ReceiveSpool::publish(const std::function<std::string(int)>& name, std::string& taken)
{
    if (fd_ < 0)
        return EBADF;
    if (error_)
        return error_;
    if (unsynced_ && ::fdatasync(fd_) != 0)
        return error_ = errno;
    if (const int e = renameToFree(path_, folder_, name, taken))
        return e;
    close();
    syncFolder(folder_);
    return 0;
}

void ReceiveSpool::drop()
{
    if (fd_ >= 0)
        ::unlink(path_.c_str());
    close();
}

int storeReceived(const std::string& folder, std::string_view bytes, unsigned mode,
                  const std::function<std::string(int)>& name, std::string& taken)
{
    ReceiveSpool spool;
    if (int e = spool.open(folder, mode))
        return e;
    spool.append(bytes);
    if (int e = spool.publish(name, taken)) {
        spool.drop();
        return e;
    }
    return 0;
}

std::vector<std::string> recoverSpools(const std::string& folder)
{
    std::vector<std::string> done;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return done;
    std::vector<std::string> spools;
    while (const dirent* entry = ::readdir(dir))
        if (std::string_view(entry->d_name).starts_with(spoolPrefix))
            spools.emplace_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& file : spools) {
        const std::string path = folder + "/" + file;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        struct stat st{};
        if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()
            || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (fd >= 0)
                ::close(fd);
            continue; // not ours, or still being written
        }
        if (st.st_size == 0) {
            if (std::time(nullptr) - st.st_mtime > 24 * 3600 && ::unlink(path.c_str()) == 0)
                done.push_back(file + " を削除しました（空）");
            ::close(fd);
            continue;
        }
        std::string head(64 * 1024, '\0');
        const ssize_t n = ::read(fd, head.data(), head.size());
        head.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        // The number of a program's first lines: a cut at the end of the head
        // may cut a line, never the number line before it.
        const std::string number = firstProgramNumber(head);
        std::string taken;
        const int e = renameToFree(path, folder, [&](int n) { return receivedName(number, st.st_mtime, n, true); },
                                   taken);
        done.push_back(e ? file + " を名前を付けられません: " + std::strerror(e)
                         : "前回の受信の残り（" + std::to_string(st.st_size) + " バイト）を " + taken + " にしました");
        ::close(fd);
    }
    if (!done.empty())
        syncFolder(folder);
    return done;
}

} // namespace tarvex
