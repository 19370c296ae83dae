#pragma once

// The book keeper's state, shared by its two sides: the store's follower (BookKeeper.cpp), on
// the market-data thread, and the readers' snapshots (BookSnapshot.cpp). Both run under the
// store's lock.

#include "book/BookKeeper.h"
#include "book/BookTables.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace vorlen {

struct TBookKeeper::Impl {
    using TFollowedTable = book_detail::TFollowedTable;

    std::vector<std::string> Streams;
    std::vector<std::vector<std::unique_ptr<TFollowedTable>>> Followed; // [stream][table]
    bool AggrChosen = false;
    // The source of every stamp. Readers take stamps too (TLadders::Look), under the store's
    // lock like everything here.
    mutable std::uint64_t Counter = 0;
    std::uint64_t GlobalStamp = 0; // a change that concerns every instrument
    std::unordered_map<std::int32_t, std::uint64_t> IsinStamps; // header changes per instrument

    // The last table a row came from: most runs of messages are of one table.
    std::int32_t LastStream = -1, LastTable = -1;
    TFollowedTable* LastFollowed = nullptr;
    TFollowedTable* RememberFollowed(std::int32_t s, std::int32_t t);
    std::vector<TFollowedTable*> AggrFollowed; // the aggregated tables', told when a run ends
    // Forgets what points at the followed tables, which have changed.
    void Forget();
    // A row of a header table.
    void ApplyRec(TFollowedTable& h, const TStoreObserver::TRowChange& change);

    TFollowedTable* FollowedAt(std::int32_t s, std::int32_t t) const {
        if (s < 0 || static_cast<std::size_t>(s) >= Followed.size())
            return nullptr;
        const auto& tables = Followed[static_cast<std::size_t>(s)];
        if (t < 0 || static_cast<std::size_t>(t) >= tables.size())
            return nullptr;
        return tables[static_cast<std::size_t>(t)].get();
    }

    void TouchAll() { GlobalStamp = ++Counter; }
    void TouchIsin(std::int32_t isin) { IsinStamps[isin] = ++Counter; }

    // The book the snapshots read: the deepest chosen stream that has been described.
    const TFollowedTable* BookTable() const;
    // The header, and the levels of `seen` (none without a book or a ladder) with own marks.
    void Fill(std::int32_t isin, const book_detail::TSeen* seen, TBookSnapshot& out) const;
};

} // namespace vorlen
