#include "Replay.h"

#include "../common/LocalTime.h"
#include "../common/Wire.h"
#include "fills/FillModel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

namespace vsim {

namespace hist = vorlen::history;

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;
// Records applied per pass of the router's loop, so that control commands and new connections
// are still served while a fast replay runs.
constexpr std::size_t kPerPass = 8192;
// A keyframe every this many records: a seek applies at most that many after restoring one. The
// keyframes share the replica's unchanged buckets (ReplayTable), so each costs what changed since
// the one before, whatever the replica's size.
constexpr std::uint64_t kKeyframeEvery = 100'000;
// The terminal opens its streams one after another; market time starts moving once they have
// all asked, so that each receives the day from its start rather than a snapshot.
constexpr auto kSettle = std::chrono::milliseconds(300);

} // namespace

std::size_t ReplayState::Rows() const {
    std::size_t n = 0;
    for (const ReplayStreamState& s : streams) {
        for (const auto& t : s.tables) {
            n += t.size();
        }
    }
    return n;
}

Replay::Replay() : cat_(Catalogue::Get()), keyEvery_(kKeyframeEvery) {
    for (const StreamDef& def : cat_.Streams()) {
        heartbeatTable_.push_back(def.Find("heartbeat"));
    }
    NewTrader();
}

void Replay::NewTrader() {
    own_.clear();
    trader_ = std::make_unique<ReplayTrader>(
        state_,
        [this](int stream, int table, std::int64_t id, std::string data, bool deleted,
               std::int64_t rev) { PutOwnRow(stream, table, id, std::move(data), deleted, rev); });
    if (const auto model = vorlen::fills::ParseFillModel(fill_)) {
        trader_->SetModel(*model);
    }
    if (!recorded_.empty()) {
        trader_->ChooseBook(recorded_);
    }
}

void Replay::SetFill(std::string model) {
    fill_ = std::move(model);
    if (const auto m = vorlen::fills::ParseFillModel(fill_)) {
        trader_->SetModel(*m);
    }
}

Reply Replay::Post(std::uint32_t msgId, std::string_view msgName, const char* data, std::size_t n) {
    Reply r = trader_->Handle(msgId, msgName, data, n, clockNs_);
    trader_->Flush(clockNs_);
    return r;
}

void Replay::PutOwnRow(int stream, int table, std::int64_t id, std::string data, bool deleted,
                       std::int64_t revGiven) {
    std::int64_t rev = revGiven;
    ReplayStreamState& ss = state_.streams[static_cast<std::size_t>(stream)];
    auto& rows = ss.tables[static_cast<std::size_t>(table)];
    const TableDef& def =
        *cat_.Streams()[static_cast<std::size_t>(stream)].tables[static_cast<std::size_t>(table)];
    if (rev < 0) {
        rev = ss.rev;
    }
    const std::int64_t act = deleted ? id : 0;
    std::memcpy(&data[def.fields[0].offset], &id, 8);
    std::memcpy(&data[def.fields[1].offset], &rev, 8);
    std::memcpy(&data[def.fields[2].offset], &act, 8);
    // The trader's own rows (a recorded row republished keeps its revision) outlive a seek.
    const bool own = revGiven < 0;
    if (deleted) {
        rows.Erase(id);
        own_.erase({stream, table, id});
    } else {
        bool inserted = false;
        ReplayRow& row = rows.Put(id, inserted);
        if (inserted) {
            row.seq = ++state_.seq;
        }
        row.rev = rev;
        row.data = data;
        if (own) {
            own_[{stream, table, id}] = row;
        }
    }
    for (const auto& sub : subs_) {
        if (sub->stream == stream) {
            SendRow(*sub, table, rev, data);
        }
    }
}

void Replay::RestoreOwnRows() {
    std::vector<std::pair<const OwnKey*, const ReplayRow*>> order;
    for (const auto& [key, row] : own_) {
        order.emplace_back(&key, &row);
    }
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return a.second->seq < b.second->seq; });
    for (const auto& [key, row] : order) {
        const auto& [stream, table, id] = *key;
        bool inserted = false;
        ReplayRow& r = state_.streams[static_cast<std::size_t>(stream)]
                           .tables[static_cast<std::size_t>(table)]
                           .Put(id, inserted);
        r = *row;
        r.seq = ++state_.seq;
    }
    trader_->Readjust(state_);
}

std::string Replay::SpeedName(int speed) {
    return speed == kMax ? "max" : std::to_string(speed);
}

bool Replay::Open(const std::string& path, std::string& error) {
    hist::TRecordingReader reader;
    if (!reader.Open(path)) {
        error = reader.Error();
        return false;
    }
    ReplayState st;
    st.streams.resize(cat_.Streams().size());
    for (std::size_t i = 0; i < st.streams.size(); ++i) {
        st.streams[i].tables.resize(cat_.Streams()[i].tables.size());
    }
    std::vector<Keyframe> keys;
    keys.push_back({st});
    std::vector<char> recorded(cat_.Streams().size(), 0);
    std::int64_t first = 0;
    std::uint64_t sinceKey = 0;
    hist::TRecordView r;
    badStream_.clear();
    while (reader.Next(r)) {
        if (st.applied == 0) {
            first = r.TimeNs;
        }
        Apply(st, r, false);
        if (!badStream_.empty()) {
            error = badStream_;
            return false;
        }
        if (r.Kind == hist::TRecordKind::StreamOpen && r.Stream < st.maps.size() &&
            st.maps[r.Stream]) {
            recorded[static_cast<std::size_t>(st.maps[r.Stream]->stream)] = 1;
        }
        if (++sinceKey >= keyEvery_) {
            keys.push_back({st});
            sinceKey = 0;
        }
    }
    if (st.applied == 0) {
        error = "the recording holds no records";
        return false;
    }
    path_ = path;
    date_ = reader.Header().TradingDate;
    firstNs_ = first;
    lastNs_ = st.lastNs;
    keys_ = std::move(keys);
    recorded_ = std::move(recorded);
    open_ = true;
    started_ = false;
    stepUntil_ = -1;
    if (!reader_.Open(path_)) {
        open_ = false;
        error = reader_.Error();
        return false;
    }
    state_ = keys_.front().state;
    pending_.reset();
    NextRecord();
    clockNs_ = firstNs_;
    // The trader starts the new day with no orders and nothing traded.
    NewTrader();
    for (const auto& sub : subs_) {
        SendState(*sub, true);
    }
    return true;
}

void Replay::NextRecord() {
    hist::TRecordView r;
    if (reader_.Next(r)) {
        pending_ = r;
    } else {
        pending_.reset();
    }
}

void Replay::SendRow(const Sub& sub, int table, std::int64_t rev, const std::string& data) {
    const int slot = sub.slotOf[static_cast<std::size_t>(table)];
    if (slot < 0) {
        return;
    }
    wire::PutRow(sub.client->out, sub.id, static_cast<std::uint16_t>(slot), rev, data);
}

void Replay::SendState(const Sub& sub, bool clear) {
    const ReplayStreamState& ss = state_.streams[static_cast<std::size_t>(sub.stream)];
    wire::Writer w(sub.client->out);
    if (clear) {
        w.Begin(wire::Kind::LifeNum);
        w.Put<std::uint32_t>(sub.id);
        w.Put<std::uint32_t>(ss.life + ++resets_);
        w.Put<std::uint32_t>(0);
        w.End();
    }
    std::vector<std::pair<std::uint64_t, const ReplayRow*>> order;
    for (std::size_t t = 0; t < ss.tables.size(); ++t) {
        if (sub.slotOf[t] < 0) {
            continue;
        }
        order.clear();
        ss.tables[t].ForEach(
            [&](std::int64_t, const ReplayRow& row) { order.emplace_back(row.seq, &row); });
        std::sort(order.begin(), order.end());
        for (const auto& [seq, row] : order) {
            SendRow(sub, static_cast<int>(t), row->rev, row->data);
        }
    }
    // A stream the recording never opened has nothing to wait for.
    if (ss.online || recorded_[static_cast<std::size_t>(sub.stream)] == 0) {
        w.Begin(wire::Kind::Online);
        w.Put<std::uint32_t>(sub.id);
        w.End();
    }
}

bool Replay::Subscribe(Client& c, std::uint32_t id, std::string_view stream,
                       const std::vector<std::string>& tables, bool again, std::string& reason) {
    const StreamDef* def = cat_.Stream(stream);
    if (def == nullptr) {
        reason = "unknown stream " + std::string(stream);
        return false;
    }
    auto sub = std::make_unique<Sub>();
    sub->client = &c;
    sub->id = id;
    sub->stream = static_cast<int>(def - cat_.Streams().data());
    sub->slotOf.assign(def->tables.size(), -1);
    for (std::size_t slot = 0; slot < tables.size(); ++slot) {
        const int t = def->Find(tables[slot]);
        if (t < 0) {
            reason = "stream " + std::string(stream) + " has no table " + tables[slot];
            return false;
        }
        sub->slotOf[static_cast<std::size_t>(t)] = static_cast<int>(slot);
    }
    Unsubscribe(c, id);
    if (!again) {
        wire::Writer w(c.out);
        w.Begin(wire::Kind::Opened);
        w.Put<std::uint32_t>(id);
        w.End();
    }
    SendState(*sub, again);
    subs_.push_back(std::move(sub));
    lastSubscribe_ = Clock::now();
    return true;
}

void Replay::Unsubscribe(Client& c, std::uint32_t id) {
    subs_.erase(std::remove_if(
                    subs_.begin(), subs_.end(),
                    [&](const std::unique_ptr<Sub>& s) { return s->client == &c && s->id == id; }),
                subs_.end());
}

void Replay::DropClient(Client& c) {
    subs_.erase(std::remove_if(subs_.begin(), subs_.end(),
                               [&](const std::unique_ptr<Sub>& s) { return s->client == &c; }),
                subs_.end());
}

void Replay::Play() {
    paused_ = false;
    stepUntil_ = -1;
    started_ = true;
}

void Replay::Step() {
    paused_ = true;
    started_ = true;
    stepUntil_ = clockNs_ + kSecond;
}

std::int64_t Replay::MomentOf(int secondsOfDay) const {
    std::tm t{};
    if (std::sscanf(date_.c_str(), "%4d-%2d-%2d", &t.tm_year, &t.tm_mon, &t.tm_mday) != 3) {
        return -1;
    }
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_hour = secondsOfDay / 3600;
    t.tm_min = secondsOfDay / 60 % 60;
    t.tm_sec = secondsOfDay % 60;
    t.tm_isdst = -1;
    const std::time_t at = std::mktime(&t);
    return at == static_cast<std::time_t>(-1) ? -1 : static_cast<std::int64_t>(at) * kSecond;
}

bool Replay::Seek(int secondsOfDay, std::string& error) {
    const std::int64_t start = MomentOf(secondsOfDay);
    if (start < 0) {
        error = "no such time on " + date_;
        return false;
    }
    // The whole second, as a recording read "up to HH:MM:SS" takes it.
    const std::int64_t target = start + kSecond - 1;
    std::size_t k = 0;
    while (k + 1 < keys_.size() && keys_[k + 1].state.lastNs <= target) {
        ++k;
    }
    const Keyframe& key = keys_[k];
    if (k == 0) {
        if (!reader_.Open(path_)) {
            error = reader_.Error();
            return false;
        }
    } else {
        reader_.Seek(key.state.lastNs);
        hist::TRecordView skipped;
        for (std::uint64_t i = 0; i < key.state.sameTimeAt && reader_.Next(skipped); ++i) {
        }
    }
    state_ = key.state;
    NextRecord();
    while (pending_ && pending_->TimeNs <= target) {
        Apply(state_, *pending_, false);
        NextRecord();
    }
    clockNs_ = std::clamp(target, firstNs_, lastNs_);
    stepUntil_ = -1;
    started_ = true;
    // The trader's resting orders do not travel in time; positions, money and the rows of
    // what it did stay.
    RestoreOwnRows();
    trader_->CancelAll(clockNs_);
    for (const auto& sub : subs_) {
        SendState(*sub, true);
    }
    return true;
}

void Replay::Heartbeats(Clock::time_point now) {
    if (now - lastHeartbeat_ < std::chrono::seconds(1)) {
        return;
    }
    lastHeartbeat_ = now;
    // The latest heartbeat the replica holds, again: the terminal hears the exchange while the
    // market stands still, and its tables do not change.
    for (const auto& sub : subs_) {
        const int t = heartbeatTable_[static_cast<std::size_t>(sub->stream)];
        if (t < 0) {
            continue;
        }
        const auto& rows = state_.streams[static_cast<std::size_t>(sub->stream)]
                               .tables[static_cast<std::size_t>(t)];
        const ReplayRow* last = nullptr;
        rows.ForEach([&](std::int64_t, const ReplayRow& row) {
            if (last == nullptr || row.seq > last->seq) {
                last = &row;
            }
        });
        if (last != nullptr) {
            SendRow(*sub, t, last->rev, last->data);
        }
    }
}

bool Replay::Busy() const {
    return open_ && started_ && pending_.has_value() &&
           ((!paused_ && speed_ == kMax) || stepUntil_ >= 0);
}

void Replay::Run(Clock::time_point now, bool room) {
    if (!open_) {
        return;
    }
    Heartbeats(now);
    const auto dt = now - lastRun_;
    lastRun_ = now;
    if (!started_) {
        if (subs_.empty() || now - lastSubscribe_ < kSettle) {
            return;
        }
        started_ = true;
    }
    if (!room) {
        return;
    }
    if (paused_ && stepUntil_ < 0) {
        return;
    }
    if (stepUntil_ < 0 && speed_ != kMax) {
        clockNs_ += std::chrono::duration_cast<std::chrono::nanoseconds>(dt).count() * speed_;
    }
    const std::int64_t until = stepUntil_ >= 0  ? stepUntil_
                               : speed_ == kMax ? std::numeric_limits<std::int64_t>::max()
                                                : clockNs_;
    for (std::size_t n = 0; n < kPerPass && pending_ && pending_->TimeNs <= until; ++n) {
        Apply(state_, *pending_, true);
        NextRecord();
    }
    if (speed_ == kMax && stepUntil_ < 0) {
        clockNs_ = state_.lastNs;
    }
    if (stepUntil_ >= 0 && (!pending_ || pending_->TimeNs > stepUntil_)) {
        clockNs_ = stepUntil_;
        stepUntil_ = -1;
    }
    clockNs_ = pending_ ? std::min(clockNs_, lastNs_) : lastNs_;
    trader_->Flush(clockNs_);
}

std::string Replay::State() const {
    if (!open_) {
        return "OK replay off";
    }
    const auto clock = [](std::int64_t ns, bool ms) {
        const Time t = LocalTimeNs(ns);
        char buf[32];
        if (ms) {
            std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                          t.msec);
        } else {
            std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
        }
        return std::string(buf);
    };
    const char* state = !pending_ ? "end" : paused_ ? "paused" : "playing";
    return "OK replay date=" + date_ + " time=" + clock(clockNs_, true) +
           " from=" + clock(firstNs_, false) + " to=" + clock(lastNs_, false) +
           " speed=" + SpeedName(speed_) + " state=" + state + " fill=" + fill_ + " file=" + path_;
}

} // namespace vsim
