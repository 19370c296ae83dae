// What a connection receives: frames from the router turned into listener messages, reply
// timeouts, and the processing call that runs the callbacks on the caller's thread.

#include "Gate.h"
#include "Wire.h"

#include <algorithm>
#include <cstring>

namespace vsim::gate {

namespace {

constexpr std::size_t kReadChunk = 1u << 20;
constexpr int kReadsPerCall = 16;
constexpr std::size_t kGather = std::size_t{64} * 1024;

} // namespace

Listener* Connection::BySub(std::uint32_t sub, CG_LISTENER_CB& cb, void*& data) {
    std::lock_guard<std::mutex> lock(mu_);
    for (Listener* l : listeners_) {
        if (l->subId == sub && l->kind == Listener::Kind::Repl && l->state != CG_STATE_CLOSED) {
            cb = l->cb;
            data = l->data;
            return l;
        }
    }
    return nullptr;
}

void Connection::Dispatch(int kind, const char* body, std::size_t n) {
    wire::Reader r(body, n);
    CG_LISTENER_CB cb = nullptr;
    void* data = nullptr;
    auto call = [&](Listener* l, cg_msg_t* msg) {
        cb(reinterpret_cast<cg_conn_t*>(this), reinterpret_cast<cg_listener_t*>(l), msg, data);
    };
    switch (static_cast<wire::Kind>(kind)) {
    case wire::Kind::Row: {
        const auto sub = r.Get<std::uint32_t>();
        const auto slot = r.Get<std::uint16_t>();
        const auto rev = r.Get<std::int64_t>();
        std::size_t len = 0;
        const char* rec = r.Rest(len);
        Listener* l = BySub(sub, cb, data);
        if (l == nullptr || !r.ok() || slot >= l->slotToMsg.size()) {
            return;
        }
        const auto index = static_cast<std::size_t>(l->slotToMsg[slot]);
        const Layout& layout = l->layouts[index];
        if (len < layout.wire->size) {
            return;
        }
        row_.resize((std::max(layout.own->size, layout.wire->size) + 7) / 8);
        char* buf = reinterpret_cast<char*>(row_.data());
        layout.ToOwn(rec, buf);
        cg_msg_streamdata_t msg{};
        msg.type = CG_MSG_STREAM_CHANGED;
        msg.data_size = layout.own->size;
        msg.data = buf;
        msg.msg_index = index;
        msg.msg_id = layout.own->id;
        msg.msg_name = layout.own->name.c_str();
        msg.rev = rev;
        call(l, reinterpret_cast<cg_msg_t*>(&msg));
        return;
    }
    case wire::Kind::Opened: {
        Listener* l = BySub(r.Get<std::uint32_t>(), cb, data);
        if (l == nullptr) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            l->state = CG_STATE_ACTIVE;
            l->announced = true;
        }
        cg_msg_t msg{CG_MSG_OPEN, 0, nullptr};
        call(l, &msg);
        return;
    }
    case wire::Kind::Refused: {
        const auto sub = r.Get<std::uint32_t>();
        const std::string reason = r.Str();
        Listener* l = BySub(sub, cb, data);
        if (l != nullptr) {
            std::lock_guard<std::mutex> lock(mu_);
            l->state = CG_STATE_ERROR;
        }
        LogLine(Level::Error, "router refused a subscription: %s", reason.c_str());
        return;
    }
    case wire::Kind::LifeNum: {
        Listener* l = BySub(r.Get<std::uint32_t>(), cb, data);
        cg_data_lifenum_t life{};
        life.life_number = r.Get<std::uint32_t>();
        life.flags = r.Get<std::uint32_t>();
        if (l != nullptr && r.ok()) {
            cg_msg_t msg{CG_MSG_P2REPL_LIFENUM, sizeof life, &life};
            call(l, &msg);
        }
        return;
    }
    case wire::Kind::Online: {
        Listener* l = BySub(r.Get<std::uint32_t>(), cb, data);
        if (l != nullptr) {
            cg_msg_t msg{CG_MSG_P2REPL_ONLINE, 0, nullptr};
            call(l, &msg);
        }
        return;
    }
    case wire::Kind::ClearDeleted: {
        Listener* l = BySub(r.Get<std::uint32_t>(), cb, data);
        const auto slot = r.Get<std::uint16_t>();
        cg_data_cleardeleted_t cd{};
        cd.table_rev = r.Get<std::int64_t>();
        if (l == nullptr || !r.ok() || slot >= l->slotToMsg.size()) {
            return;
        }
        cd.table_idx = static_cast<std::uint32_t>(l->slotToMsg[slot]);
        cg_msg_t msg{CG_MSG_P2REPL_CLEARDELETED, sizeof cd, &cd};
        call(l, &msg);
        return;
    }
    case wire::Kind::ReplState: {
        Listener* l = BySub(r.Get<std::uint32_t>(), cb, data);
        std::string text = r.Str();
        if (l != nullptr && r.ok()) {
            cg_msg_t msg{CG_MSG_P2REPL_REPLSTATE, text.size() + 1, text.data()};
            call(l, &msg);
        }
        return;
    }
    case wire::Kind::Reply: {
        const auto post = r.Get<std::uint64_t>();
        const auto msgId = r.Get<std::uint32_t>();
        std::size_t len = 0;
        const char* rec = r.Rest(len);
        Pending pend;
        std::vector<std::pair<Listener*, std::pair<CG_LISTENER_CB, void*>>> targets;
        {
            std::lock_guard<std::mutex> lock(mu_);
            auto it = pending_.find(post);
            if (it == pending_.end()) {
                return; // timed out already, or nobody wanted it
            }
            pend = it->second;
            pending_.erase(it);
            for (Listener* l : listeners_) {
                if (l->kind == Listener::Kind::Reply && l->state == CG_STATE_ACTIVE &&
                    l->ref == pend.pubName) {
                    targets.push_back({l, {l->cb, l->data}});
                }
            }
        }
        for (auto& [l, target] : targets) {
            const int index = l->scheme->FindId(msgId);
            if (index < 0) {
                continue;
            }
            const Layout& layout = l->layouts[static_cast<std::size_t>(index)];
            if (len < layout.wire->size) {
                continue;
            }
            row_.resize((std::max(layout.own->size, layout.wire->size) + 7) / 8);
            char* buf = reinterpret_cast<char*>(row_.data());
            layout.ToOwn(rec, buf);
            cg_msg_data_t msg{};
            msg.type = CG_MSG_DATA;
            msg.data_size = layout.own->size;
            msg.data = buf;
            msg.msg_index = static_cast<std::size_t>(index);
            msg.msg_id = layout.own->id;
            msg.msg_name = layout.own->name.c_str();
            msg.user_id = pend.userId;
            cb = target.first;
            data = target.second;
            call(l, reinterpret_cast<cg_msg_t*>(&msg));
        }
        return;
    }
    default:
        return;
    }
}

bool Connection::Timeouts() {
    struct Due {
        Listener* l;
        CG_LISTENER_CB cb;
        void* data;
        Pending p;
    };
    std::vector<Due> due;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (pending_.empty()) {
            return false;
        }
        const auto now = Clock::now();
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (it->second.deadline > now) {
                ++it;
                continue;
            }
            for (Listener* l : listeners_) {
                if (l->kind == Listener::Kind::Reply && l->state == CG_STATE_ACTIVE &&
                    l->ref == it->second.pubName) {
                    due.push_back({l, l->cb, l->data, it->second});
                }
            }
            it = pending_.erase(it);
        }
    }
    for (Due& d : due) {
        cg_msg_data_t msg{};
        msg.type = CG_MSG_P2MQ_TIMEOUT;
        msg.msg_id = d.p.msgId;
        msg.msg_name = d.p.msgName;
        msg.user_id = d.p.userId;
        d.cb(reinterpret_cast<cg_conn_t*>(this), reinterpret_cast<cg_listener_t*>(d.l),
             reinterpret_cast<cg_msg_t*>(&msg), d.data);
    }
    return !due.empty();
}

std::uint32_t Connection::Process(std::uint32_t timeoutMs) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        CheckConnectLocked();
        if (state_ != CG_STATE_ACTIVE) {
            return CG_ERR_INCORRECTSTATE;
        }
    }
    bool any = false;
    // Locally made messages first: a reply listener's open message.
    for (;;) {
        Local e;
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (local_.empty()) {
                break;
            }
            e = local_.front();
            local_.pop_front();
            if (e.type == CG_MSG_OPEN) {
                e.lsn->announced = true;
            }
        }
        cg_msg_t msg{e.type, 0, nullptr};
        Deliver(e.lsn, &msg);
        any = true;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (rbuf_.size() < kReadChunk * 2) {
        rbuf_.resize(kReadChunk * 2);
    }
    std::size_t bytes = 0;
    for (int reads = 0; reads < kReadsPerCall; ++reads) {
        std::size_t pos = 0;
        wire::Kind kind{};
        const char* body = nullptr;
        std::size_t len = 0;
        bool bad = false;
        while (wire::NextFrame(rbuf_.data(), rlen_, pos, kind, body, len, bad)) {
            Dispatch(static_cast<int>(kind), body, len);
            any = true;
        }
        if (bad) {
            LogLine(Level::Error, "connection %s: malformed frame from the router", name_.c_str());
            Lost();
            return CG_ERR_OK;
        }
        if (pos > 0) {
            std::memmove(rbuf_.data(), rbuf_.data() + pos, rlen_ - pos);
            rlen_ -= pos;
        }
        if (rbuf_.size() - rlen_ < kReadChunk) {
            rbuf_.resize(rlen_ + kReadChunk);
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (state_ != CG_STATE_ACTIVE) {
                break; // a callback closed the connection
            }
        }
        long n = net::Recv(sock_, rbuf_.data() + rlen_, rbuf_.size() - rlen_);
        // Under a steady trickle, gathering for the rest of the wait costs the caller nothing and
        // spares both sides a system call per frame.
        if (n == 0 && any && bytes < kGather && reads + 1 < kReadsPerCall) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left > 0 && net::WaitReadable(sock_, static_cast<int>(left))) {
                n = net::Recv(sock_, rbuf_.data() + rlen_, rbuf_.size() - rlen_);
            }
        }
        if (n == 0 && !any) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left > 0 && net::WaitReadable(sock_, static_cast<int>(left))) {
                n = net::Recv(sock_, rbuf_.data() + rlen_, rbuf_.size() - rlen_);
            } else if (Timeouts()) {
                return CG_ERR_OK;
            } else {
                return CG_ERR_TIMEOUT;
            }
        }
        if (n < 0) {
            Lost();
            return CG_ERR_OK;
        }
        if (n == 0) {
            break;
        }
        rlen_ += static_cast<std::size_t>(n);
        bytes += static_cast<std::size_t>(n);
    }
    any = Timeouts() || any;
    return any ? CG_ERR_OK : CG_ERR_TIMEOUT;
}

} // namespace vsim::gate
