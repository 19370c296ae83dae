#pragma once

// The aggregated order-book rows of one stream, grouped by instrument.
//
// This runs for every message of the busiest streams the terminal takes, inside the store's
// apply step and under its lock. What the book keeps of a row is only where the row sits among
// its instrument's rows, and it keeps that in the row itself, in the bytes the store holds for
// its follower (TStoreObserver::TRowChange::Trailer): no index of its own to look the row up in.
// The rows messages store are told a run's worth at a time, after the store has written them
// (TStoreObserver::OnRowsStored): no call per message, and the rows are in the cache by then.
// The levels themselves are read from the store's rows when a reader copies a book: at most a
// few hundred rows twenty times a second.

#include "book/BookFields.h"
#include "store/StoreObserver.h"

#if defined(VORLEN_HAVE_ABSL)
#include <absl/container/flat_hash_map.h>
#else
#include <unordered_map>
#endif

#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
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

    // Applies one message: a row that goes, or one stored when the rows are told one by one.
    void Apply(const TStoreObserver::TRowChange& c, std::uint64_t& counter);
    // Rows the store stored. Every ladder changed gets the next stamp of `counter`.
    void Stored(std::span<const TStoreObserver::TStoredRow> rows, std::uint64_t& counter) {
        for (const TStoreObserver::TStoredRow& r : rows) {
            TPlace place;
            std::memcpy(&place, r.Trailer, sizeof place);
            const std::int32_t isin = IsinOf(r.Row.Data(), r.Row.Size());
            if (place.Ladder != 0 && FLadders[place.Ladder - 1].Isin == isin)
                Touch(place.Ladder, counter);
            else
                Place(r.Trailer, r.Row.ReplId(), isin, counter);
        }
    }
    // The store's run of messages ends: every ladder changed in the run takes the time now. The
    // clock is read once a run, not once a message.
    void EndRun() noexcept;
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
    // Whether place `at` of `l` names a row of the store that names it back; `row` is that row.
    bool Holds(const TLadder& l, std::size_t at, TRowView& row) const;
    // The row whose bytes are `trailer` now belongs to `isin`'s ladder.
    void Place(void* trailer, std::int64_t id, std::int32_t isin, std::uint64_t& counter);
    // Ladder `ladder` (its position plus one) changed. No reader sees a book in the middle of
    // a run, so it takes one stamp a run.
    void Touch(std::uint32_t ladder, std::uint64_t& counter) {
        TLadder& l = FLadders[ladder - 1];
        if (l.Run != FRun) {
            l.Run = FRun;
            l.Stamp = ++counter;
            FTouched.push_back(ladder - 1);
        }
    }
    std::int32_t IsinOf(const void* data, std::size_t size) const {
        if (size >= FIsinEnd)
            return static_cast<std::int32_t>(TFieldRef::Load<std::int32_t>(
                static_cast<const std::uint8_t*>(data) + F.Isin.Desc.offset));
        return static_cast<std::int32_t>(F.Isin.Int(data, size));
    }
    TLadder& LadderOf(std::int32_t isin);
    void Link(TPlace& place, std::int64_t id, std::int32_t isin);
    void Unlink(const TPlace& place);

    TAggrFields F;
    std::size_t FIsinEnd = SIZE_MAX; // messages this long hold a plain four-byte isin_id
    std::shared_ptr<const TRows> FRows;
    std::vector<TLadder> FLadders;
    THashMap<std::int32_t, std::uint32_t> FByIsin;
    std::uint64_t FRun = 1;
    std::vector<std::uint32_t> FTouched; // ladders changed in this run
};

} // namespace vorlen::book_detail
