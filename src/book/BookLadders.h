#pragma once

// The aggregated order-book rows of one stream, grouped by instrument.
//
// This runs for every message of the busiest streams the terminal takes, inside the store's
// apply step and under its lock, so a message costs one probe of an index that holds the rows
// themselves (BookRowIndex.h) and a rewrite of one row. The rows of an instrument stay in no
// order: they are sorted into levels only when a reader copies the book, at most a few hundred
// rows twenty times a second. The row's previous bytes, which the store also offers, would name
// the instrument but not the row within it; finding it there meant a search per message.

#include "book/BookFields.h"
#include "book/BookRowIndex.h"
#include "store/StoreObserver.h"

#if defined(VORLEN_HAVE_ABSL)
#include <absl/container/flat_hash_map.h>
#else
#include <unordered_map>
#endif

#include <chrono>
#include <cstdint>
#include <limits>
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
    TClock::time_point Updated;
    bool Touched = false;
};

// The fields an aggregated row is read by.
struct TAggrFields {
    TFieldRef Rev, Isin, Price, Volume, Dir;
};

class TLadders {
public:
    TLadders() = default;
    TLadders(const TLadders&) = delete;
    TLadders& operator=(const TLadders&) = delete;

    // The fields the rows are read by, from the table's description.
    void Describe(const TAggrFields& fields);

    // Applies one message; every ladder it changes gets the next stamp of `counter` and `now`.
    void Apply(const TStoreObserver::TRowChange& c, std::uint64_t& counter, TClock::time_point now);
    // Takes out the rows whose revision is below `rev`.
    void DropBelow(std::int64_t rev);
    void Clear();

    const TLadder* Find(std::int32_t isin) const {
        const auto it = FByIsin.find(isin);
        return it == FByIsin.end() ? nullptr : &FLadders[it->second];
    }
    // A row a ladder names.
    const TAggrRow* Row(std::int64_t id) const { return FRows.Find(id); }

private:
    // What a message says of its row; the price only as bytes (Raw: its first and last eight,
    // when it is a decimal of 8 to 16 bytes), decoded when they differ from the row's.
    struct TMessage {
        std::int32_t Isin = 0;
        std::int64_t Rev = 0, Volume = 0, Dir = 0;
        bool Raw = false;
        std::uint64_t Head = 0, Tail = 0;
    };
    void Read(const TStoreObserver::TRowChange& c, TMessage& m) const;
    TLadder& LadderOf(std::int32_t isin);
    void Link(TAggrRow& row, std::int32_t isin);
    void Unlink(const TAggrRow& row);

    TAggrFields F;
    bool FFixed = false;       // the fields have the exchange's own widths
    std::size_t FFixedEnd = 0; // and the message must reach this far
    TRowIndex FRows;
    std::vector<TLadder> FLadders;
    THashMap<std::int32_t, std::uint32_t> FByIsin;
};

} // namespace vorlen::book_detail
