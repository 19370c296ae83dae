#pragma once

// The replica store's own state, shared by the files that implement TCGStorage (Storage.cpp,
// StorageHeaders.cpp); nothing else includes it.

#include "platform/Compiler.h"
#include "store/Poison.h"
#include "store/Storage.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace vorlen {

namespace storage_detail {

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
    int CountNo = -1; // which of TableChanges counts it: KeyNo, a reference table's or none
    bool Heartbeat = false;
    bool InBulk = false; // the follower hears of stored rows in bulk (TStoreObserver::TFollow)
    // The follower's key in a message (TStoreObserver::TFollow); KeyBytes 0 for none.
    std::uint32_t FollowKeyAt = 0;
    std::uint32_t FollowKeyBytes = 0;
};

// How a message or a clear changed a table.
enum class TChange { Inserted, Changed, Deleted, Cleared };

// Room a staging buffer starts with: a row of any table the exchange describes fits, so a
// buffer is allocated once. One that grew past the largest is given back after its message.
constexpr std::size_t kStagedBytes = 1024;
constexpr std::size_t kStagedKeep = std::size_t{64} * 1024;

// A stream-data message of a batch, waiting to be applied: a copy of its bytes (the gateway's
// buffer lives only as long as its callback) and what was found of its table when it came.
// The buffer's bytes past the message are poisoned, so a read beyond the message is reported
// under AddressSanitizer as one beyond the gateway's buffer would be.
class TStaged {
public:
    TStaged() = default;
    TStaged(const TStaged&) = delete;
    TStaged& operator=(const TStaged&) = delete;
    ~TStaged() { Unpoison(FBytes.get(), FCapacity); }

    const TTableFacts* Facts = nullptr;
    std::int32_t Stream = 0;
    std::int32_t Table = 0;
    std::int64_t Key = 0;

    const std::uint8_t* Data() const { return FBytes.get(); }
    std::size_t Size() const { return FSize; }
    void Assign(const std::uint8_t* data, std::size_t size) {
        if (size > FCapacity)
            Allocate(std::max(size, kStagedBytes));
        Unpoison(FBytes.get(), FCapacity);
        std::memcpy(FBytes.get(), data, size);
        FSize = size;
        Poison(FBytes.get() + size, FCapacity - size);
    }
    // Gives an outsize buffer back once its message is applied.
    void Trim() {
        if (FCapacity > kStagedKeep)
            Allocate(0);
    }

private:
    void Allocate(std::size_t capacity) {
        Unpoison(FBytes.get(), FCapacity);
        FBytes.reset();
        FCapacity = 0;
        FSize = 0;
        if (capacity > 0)
            FBytes.reset(new std::uint8_t[capacity]);
        FCapacity = capacity;
    }
    std::unique_ptr<std::uint8_t[]> FBytes;
    std::size_t FCapacity = 0;
    std::size_t FSize = 0;
};

} // namespace storage_detail

struct TCGStorage::Impl {
    using TTableFacts = storage_detail::TTableFacts;
    using TTablePos = storage_detail::TTablePos;
    using TStaged = storage_detail::TStaged;
    using TChange = storage_detail::TChange;

    // Changes to the key tables' rows and descriptions, read without the lock (KeyTableChanges).
    // Each on a cache line of its own: the order path reads a few of them before every order,
    // and one that another table's rows keep changing must not take theirs from its cache.
    struct alignas(64) TCount {
        std::atomic<std::uint64_t> N{0};
    };
    TCount KeyChanges;
    std::array<TCount, TCGStorage::kOptionsRefTable + 1> TableChanges{};

    TMarketData MarData;
    // After any change to MarData: a new generation, unique across stores.
    void ListsChanged();
    // Per stream and table, alongside MarData.Streams[s].Tables[t].
    std::vector<std::vector<TTableFacts>> Facts;
    std::array<TTablePos, kKeyTableCount> KeyPos;
    std::array<TEvent, kKeyTableCount> GridEvents;
    // Expert registrations in the order they were made; a handful at most, so a scan is the
    // cheapest lookup, and it keeps two experts on one instrument apart.
    std::vector<std::pair<std::int32_t, TEvent>> ListEvents;
    std::int32_t Fisin_id = 0;
    TEvent FEvent;
    // An expert was woken since the feeding thread last looked (TBatch).
    bool Woke = false;
    bool CLTFut = false;
    TStoreObserver* Observer = nullptr; // observer hook
    // A new row's follower bytes, until the row is inserted.
    alignas(8) std::array<std::uint8_t, TStoreObserver::kMaxTrailer> NewTrailer{};
    // Rows stored or deleted in a table followed in bulk, not yet told: all of one table. A row
    // deleted leaves a copy of its follower's bytes, as its block may be taken by the next row.
    static constexpr std::size_t kWaitingRows = TBatch::kMessages;
    std::array<TStoreObserver::TStoredRow, kWaitingRows> Stored;
    std::size_t StoredCount = 0;
    alignas(8) std::array<std::uint8_t, kWaitingRows * TStoreObserver::kMaxTrailer> GoneBytes{};
    const TTableFacts* StoredFacts = nullptr;
    std::int32_t StoredStream = 0, StoredTable = 0;
    TRows::TRec* Latest = nullptr; // the row the table's last message stored, told or not
    bool Waiting() const { return StoredCount != 0 || Latest != nullptr; }
    // Tells the follower the rows stored and deleted and not yet told.
    void TellStored() {
        if (StoredCount == 0 && Latest == nullptr)
            return;
        Tell();
    }
    void Tell() {
        const std::size_t n = StoredCount;
        const TRowView latest = Latest != nullptr ? StoredFacts->Rows->View(Latest) : TRowView();
        StoredCount = 0;
        Latest = nullptr;
        Observer->OnRowsStored(StoredStream, StoredTable, {Stored.data(), n}, latest);
    }
    // Makes the waiting rows those of this table.
    VORLEN_ALWAYS_INLINE void Wait(const TTableFacts& facts, std::int32_t s, std::int32_t t) {
        // With none waiting the table is named afresh: the facts may have been described anew
        // at the same address since.
        if (StoredFacts != &facts || !Waiting())
            Name(facts, s, t);
    }
    void Name(const TTableFacts& facts, std::int32_t s, std::int32_t t) {
        TellStored();
        StoredFacts = &facts;
        StoredStream = s;
        StoredTable = t;
    }
    // Room for one more row to tell.
    void Room() {
        if (StoredCount == Stored.size())
            Tell();
    }
    // The id is the message's: the row's own would wait for its block to come from memory.
    void NoteStored(TRows& rows, TRows::TRec& rec, std::int64_t key) {
        Room();
        Stored[StoredCount++] = {rows.View(&rec), rows.TrailerOf(rec), key};
    }
    // The row goes (or, with its key changed, leaves the follower): its bytes are copied, and
    // `zero` clears them in the row.
    void NoteGone(TRows& rows, TRows::TRec& rec, std::int64_t key, bool zero) {
        Room();
        std::uint8_t* copy = GoneBytes.data() + StoredCount * TStoreObserver::kMaxTrailer;
        std::uint8_t* trailer = rows.TrailerOf(rec);
        rows.CopyTrailer(copy, trailer);
        if (zero)
            rows.CopyTrailer(trailer, nullptr);
        Stored[StoredCount++] = {TRowView(), copy, key};
    }
    static bool SameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t bytes) {
        // The usual four-byte key in one read each, not a call.
        if (bytes == sizeof(std::uint32_t)) {
            std::uint32_t x, y;
            std::memcpy(&x, a, sizeof x);
            std::memcpy(&y, b, sizeof y);
            return x == y;
        }
        return std::memcmp(a, b, bytes) == 0;
    }
    // Whether a message leaves the follower's key of the row it changes as the follower has it.
    // A row the follower left no bytes in (it failed while told of it) holds a zero key, which
    // a row's own key is not: it is told as if it moved. This is the one read a change makes of
    // the row's block, which the store itself only writes, and most of what following costs.
    static bool SameKey(const TTableFacts& facts, TRows& rows, TRows::TRec& rec,
                        const std::uint8_t* data, std::size_t size) {
        const std::size_t at = facts.FollowKeyAt, bytes = facts.FollowKeyBytes;
        return size >= at + bytes && SameBytes(data + at, rows.TrailerOf(rec), bytes);
    }

    // Only holders of the lock write the counts, so a plain store does: an atomic add's locked
    // instruction would first wait for every store before it, the row copy's cache misses
    // among them, where a plain store lets them drain while the next message is read.
    static void Bump(TCount& count) {
        count.N.store(count.N.load(std::memory_order_relaxed) + 1, std::memory_order_release);
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

    // A batch's messages are applied kLead messages after they came, all within the same hold
    // of the lock. Meanwhile the slot of each one's row and then the row itself are on their
    // way from memory, so the misses of several messages overlap instead of following one
    // another. No one else sees the store before the batch lets the lock go, and Flush applies
    // every message still waiting first: what anyone can observe is what applying each
    // message as it came gives.
    static constexpr unsigned kLead = 6;
    static constexpr unsigned kRowAfter = 3; // messages between asking for the slot and the row
    static_assert(kRowAfter > 0 && kRowAfter <= kLead);
    std::array<TStaged, kLead + 1> Staged;
    unsigned StagedFirst = 0; // the oldest waiting message
    unsigned StagedCount = 0;

    // Under the lock: checks the message as Apply would and keeps a copy of it.
    inline void Stage(const cg_msg_streamdata_t& msg, const TStreamData& strData);
    void ApplyOldest();
    void Flush() {
        while (StagedCount > 0)
            ApplyOldest();
    }
    // Forgets the waiting messages (a flush failed: the lock is let go without them).
    void Drop() {
        StagedFirst = 0;
        StagedCount = 0;
    }
    // Applies one stream-data message of a described table under the lock. Both of its callers
    // are on the path of every message, where a call of its own costs as much as a check.
    VORLEN_ALWAYS_INLINE void Apply(const TTableFacts& facts, std::int32_t s, std::int32_t t,
                                    std::int64_t key, const std::uint8_t* data, std::size_t size);

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
                Woke = true;
            }
        }
    }

    bool Followed(std::int32_t isin) const {
        for (const auto& [key, event] : ListEvents)
            if (key == isin)
                return true;
        return false;
    }

    bool BuildFutures(const TRows& rows);
    bool BuildOptions(const TRows& rows);
    bool BuildSpot(const TRows& rows);
};

} // namespace vorlen
