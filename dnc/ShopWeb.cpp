#include "dnc/ShopWeb.h"
#include "dnc/DncConfig.h"
#include "platform/FileSystem.h"

#include <httplib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>

namespace tarvex {

extern const char* const shopPage;

ShopWeb::ShopWeb(ShopBoard& board, std::string receivedFolder, std::string token)
    : board_(board), received_(std::move(receivedFolder)), token_(std::move(token))
{
}

ShopWeb::~ShopWeb() { stop(); }

// The same time for any wrong token of the same length.
bool ShopWeb::authorised(const std::string& header, const std::string& query) const
{
    if (token_.empty())
        return true;
    auto same = [this](const std::string& given) {
        if (given.size() != token_.size())
            return false;
        unsigned char diff = 0;
        for (std::size_t k = 0; k < given.size(); ++k)
            diff |= static_cast<unsigned char>(given[k] ^ token_[k]);
        return diff == 0;
    };
    return (header.starts_with("Bearer ") && same(header.substr(7))) || same(query);
}

std::string ShopWeb::json()
{
    const ShopBoard::Snapshot s = board_.snapshot();
    const std::time_t now = std::time(nullptr);
    // Every viewer of a change gets the same text: the folders are read once
    // a change (a program saved is one) and a second, not once a viewer.
    std::lock_guard lock(cacheMutex_);
    if (s.version == cachedVersion_ && now == cachedTime_ && streams_ == cachedViewers_)
        return cached_;
    std::map<std::string, std::vector<ReceivedToday>> received;
    for (const ShopBoard::Row& r : s.rows)
        received[r.name] = receivedToday(joinPath(received_, r.name), now);
    cachedVersion_ = s.version, cachedTime_ = now, cachedViewers_ = streams_;
    return cached_ = shopJson(s, received, cachedViewers_, now);
}

bool ShopWeb::start(const std::string& listen, std::string& why)
{
    std::string host;
    if (!splitListen(listen, host, port_)) {
        why = "Listen " + listen + ": not HOST:PORT";
        return false;
    }
    server_ = std::make_unique<httplib::Server>();
    httplib::Server& s = *server_;
    // A thread a connection; the events' streams leave room for the page and its data.
    s.new_task_queue = [] { return new httplib::ThreadPool(maxConnections); };
    s.set_keep_alive_timeout(2);
    s.set_read_timeout(5);
    s.set_write_timeout(5);
    s.set_payload_max_length(0);
    s.set_default_headers({{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        using R = httplib::Server::HandlerResponse;
        if (req.method != "GET" && req.method != "HEAD") {
            res.status = 405;
            res.set_header("Allow", "GET, HEAD");
            return R::Handled;
        }
        if (req.target.size() > 1024) {
            res.status = 414;
            return R::Handled;
        }
        if (!authorised(req.get_header_value("Authorization"), req.get_param_value("token"))) {
            res.status = 401;
            res.set_header("WWW-Authenticate", "Bearer");
            return R::Handled;
        }
        return R::Unhandled;
    });
    s.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(shopPage, "text/html; charset=utf-8");
        res.set_header("Content-Security-Policy", "default-src 'self'; style-src 'unsafe-inline'; script-src 'unsafe-inline'");
    });
    s.Get("/api/status", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(json(), "application/json; charset=utf-8");
    });
    s.Get(R"(/api/received/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.matches[1];
        const ShopBoard::Snapshot snap = board_.snapshot();
        // Only a machine of the configuration: the name never becomes a path otherwise.
        if (std::none_of(snap.rows.begin(), snap.rows.end(), [&](const ShopBoard::Row& r) { return r.name == name; })) {
            res.status = 404;
            return;
        }
        std::string list = "[";
        for (const ReceivedToday& r : receivedToday(joinPath(received_, name), std::time(nullptr)))
            list += (list.size() > 1 ? "," : "") + jsonString(r.name);
        res.set_content(list + "]", "application/json; charset=utf-8");
    });
    s.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
        if (streams_ >= maxConnections - 4) {
            res.status = 503;
            return;
        }
        ++streams_;
        auto seen = std::make_shared<std::uint64_t>(0);
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, seen](std::size_t, httplib::DataSink& sink) {
                if (stopping_)
                    return false;
                // Now, then at each change, at most four times a second; a
                // comment every 15 s keeps proxies from closing the line.
                const std::uint64_t now = board_.waitChange(*seen, std::chrono::seconds(15), stopping_);
                std::string out;
                if (now != *seen) {
                    out = "retry: 2000\ndata: " + json() + "\n\n";
                    *seen = now;
                } else {
                    out = ": -\n\n";
                }
                if (stopping_ || !sink.write(out.data(), out.size()))
                    return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
                return true;
            },
            [this](bool) { --streams_; });
    });
    if (!s.bind_to_port(host, port_)) {
        why = "Listen " + listen + ": " + std::strerror(errno);
        server_.reset();
        return false;
    }
    thread_ = std::thread([&s] { s.listen_after_bind(); });
    return true;
}

void ShopWeb::stop()
{
    if (!server_)
        return;
    stopping_ = true;
    board_.wake(); // the event streams end
    server_->stop();
    if (thread_.joinable())
        thread_.join();
    server_.reset();
}

} // namespace tarvex
