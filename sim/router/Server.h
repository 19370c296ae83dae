#pragma once

// The router's network side: one thread, one poll loop over the data port, the control port and
// every connection. Background activity is generated between polls at the configured rate, or
// as fast as the slowest connection drains its queue when the rate is "max".

#include "Exchange.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace vsim {

struct ServerConfig {
    std::string host = "127.0.0.1";
    std::uint16_t port = 4001;
    std::uint16_t controlPort = 4002;
    double rate = 200; // background events per second; negative: as fast as clients take them
    std::string portsFile;
    // Order replies withheld from the start, as the control command "withhold" sets them:
    // negative for all of them. A test that needs every reply withheld cannot otherwise be sure
    // that its command arrives before the terminal's first order.
    long withhold = 0;
    // A recording played back from the start instead of the simulated market, its speed
    // (1, 2, 5, 10, 50, 100, 1000 or max) and how the trader's orders fill against it.
    std::string replay;
    std::string replaySpeed = "1";
    std::string replayFill = "touch";
};

class Replay;
// Defined where a Replay is complete: builds without recordings have none.
struct ReplayDeleter {
    void operator()(Replay* r) const;
};

class Log {
public:
    explicit Log(const std::string& path);
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    void Line(const char* fmt, ...)
#if defined(__MINGW32__)
        // mingw's "printf" means the old msvcrt rules (no %zu); libstdc++ already routes
        // vfprintf to mingw's C99 implementation, which these checks describe.
        __attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

private:
    std::FILE* f_ = nullptr;
};

class Server {
public:
    using Clock = std::chrono::steady_clock;

    Server(ServerConfig config, Exchange& exchange, Log& log);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool Start();
    void Run(const std::atomic<bool>& stop);

    // One control command line in, one reply line out (without the line end).
    std::string Command(std::string_view line);

private:
    struct Control {
        net::Socket sock = net::kInvalid;
        std::string in;
        std::string out;
        bool dead = false;
    };
    struct PendingReply {
        std::uint64_t client = 0;
        std::uint64_t post = 0;
        Reply reply;
        Clock::time_point due;
    };

    void AcceptClients();
    void AcceptControl();
    void ReadClient(Client& c);
    void Frame(Client& c, int kind, const char* body, std::size_t n);
    void SendReply(Client& c, std::uint64_t post, const Reply& r);
    void Flush(Client& c);
    void ReadControl(Control& c);
    void Reap();
    void Generate(Clock::time_point now);
    Client* FindClient(std::uint64_t id);
    std::string Counters();
    // "replay ..." of the control channel; `words` include "replay".
    std::string ReplayCommand(const std::vector<std::string_view>& words, std::string_view line);
    bool OpenReplay(const std::string& path, std::string& error);
    bool Replaying() const;
    // While replaying, subscriptions go to the replay rather than the simulated market.
    bool ReplaySubscribe(Client& c, std::uint32_t id, const std::string& stream,
                         const std::vector<std::string>& tables, std::string& reason);
    void ReplayDrop(Client& c, const std::uint32_t* id);
    Reply ReplayPost(std::uint32_t msgId, const std::string& name, const char* data, std::size_t n);
    // Sends what is due; true when more is due at once.
    bool ReplayRun(Clock::time_point now, bool room);

    ServerConfig config_;
    Exchange& exchange_;
    Log& log_;
    net::Socket listener_ = net::kInvalid;
    net::Socket controlListener_ = net::kInvalid;
    std::vector<std::unique_ptr<Client>> clients_;
    std::vector<std::unique_ptr<Control>> controls_;
    std::deque<PendingReply> delayed_;
    std::uint64_t nextClient_ = 1;
    Clock::time_point refuseUntil_{};
    Clock::time_point lastGen_{};
    Clock::time_point lastTick_{};
    double owed_ = 0;
    int delayMs_ = 0;
    long withhold_ = 0; // replies still to withhold; negative: all of them
    bool quit_ = false;
    // Nothing leaves the router and the market stands still; connections are still accepted and
    // read, and what they ask for waits in their queues until "resume".
    bool frozen_ = false;
    std::uint64_t bytesSent_ = 0;
    std::uint64_t withheld_ = 0;
    std::uint64_t connections_ = 0;
    std::unique_ptr<Replay, ReplayDeleter> replay_;
};

} // namespace vsim
