#include "Server.h"

#include "../common/Ini.h"
#include "../common/Wire.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>

namespace vsim {

namespace {

constexpr std::size_t kHighWater = 4u << 20;   // stop generating "max" above this backlog
constexpr std::size_t kDropAbove = 512u << 20; // a connection this far behind is dropped
constexpr std::size_t kMaxBatch = 20000;       // events generated in one pass of the loop
constexpr std::size_t kMaxBurst = 512;         // events per pass at the "max" rate

} // namespace

Log::Log(const std::string& path) : f_(path.empty() ? nullptr : std::fopen(path.c_str(), "a")) {}

Log::~Log() {
    if (f_ != nullptr) {
        std::fclose(f_);
    }
}

void Log::Line(const char* fmt, ...) {
    if (f_ == nullptr) {
        return;
    }
    const Time t = LocalNow();
    std::fprintf(f_, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month, t.day, t.hour,
                 t.minute, t.second, t.msec);
    va_list args;
    va_start(args, fmt);
    std::vfprintf(f_, fmt, args);
    va_end(args);
    std::fputc('\n', f_);
    std::fflush(f_);
}

Server::Server(ServerConfig config, Exchange& exchange, Log& log)
    : config_(std::move(config)), exchange_(exchange), log_(log), withhold_(config_.withhold) {}

Server::~Server() {
    for (auto& c : clients_) {
        net::Close(c->sock);
    }
    for (auto& c : controls_) {
        net::Close(c->sock);
    }
    net::Close(listener_);
    net::Close(controlListener_);
}

bool Server::Start() {
    std::uint16_t port = 0;
    std::uint16_t control = 0;
    listener_ = net::Listen(config_.host, config_.port, &port);
    controlListener_ = net::Listen(config_.host, config_.controlPort, &control);
    if (listener_ == net::kInvalid || controlListener_ == net::kInvalid) {
        log_.Line("cannot listen on %s:%u / %u", config_.host.c_str(), config_.port,
                  config_.controlPort);
        return false;
    }
    log_.Line("listening on %s:%u, control port %u", config_.host.c_str(), port, control);
    if (!config_.portsFile.empty()) {
        // Written whole under a temporary name, so a reader never sees half of it.
        const std::string tmp = config_.portsFile + ".tmp";
        WriteTextFile(tmp, "port=" + std::to_string(port) +
                               "\ncontrol_port=" + std::to_string(control) + "\n");
        std::error_code ec;
        std::filesystem::rename(tmp, config_.portsFile, ec);
    }
    lastGen_ = lastTick_ = Clock::now();
    if (!config_.replay.empty()) {
        for (const std::string& cmd :
             {"replay speed " + config_.replaySpeed, "replay fill " + config_.replayFill,
              "replay open " + config_.replay}) {
            const std::string reply = Command(cmd);
            if (reply.rfind("OK", 0) != 0) {
                log_.Line("%s: %s", cmd.c_str(), reply.c_str());
            }
        }
    }
    return true;
}

Client* Server::FindClient(std::uint64_t id) {
    for (auto& c : clients_) {
        if (c->id == id && !c->dead) {
            return c.get();
        }
    }
    return nullptr;
}

void Server::AcceptClients() {
    for (;;) {
        const net::Socket s = net::Accept(listener_);
        if (s == net::kInvalid) {
            return;
        }
        if (Clock::now() < refuseUntil_) {
            net::Close(s);
            log_.Line("connection refused (refusal window)");
            continue;
        }
        auto c = std::make_unique<Client>();
        c->id = nextClient_++;
        c->sock = s;
        ++connections_;
        log_.Line("client %llu connected", static_cast<unsigned long long>(c->id));
        clients_.push_back(std::move(c));
    }
}

void Server::AcceptControl() {
    for (;;) {
        const net::Socket s = net::Accept(controlListener_);
        if (s == net::kInvalid) {
            return;
        }
        auto c = std::make_unique<Control>();
        c->sock = s;
        controls_.push_back(std::move(c));
    }
}

void Server::ReadClient(Client& c) {
    char buf[256 * 1024];
    for (;;) {
        const long n = net::Recv(c.sock, buf, sizeof buf);
        if (n < 0) {
            c.dead = true;
            break;
        }
        if (n == 0) {
            break;
        }
        c.in.append(buf, static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < sizeof buf) {
            break;
        }
    }
    std::size_t pos = 0;
    wire::Kind kind{};
    const char* body = nullptr;
    std::size_t len = 0;
    bool bad = false;
    while (!c.dead && wire::NextFrame(c.in.data(), c.in.size(), pos, kind, body, len, bad)) {
        Frame(c, static_cast<int>(kind), body, len);
    }
    if (bad) {
        log_.Line("client %llu sent an oversized frame", static_cast<unsigned long long>(c.id));
        c.dead = true;
    }
    c.in.erase(0, pos);
}

void Server::Frame(Client& c, int kind, const char* body, std::size_t n) {
    wire::Reader r(body, n);
    switch (static_cast<wire::Kind>(kind)) {
    case wire::Kind::Hello: {
        r.Get<std::uint32_t>();
        c.app = r.Str();
        c.name = r.Str();
        log_.Line("client %llu: app %s, connection %s", static_cast<unsigned long long>(c.id),
                  c.app.c_str(), c.name.c_str());
        wire::Writer w(c.out);
        w.Begin(wire::Kind::Welcome);
        w.Put<std::uint32_t>(wire::kVersion);
        w.Str("vorlen offline exchange");
        w.End();
        break;
    }
    case wire::Kind::Subscribe: {
        const auto id = r.Get<std::uint32_t>();
        const std::string stream = r.Str();
        const auto life = r.Get<std::uint32_t>();
        const auto count = r.Get<std::uint16_t>();
        std::vector<std::string> tables;
        for (std::uint16_t i = 0; i < count && r.ok(); ++i) {
            tables.push_back(r.Str());
        }
        std::string reason;
        if (!r.ok()) {
            reason = "malformed subscription";
        }
        bool served = false;
        if (r.ok() && Replaying()) {
            served = ReplaySubscribe(c, id, stream, tables, reason);
        } else if (r.ok()) {
            exchange_.Refresh(stream);
            served = exchange_.market().Subscribe(c, id, stream, life, tables, reason);
        }
        if (!served) {
            log_.Line("client %llu: subscription to %s refused: %s",
                      static_cast<unsigned long long>(c.id), stream.c_str(), reason.c_str());
            wire::Writer w(c.out);
            w.Begin(wire::Kind::Refused);
            w.Put<std::uint32_t>(id);
            w.Str(reason);
            w.End();
        } else {
            log_.Line("client %llu: %s opened (life %u asked)",
                      static_cast<unsigned long long>(c.id), stream.c_str(), life);
        }
        break;
    }
    case wire::Kind::Unsubscribe: {
        const auto id = r.Get<std::uint32_t>();
        exchange_.market().Unsubscribe(c, id);
        ReplayDrop(c, &id);
        break;
    }
    case wire::Kind::Post: {
        const auto post = r.Get<std::uint64_t>();
        const auto msgId = r.Get<std::uint32_t>();
        const std::string name = r.Str();
        std::size_t len = 0;
        const char* data = r.Rest(len);
        if (!r.ok()) {
            c.dead = true;
            return;
        }
        // While replaying, the trader's orders fill against the recording, not the simulation.
        Reply reply = Replaying() ? ReplayPost(msgId, name, data, len)
                                  : exchange_.Handle(msgId, name, data, len);
        if (withhold_ != 0) {
            if (withhold_ > 0) {
                --withhold_;
            }
            ++withheld_;
            log_.Line("reply to post %llu withheld", static_cast<unsigned long long>(post));
        } else if (delayMs_ > 0) {
            delayed_.push_back(
                {c.id, post, std::move(reply), Clock::now() + std::chrono::milliseconds(delayMs_)});
        } else {
            SendReply(c, post, reply);
        }
        break;
    }
    default:
        log_.Line("client %llu: unknown frame %d", static_cast<unsigned long long>(c.id), kind);
        break;
    }
}

void Server::SendReply(Client& c, std::uint64_t post, const Reply& r) {
    wire::Writer w(c.out);
    w.Begin(wire::Kind::Reply);
    w.Put<std::uint64_t>(post);
    w.Put<std::uint32_t>(r.def->id);
    w.Bytes(r.data.data(), r.data.size());
    w.End();
}

void Server::Flush(Client& c) {
    while (c.Pending() > 0 && !c.dead) {
        const long n = net::Send(c.sock, c.out.data() + c.outPos, c.Pending());
        if (n < 0) {
            c.dead = true;
            break;
        }
        if (n == 0) {
            break;
        }
        c.outPos += static_cast<std::size_t>(n);
        bytesSent_ += static_cast<std::uint64_t>(n);
    }
    if (c.outPos == c.out.size()) {
        c.out.clear();
        c.outPos = 0;
    } else if (c.outPos > (1u << 20)) {
        c.out.erase(0, c.outPos);
        c.outPos = 0;
    }
    if (c.Pending() > kDropAbove) {
        log_.Line("client %llu dropped: %zu bytes behind", static_cast<unsigned long long>(c.id),
                  c.Pending());
        c.dead = true;
    }
}

void Server::ReadControl(Control& c) {
    char buf[4096];
    for (;;) {
        const long n = net::Recv(c.sock, buf, sizeof buf);
        if (n < 0) {
            c.dead = true;
            break;
        }
        if (n == 0) {
            break;
        }
        c.in.append(buf, static_cast<std::size_t>(n));
    }
    for (auto eol = c.in.find('\n'); eol != std::string::npos; eol = c.in.find('\n')) {
        const std::string line = c.in.substr(0, eol);
        c.in.erase(0, eol + 1);
        c.out += Command(line) + "\n";
    }
    while (!c.out.empty()) {
        const long n = net::Send(c.sock, c.out.data(), c.out.size());
        if (n <= 0) {
            if (n < 0) {
                c.dead = true;
            }
            break;
        }
        c.out.erase(0, static_cast<std::size_t>(n));
    }
}

void Server::Reap() {
    for (auto it = clients_.begin(); it != clients_.end();) {
        Client& c = **it;
        if (!c.dead) {
            ++it;
            continue;
        }
        log_.Line("client %llu disconnected", static_cast<unsigned long long>(c.id));
        exchange_.market().DropClient(c);
        ReplayDrop(c, nullptr);
        net::Close(c.sock);
        it = clients_.erase(it);
    }
    controls_.erase(std::remove_if(controls_.begin(), controls_.end(),
                                   [](const std::unique_ptr<Control>& c) {
                                       if (c->dead) {
                                           net::Close(c->sock);
                                       }
                                       return c->dead;
                                   }),
                    controls_.end());
}

void Server::Generate(Clock::time_point now) {
    const double dt = std::chrono::duration<double>(now - lastGen_).count();
    lastGen_ = now;
    if (config_.rate >= 0) {
        owed_ = std::min(owed_ + config_.rate * dt, static_cast<double>(kMaxBatch));
        const auto n = static_cast<std::size_t>(owed_);
        if (n > 0) {
            owed_ -= static_cast<double>(n);
            exchange_.Background(n);
        }
        return;
    }
    if (!exchange_.BackgroundWatched()) {
        exchange_.Background(static_cast<std::size_t>(std::max(1.0, 1000 * dt)));
        return;
    }
    for (const auto& c : clients_) {
        if (c->Pending() > kHighWater) {
            return;
        }
    }
    exchange_.Background(kMaxBurst);
}

void Server::Run(const std::atomic<bool>& stop) {
    std::vector<net::PollItem> items;
    while (!stop.load() && !quit_) {
        const auto now = Clock::now();
        bool room = true;
        for (const auto& c : clients_) {
            room = room && c->Pending() <= kHighWater;
        }
        bool replayBusy = false;
        if (frozen_) {
            lastGen_ = lastTick_ = now;
        } else if (Replaying()) {
            // The recording is the market now; its own heartbeats and messages come with it.
            lastGen_ = lastTick_ = now;
            replayBusy = ReplayRun(now, room);
        } else {
            Generate(now);
        }
        if (now - lastTick_ >= std::chrono::seconds(1)) {
            lastTick_ = now;
            exchange_.Tick();
        }
        while (!frozen_ && !delayed_.empty() && delayed_.front().due <= now) {
            PendingReply p = std::move(delayed_.front());
            delayed_.pop_front();
            if (Client* c = FindClient(p.client)) {
                SendReply(*c, p.post, p.reply);
            }
        }
        bool backlog = false;
        for (auto& c : clients_) {
            if (!frozen_) {
                Flush(*c);
            }
            backlog = backlog || c->Pending() > kHighWater;
        }
        Reap();

        items.clear();
        items.push_back({listener_, true});
        items.push_back({controlListener_, true});
        for (auto& c : clients_) {
            items.push_back({c->sock, true, !frozen_ && c->Pending() > 0});
        }
        for (auto& c : controls_) {
            items.push_back({c->sock, true, !c->out.empty()});
        }
        // A replay is paced by its own clock, so it is woken at least every millisecond.
        const bool busy = Replaying()
                              ? replayBusy && !backlog
                              : config_.rate < 0 && !backlog && exchange_.BackgroundWatched();
        int timeout = 5;
        if (busy) {
            timeout = 0;
        } else if (Replaying() || config_.rate > 1000) {
            timeout = 1;
        }
        const std::size_t nClients = clients_.size();
        const std::size_t nControls = controls_.size();
        if (net::Poll(items, timeout) <= 0) {
            continue;
        }
        std::size_t k = 2;
        for (std::size_t i = 0; i < nClients; ++i, ++k) {
            if (items[k].readable || items[k].failed) {
                ReadClient(*clients_[i]);
            }
        }
        for (std::size_t i = 0; i < nControls; ++i, ++k) {
            if (items[k].readable || items[k].writable || items[k].failed) {
                ReadControl(*controls_[i]);
            }
        }
        if (items[0].readable) {
            AcceptClients();
        }
        if (items[1].readable) {
            AcceptControl();
        }
        Reap();
    }
    // Let control replies written just before a "quit" reach their reader.
    for (auto& c : controls_) {
        if (!c->out.empty()) {
            net::Send(c->sock, c->out.data(), c->out.size());
        }
    }
    log_.Line("router stopping");
}

} // namespace vsim
