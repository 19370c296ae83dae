#include "Market.h"

#include "../common/Wire.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vsim {

namespace {

constexpr std::uint32_t kServiceId = 0;  // field index of replID
constexpr std::uint32_t kServiceRev = 1; // replRev
constexpr std::uint32_t kServiceAct = 2; // replAct

void PutI64(std::string& data, const FieldDef& f, std::int64_t v) {
    std::memcpy(&data[f.offset], &v, 8);
}

} // namespace

Market::Market() {
    const Catalogue& cat = Catalogue::Get();
    streams_.reserve(cat.Streams().size());
    for (const StreamDef& def : cat.Streams()) {
        Stream s;
        s.def = &def;
        for (const TableDef* t : def.tables) {
            Table table;
            table.def = t;
            const bool log = t->name == "orders_log" || t->name == "multileg_orders_log" ||
                             t->name == "deal" || t->name == "multileg_deal" ||
                             t->name == "user_deal" || t->name == "sys_events";
            table.log = log;
            table.cap = log ? kDefaultLogRows : 0;
            table.rows.reserve(64);
            s.tables.push_back(std::move(table));
        }
        streams_.push_back(std::move(s));
    }
}

void Market::SetLogRows(std::size_t rows) {
    for (Stream& s : streams_) {
        for (Table& t : s.tables) {
            if (!t.log) {
                continue;
            }
            t.cap = rows;
            while (t.cap != 0 && t.order.size() > t.cap) {
                t.rows.erase(t.order.front());
                t.order.pop_front();
            }
        }
    }
}

Stream* Market::Find(std::string_view stream) {
    for (Stream& s : streams_) {
        if (s.def->name == stream) {
            return &s;
        }
    }
    return nullptr;
}

Stream& Market::At(std::string_view stream) {
    Stream* s = Find(stream);
    if (s == nullptr) {
        std::fprintf(stderr, "unknown stream %.*s\n", static_cast<int>(stream.size()),
                     stream.data());
        std::abort();
    }
    return *s;
}

int Market::TableIndex(const Stream& s, std::string_view table) {
    return s.def->Find(table);
}

std::string Market::Blank(const Stream& s, int table) const {
    return std::string(s.tables[static_cast<std::size_t>(table)].def->size, '\0');
}

std::int64_t Market::NextId(Stream& s, int table) {
    return ++nextId_[{&s, table}];
}

void Market::SendRow(Subscription& sub, int table, const Row& row) {
    const int slot = sub.slotOf[static_cast<std::size_t>(table)];
    if (slot < 0) {
        return;
    }
    wire::PutRow(sub.client->out, sub.id, static_cast<std::uint16_t>(slot), row.rev, row.data);
    ++counters_.rows;
    ++counters_.frames;
}

void Market::Upsert(Stream& s, int table, std::int64_t id, std::string data) {
    Store(s, table, id, [&](std::string& row) { row = std::move(data); });
}

void Market::UpsertCopy(Stream& s, int table, std::int64_t id, const std::string& data) {
    Store(s, table, id, [&](std::string& row) { row.assign(data); });
}

template <class TFill>
void Market::Store(Stream& s, int table, std::int64_t id, const TFill& fill) {
    Table& t = s.tables[static_cast<std::size_t>(table)];
    const auto& f = t.def->fields;
    const std::int64_t rev = ++s.rev;
    auto [it, inserted] = t.rows.try_emplace(id);
    it->second.rev = rev;
    if (inserted) {
        it->second.seq = ++seq_;
    }
    fill(it->second.data);
    PutI64(it->second.data, f[kServiceId], id);
    PutI64(it->second.data, f[kServiceRev], rev);
    PutI64(it->second.data, f[kServiceAct], 0);
    for (Subscription* sub : s.subs) {
        SendRow(*sub, table, it->second);
    }
    if (inserted && t.cap != 0) {
        t.order.push_back(id);
        while (t.order.size() > t.cap) {
            t.rows.erase(t.order.front());
            t.order.pop_front();
        }
    }
}

bool Market::Delete(Stream& s, int table, std::int64_t id) {
    Table& t = s.tables[static_cast<std::size_t>(table)];
    auto it = t.rows.find(id);
    if (it == t.rows.end()) {
        return false;
    }
    Row row = std::move(it->second);
    t.rows.erase(it);
    row.rev = ++s.rev;
    const auto& f = t.def->fields;
    PutI64(row.data, f[kServiceRev], row.rev);
    PutI64(row.data, f[kServiceAct], id != 0 ? id : 1);
    for (Subscription* sub : s.subs) {
        SendRow(*sub, table, row);
    }
    return true;
}

void Market::ClearDeleted(Stream& s, int table, std::int64_t rev) {
    Table& t = s.tables[static_cast<std::size_t>(table)];
    for (auto it = t.rows.begin(); it != t.rows.end();) {
        it = it->second.rev < rev ? t.rows.erase(it) : std::next(it);
    }
    for (Subscription* sub : s.subs) {
        const int slot = sub->slotOf[static_cast<std::size_t>(table)];
        if (slot < 0) {
            continue;
        }
        wire::Writer w(sub->client->out);
        w.Begin(wire::Kind::ClearDeleted);
        w.Put<std::uint32_t>(sub->id);
        w.Put<std::uint16_t>(static_cast<std::uint16_t>(slot));
        w.Put<std::int64_t>(rev);
        w.End();
        ++counters_.frames;
    }
}

void Market::ReplState(Stream& s, std::string_view text) {
    for (Subscription* sub : s.subs) {
        wire::Writer w(sub->client->out);
        w.Begin(wire::Kind::ReplState);
        w.Put<std::uint32_t>(sub->id);
        w.Str(text);
        w.End();
        ++counters_.frames;
    }
}

void Market::SendSnapshot(Subscription& sub) {
    Stream& s = *sub.stream;
    std::vector<const Row*> order;
    for (std::size_t t = 0; t < s.tables.size(); ++t) {
        order.clear();
        for (const auto& [id, row] : s.tables[t].rows) {
            order.push_back(&row);
        }
        std::sort(order.begin(), order.end(),
                  [](const Row* a, const Row* b) { return a->seq < b->seq; });
        for (const Row* row : order) {
            SendRow(sub, static_cast<int>(t), *row);
        }
    }
    wire::Writer w(sub.client->out);
    w.Begin(wire::Kind::LifeNum);
    w.Put<std::uint32_t>(sub.id);
    w.Put<std::uint32_t>(s.life);
    w.Put<std::uint32_t>(1);
    w.End();
    w.Begin(wire::Kind::Online);
    w.Put<std::uint32_t>(sub.id);
    w.End();
    std::string state = "lifenum=" + std::to_string(s.life) + ";rev=" + std::to_string(s.rev);
    w.Begin(wire::Kind::ReplState);
    w.Put<std::uint32_t>(sub.id);
    w.Str(state);
    w.End();
    counters_.frames += 3;
    ++counters_.snapshots;
}

void Market::SetLife(Stream& s, std::uint32_t life) {
    s.life = life;
    for (Subscription* sub : s.subs) {
        wire::Writer w(sub->client->out);
        w.Begin(wire::Kind::LifeNum);
        w.Put<std::uint32_t>(sub->id);
        w.Put<std::uint32_t>(life);
        w.Put<std::uint32_t>(0);
        w.End();
        ++counters_.frames;
        SendSnapshot(*sub);
    }
}

bool Market::Subscribe(Client& c, std::uint32_t id, std::string_view stream, std::uint32_t life,
                       const std::vector<std::string>& tables, std::string& reason) {
    Stream* s = Find(stream);
    if (s == nullptr) {
        reason = "unknown stream " + std::string(stream);
        return false;
    }
    auto sub = std::make_unique<Subscription>();
    sub->client = &c;
    sub->id = id;
    sub->stream = s;
    sub->slotOf.assign(s->tables.size(), -1);
    for (std::size_t slot = 0; slot < tables.size(); ++slot) {
        const int t = TableIndex(*s, tables[slot]);
        if (t < 0) {
            reason = "stream " + std::string(stream) + " has no table " + tables[slot];
            return false;
        }
        sub->slotOf[static_cast<std::size_t>(t)] = static_cast<int>(slot);
    }
    Unsubscribe(c, id);
    wire::Writer w(c.out);
    w.Begin(wire::Kind::Opened);
    w.Put<std::uint32_t>(id);
    w.End();
    ++counters_.frames;
    if (life != s->life) {
        w.Begin(wire::Kind::LifeNum);
        w.Put<std::uint32_t>(id);
        w.Put<std::uint32_t>(s->life);
        w.Put<std::uint32_t>(0);
        w.End();
        ++counters_.frames;
    }
    s->subs.push_back(sub.get());
    SendSnapshot(*sub);
    subs_.push_back(std::move(sub));
    return true;
}

void Market::Unsubscribe(Client& c, std::uint32_t id) {
    for (auto it = subs_.begin(); it != subs_.end(); ++it) {
        Subscription* sub = it->get();
        if (sub->client == &c && sub->id == id) {
            auto& list = sub->stream->subs;
            list.erase(std::remove(list.begin(), list.end(), sub), list.end());
            subs_.erase(it);
            return;
        }
    }
}

void Market::DropClient(Client& c) {
    for (auto it = subs_.begin(); it != subs_.end();) {
        Subscription* sub = it->get();
        if (sub->client == &c) {
            auto& list = sub->stream->subs;
            list.erase(std::remove(list.begin(), list.end(), sub), list.end());
            it = subs_.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<SubscriptionInfo> Market::TakeSubscriptions() {
    std::vector<SubscriptionInfo> out;
    for (const auto& sub : subs_) {
        SubscriptionInfo info{sub->client, sub->id, sub->stream->def->name, {}};
        for (std::size_t t = 0; t < sub->slotOf.size(); ++t) {
            const int slot = sub->slotOf[t];
            if (slot < 0) {
                continue;
            }
            if (info.tables.size() <= static_cast<std::size_t>(slot)) {
                info.tables.resize(static_cast<std::size_t>(slot) + 1);
            }
            info.tables[static_cast<std::size_t>(slot)] = sub->stream->def->tables[t]->name;
        }
        out.push_back(std::move(info));
        auto& list = sub->stream->subs;
        list.erase(std::remove(list.begin(), list.end(), sub.get()), list.end());
    }
    subs_.clear();
    return out;
}

} // namespace vsim
