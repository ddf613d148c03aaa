// tarvex-dnc: the shop's DNC service, every machine of its configuration
// served at once, each by its own thread.
//   tarvex-dnc [--config FILE] [--check [--user NAME] [--unit FILE] | --status]
#include "dnc/DncConfig.h"
#include "dnc/Machine.h"
#include "dnc/Shop.h"
#include "dnc/ShopBoard.h"
#include "dnc/ShopWeb.h"
#include "platform/FileSystem.h"
#include "platform/posix/PosixFileSystem.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <systemd/sd-daemon.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarvex;

namespace {

std::atomic<bool> stopping{false}, reloading{false};

int usage()
{
    std::fprintf(stderr, "usage: tarvex-dnc [--config FILE] [--check [--user NAME] [--unit FILE] | --status]\n");
    return 64;
}

// The configuration as read now, with every fault found in it: its text,
// its folders and profiles as this process's user finds them. An error when
// there is no file to read.
Error readConfig(const std::string& file, DncConfig& shop, bool folders, std::vector<std::string>& faults)
{
    PosixFileSystem fs;
    std::string text;
    if (Error e = fs.readFile(file, text, smallFileLimit))
        return e;
    faults = parseDncConfig(text, shop);
    if (folders)
        for (const std::string& f : checkDncFolders(shop, fs))
            faults.push_back(f);
    return {};
}

// Running: its PID and the status the service last wrote (exit 0). Not
// running: "stopped" for every machine of the configuration (exit 3, as a
// service that is not running reports).
int showStatus(const DncConfig& shop)
{
    const auto holder = lockHolder(lockPath(shop));
    if (!holder) {
        std::printf("tarvex-dnc: stopped\n");
        for (const MachineConfig& m : shop.machines) {
            MachineStatus s;
            s.state = "stopped";
            std::fputs(statusLine(m.name, s).c_str(), stdout);
        }
        return 3;
    }
    std::printf("tarvex-dnc: running (PID %ld)\n", *holder);
    std::string lines;
    PosixFileSystem fs;
    if (Error e = fs.readFile(statusPath(shop), lines, smallFileLimit)) {
        std::fprintf(stderr, "tarvex-dnc: no status in %s yet\n", shop.logs.c_str());
        return 0;
    }
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    return 0;
}

// One service per configuration: the lock beside the status, held for the
// process's life. -1 (said on standard error) when another holds it.
int takeLock(const DncConfig& shop)
{
    const std::string path = lockPath(shop);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    // One left by a run as another user (root trying it by hand) still locks.
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "tarvex-dnc: %s: %s\n", path.c_str(), std::strerror(errno));
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char pid[32] = {};
        [[maybe_unused]] auto n = ::read(fd, pid, sizeof pid - 1);
        const auto holder = lockHolder(path);
        std::fprintf(stderr, "tarvex-dnc は既に動いています（PID %s）。\n",
                     holder ? std::to_string(*holder).c_str() : std::string(pid, strcspn(pid, "\n")).c_str());
        ::close(fd);
        return -1;
    }
    // A read-only lock file keeps an old PID: the kernel's table of locks names the holder.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0)
        [[maybe_unused]] auto n = ::pwrite(fd, pid.data(), pid.size(), 0);
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    std::string config = "/etc/tarvex/dnc.ini", user, unit;
    bool check = false, statusOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--config" && i + 1 < argc)
            config = argv[++i];
        else if (a == "--user" && i + 1 < argc)
            user = argv[++i];
        else if (a == "--unit" && i + 1 < argc)
            unit = argv[++i];
        else if (a == "--check")
            check = true;
        else if (a == "--status")
            statusOnly = true;
        else if (a == "--help" || a == "-h")
            return usage(), 0;
        else
            return usage();
    }
    if ((check && statusOnly) || ((!user.empty() || !unit.empty()) && !check))
        return usage();
    DncConfig shop;
    // Run by root, the check is made as the user the service runs as.
    const bool asUser = check && ::geteuid() == 0;
    std::vector<std::string> faults;
    if (Error e = readConfig(config, shop, !statusOnly && !asUser, faults)) {
        std::fprintf(stderr, "tarvex-dnc: %s: %s\n", config.c_str(), e.description.c_str());
        return 2;
    }
    if (statusOnly)
        return showStatus(shop);
    // What the installed unit's sandbox lets the service see and write, as
    // the user it names.
    const UnitSandbox sandbox = check ? readDncUnit(dncUnitFiles(unit)) : UnitSandbox{};
    if (asUser)
        for (const std::string& f : checkDncFoldersAs(shop, config,
                                                      !user.empty()           ? user
                                                      : !sandbox.user.empty() ? sandbox.user
                                                                              : "tarvex-dnc"))
            faults.push_back(f);
    for (const std::string& f : checkDncSandbox(shop, config, sandbox))
        faults.push_back(f);
    for (const std::string& f : faults)
        std::fprintf(check ? stdout : stderr, "%s: %s\n", config.c_str(), f.c_str());
    if (check || !faults.empty())
        return faults.empty() ? 0 : 1;
    if (takeLock(shop) < 0)
        return 1;

    // A dropped network line or a full log disk fails a write, not the service.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    for (int sig : {SIGTERM, SIGINT})
        std::signal(sig, [](int) { stopping = true; });
    std::signal(SIGHUP, [](int) { reloading = true; });

    ShopBoard board;
    Shop machines(stopping, [&board](const std::string& machine, const std::string& text, bool error) {
        board.event(machine, text, error);
    });
    machines.apply(shop);
    board.publish(machines.rows());
    // The status page, where the configuration asks for it; a page that
    // cannot listen is said, and the machines are served all the same.
    std::unique_ptr<ShopWeb> web;
    auto openPage = [&] {
        web.reset();
        if (shop.listen.empty())
            return;
        web = std::make_unique<ShopWeb>(board, shop.received, shop.accessToken);
        std::string why;
        if (web->start(shop.listen, why)) {
            std::fprintf(stderr, "tarvex-dnc: status page on http://%s/\n", shop.listen.c_str());
        } else {
            std::fprintf(stderr, "tarvex-dnc: %s: %s\n", config.c_str(), why.c_str());
            web.reset();
        }
    };
    openPage();
    PosixFileSystem fs;
    const std::string statusFile = statusPath(shop);
    std::string last;
    // The status file and the page show the same moment, read once a pass.
    auto publish = [&] {
        const std::vector<ShopBoard::Row> rows = machines.rows();
        std::string lines;
        for (const ShopBoard::Row& r : rows)
            lines += statusLine(r.name, r.status);
        // Atomic but not synced: it changes with every line received, and a
        // slow disk must not hold the loop that feeds the watchdog.
        if (lines != last && !fs.writeFile(statusFile, lines, false))
            last = lines;
        board.publish(rows);
    };
    publish();
    std::fprintf(stderr, "tarvex-dnc: serving %zu machines\n", machines.serving());
    sd_notify(0, "READY=1");
    std::uint64_t watchdog = 0;
    if (sd_watchdog_enabled(0, &watchdog) <= 0)
        watchdog = 0;
    auto lastPing = std::chrono::steady_clock::now();
    while (!stopping) {
        if (reloading.exchange(false)) {
            sd_notify(0, "RELOADING=1");
            DncConfig next;
            std::vector<std::string> refused;
            if (Error e = readConfig(config, next, true, refused))
                refused.push_back(e.description);
            // The lock and the status stay where they are: another folder would
            // let a second service start beside this one.
            if (refused.empty() && next.logs != shop.logs)
                refused.push_back("Logs " + next.logs + ": the logs' folder changes only with a restart");
            for (const std::string& f : refused)
                std::fprintf(stderr, "tarvex-dnc: %s: %s\n", config.c_str(), f.c_str());
            std::string said;
            if (!refused.empty()) {
                said = "設定に誤りがあるため読み直しません（前の設定のままです）";
            } else {
                machines.apply(next);
                const bool page = next.listen != shop.listen || next.accessToken != shop.accessToken
                                  || next.received != shop.received;
                shop = next;
                if (page)
                    openPage();
                said = "設定を読み直しました（" + std::to_string(next.machines.size()) + " 台）";
            }
            std::fprintf(stderr, "tarvex-dnc: %s\n", said.c_str());
            // systemctl status shows how the last reload went.
            sd_notify(0, ("READY=1\nSTATUS=" + said).c_str());
        }
        machines.tend();
        publish();
        if (watchdog && std::chrono::steady_clock::now() - lastPing >= std::chrono::microseconds(watchdog / 3)) {
            sd_notify(0, "WATCHDOG=1");
            lastPing = std::chrono::steady_clock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    // Every transfer ends as the cancel button ends it: inputs keep what
    // they took, outputs send their end codes.
    sd_notify(0, "STOPPING=1");
    machines.stop();
    publish();
    web.reset();
    std::fprintf(stderr, "tarvex-dnc: stopped\n");
    return 0;
}
