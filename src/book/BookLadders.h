#pragma once

// The aggregated order-book rows of one stream, grouped by instrument.
//
// This runs for every message of the busiest streams the terminal takes, inside the store's
// apply step and under its lock. What the book keeps of a row is only where the row sits among
// its instrument's rows, and it keeps that in the row itself, in the bytes the store holds for
// its follower (TStoreObserver::TRowChange::Trailer): no index of its own to look the row up in.
// Reading those bytes would still wait for the row to come from memory, so a message that
// changes a row the book already placed is only noted, the row's bytes asked for, and settled a
// few messages later, when they have arrived. Everything noted is settled before the row can go
// (a deletion, the end of the store's run of messages) and before anyone reads a book. The
// levels themselves are read from the store's rows when a reader copies a book: at most a few
// hundred rows twenty times a second.

#include "book/BookFields.h"
#include "store/StoreObserver.h"

#if defined(VORLEN_HAVE_ABSL)
#include <absl/container/flat_hash_map.h>
#else
#include <unordered_map>
#endif

#include <array>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace vorlen::book_detail {

#if defined(VORLEN_HAVE_ABSL)
template <class K, class V>
using THashMap = absl::flat_hash_map<K, V>;
#else
template <class K, class V>
using THashMap = std::unordered_map<K, V>;
#endif

using TClock = std::chrono::system_clock;

inline constexpr std::int64_t kHole = std::numeric_limits<std::int64_t>::min(); // no replication id

// One instrument's rows.
struct TLadder {
    std::int32_t Isin = 0;
    // Replication ids; a row that goes leaves a hole (kHole) for the next one, so that no other
    // row moves and needs its place rewritten.
    std::vector<std::int64_t> Rows;
    std::vector<std::uint32_t> Holes;
    std::uint64_t Stamp = 0;
    std::uint64_t Run = 0; // the last run of messages that changed it
    TClock::time_point Updated;
    bool Touched = false;
};

// The fields an aggregated row is read by.
struct TAggrFields {
    TFieldRef Rev, Isin, Price, Volume, Dir;
};

// One row as a reader sees it: a level of a side, or no level at all (Side -1: no volume, or no
// known direction).
struct TAggrLevel {
    double Price = 0;
    std::int64_t Volume = 0;
    std::int8_t Side = -1; // 0 bid, 1 ask
};

class TLadders {
public:
    // What the book keeps in each of the store's rows: the row's ladder (its position plus
    // one; 0 for a row the book has not placed yet) and its place in that ladder.
    struct TPlace {
        std::uint32_t Ladder = 0;
        std::uint32_t At = 0;
    };
    static constexpr std::size_t kTrailerBytes = sizeof(TPlace);
    static_assert(kTrailerBytes <= TStoreObserver::kMaxTrailer);

    TLadders() = default;
    TLadders(const TLadders&) = delete;
    TLadders& operator=(const TLadders&) = delete;

    // The fields the rows are read by, from the table's description, and the store's rows.
    void Describe(const TAggrFields& fields, std::shared_ptr<const TRows> rows);

    // Applies one message, or notes it to be settled a little later; every ladder it changes
    // gets the next stamp of `counter`.
    void Apply(const TStoreObserver::TRowChange& c, std::uint64_t& counter) {
        if (c.Trailer == nullptr)
            return;
        if (c.Deleted || !c.Previous) {
            ApplyNow(c, counter);
            return;
        }
        __builtin_prefetch(c.Trailer);
        FNoted[FNotedEnd++ % kNoted] = {c.Trailer, c.ReplId, IsinOf(c)};
        if (FNotedEnd - FNotedBegin == kNoted)
            SettleDownTo(kAhead, counter);
    }
    // The store's run of messages ends: settles every message noted, and every ladder changed
    // in the run takes the time now. The clock is read once a run, not once a message.
    void EndRun(std::uint64_t& counter);
    // Drops what is noted and not yet settled.
    void Forget() { FNotedBegin = FNotedEnd; }
    // Takes out the rows the store no longer holds (after it cleared its deleted rows).
    void DropGone();
    void Clear();

    const TLadder* Find(std::int32_t isin) const {
        const auto it = FByIsin.find(isin);
        return it == FByIsin.end() ? nullptr : &FLadders[it->second];
    }
    // The ladder's rows as they stand in the store, in no order.
    void Read(const TLadder& l, std::vector<TAggrLevel>& out) const;

private:
    // A change to a row already placed, to be settled once its bytes are in the cache.
    struct TNoted {
        void* Trailer;
        std::int64_t Id;
        std::int32_t Isin;
    };
    // Changes noted at most, and those left noted when the oldest are settled: the rows whose
    // bytes were asked for last are still on their way.
    static constexpr unsigned kNoted = 64;
    static constexpr unsigned kAhead = 8;
    static_assert(kAhead < kNoted && (kNoted & (kNoted - 1)) == 0);

    void ApplyNow(const TStoreObserver::TRowChange& c, std::uint64_t& counter);
    // Whether place `at` of `l` names a row of the store that names it back; `row` is that row.
    bool Holds(const TLadder& l, std::size_t at, TRowView& row) const;
    // Settles the oldest changes noted until `keep` are left.
    void SettleDownTo(unsigned keep, std::uint64_t& counter);
    // The row whose bytes are `trailer` now belongs to `isin`'s ladder.
    void Place(void* trailer, std::int64_t id, std::int32_t isin, std::uint64_t& counter);
    // Ladder `ladder` (its position plus one) changed.
    void Touch(std::uint32_t ladder, std::uint64_t& counter) {
        TLadder& l = FLadders[ladder - 1];
        l.Stamp = ++counter;
        if (l.Run != FRun) {
            l.Run = FRun;
            FTouched.push_back(ladder - 1);
        }
    }
    std::int32_t IsinOf(const TStoreObserver::TRowChange& c) const {
        if (c.Size >= FIsinEnd)
            return static_cast<std::int32_t>(TFieldRef::Load<std::int32_t>(
                static_cast<const std::uint8_t*>(c.Data) + F.Isin.Desc.offset));
        return static_cast<std::int32_t>(F.Isin.Int(c.Data, c.Size));
    }
    TLadder& LadderOf(std::int32_t isin);
    void Link(TPlace& place, std::int64_t id, std::int32_t isin);
    void Unlink(const TPlace& place);

    TAggrFields F;
    std::size_t FIsinEnd = SIZE_MAX; // messages this long hold a plain four-byte isin_id
    std::shared_ptr<const TRows> FRows;
    std::vector<TLadder> FLadders;
    THashMap<std::int32_t, std::uint32_t> FByIsin;
    std::array<TNoted, kNoted> FNoted{};
    unsigned FNotedBegin = 0, FNotedEnd = 0; // running counts; the ring holds the difference
    std::uint64_t FRun = 1;
    std::vector<std::uint32_t> FTouched; // ladders changed in this run
};

} // namespace vorlen::book_detail
