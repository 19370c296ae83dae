#include "store/Storage.h"

#include "store/FieldConversion.h"
#include "store/KeyTables.h"
#include "store/StorageImpl.h"

#include <atomic>
#include <limits>
#include <string_view>
#include <thread>

namespace vorlen {

using storage_detail::TChange;
using storage_detail::TTableFacts;

namespace {

static_assert(kKeyTableRefs.size() == kKeyTableCount);

int KeyTableNo(std::string_view stream, std::string_view table) {
    for (int k = 0; k < kKeyTableCount; ++k)
        if (kKeyTableRefs[static_cast<std::size_t>(k)].Stream == stream &&
            kKeyTableRefs[static_cast<std::size_t>(k)].Table == table)
            return k;
    return -1;
}

std::atomic<std::uint64_t> gGenerations{0};

const TRows& EmptyRows() {
    static const TRows empty;
    return empty;
}

} // namespace

TCGStorage::TCGStorage() : FImpl(std::make_unique<Impl>()) {
    // A snapshot that was never filled (generation 0) is always filled the first time.
    FImpl->ListsChanged();
}

TCGStorage::~TCGStorage() = default;

void TCGStorage::Impl::ListsChanged() {
    MarData.Generation = gGenerations.fetch_add(1, std::memory_order_relaxed) + 1;
}

void TCGStorage::SetStreams(const std::vector<std::string>& names) {
    TMutexGuard lock(FMutex);
    FImpl->ListsChanged();
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
    // A new follower asks again when the tables are described; until then each message is told.
    for (auto& tables : FImpl->Facts)
        for (TTableFacts& f : tables) {
            f.InBulk = false;
            f.FollowKeyBytes = 0;
        }
    // A follower attached after the streams were named still learns them.
    if (observer != nullptr && !FImpl->MarData.Streams.empty()) {
        std::vector<std::string> names;
        for (const TStream& stream : FImpl->MarData.Streams)
            names.push_back(stream.sName);
        observer->OnStreams(names);
    }
}

std::uint64_t TCGStorage::KeyTableChanges() const {
    return FImpl->KeyChanges.N.load(std::memory_order_acquire);
}

std::uint64_t TCGStorage::TableChanges(int no) const {
    if (no < 0 || no > kOptionsRefTable)
        return 0;
    return FImpl->TableChanges[static_cast<std::size_t>(no)].N.load(std::memory_order_acquire);
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
    d.ListsChanged();
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
        f.CountNo = f.KeyNo >= 0                  ? f.KeyNo
                    : name == "fut_sess_contents" ? kFuturesRefTable
                    : name == "opt_sess_contents" ? kOptionsRefTable
                                                  : -1;
        f.Heartbeat = name == "heartbeat";
        if (d.Observer != nullptr) { // observer hook
            const TStoreObserver::TFollow follow =
                d.Observer->OnTableDescribed(idx, t, *m, table.Values);
            // A follower asking for more than the store keeps gets nothing rather than less.
            if (follow.TrailerBytes > 0 && follow.TrailerBytes <= TStoreObserver::kMaxTrailer) {
                table.Values->SetTrailer(follow.TrailerBytes);
                f.InBulk = follow.InBulk;
                // A key the store cannot compare in one read is no key: every row is told.
                if (f.InBulk && follow.KeyBytes > 0 && follow.KeyBytes <= sizeof(std::uint64_t) &&
                    follow.KeyAt < std::numeric_limits<std::uint32_t>::max() / 2) {
                    f.FollowKeyAt = static_cast<std::uint32_t>(follow.KeyAt);
                    f.FollowKeyBytes = static_cast<std::uint32_t>(follow.KeyBytes);
                }
            }
        }
    }
}

void TCGStorage::UpdStrMsg(const cg_msg_streamdata_t& Msg, const TStreamData& strData) {
    TBatch one(*this);
    one.UpdStrMsg(Msg, strData);
    one.Release();
}

void TCGStorage::TBatch::UpdStrMsg(const cg_msg_streamdata_t& Msg, const TStreamData& strData) {
    if (strData.TableDecs.empty() || strData.SchemType != CG_SCHEME_BIN)
        return;
    if (FCount == kMessages)
        LetGo();
    if (!FHeld) {
        FStore.FMutex.Lock();
        FHeld = true;
    }
    ++FCount;
    Impl& d = *FStore.FImpl;
    d.Stage(Msg, strData);
    if (d.Woke) [[unlikely]] {
        d.Woke = false;
        FWoke = true;
    }
    if (FWoke && (!FYielded || (!FLate && FStore.FMutex.Awaited()))) [[unlikely]]
        LetExpertIn();
}

void TCGStorage::TBatch::LetExpertIn() {
    Impl& d = *FStore.FImpl;
    d.Flush();
    // Its instrument's rows may go on: its book is let be seen only whole.
    if (d.Followed(d.Fisin_id))
        return;
    LetGo();
    if (!FYielded) {
        // On a machine whose cores are all busy (this thread and the exchange's router, most
        // often) the woken expert would not run before this thread sleeps again.
        FYielded = true;
        std::this_thread::yield();
    }
    // A taker taken off its core while it waited would hold every later message up as long.
    if (!FStore.FMutex.HandOver(kHandOver))
        FLate = true;
}

void TCGStorage::TBatch::Release() {
    // The next batch starts afresh, also after a failure here.
    struct TAfresh {
        TBatch& B;
        ~TAfresh() { B.FWoke = B.FYielded = B.FLate = false; }
    } afresh{*this};
    LetGo();
}

void TCGStorage::TBatch::LetGo() {
    FCount = 0;
    if (!FHeld)
        return;
    FHeld = false;
    Impl& d = *FStore.FImpl;
    // Whatever the messages applied last woke is this batch's to let in, not the next one's.
    const auto woken = [&] {
        FWoke = FWoke || d.Woke;
        d.Woke = false;
    };
    try {
        d.Flush();
        if (d.Observer != nullptr) // observer hook
            d.TellStored();
    } catch (...) {
        d.Drop();
        if (d.Observer != nullptr) { // observer hook
            // The rows stored before the failure are the store's now: the follower hears of
            // them unless it fails again.
            try {
                d.TellStored();
            } catch (...) {
                d.StoredCount = 0;
                d.Latest = nullptr;
            }
            d.Observer->OnRunApplied();
        }
        woken();
        FStore.FMutex.Unlock();
        throw;
    }
    if (d.Observer != nullptr) // observer hook
        d.Observer->OnRunApplied();
    woken();
    FStore.FMutex.Unlock();
}

void TCGStorage::Impl::Stage(const cg_msg_streamdata_t& Msg, const TStreamData& strData) {
    const std::int32_t s = strData.Pos;
    if (Msg.msg_index >= strData.TableDecs.size() ||
        Msg.msg_index > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return;
    const auto t = static_cast<std::int32_t>(Msg.msg_index);
    // The facts stay put while the lock is held, so the waiting message may point at them.
    const TTableFacts& facts = FactsAt(s, t);
    if (facts.Source == nullptr || facts.Source != strData.TableDecs[Msg.msg_index])
        return;
    const auto* data = static_cast<const std::uint8_t*>(Msg.data);
    const std::size_t size = Msg.data_size;
    if (data == nullptr || size < facts.KeyEnd || size > std::numeric_limits<std::uint32_t>::max())
        return;

    // A table whose rows sit in the cache is not worth the copy: the message is applied now,
    // after those still waiting.
    if (facts.Rows->Near()) {
        Flush();
        std::int64_t key;
        std::memcpy(&key, data + facts.KeyAt, sizeof key);
        Apply(facts, s, t, key, data, size);
        return;
    }
    TStaged& in = Staged[(StagedFirst + StagedCount) % Staged.size()];
    in.Assign(data, size);
    in.Facts = &facts;
    in.Stream = s;
    in.Table = t;
    std::memcpy(&in.Key, data + facts.KeyAt, sizeof in.Key);
    facts.Rows->Prefetch(in.Key);
    ++StagedCount;
    // The message whose slot was asked for kRowAfter messages ago: its row is asked for now.
    if (StagedCount > kRowAfter) {
        const TStaged& next = Staged[(StagedFirst + StagedCount - 1 - kRowAfter) % Staged.size()];
        next.Facts->Rows->PrefetchRow(next.Key, next.Size());
    }
    if (StagedCount > kLead)
        ApplyOldest();
}

void TCGStorage::Impl::ApplyOldest() {
    TStaged& m = Staged[StagedFirst];
    // Taken off first, so that a message whose applying fails is not applied again.
    StagedFirst = (StagedFirst + 1) % Staged.size();
    --StagedCount;
    Apply(*m.Facts, m.Stream, m.Table, m.Key, m.Data(), m.Size());
    m.Trim();
}

void TCGStorage::Impl::Apply(const TTableFacts& facts, std::int32_t s, std::int32_t t,
                             std::int64_t key, const std::uint8_t* data, std::size_t size) {
    const TRowLayout* layout = facts.Layout;
    TRows& rows = *facts.Rows;
    const bool keep = layout->Keeps(data, size);
    Fisin_id = layout->IsinOf(data, size, Fisin_id);

    TRows::TRec* rec = rows.FindRec(key);
    const bool bulk = facts.InBulk && Observer != nullptr;
    // A new row's follower bytes start here and go into the row once it is inserted, so that a
    // follower that fails leaves no row behind.
    std::uint8_t* trailer = nullptr;
    // Whether the follower in bulk hears of the row this message stores now.
    bool tell = true;
    if (bulk) { // observer hook
        Wait(facts, s, t);
        if (rec != nullptr) {
            if (!keep) {
                // A row the follower may not have heard of yet may be among those waiting;
                // they are told while it is still there.
                if (facts.FollowKeyBytes == 0 || rows.TrailerZero(*rec)) {
                    TellStored();
                    Wait(facts, s, t);
                }
                if (Latest == rec)
                    Latest = nullptr;
                NoteGone(rows, *rec, key, false);
            } else if (facts.FollowKeyBytes != 0) {
                // Most messages of a busy table change a row in place and leave its key: this
                // comparison is all they cost the follower. The mark pays: bench_store's order
                // book ran at 1.90 of its baseline with it and 2.04 without (medians of six).
                if (SameKey(facts, rows, *rec, data, size)) [[likely]]
                    tell = false;
                else
                    NoteGone(rows, *rec, key, true);
            }
        }
    } else if (Observer != nullptr) { // observer hook
        if (rows.TrailerBytes() != 0) {
            if (rec != nullptr) {
                trailer = rows.TrailerOf(*rec);
            } else if (keep) {
                trailer = NewTrailer.data();
                std::memset(trailer, 0, rows.TrailerBytes());
            }
        }
        Observer->OnRow(s, t, {key, data, size, rows.View(rec), !keep, trailer});
    }
    if (keep && rec != nullptr) {
        rows.Refill(*rec, data, size);
        Changed(facts, s, t, TChange::Changed, rows.View(rec));
    } else if (keep && facts.Heartbeat) {
        // The heartbeat table keeps only its latest row; nothing watches it change.
        if (bulk && StoredFacts == &facts) {
            TellStored();
            Wait(facts, s, t);
        }
        rows.Clear();
        rec = rows.Insert(key, data, size, trailer);
    } else if (keep) {
        rec = rows.Insert(key, data, size, trailer);
        Changed(facts, s, t, TChange::Inserted, rows.View(rec));
    } else if (rec != nullptr) {
        Changed(facts, s, t, TChange::Deleted, rows.View(rec));
        rows.Unlink(rec);
    }
    if (bulk && keep) {
        Latest = rec;
        if (tell)
            NoteStored(rows, *rec, key);
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
    // The revision is in the copies of the lists that GetData hands out.
    d.ListsChanged();
    if (FImpl->Observer != nullptr) // observer hook
        FImpl->Observer->OnDeletedCleared(idx, static_cast<std::int32_t>(clear.table_idx), rev);
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
