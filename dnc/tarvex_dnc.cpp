// tarvex-dnc: the shop's DNC service, every machine of its configuration
// served at once, each by its own thread.
//   tarvex-dnc [--config FILE] [--check | --status]
#include "dnc/DncConfig.h"
#include "dnc/Machine.h"
#include "platform/FileSystem.h"
#include "platform/posix/PosixFileSystem.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace tarvex;

namespace {

std::atomic<bool> stopping{false};

int usage()
{
    std::fprintf(stderr, "usage: tarvex-dnc [--config FILE] [--check | --status]\n");
    return 64;
}

} // namespace

int main(int argc, char** argv)
{
    std::string config = "/etc/tarvex/dnc.ini";
    bool check = false, statusOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--config" && i + 1 < argc)
            config = argv[++i];
        else if (a == "--check")
            check = true;
        else if (a == "--status")
            statusOnly = true;
        else if (a == "--help" || a == "-h")
            return usage(), 0;
        else
            return usage();
    }
    if (check && statusOnly)
        return usage();
    PosixFileSystem fs;
    std::string text;
    if (Error e = fs.readFile(config, text, smallFileLimit)) {
        std::fprintf(stderr, "tarvex-dnc: %s: %s\n", config.c_str(), e.description.c_str());
        return 2;
    }
    DncConfig shop;
    std::vector<std::string> faults = parseDncConfig(text, shop);
    if (statusOnly) {
        std::string lines;
        if (shop.logs.empty() || fs.readFile(joinPath(shop.logs, "status"), lines, smallFileLimit)) {
            std::fprintf(stderr, "tarvex-dnc: no status in %s: is the service running?\n", shop.logs.c_str());
            return 2;
        }
        std::fwrite(lines.data(), 1, lines.size(), stdout);
        return 0;
    }
    for (const std::string& f : checkDncFolders(shop, fs))
        faults.push_back(f);
    for (const std::string& f : faults)
        std::fprintf(check ? stdout : stderr, "%s: %s\n", config.c_str(), f.c_str());
    if (check || !faults.empty())
        return faults.empty() ? 0 : 1;

    // A dropped network line or a full log disk fails a write, not the service.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        std::signal(sig, [](int) { stopping = true; });

    std::vector<std::unique_ptr<Machine>> machines;
    std::vector<std::thread> threads;
    for (const MachineConfig& m : shop.machines)
        machines.push_back(std::make_unique<Machine>(shop, m, stopping));
    for (auto& m : machines)
        threads.emplace_back([&m] { m->run(); });
    const std::string statusFile = joinPath(shop.logs, "status");
    std::string last;
    auto writeStatus = [&] {
        std::string lines;
        for (const auto& m : machines)
            lines += statusLine(m->name(), m->status());
        if (lines != last && !fs.writeFile(statusFile, lines))
            last = lines;
    };
    std::fprintf(stderr, "tarvex-dnc: serving %zu machines\n", machines.size());
    while (!stopping) {
        writeStatus();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    // Every transfer ends as the cancel button ends it: inputs keep what
    // they took, outputs send their end codes.
    for (auto& m : machines)
        m->wake();
    for (std::thread& t : threads)
        t.join();
    writeStatus();
    std::fprintf(stderr, "tarvex-dnc: stopped\n");
    return 0;
}
