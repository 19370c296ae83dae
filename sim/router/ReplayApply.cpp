// What each recorded record does to the router's replica of the day, and, while playing, what
// it sends the subscribers: the recorded streams' layouts mapped onto the catalogue's, rows kept
// in their arrival order, clears and life numbers as the terminal's store applies them.

#include "../common/Wire.h"
#include "Replay.h"

#include <algorithm>
#include <cstring>

namespace vsim {

namespace hist = vorlen::history;

namespace {

std::int64_t I64At(std::string_view bytes, std::uint32_t at) {
    std::int64_t v = 0;
    if (at + sizeof v <= bytes.size()) {
        std::memcpy(&v, bytes.data() + at, sizeof v);
    }
    return v;
}

bool MarketStream(std::uint16_t s) {
    return s != hist::kNoStream && s != hist::kTransactionStream;
}

// A recorded layout as the catalogue describes its own, to compare and convert by field name.
TableDef RecordedTable(const cg_message_desc_t& m) {
    TableDef t;
    t.name = m.name != nullptr ? m.name : "";
    t.size = static_cast<std::uint32_t>(m.size);
    std::size_t n = 0;
    for (const cg_field_desc_t* f = m.fields; f != nullptr && n < m.num_fields; f = f->next, ++n) {
        FieldDef d;
        d.name = f->name != nullptr ? f->name : "";
        d.type = f->fild_type != nullptr ? f->fild_type : "";
        d.size = static_cast<std::uint32_t>(f->size);
        d.offset = static_cast<std::uint32_t>(f->offset);
        t.fields.push_back(std::move(d));
    }
    return t;
}

} // namespace

std::shared_ptr<const ReplayStreamMap> Replay::MapScheme(std::string_view payload) {
    const auto scheme = hist::TRecordedScheme::Decode(payload);
    if (!scheme) {
        return nullptr;
    }
    const StreamDef* def = cat_.Stream(scheme->StreamName());
    if (def == nullptr) {
        badStream_ = "stream " + scheme->StreamName() + " of the recording is unknown here";
        return nullptr;
    }
    auto map = std::make_shared<ReplayStreamMap>();
    map->stream = static_cast<int>(def - cat_.Streams().data());
    const cg_scheme_desc_t& desc = scheme->Scheme();
    std::size_t n = 0;
    for (const cg_message_desc_t* m = desc.messages; m != nullptr && n < desc.num_messages;
         m = m->next, ++n) {
        const TableDef rec = RecordedTable(*m);
        ReplayTableMap tm;
        tm.table = def->Find(rec.name);
        tm.recSize = rec.size;
        if (tm.table >= 0) {
            const TableDef& own = *def->tables[static_cast<std::size_t>(tm.table)];
            tm.size = own.size;
            tm.same = SameLayout(rec, own);
            if (!tm.same) {
                tm.plan = PlanCopy(rec, own);
            }
            const FieldDef* id = rec.Field("replID");
            const FieldDef* rev = rec.Field("replRev");
            const FieldDef* act = rec.Field("replAct");
            if (id == nullptr || rev == nullptr || act == nullptr ||
                tm.plan.size() > own.fields.size()) {
                badStream_ =
                    "table " + rec.name + " of " + def->name + " has no replication fields";
                return nullptr;
            }
            tm.idAt = id->offset;
            tm.revAt = rev->offset;
            tm.actAt = act->offset;
        }
        map->tables.push_back(std::move(tm));
    }
    return map;
}

void Replay::Apply(ReplayState& st, const hist::TRecordView& r, bool publish) {
    ++st.applied;
    st.sameTimeAt = r.TimeNs == st.lastNs ? st.sameTimeAt + 1 : 1;
    st.lastNs = r.TimeNs;
    if (!MarketStream(r.Stream)) {
        return;
    }
    if (r.Kind == hist::TRecordKind::StreamOpen) {
        if (r.Stream >= st.maps.size()) {
            st.maps.resize(r.Stream + 1u);
        }
        st.maps[r.Stream] = MapScheme(r.Payload);
        if (!st.maps[r.Stream]) {
            return;
        }
        // The listener opened again: the terminal's tables of the stream start empty.
        const int s = st.maps[r.Stream]->stream;
        ReplayStreamState& ss = st.streams[static_cast<std::size_t>(s)];
        bool had = false;
        for (auto& t : ss.tables) {
            had = had || !t.empty();
            t.Clear();
        }
        ss.online = false;
        if (publish && s == trader_->BookStream()) {
            trader_->BookReset();
        }
        if (publish && had) {
            for (const auto& sub : subs_) {
                if (sub->stream == s) {
                    wire::Writer w(sub->client->out);
                    w.Begin(wire::Kind::LifeNum);
                    w.Put<std::uint32_t>(sub->id);
                    w.Put<std::uint32_t>(ss.life);
                    w.Put<std::uint32_t>(0);
                    w.End();
                }
            }
        }
        return;
    }
    if (r.Stream >= st.maps.size() || !st.maps[r.Stream]) {
        return;
    }
    const ReplayStreamMap& map = *st.maps[r.Stream];
    ReplayStreamState& ss = st.streams[static_cast<std::size_t>(map.stream)];
    const auto each = [&](auto&& send) {
        if (publish) {
            for (const auto& sub : subs_) {
                if (sub->stream == map.stream) {
                    send(*sub);
                }
            }
        }
    };
    switch (r.Kind) {
    case hist::TRecordKind::StreamData:
        ApplyRow(st, map, r, publish);
        return;
    case hist::TRecordKind::LifeNum: {
        if (r.Payload.size() < 8) {
            return;
        }
        std::uint32_t life = 0, flags = 0;
        std::memcpy(&life, r.Payload.data(), 4);
        std::memcpy(&flags, r.Payload.data() + 4, 4);
        ss.life = life;
        if (flags != 1) {
            for (auto& t : ss.tables) {
                t.Clear();
            }
            if (publish && map.stream == trader_->BookStream()) {
                trader_->BookReset();
            }
        }
        each([&](const Sub& sub) {
            wire::Writer w(sub.client->out);
            w.Begin(wire::Kind::LifeNum);
            w.Put<std::uint32_t>(sub.id);
            w.Put<std::uint32_t>(life);
            w.Put<std::uint32_t>(flags);
            w.End();
        });
        return;
    }
    case hist::TRecordKind::ClearDeleted: {
        if (r.Payload.size() < 12) {
            return;
        }
        std::uint32_t idx = 0;
        std::int64_t rev = 0;
        std::memcpy(&idx, r.Payload.data(), 4);
        std::memcpy(&rev, r.Payload.data() + 4, 8);
        if (idx >= map.tables.size() || map.tables[idx].table < 0) {
            return;
        }
        const int t = map.tables[idx].table;
        auto& rows = ss.tables[static_cast<std::size_t>(t)];
        rows.EraseIf([&](const ReplayRow& row) { return row.rev < rev; });
        if (publish && map.stream == trader_->BookStream()) {
            trader_->BookReset();
        }
        each([&](const Sub& sub) {
            const int slot = sub.slotOf[static_cast<std::size_t>(t)];
            if (slot < 0) {
                return;
            }
            wire::Writer w(sub.client->out);
            w.Begin(wire::Kind::ClearDeleted);
            w.Put<std::uint32_t>(sub.id);
            w.Put<std::uint16_t>(static_cast<std::uint16_t>(slot));
            w.Put<std::int64_t>(rev);
            w.End();
        });
        return;
    }
    case hist::TRecordKind::Online:
        ss.online = true;
        each([&](const Sub& sub) {
            wire::Writer w(sub.client->out);
            w.Begin(wire::Kind::Online);
            w.Put<std::uint32_t>(sub.id);
            w.End();
        });
        return;
    case hist::TRecordKind::Offline:
        ss.online = false;
        return;
    case hist::TRecordKind::ReplState: {
        std::string_view text = r.Payload;
        while (!text.empty() && text.back() == '\0') {
            text.remove_suffix(1);
        }
        each([&](const Sub& sub) {
            wire::Writer w(sub.client->out);
            w.Begin(wire::Kind::ReplState);
            w.Put<std::uint32_t>(sub.id);
            w.Str(text);
            w.End();
        });
        return;
    }
    default:
        return;
    }
}

void Replay::ApplyRow(ReplayState& st, const ReplayStreamMap& map, const hist::TRecordView& r,
                      bool publish) {
    const auto data = hist::DecodeStreamData(r.Payload);
    if (!data || r.Table >= map.tables.size()) {
        return;
    }
    const ReplayTableMap& tm = map.tables[r.Table];
    if (tm.table < 0 || data->Bytes.size() < tm.recSize) {
        return;
    }
    ReplayStreamState& ss = st.streams[static_cast<std::size_t>(map.stream)];
    auto& rows = ss.tables[static_cast<std::size_t>(tm.table)];
    ss.rev = std::max(ss.rev, data->Rev);
    const std::int64_t id = I64At(data->Bytes, tm.idAt);
    const bool deleted = I64At(data->Bytes, tm.actAt) != 0;
    std::string converted;
    const std::string* out = &converted;
    // The trader's engines follow the recorded book only while there are orders to fill.
    const bool book = publish && trader_->Watching() && map.stream == trader_->BookStream() &&
                      tm.table == trader_->BookTable();
    std::optional<std::string> before;
    if (book) {
        if (const ReplayRow* row = rows.Find(id)) {
            before = row->data;
        }
    }
    if (deleted) {
        rows.Erase(id);
    }
    if (tm.same) {
        converted.assign(data->Bytes.data(), tm.size);
    } else {
        converted.assign(tm.size, '\0');
        for (const CopyStep& c : tm.plan) {
            std::memcpy(&converted[c.to], data->Bytes.data() + c.from, c.size);
        }
    }
    if (!deleted && publish) {
        // Applied without sending (a seek, a file's first reading), rows are adjusted once the
        // target is reached.
        trader_->Adjust(map.stream, tm.table, converted);
    }
    if (!deleted) {
        bool inserted = false;
        ReplayRow& row = rows.Put(id, inserted);
        if (inserted) {
            row.seq = ++st.seq;
        }
        row.rev = data->Rev;
        row.data = std::move(converted);
        out = &row.data;
    }
    if (!publish) {
        return;
    }
    for (const auto& sub : subs_) {
        if (sub->stream == map.stream) {
            SendRow(*sub, tm.table, data->Rev, *out);
        }
    }
    if (book) {
        trader_->BookRow(before ? &*before : nullptr, deleted ? nullptr : out);
    } else if (!deleted && trader_->Watching() && map.stream == trader_->DealStream() &&
               tm.table == trader_->DealTable()) {
        trader_->DealRow(*out);
    }
    if (tm.table == heartbeatTable_[static_cast<std::size_t>(map.stream)]) {
        lastHeartbeat_ = Clock::now();
    }
}

} // namespace vsim
