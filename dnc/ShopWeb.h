#pragma once
#include "dnc/ShopBoard.h"

#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace tarvex {

// The shop's status page, served read-only from what the board holds:
// GET / (the page), /api/status (JSON), /api/events (server-sent events of
// the same JSON at each change), /api/received/MACHINE (today's programs of
// a machine, names only). Nothing else, and nothing reaches a file by a path
// a request names. With a token, every request needs it (Authorization:
// Bearer, or ?token=). At most maxConnections connections are served at
// once, slow ones dropped by time-outs.
class ShopWeb {
public:
    static constexpr int maxConnections = 32;

    ShopWeb(ShopBoard& board, std::string receivedFolder, std::string token);
    ~ShopWeb();
    // Listens on HOST:PORT ("[::1]:8470" for IPv6): false and why when it cannot.
    bool start(const std::string& listen, std::string& why);
    void stop();
    int port() const { return port_; }

private:
    std::string json();
    bool authorised(const std::string& header, const std::string& query) const;

    ShopBoard& board_;
    const std::string received_, token_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<int> streams_{0};
    std::atomic<bool> stopping_{false};
    std::mutex cacheMutex_;
    std::string cached_; // the last JSON, of this version, second and count of viewers
    std::uint64_t cachedVersion_ = 0;
    std::time_t cachedTime_ = 0;
    int cachedViewers_ = -1;
    int port_ = 0;
};

} // namespace tarvex
