#include "store/Storage.h"

#include "store/FieldConversion.h"
#include "store/KeyTables.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

namespace vorlen {

namespace {

static_assert(kKeyTableRefs.size() == kKeyTableCount);

struct TTablePos {
    std::int32_t Str = -1;
    std::int32_t Tbl = -1;
};

// What the store needs to know of a table for every message, found once when it is described.
struct TTableFacts {
    // The table's rows and their layout, found here rather than through the stream and table
    // records for every message; both live as long as the table's description.
    TRows* Rows = nullptr;
    const TRowLayout* Layout = nullptr;
    // The description the layout was built from; null for a table without fields. A message
    // read by any other description is ignored, as its bytes would not fit the layout.
    const cg_message_desc_t* Source = nullptr;
    std::size_t KeyAt = 0;         // where the replication id sits in a message
    std::size_t KeyEnd = SIZE_MAX; // the message size that holds it
    int KeyNo = -1;                // its number among the key tables, -1 for any other table
    int CountNo = -1; // which of TableChanges counts it: KeyNo, kFuturesRefTable or none
    bool Heartbeat = false;
};

// How a message or a clear changed a table.
enum class TChange { Inserted, Changed, Deleted, Cleared };

int KeyTableNo(std::string_view stream, std::string_view table) {
    for (int k = 0; k < kKeyTableCount; ++k)
        if (kKeyTableRefs[static_cast<std::size_t>(k)].Stream == stream &&
            kKeyTableRefs[static_cast<std::size_t>(k)].Table == table)
            return k;
    return -1;
}

const TRows& EmptyRows() {
    static const TRows empty;
    return empty;
}

} // namespace

struct TCGStorage::Impl {
    TMarketData MarData;
    // Per stream and table, alongside MarData.Streams[s].Tables[t].
    std::vector<std::vector<TTableFacts>> Facts;
    std::array<TTablePos, kKeyTableCount> KeyPos;
    std::array<TEvent, kKeyTableCount> GridEvents;
    // Expert registrations in the order they were made; a handful at most, so a scan is the
    // cheapest lookup, and it keeps two experts on one instrument apart.
    std::vector<std::pair<std::int32_t, TEvent>> ListEvents;
    std::int32_t Fisin_id = 0;
    TEvent FEvent;
    bool CLTFut = false;
    TStoreObserver* Observer = nullptr; // observer hook
    // Changes to the key tables' rows and descriptions, read without the lock (KeyTableChanges).
    std::atomic<std::uint64_t> KeyChanges{0};
    std::array<std::atomic<std::uint64_t>, kKeyTableCount + 1> TableChanges{};

    // Only holders of the lock write the counts, so a plain store does: an atomic add's locked
    // instruction would first wait for every store before it, the row copy's cache misses
    // among them, where a plain store lets them drain while the next message is read.
    static void Bump(std::atomic<std::uint64_t>& count) {
        count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    void CountAll() {
        Bump(KeyChanges);
        for (auto& c : TableChanges)
            Bump(c);
    }

    TTable* TableAt(std::int32_t s, std::int64_t t) {
        if (s < 0 || static_cast<std::size_t>(s) >= MarData.Streams.size())
            return nullptr;
        auto& tables = MarData.Streams[static_cast<std::size_t>(s)].Tables;
        if (t < 0 || static_cast<std::uint64_t>(t) >= tables.size())
            return nullptr;
        return &tables[static_cast<std::size_t>(t)];
    }

    TTable* KeyTable(std::int32_t no) {
        if (no < 0 || no >= kKeyTableCount)
            return nullptr;
        const TTablePos& p = KeyPos[static_cast<std::size_t>(no)];
        return TableAt(p.Str, p.Tbl);
    }

    const TTableFacts& FactsAt(std::int32_t s, std::int64_t t) const {
        static const TTableFacts kNone;
        const auto si = static_cast<std::size_t>(s);
        const auto ti = static_cast<std::uint64_t>(t);
        return si < Facts.size() && ti < Facts[si].size() ? Facts[si][ti] : kNone;
    }

    // Applies one stream-data message under the lock.
    inline void Apply(const cg_msg_streamdata_t& msg, const TStreamData& strData);

    // Every change to a table's rows passes here, once per operation. A deleted row is still
    // readable through `row` (null for a clear). A key table's first row gives it its position
    // (GetTable finds it from then on); any change to its rows wakes its grid, so rows changed
    // in place or removed are shown too. Signals to one event coalesce.
    void Changed(const TTableFacts& facts, std::int32_t s, std::int32_t t, TChange change,
                 [[maybe_unused]] const TRowView& row) {
        if (facts.CountNo >= 0)
            Bump(TableChanges[static_cast<std::size_t>(facts.CountNo)]);
        if (facts.KeyNo < 0)
            return;
        const auto k = static_cast<std::size_t>(facts.KeyNo);
        if (change == TChange::Inserted)
            KeyPos[k] = {s, t};
        Bump(KeyChanges);
        GridEvents[k].Set();
    }

    void WakeExperts() {
        for (const auto& [key, event] : ListEvents) {
            if (key == Fisin_id) {
                FEvent = event;
                event.Set();
            }
        }
    }

    bool BuildFutures(const TRows& rows);
    bool BuildOptions(const TRows& rows);
    bool BuildSpot(const TRows& rows);
};

TCGStorage::TCGStorage() : FImpl(std::make_unique<Impl>()) {}

TCGStorage::~TCGStorage() = default;

void TCGStorage::SetStreams(const std::vector<std::string>& names) {
    TMutexGuard lock(FMutex);
    auto& streams = FImpl->MarData.Streams;
    streams.resize(names.size());
    FImpl->Facts.resize(names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        streams[i].sName = names[i];
    if (FImpl->Observer != nullptr) // observer hook
        FImpl->Observer->OnStreams(names);
}

void TCGStorage::SetObserver(TStoreObserver* observer) {
    TMutexGuard lock(FMutex);
    FImpl->Observer = observer;
    // A follower attached after the streams were named still learns them.
    if (observer != nullptr && !FImpl->MarData.Streams.empty()) {
        std::vector<std::string> names;
        for (const TStream& stream : FImpl->MarData.Streams)
            names.push_back(stream.sName);
        observer->OnStreams(names);
    }
}

std::uint64_t TCGStorage::KeyTableChanges() const {
    return FImpl->KeyChanges.load(std::memory_order_acquire);
}

std::uint64_t TCGStorage::TableChanges(int no) const {
    if (no < 0 || no > kFuturesRefTable)
        return 0;
    return FImpl->TableChanges[static_cast<std::size_t>(no)].load(std::memory_order_acquire);
}

void TCGStorage::SetCLTFut(bool on) {
    TMutexGuard lock(FMutex);
    FImpl->CLTFut = on;
}

void TCGStorage::SetGridEvents(const std::array<TEvent, kKeyTableCount>& events) {
    TMutexGuard lock(FMutex);
    FImpl->GridEvents = events;
}

void TCGStorage::RegEvent(std::int32_t Key, TEvent Event) {
    TMutexGuard lock(FMutex);
    FImpl->ListEvents.emplace_back(Key, Event);
}

void TCGStorage::UnregEvent(std::int32_t Key, TEvent Event) {
    TMutexGuard lock(FMutex);
    auto& list = FImpl->ListEvents;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->first == Key && it->second == Event) {
            list.erase(it);
            break;
        }
    }
    if (FImpl->FEvent == Event)
        FImpl->FEvent = TEvent();
}

void TCGStorage::SetTblsDesc(std::int32_t idx, TStreamData& StrData,
                             const cg_scheme_desc_t& Scheme) {
    // The listener's record and the new layouts are ours alone; only the replica needs the lock.
    // Counting the list keeps a num_messages that promises more than the list holds from sizing
    // tables that have no description.
    std::size_t count = 0;
    for (const cg_message_desc_t* m = Scheme.messages; m != nullptr && count < Scheme.num_messages;
         m = m->next)
        ++count;
    StrData.TableDecs.assign(count, nullptr);
    std::vector<std::shared_ptr<const TRowLayout>> layouts;
    layouts.reserve(count);
    cg_message_desc_t* m = Scheme.messages;
    for (std::size_t i = 0; i < count; ++i, m = m->next) {
        layouts.push_back(std::make_shared<const TRowLayout>(*m));
        StrData.SchemType = Scheme.scheme_type;
        StrData.TableDecs[i] = m;
    }

    // The rows of the tables described before are freed after the lock is let go.
    std::vector<TRows::TGarbage> garbage;
    garbage.reserve(count);
    TMutexGuard lock(FMutex);
    auto& d = *FImpl;
    d.CountAll();
    if (idx < 0 || static_cast<std::size_t>(idx) >= d.MarData.Streams.size())
        return;
    TStream& stream = d.MarData.Streams[static_cast<std::size_t>(idx)];
    auto& tables = stream.Tables;
    tables.resize(count);
    auto& facts = d.Facts[static_cast<std::size_t>(idx)];
    facts.assign(count, TTableFacts{});
    m = Scheme.messages;
    for (std::size_t i = 0; i < count; ++i, m = m->next) {
        const std::string_view name = m->name != nullptr ? m->name : "";
        const auto t = static_cast<std::int32_t>(i);
        if (name == "fut_sess_contents") {
            d.MarData.FutSPos = idx;
            d.MarData.FutTpos = t;
        } else if (name == "opt_sess_contents") {
            d.MarData.OptSpos = idx;
            d.MarData.OptTpos = t;
        } else if (name == "fut_bond_registry") {
            d.MarData.SpotSpos = idx;
            d.MarData.SpotTpos = t;
        }
        // The stream's own name, given with SetStreams, tells the key tables.
        TTable& table = tables[i];
        table.tIdx = t;
        table.tName = name;
        // The same row set object stays with the table, so snapshots taken before the listener
        // reopened keep seeing the live rows rather than a dropped set.
        if (table.Values) {
            garbage.push_back(table.Values->TakeAll());
            table.Values->Reset(std::move(layouts[i]));
        } else
            table.Values = std::make_shared<TRows>(std::move(layouts[i]));
        const TRowLayout& layout = *table.Values->Layout();
        TTableFacts& f = facts[i];
        f.Rows = table.Values.get();
        f.Layout = &layout;
        if (layout.Count() > 0) {
            f.Source = layout.Source();
            f.KeyAt = layout.Desc(0).offset;
            if (f.KeyAt < SIZE_MAX - sizeof(std::int64_t))
                f.KeyEnd = f.KeyAt + sizeof(std::int64_t);
        }
        f.KeyNo = KeyTableNo(stream.sName, name);
        f.CountNo = f.KeyNo >= 0 ? f.KeyNo : name == "fut_sess_contents" ? kFuturesRefTable : -1;
        f.Heartbeat = name == "heartbeat";
        if (d.Observer != nullptr) // observer hook
            d.Observer->OnTableDescribed(idx, t, *m);
    }
}

void TCGStorage::UpdStrMsg(const cg_msg_streamdata_t& Msg, const TStreamData& strData) {
    TBatch one(*this);
    one.UpdStrMsg(Msg, strData);
}

void TCGStorage::TBatch::UpdStrMsg(const cg_msg_streamdata_t& Msg, const TStreamData& strData) {
    if (strData.TableDecs.empty() || strData.SchemType != CG_SCHEME_BIN)
        return;
    if (FCount == kMessages)
        Release();
    if (!FHeld) {
        FStore.FMutex.Lock();
        FHeld = true;
    }
    ++FCount;
    FStore.FImpl->Apply(Msg, strData);
}

void TCGStorage::TBatch::Release() {
    if (FHeld) {
        FHeld = false;
        FStore.FMutex.Unlock();
    }
    FCount = 0;
}

void TCGStorage::Impl::Apply(const cg_msg_streamdata_t& Msg, const TStreamData& strData) {
    const std::int32_t s = strData.Pos;
    if (Msg.msg_index >= strData.TableDecs.size() ||
        Msg.msg_index > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return;
    const auto t = static_cast<std::int32_t>(Msg.msg_index);
    const TTableFacts& facts = FactsAt(s, t);
    if (facts.Source == nullptr || facts.Source != strData.TableDecs[Msg.msg_index])
        return;
    const TRowLayout* layout = facts.Layout;
    TRows& rows = *facts.Rows;
    const auto* data = static_cast<const std::uint8_t*>(Msg.data);
    const std::size_t size = Msg.data_size;
    if (data == nullptr || size < facts.KeyEnd || size > std::numeric_limits<std::uint32_t>::max())
        return;
    std::int64_t key;
    std::memcpy(&key, data + facts.KeyAt, sizeof key);
    // The row's slot is on its way from memory while the message is looked at.
    rows.Prefetch(key);

    const bool keep = layout->Keeps(data, size);
    Fisin_id = layout->IsinOf(data, size, Fisin_id);

    TRows::TRec* rec = rows.FindRec(key);
    if (Observer != nullptr) // observer hook
        Observer->OnRow(s, t, {key, data, size, rows.View(rec), !keep});
    if (keep && rec != nullptr) {
        rows.Refill(*rec, data, size);
        Changed(facts, s, t, TChange::Changed, rows.View(rec));
    } else if (keep && facts.Heartbeat) {
        // The heartbeat table keeps only its latest row; nothing watches it change.
        rows.Clear();
        rows.Insert(key, data, size);
    } else if (keep) {
        rec = rows.Insert(key, data, size);
        Changed(facts, s, t, TChange::Inserted, rows.View(rec));
    } else if (rec != nullptr) {
        Changed(facts, s, t, TChange::Deleted, rows.View(rec));
        rows.Unlink(rec);
    }
    WakeExperts();
}

void TCGStorage::LNClearTables(std::int32_t idx) {
    // A million rows take longer to free than the lock may be held: they are freed after it.
    std::vector<TRows::TGarbage> garbage;
    TMutexGuard lock(FMutex);
    auto& d = *FImpl;
    auto& streams = d.MarData.Streams;
    if (idx < 0 || static_cast<std::size_t>(idx) >= streams.size())
        return;
    auto& tables = streams[static_cast<std::size_t>(idx)].Tables;
    garbage.reserve(tables.size());
    for (std::size_t i = 0; i < tables.size(); ++i) {
        if (!tables[i].Values)
            continue;
        const bool had = !tables[i].Values->Empty();
        garbage.push_back(tables[i].Values->TakeAll());
        if (had)
            d.Changed(d.FactsAt(idx, static_cast<std::int32_t>(i)), idx,
                      static_cast<std::int32_t>(i), TChange::Cleared, TRowView());
    }
    if (d.Observer != nullptr) // observer hook
        d.Observer->OnStreamCleared(idx);
}

void TCGStorage::ClearDeleted(std::int32_t idx, const void* ClDel, std::size_t size) {
    if (ClDel == nullptr || size < sizeof(cg_data_cleardeleted_t))
        return;
    cg_data_cleardeleted_t clear;
    std::memcpy(&clear, ClDel, sizeof clear);
    const std::int64_t rev = clear.table_rev;

    TMutexGuard lock(FMutex);
    auto& d = *FImpl;
    TTable* table = d.TableAt(idx, clear.table_idx);
    if (table == nullptr)
        return;
    if (table->Values) {
        const auto t = static_cast<std::int32_t>(clear.table_idx);
        const TTableFacts& facts = d.FactsAt(idx, t);
        if (const int pos = table->Values->IndexOf("replRev"); pos >= 0)
            table->Values->RemoveIf([&](const TRowView& row) {
                if (VarAsInt64(row.Value(pos)) >= rev)
                    return false;
                d.Changed(facts, idx, t, TChange::Deleted, row);
                return true;
            });
    }
    table->Rev = rev == std::numeric_limits<std::int64_t>::max() ? 0 : rev;
    if (FImpl->Observer != nullptr) // observer hook
        FImpl->Observer->OnDeletedCleared(idx, static_cast<std::int32_t>(clear.table_idx), rev);
}

namespace {

// Positions of the fields an instrument list reads; -1 for one the table lacks.
template <std::size_t N>
std::array<int, N> Positions(const TRows& rows, const char* const (&names)[N]) {
    std::array<int, N> pos{};
    for (std::size_t i = 0; i < N; ++i)
        pos[i] = rows.IndexOf(names[i]);
    return pos;
}

template <std::size_t N>
bool AllFound(const std::array<int, N>& pos) {
    for (int p : pos)
        if (p < 0)
            return false;
    return true;
}

std::string Text(const TRowView& row, int pos) {
    return ValueToStr(row.Value(pos));
}

} // namespace

// Every row of a table has the same fields, so a field missing from the table is missing from
// the first row that needs it: the list keeps its full length with the entries before that row
// filled and the rest empty.
bool TCGStorage::Impl::BuildFutures(const TRows& rows) {
    const std::size_t n = rows.Size();
    if (n == 0)
        return true;
    THeaders& list = MarData.FutHdr;
    list.assign(n, THeader{});
    const int isin = rows.IndexOf("isin");
    if (isin < 0)
        return false;
    static const char* const kNames[] = {"isin_id", "short_isin", "name"};
    const auto pos = Positions(rows, kNames);
    std::size_t i = 0;
    for (const TRowView row : rows) {
        std::string code = Text(row, isin);
        if (CLTFut && code.find("_CLT") != std::string::npos)
            continue;
        if (!AllFound(pos))
            return false;
        THeader& h = list[i++];
        h.isin = std::move(code);
        h.isin_id = VarAsInteger(row.Value(pos[0]));
        h.short_isin = Text(row, pos[1]);
        h.name = Text(row, pos[2]);
    }
    list.resize(i);
    return true;
}

bool TCGStorage::Impl::BuildOptions(const TRows& rows) {
    const std::size_t n = rows.Size();
    if (n == 0)
        return true;
    THeaders& list = MarData.OptHdr;
    list.assign(n, THeader{});
    static const char* const kNames[] = {"isin_id", "short_isin", "isin", "name"};
    const auto pos = Positions(rows, kNames);
    if (!AllFound(pos))
        return false;
    std::size_t i = 0;
    for (const TRowView row : rows) {
        THeader& h = list[i++];
        h.isin_id = VarAsInteger(row.Value(pos[0]));
        h.short_isin = Text(row, pos[1]);
        h.isin = Text(row, pos[2]);
        h.name = Text(row, pos[3]);
    }
    return true;
}

bool TCGStorage::Impl::BuildSpot(const TRows& rows) {
    const std::size_t n = rows.Size();
    if (n == 0)
        return true;
    TSHeaders& list = MarData.SpotHdr;
    list.assign(n, TSpotHeader{});
    static const char* const kNames[] = {"bond_id", "small_name", "short_isin", "name"};
    const auto pos = Positions(rows, kNames);
    if (!AllFound(pos))
        return false;
    std::size_t i = 0;
    for (const TRowView row : rows) {
        TSpotHeader& h = list[i++];
        h.bond_id = VarAsInteger(row.Value(pos[0]));
        h.small_name = Text(row, pos[1]);
        h.short_isin = Text(row, pos[2]);
        h.name = Text(row, pos[3]);
    }
    return true;
}

bool TCGStorage::BuildHeaders() {
    using TPass = bool (Impl::*)(const TRows&);
    struct TStep {
        std::int32_t TMarketData::*Str;
        std::int32_t TMarketData::*Tbl;
        TPass Pass;
    };
    static constexpr TStep kSteps[] = {
        {&TMarketData::FutSPos, &TMarketData::FutTpos, &Impl::BuildFutures},
        {&TMarketData::OptSpos, &TMarketData::OptTpos, &Impl::BuildOptions},
        {&TMarketData::SpotSpos, &TMarketData::SpotTpos, &Impl::BuildSpot},
    };
    for (const TStep& step : kSteps) {
        // Each list under a lock span of its own, so the market-data thread is held up for one
        // table at a time.
        TMutexGuard lock(FMutex);
        auto& d = *FImpl;
        const std::int32_t s = d.MarData.*step.Str;
        const std::int32_t t = d.MarData.*step.Tbl;
        if (s < 0 || t < 0)
            continue;
        const TTable* table = d.TableAt(s, t);
        if (table == nullptr || !table->Values)
            continue;
        if (!(d.*step.Pass)(*table->Values))
            return false;
    }
    return true;
}

void TCGStorage::GetData(TMarketData& Data) {
    TMutexGuard lock(FMutex);
    const TMarketData& m = FImpl->MarData;
    Data.FutSPos = m.FutSPos;
    Data.FutTpos = m.FutTpos;
    Data.OptSpos = m.OptSpos;
    Data.OptTpos = m.OptTpos;
    Data.SpotSpos = m.SpotSpos;
    Data.SpotTpos = m.SpotTpos;
    Data.FutHdr = m.FutHdr;
    Data.OptHdr = m.OptHdr;
    Data.SpotHdr = m.SpotHdr;
    // Names and row-set handles only; the rows themselves stay shared.
    Data.Streams = m.Streams;
}

void TCGStorage::GetHeaders(THeaders& FHdr, THeaders& OHdr, TSHeaders& SHdr) {
    TMutexGuard lock(FMutex);
    FHdr = FImpl->MarData.FutHdr;
    OHdr = FImpl->MarData.OptHdr;
    SHdr = FImpl->MarData.SpotHdr;
}

void TCGStorage::GetTable(std::int32_t no, TTable& Table) {
    TMutexGuard lock(FMutex);
    // A key table that has no row yet has no position: the caller's record stays as it was.
    if (const TTable* table = FImpl->KeyTable(no)) {
        Table.tName = table->tName;
        Table.tIdx = table->tIdx;
        Table.Rev = table->Rev;
        Table.Values = table->Values;
    }
}

bool TCGStorage::RemoveRow(std::int32_t no, std::int64_t replId) {
    TMutexGuard lock(FMutex);
    const TTable* table = FImpl->KeyTable(no);
    return table != nullptr && table->Values && table->Values->Remove(replId);
}

const TRows& TCGStorage::TAccess::Rows(const TTable& table) const {
    return table.Values ? *table.Values : EmptyRows();
}

bool TCGStorage::TAccess::Remove(const TTable& table, std::int64_t replId) {
    return table.Values && table.Values->Remove(replId);
}

} // namespace vorlen
