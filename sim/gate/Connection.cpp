// One connection to the router: its socket, states, the frames it receives and the listener
// callbacks it runs inside cg_conn_process on the caller's thread.

#include "Gate.h"
#include "Text.h"
#include "Wire.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace vsim::gate {

namespace {

// A failed connect is reported as an error no sooner than this after cg_conn_open, so a caller
// that reopens at once does not spin against a router that is down.
constexpr auto kRetryPause = std::chrono::milliseconds(100);

} // namespace

std::uint32_t Connection::Create(const char* settings, Connection** out) {
    if (settings == nullptr || out == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    const std::string_view s(settings);
    const auto sep = s.find("://");
    if (sep == std::string_view::npos) {
        LogLine(Level::Error, "connection settings without a type: '%s'", settings);
        return CG_ERR_INVALIDARGUMENT;
    }
    const std::string type = Lower(s.substr(0, sep));
    if (type != "p2tcp" && type != "p2lrpcq") {
        LogLine(Level::Error, "unsupported connection type '%s'", type.c_str());
        return CG_ERR_INVALIDARGUMENT;
    }
    const std::string_view rest = s.substr(sep + 3);
    const auto semi = rest.find(';');
    const std::string_view address = rest.substr(0, semi);
    const auto colon = address.rfind(':');
    std::int64_t port = 0;
    if (colon == std::string_view::npos || colon == 0 ||
        !ParseInt(address.substr(colon + 1), port) || port <= 0 || port > 65535) {
        LogLine(Level::Error, "bad router address in '%s'", settings);
        return CG_ERR_INVALIDARGUMENT;
    }
    auto c = std::make_unique<Connection>();
    c->host_ = std::string(address.substr(0, colon));
    c->port_ = static_cast<std::uint16_t>(port);
    if (semi != std::string_view::npos) {
        for (const KeyValue& kv : ParseKeyValues(rest.substr(semi + 1))) {
            std::int64_t n = 0;
            const bool number = ParseInt(kv.value, n) && n >= 0;
            if (kv.key == "app_name" && kv.hasValue && !kv.value.empty()) {
                c->app_ = kv.value;
            } else if (kv.key == "name" && kv.hasValue && !kv.value.empty()) {
                c->name_ = kv.value;
            } else if (kv.key == "timeout" && number) {
                c->timeoutMs_ = static_cast<std::uint32_t>(std::max<std::int64_t>(n, 1));
            } else if ((kv.key == "local_timeout" && number) ||
                       (kv.key == "lrpcq_buf" && number && n > 0)) {
                continue;
            } else {
                LogLine(Level::Error, "connection: bad setting '%s' in '%s'", kv.key.c_str(),
                        settings);
                return CG_ERR_INVALIDARGUMENT;
            }
        }
    }
    *out = c.release();
    return CG_ERR_OK;
}

Connection::~Connection() {
    net::Close(sock_);
}

std::uint32_t Connection::Open() {
    std::lock_guard<std::mutex> lock(mu_);
    if (state_ != CG_STATE_CLOSED) {
        return CG_ERR_INCORRECTSTATE;
    }
    net::Init();
    const net::Socket s = net::ConnectStart(host_, port_);
    {
        std::lock_guard<std::mutex> send(sendMu_);
        sock_ = s;
    }
    openedAt_ = Clock::now();
    connectFailed_ = s == net::kInvalid;
    state_ = CG_STATE_OPENING;
    rlen_ = 0;
    CheckConnectLocked();
    return CG_ERR_OK;
}

void Connection::CheckConnectLocked() {
    if (state_ != CG_STATE_OPENING) {
        return;
    }
    const auto now = Clock::now();
    if (!connectFailed_) {
        const int r = net::ConnectCheck(sock_);
        if (r > 0) {
            std::string hello;
            wire::Writer w(hello);
            w.Begin(wire::Kind::Hello);
            w.Put<std::uint32_t>(wire::kVersion);
            w.Str(app_);
            w.Str(name_);
            w.End();
            state_ = CG_STATE_ACTIVE;
            LogLine(Level::Info, "connection %s: connected to %s:%u", name_.c_str(), host_.c_str(),
                    port_);
            if (!SendFrame(hello)) {
                connectFailed_ = true;
                state_ = CG_STATE_OPENING;
            }
            return;
        }
        if (r < 0 || now - openedAt_ > std::chrono::milliseconds(timeoutMs_)) {
            connectFailed_ = true;
        }
    }
    if (connectFailed_ && now - openedAt_ >= kRetryPause) {
        {
            std::lock_guard<std::mutex> send(sendMu_);
            net::Close(sock_);
            sock_ = net::kInvalid;
        }
        state_ = CG_STATE_ERROR;
        LogLine(Level::Warning, "connection %s: cannot connect to %s:%u", name_.c_str(),
                host_.c_str(), port_);
    }
}

std::uint32_t Connection::State(std::uint32_t& state) {
    std::lock_guard<std::mutex> lock(mu_);
    CheckConnectLocked();
    state = state_;
    return CG_ERR_OK;
}

bool Connection::SendFrame(const std::string& frame) {
    std::lock_guard<std::mutex> send(sendMu_);
    std::size_t done = 0;
    while (done < frame.size()) {
        if (sock_ == net::kInvalid) {
            return false;
        }
        const long n = net::Send(sock_, frame.data() + done, frame.size() - done);
        if (n < 0) {
            return false;
        }
        if (n == 0 && !net::WaitWritable(sock_, static_cast<int>(timeoutMs_))) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void Connection::CloseAllLocked(std::vector<Listener*>& closed) {
    for (Listener* l : listeners_) {
        if (l->state != CG_STATE_CLOSED && l->announced) {
            closed.push_back(l);
        }
        l->state = CG_STATE_CLOSED;
        l->announced = false;
    }
    pending_.clear();
    local_.clear();
}

void Connection::Lost() {
    std::vector<Listener*> closed;
    {
        std::lock_guard<std::mutex> lock(mu_);
        {
            std::lock_guard<std::mutex> send(sendMu_);
            net::Close(sock_);
            sock_ = net::kInvalid;
        }
        state_ = CG_STATE_ERROR;
        for (Publisher* p : publishers_) {
            if (p->state != CG_STATE_CLOSED) {
                p->state = CG_STATE_ERROR;
            }
        }
        CloseAllLocked(closed);
    }
    LogLine(Level::Warning, "connection %s: router connection lost", name_.c_str());
    for (Listener* l : closed) {
        cg_msg_t msg{CG_MSG_CLOSE, 0, nullptr};
        Deliver(l, &msg);
    }
}

std::uint32_t Connection::Close() {
    std::vector<Listener*> closed;
    {
        std::lock_guard<std::mutex> lock(mu_);
        {
            std::lock_guard<std::mutex> send(sendMu_);
            net::Close(sock_);
            sock_ = net::kInvalid;
        }
        state_ = CG_STATE_CLOSED;
        for (Publisher* p : publishers_) {
            p->state = CG_STATE_CLOSED;
        }
        CloseAllLocked(closed);
    }
    for (Listener* l : closed) {
        cg_msg_t msg{CG_MSG_CLOSE, 0, nullptr};
        Deliver(l, &msg);
    }
    return CG_ERR_OK;
}

void Connection::Deliver(Listener* l, cg_msg_t* msg) {
    l->cb(reinterpret_cast<cg_conn_t*>(this), reinterpret_cast<cg_listener_t*>(l), msg, l->data);
}

void Connection::Attach(Listener* l) {
    std::lock_guard<std::mutex> lock(mu_);
    listeners_.push_back(l);
}

void Connection::Detach(Listener* l) {
    std::lock_guard<std::mutex> lock(mu_);
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), l), listeners_.end());
    local_.erase(
        std::remove_if(local_.begin(), local_.end(), [l](const Local& e) { return e.lsn == l; }),
        local_.end());
}

void Connection::Attach(Publisher* p) {
    std::lock_guard<std::mutex> lock(mu_);
    publishers_.push_back(p);
}

void Connection::Detach(Publisher* p) {
    std::lock_guard<std::mutex> lock(mu_);
    publishers_.erase(std::remove(publishers_.begin(), publishers_.end(), p), publishers_.end());
    for (auto it = pending_.begin(); it != pending_.end();) {
        it = it->second.pub == p ? pending_.erase(it) : std::next(it);
    }
}

std::vector<Listener*> Connection::Listeners() {
    std::lock_guard<std::mutex> lock(mu_);
    return listeners_;
}

std::vector<Publisher*> Connection::Publishers() {
    std::lock_guard<std::mutex> lock(mu_);
    return publishers_;
}

std::uint32_t Connection::OpenListener(Listener* l, const char* settings) {
    std::uint32_t life = 0;
    if (settings != nullptr) {
        for (const KeyValue& kv : ParseKeyValues(settings)) {
            std::int64_t n = 0;
            if (kv.key == "lifinum" && ParseInt(kv.value, n) && n >= 0 && n <= 0xFFFFFFFF) {
                life = static_cast<std::uint32_t>(n);
            } else if (kv.key == "lifinum") {
                return CG_ERR_INVALIDARGUMENT;
            }
        }
    }
    std::string frame;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (state_ != CG_STATE_ACTIVE || l->state != CG_STATE_CLOSED) {
            return CG_ERR_INCORRECTSTATE;
        }
        if (l->kind == Listener::Kind::Reply) {
            l->state = CG_STATE_ACTIVE;
            local_.push_back({l, CG_MSG_OPEN});
            return CG_ERR_OK;
        }
        l->subId = nextSub_++;
        l->state = CG_STATE_OPENING;
        wire::Writer w(frame);
        w.Begin(wire::Kind::Subscribe);
        w.Put<std::uint32_t>(l->subId);
        w.Str(l->stream);
        w.Put<std::uint32_t>(life);
        w.Put<std::uint16_t>(static_cast<std::uint16_t>(l->subTables.size()));
        for (const std::string& t : l->subTables) {
            w.Str(t);
        }
        w.End();
    }
    if (!SendFrame(frame)) {
        std::lock_guard<std::mutex> lock(mu_);
        l->state = CG_STATE_ERROR;
        return CG_ERR_INTERNAL;
    }
    return CG_ERR_OK;
}

std::uint32_t Connection::CloseListener(Listener* l) {
    bool announce = false;
    std::string frame;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (l->kind == Listener::Kind::Repl &&
            (l->state == CG_STATE_OPENING || l->state == CG_STATE_ACTIVE) &&
            state_ == CG_STATE_ACTIVE) {
            wire::Writer w(frame);
            w.Begin(wire::Kind::Unsubscribe);
            w.Put<std::uint32_t>(l->subId);
            w.End();
        }
        announce = l->announced;
        l->state = CG_STATE_CLOSED;
        l->announced = false;
        l->subId = 0;
        local_.erase(std::remove_if(local_.begin(), local_.end(),
                                    [l](const Local& e) { return e.lsn == l; }),
                     local_.end());
    }
    if (!frame.empty()) {
        SendFrame(frame);
    }
    if (announce) {
        cg_msg_t msg{CG_MSG_CLOSE, 0, nullptr};
        Deliver(l, &msg);
    }
    return CG_ERR_OK;
}

std::uint32_t Connection::ListenerState(Listener* l, std::uint32_t& state) {
    std::lock_guard<std::mutex> lock(mu_);
    state = l->state;
    return CG_ERR_OK;
}

std::uint32_t Connection::OpenPublisher(Publisher* p) {
    std::lock_guard<std::mutex> lock(mu_);
    if (state_ != CG_STATE_ACTIVE || p->state != CG_STATE_CLOSED) {
        return CG_ERR_INCORRECTSTATE;
    }
    p->state = CG_STATE_ACTIVE;
    return CG_ERR_OK;
}

std::uint32_t Connection::ClosePublisher(Publisher* p) {
    std::lock_guard<std::mutex> lock(mu_);
    p->state = CG_STATE_CLOSED;
    for (auto it = pending_.begin(); it != pending_.end();) {
        it = it->second.pub == p ? pending_.erase(it) : std::next(it);
    }
    return CG_ERR_OK;
}

std::uint32_t Connection::PublisherState(Publisher* p, std::uint32_t& state) {
    std::lock_guard<std::mutex> lock(mu_);
    state = p->state;
    return CG_ERR_OK;
}

std::uint32_t Connection::Post(Publisher* p, OwnedMessage* m, std::uint32_t flags) {
    const Layout& layout = p->layouts[static_cast<std::size_t>(m->index)];
    if (layout.wire == nullptr) {
        return CG_ERR_UNSUPPORTED;
    }
    std::string frame;
    std::uint64_t post = 0;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (state_ != CG_STATE_ACTIVE || p->state != CG_STATE_ACTIVE) {
            return CG_ERR_INCORRECTSTATE;
        }
        post = nextPost_++;
        if ((flags & CG_PUB_NEEDREPLY) != 0) {
            Pending& pend = pending_[post];
            pend.pub = p;
            pend.pubName = p->name;
            pend.userId = m->msg.user_id;
            pend.msgId = m->msg.msg_id;
            pend.msgName = m->msg.msg_name;
            pend.deadline = Clock::now() + std::chrono::milliseconds(p->timeoutMs);
        }
    }
    wire::Writer w(frame);
    w.Begin(wire::Kind::Post);
    w.Put<std::uint64_t>((flags & CG_PUB_NEEDREPLY) != 0 ? post : 0);
    w.Put<std::uint32_t>(layout.wire->id);
    w.Str(layout.wire->name);
    std::string record(layout.wire->size, '\0');
    layout.ToWire(static_cast<const char*>(m->msg.data), record.data());
    w.Bytes(record.data(), record.size());
    w.End();
    if (!SendFrame(frame)) {
        std::lock_guard<std::mutex> lock(mu_);
        pending_.erase(post);
        return CG_ERR_INTERNAL;
    }
    return CG_ERR_OK;
}

} // namespace vsim::gate
