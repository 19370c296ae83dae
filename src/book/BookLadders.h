#pragma once

// The aggregated order-book rows of one stream, grouped by instrument.
//
// This runs for the busiest streams the terminal takes, inside the store's apply step and under
// its lock. What the book keeps of a row is only where the row sits among its instrument's rows,
// and it keeps that in the row itself, in the bytes the store holds for its follower
// (TStoreObserver::TRowChange::Trailer): no index of its own to look the row up in. The store
// tells the rows that come, go or move to another instrument a run's worth at a time, after it
// has applied them (TStoreObserver::OnRowsStored), and says nothing of a row changed in place:
// the levels themselves are read from the store's rows when a reader copies a book, at most a
// few hundred rows twenty times a second, and whether and when they changed is found then.

#include "book/Book.h"
#include "book/BookFields.h"
#include "book/BookRunTimes.h"
#include "store/StoreObserver.h"

#if defined(VORLEN_HAVE_ABSL)
#include <absl/container/flat_hash_map.h>
#else
#include <unordered_map>
#endif

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
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

// A place no row holds: the top bit alone in the upper half, and the place of the ladder's next
// hole (or kNoHole) in the lower. A row whose id looks so is not placed (no exchange id does).
inline constexpr std::uint32_t kNoHole = UINT32_MAX;
inline constexpr std::int64_t kHoleTag = std::numeric_limits<std::int64_t>::min();
inline bool IsHole(std::int64_t v) {
    return static_cast<std::uint64_t>(v) >> 32 == std::uint64_t{1} << 31;
}

// One instrument's rows.
struct TLadder {
    std::int32_t Isin = 0;
    std::uint32_t FreeAt = kNoHole; // the first hole, taken by the next row
    std::uint64_t Run = 0;          // the last run of messages in which a row came or went
    // Replication ids; a row that goes leaves a hole for the next one, so that no other row
    // moves and needs its place rewritten.
    std::vector<std::int64_t> Rows;
    std::chrono::system_clock::time_point Updated;
    bool Touched = false;
};

// What readers were last given of a ladder (TLadders::Look).
struct TSeen {
    std::vector<TBookLevel> Bids, Asks; // best first, cut at the depth, no own marks
    std::optional<std::chrono::system_clock::time_point> Updated;
    std::uint64_t Stamp = 0; // changes whenever the above do
};

// The fields an aggregated row is read by.
struct TAggrFields {
    TFieldRef Rev, Isin, Price, Volume, Dir;
};

// One row as a reader sees it: a level of a side.
struct TAggrLevel {
    double Price = 0;
    std::int64_t Volume = 0;
    std::int8_t Side = -1; // 0 bid, 1 ask
};

class TLadders {
public:
    // What the book keeps in each of the store's rows: the row's isin_id as it was placed
    // (the store compares it with the row's, TStoreObserver::TFollow::KeyAt), the row's ladder
    // (its position plus one; 0 for a row the book has not placed yet) and its place there.
    // Kept in eight bytes, as many as the row's block has spare: ladder and place share four.
    struct TPlace {
        std::int32_t Isin = 0;
        std::uint32_t Ladder = 0;
        std::uint32_t At = 0;
        static constexpr unsigned kAtBits = 14;
        static constexpr std::uint32_t kMostLadders = (1u << (32 - kAtBits)) - 1;
        static constexpr std::uint32_t kMostAt = (1u << kAtBits) - 1;
        static TPlace From(const void* trailer) {
            std::uint32_t word[2];
            std::memcpy(word, trailer, sizeof word);
            return {static_cast<std::int32_t>(word[0]), word[1] >> kAtBits, word[1] & kMostAt};
        }
        void To(void* trailer) const {
            const std::uint32_t word[2] = {static_cast<std::uint32_t>(Isin),
                                           Ladder << kAtBits | At};
            std::memcpy(trailer, word, sizeof word);
        }
    };
    static constexpr std::size_t kTrailerBytes = 2 * sizeof(std::uint32_t);
    static_assert(kTrailerBytes <= TStoreObserver::kMaxTrailer);

    TLadders() = default;
    TLadders(const TLadders&) = delete;
    TLadders& operator=(const TLadders&) = delete;

    // The fields the rows are read by, from the table's description, and the store's rows.
    void Describe(const TAggrFields& fields, std::shared_ptr<const TRows> rows);
    // Where a message holds its isin_id as a plain four-byte integer, which the store compares
    // for the books (TStoreObserver::TFollow::KeyAt); false when it holds it otherwise.
    bool IsinKey(std::size_t& at) const;

    // Applies one message, when the rows are told one by one.
    void Apply(const TStoreObserver::TRowChange& c);
    // Rows the store stored or deleted, and the row the last message stored.
    void Stored(std::span<const TStoreObserver::TStoredRow> rows, const TRowView& latest) {
        for (const TStoreObserver::TStoredRow& r : rows) {
            const TPlace place = TPlace::From(r.Trailer);
            if (!r.Row) {
                Gone(place, r.ReplId);
                continue;
            }
            const std::int32_t isin = IsinOf(r.Row.Data(), r.Row.Size());
            if (place.Ladder != 0 && place.Isin == isin)
                Touch(place.Ladder);
            else
                Place(r.Trailer, r.ReplId, isin);
        }
        if (latest)
            FRunRev = std::max(FRunRev, F.Rev.Int(latest.Data(), latest.Size()));
    }
    // The store's run of messages ends: every ladder a row came to or went from in the run takes
    // the time now, and so does the table's highest revision. The clock is read once a run.
    void EndRun() noexcept;
    // Takes out the rows the store no longer holds (after it cleared its deleted rows).
    void DropGone();
    void Clear();

    const TLadder* Find(std::int32_t isin) const {
        const auto it = FByIsin.find(isin);
        return it == FByIsin.end() ? nullptr : &FLadders[it->second];
    }
    // The ladder's levels as they stand in the store, best first, rows at one price summed and
    // each side cut at `depth`, and when they last changed. Under the store's lock, on a
    // reader's thread: what readers were last given is kept beside the ladder (the keeper's
    // only state the readers write, guarded by that same lock), and its stamp takes the next
    // of `counter` when the levels or the time differ from it.
    const TSeen& Look(const TLadder& l, std::size_t depth, std::uint64_t& counter) const;

private:
    // Whether place `at` of `l` names a row of the store that names it back; `row` is that row.
    bool Holds(const TLadder& l, std::size_t at, TRowView& row) const;
    // The row whose bytes are `trailer` now belongs to `isin`'s ladder.
    void Place(void* trailer, std::int64_t id, std::int32_t isin);
    // The row `id` left the place its bytes held.
    void Gone(const TPlace& place, std::int64_t id);
    // A row came to or went from ladder `ladder` (its position plus one) in this run.
    void Touch(std::uint32_t ladder) {
        TLadder& l = FLadders[ladder - 1];
        if (l.Run != FRun) {
            l.Run = FRun;
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
    // False when the row cannot be placed.
    bool Link(TPlace& place, std::int64_t id, std::int32_t isin);
    void Unlink(const TPlace& place);

    TAggrFields F;
    std::size_t FIsinEnd = SIZE_MAX; // messages this long hold a plain four-byte isin_id
    std::shared_ptr<const TRows> FRows;
    std::vector<TLadder> FLadders;
    THashMap<std::int32_t, std::uint32_t> FByIsin;
    // The ladders of the instruments last seen, by a hash of the isin_id: most rows that come
    // find theirs here, one read from a small array, instead of in the map.
    struct TRecent {
        std::int32_t Isin = 0;
        std::uint32_t Ladder = 0; // position plus one; 0 for none
    };
    static constexpr unsigned kRecentBits = 10;
    std::array<TRecent, std::size_t{1} << kRecentBits> FRecent{};
    std::uint64_t FRun = 1;
    std::vector<std::uint32_t> FTouched; // ladders a row came to or went from in this run
    std::int64_t FRunRev = std::numeric_limits<std::int64_t>::min(); // the highest revision
    TRunTimes FTimes;
    // Beside FLadders, for the readers (Look).
    mutable std::vector<TSeen> FSeen;
    mutable std::vector<TAggrLevel> FRead;
    mutable std::vector<TBookLevel> FBids, FAsks;
};

} // namespace vorlen::book_detail
