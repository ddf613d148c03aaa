#include "platform/posix/PosixFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <dirent.h>
#include <fcntl.h>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvex {
namespace {

Error lastError() { return fileError(errno); }

Error writeAll(int fd, std::string_view bytes)
{
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return lastError();
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return {};
}

} // namespace

PosixFileSystem::PosixFileSystem()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    newFileMode_ = 0666 & ~mask;
}

std::optional<std::vector<std::string>> PosixFileSystem::list(const std::string& folder) const
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::nullopt;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end()); // byte-wise: std::string compares as unsigned char
    return names;
}

bool PosixFileSystem::isFolder(const std::string& path) const
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFileSystem::exists(const std::string& path) const
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

Error PosixFileSystem::makeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && isFolder(path)))
        return {};
    return lastError();
}

bool PosixFileSystem::canWrite(const std::string& folder)
{
    std::string probe = joinPath(folder, ".tarvex-XXXXXX");
    int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

Error PosixFileSystem::removeFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 ? Error{} : lastError();
}

namespace {

// Opens a file for reading when it is a regular file. A FIFO would block the
// open or never end, and a device such as /dev/zero never ends: both are
// refused, without waiting for a writer.
int openRegular(const std::string& path, Error& error, off_t* size = nullptr)
{
    error = {};
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = lastError();
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0)
        error = lastError();
    else if (!S_ISREG(st.st_mode))
        error = fileError(EISDIR); // "not a file name": a folder, FIFO or device
    if (error) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (size)
        *size = st.st_size;
    return fd;
}

} // namespace

std::optional<std::uint64_t> availableMemory()
{
    FILE* f = std::fopen("/proc/meminfo", "re");
    if (!f)
        return std::nullopt;
    std::uint64_t total = 0;
    bool found = false;
    char name[64];
    unsigned long long kb;
    while (std::fscanf(f, "%63s %llu kB", name, &kb) == 2)
        if (std::strcmp(name, "MemAvailable:") == 0 || std::strcmp(name, "SwapFree:") == 0) {
            total += kb * 1024;
            found = true;
        }
    std::fclose(f);
    return found ? std::optional(total) : std::nullopt;
}

Error PosixFileSystem::readFile(const std::string& path, std::string& bytes, std::uint64_t limit) const
{
    Error e;
    off_t size = 0;
    int fd = openRegular(path, e, &size);
    if (fd < 0)
        return e;
    bytes.clear();
    const auto wanted = static_cast<std::uint64_t>(size);
    const auto memory = wanted > limit ? std::nullopt : availableMemory();
    if (wanted > limit || (memory && wanted > *memory)) {
        ::close(fd);
        return wanted > limit ? tooLargeError() : fileError(ENOMEM);
    }
    std::size_t got = 0;
    try {
        bytes.resize(static_cast<std::size_t>(size));
        for (;;) {
            if (got == bytes.size()) {
                if (got > limit)
                    break;
                bytes.resize(bytes.size() + 65536); // the file grew, or it reports no size
            }
            ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                e = lastError();
                break;
            }
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
        }
    } catch (const std::bad_alloc&) {
        e = fileError(ENOMEM);
    }
    ::close(fd);
    if (!e && got > limit)
        e = tooLargeError();
    if (e) {
        bytes = std::string();
        return e;
    }
    bytes.resize(got);
    return {};
}

namespace {

// Writes into a temporary file beside the target and renames it over the
// target on commit; a failure or a writer dropped before commit removes it.
class PosixWriter final : public FileWriter {
public:
    PosixWriter(std::string path, std::string temp, int fd, bool durable)
        : path_(std::move(path)), temp_(std::move(temp)), fd_(fd), durable_(durable)
    {
        buffer_.reserve(bufferSize);
    }
    ~PosixWriter() override
    {
        if (fd_ >= 0) {
            ::close(fd_);
            ::unlink(temp_.c_str());
        }
    }
    Error write(std::string_view bytes) override
    {
        if (error_)
            return error_;
        if (buffer_.size() + bytes.size() > bufferSize) {
            error_ = writeAll(fd_, buffer_);
            buffer_.clear();
            if (!error_ && bytes.size() > bufferSize)
                error_ = writeAll(fd_, bytes);
            else
                buffer_.append(bytes);
        } else {
            buffer_.append(bytes);
        }
        return error_;
    }
    Error commit() override
    {
        if (!error_)
            error_ = writeAll(fd_, buffer_);
        if (!error_ && durable_ && ::fsync(fd_) != 0)
            error_ = lastError();
        if (::close(fd_) != 0 && !error_)
            error_ = lastError();
        fd_ = -1;
        if (!error_ && ::rename(temp_.c_str(), path_.c_str()) != 0)
            error_ = lastError();
        if (error_)
            ::unlink(temp_.c_str());
        return error_;
    }

private:
    static constexpr std::size_t bufferSize = 1 << 20;
    std::string path_, temp_;
    int fd_;
    bool durable_;
    std::string buffer_;
    Error error_;
};

class PosixReader final : public FileReader {
public:
    explicit PosixReader(int fd) : fd_(fd) {}
    ~PosixReader() override { ::close(fd_); }
    Error read(std::size_t max, std::string& out) override
    {
        const std::size_t at = out.size();
        out.resize(at + max);
        for (;;) {
            ssize_t n = ::read(fd_, out.data() + at, max);
            if (n < 0 && errno == EINTR)
                continue;
            out.resize(at + (n > 0 ? static_cast<std::size_t>(n) : 0));
            return n < 0 ? lastError() : Error{};
        }
    }

private:
    int fd_;
};

} // namespace

namespace {

// The file a path finally names: symbolic links followed, also one that
// points to a file not there yet. A replaced link would leave the file it
// points to with the old content.
std::string linkTarget(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        std::string to(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4095) + 1, '\0');
        ssize_t n = ::readlink(path.c_str(), to.data(), to.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= to.size())
            break;
        to.resize(static_cast<std::size_t>(n));
        if (to.front() != '/') {
            const auto cut = path.find_last_of('/');
            to = (cut == std::string::npos ? std::string() : path.substr(0, cut + 1)) + to;
        }
        path = std::move(to);
    }
    return path;
}

} // namespace

namespace {

// For a file that may be written but sits in a folder that may not: the
// content is gathered and written over the old one at commit; should that
// fail, the old content is written back.
class InPlaceWriter final : public FileWriter {
public:
    InPlaceWriter(std::string path, bool durable) : path_(std::move(path)), durable_(durable) {}
    Error write(std::string_view bytes) override
    {
        bytes_.append(bytes);
        return {};
    }
    Error commit() override
    {
        std::string old;
        if (Error e = PosixFileSystem().readFile(path_, old))
            return e;
        int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return lastError();
        Error e = put(fd, bytes_);
        if (e)
            put(fd, old);
        if (::close(fd) != 0 && !e)
            e = lastError();
        return e;
    }

private:
    Error put(int fd, std::string_view bytes)
    {
        if (::lseek(fd, 0, SEEK_SET) != 0)
            return lastError();
        if (Error e = writeAll(fd, bytes))
            return e;
        if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 || (durable_ && ::fsync(fd) != 0))
            return lastError();
        return {};
    }
    std::string path_;
    bool durable_;
    std::string bytes_;
};

} // namespace

// The temporary files of writes that were killed before their rename: ours
// by name and owner, and old enough that no running write still fills them.
void removeOldTemporaries(const std::string& folder)
{
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return;
    const time_t dayAgo = std::time(nullptr) - 24 * 60 * 60;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.size() != 14 || name.substr(0, 8) != ".tarvex-")
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid() && st.st_mtime < dayAgo)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

std::unique_ptr<FileWriter> PosixFileSystem::createFile(const std::string& path, bool durable, Error& error)
{
    const std::string target = linkTarget(path);
    // Only a regular file is replaced: a device or a FIFO in its place (also
    // behind a link) is no file of the user's, and must not be swapped for one.
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        error = fileError(EISDIR);
        return nullptr;
    }
    // A short name in the same folder: the target's own name may already be
    // as long as a name can be.
    const auto cut = target.find_last_of('/');
    const std::string folder = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
    if (durable && cleanedFolders_.insert(folder).second)
        removeOldTemporaries(folder);
    std::string temp = folder + ".tarvex-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        const int why = errno;
        error = fileError(why);
        // A folder that takes no new file may still hold a file that can be written.
        if ((why == EACCES || why == EPERM) && exists && ::access(target.c_str(), W_OK) == 0) {
            error = {};
            return std::make_unique<InPlaceWriter>(target, durable);
        }
        return nullptr;
    }
    // A new file gets the usual permissions; a replaced one keeps its own.
    ::fchmod(fd, exists ? st.st_mode & 07777 : newFileMode_);
    error = {};
    return std::make_unique<PosixWriter>(target, std::move(temp), fd, durable);
}

std::unique_ptr<FileReader> PosixFileSystem::openFile(const std::string& path, Error& error) const
{
    int fd = openRegular(path, error);
    if (fd < 0)
        return nullptr;
    return std::make_unique<PosixReader>(fd);
}

Error PosixFileSystem::writeFile(const std::string& path, std::string_view bytes, bool durable)
{
    Error e;
    auto writer = createFile(path, durable, e);
    if (!writer)
        return e;
    if ((e = writer->write(bytes)))
        return e;
    return writer->commit();
}

Error PosixFileSystem::appendFile(const std::string& path, std::string_view bytes)
{
    if (struct stat st; ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return fileError(EISDIR); // a FIFO or a device is nobody's program file
    const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (bytes.empty() ? 0 : O_CREAT);
    int fd = ::open(path.c_str(), flags, newFileMode_);
    if (fd < 0) {
        if (errno == ENOENT && bytes.empty()) {
            // Not there yet: appending would make it in its folder.
            const auto cut = path.find_last_of('/');
            const std::string folder = cut == std::string::npos ? "." : path.substr(0, cut + 1);
            return canWrite(folder) ? Error{} : fileError(isFolder(folder) ? EACCES : ENOENT);
        }
        return lastError();
    }
    struct stat st;
    Error e;
    if (::fstat(fd, &st) != 0)
        e = lastError();
    else if (!S_ISREG(st.st_mode))
        e = fileError(EISDIR);
    else
        e = writeAll(fd, bytes);
    if (::close(fd) != 0 && !e)
        e = lastError();
    return e;
}

Error PosixFileSystem::setCurrentFolder(const std::string& path)
{
    return ::chdir(path.c_str()) == 0 ? Error{} : lastError();
}

std::string executableFolder()
{
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "./";
    std::string exe(buf, static_cast<std::size_t>(n));
    return exe.substr(0, exe.find_last_of('/') + 1);
}

std::string resolveProgDir(const std::string& explicitHome)
{
    PosixFileSystem fs;
    std::string home = explicitHome;
    if (home.empty())
        if (const char* env = std::getenv("TARVEX_HOME"))
            home = env;
    if (!home.empty() && home.front() != '/') {
        // Start-up makes the data folder the current one: a relative name
        // would be resolved a second time from inside it.
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd))
            home = joinPath(cwd, home);
    }
    if (home.empty()) {
        // An installed program (its shared files beside it under share/)
        // keeps its data per user, even where its folder is writable (root).
        std::string exeDir = executableFolder();
        const bool installed = fs.isFolder(exeDir + "../share/tarvex");
        if (!installed && ::access(exeDir.c_str(), W_OK) == 0)
            return exeDir;
        const char* xdg = std::getenv("XDG_DATA_HOME");
        const char* user = std::getenv("HOME");
        std::string base = xdg && *xdg ? xdg : std::string(user ? user : "/tmp") + "/.local/share";
        home = base + "/Tarvex";
    }
    // Create the folder and any missing parents.
    for (std::size_t cut = home.find('/', 1); cut != std::string::npos; cut = home.find('/', cut + 1))
        fs.makeFolder(home.substr(0, cut));
    fs.makeFolder(home);
    removeOldTemporaries(home);
    if (auto folders = ::opendir(home.c_str())) {
        while (const dirent* entry = ::readdir(folders))
            if (entry->d_name[0] != '.' && fs.isFolder(joinPath(home, entry->d_name)))
                removeOldTemporaries(joinPath(home, entry->d_name));
        ::closedir(folders);
    }
    return withSeparator(home);
}

} // namespace tarvex
