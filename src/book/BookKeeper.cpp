// The keeper's follower side: what the store tells it, on the market-data thread, under the
// store's lock.

#include "book/BookKeeper.h"

#include "book/BookKeeperImpl.h"
#include "settings/Catalogue.h"

#include <algorithm>

namespace vorlen {

using book_detail::TFollowedTable;
using book_detail::TKind;

TBookKeeper::TBookKeeper(TMutex& storeLock) : FLock(storeLock), FImpl(std::make_unique<Impl>()) {}

TBookKeeper::~TBookKeeper() = default;

void TBookKeeper::OnStreams(const std::vector<std::string>& names) {
    Impl& d = *FImpl;
    d.Streams = names;
    d.Followed.clear();
    d.Followed.resize(names.size());
    d.Forget();
    d.AggrChosen = std::any_of(names.begin(), names.end(), [](const std::string& n) {
        return std::find(kDepthStreams.begin(), kDepthStreams.end(), n) != kDepthStreams.end();
    });
    d.TouchAll();
}

TStoreObserver::TFollow TBookKeeper::OnTableDescribed(std::int32_t stream, std::int32_t table,
                                                      const cg_message_desc_t& desc,
                                                      const std::shared_ptr<const TRows>& rows) {
    Impl& d = *FImpl;
    if (stream < 0 || static_cast<std::size_t>(stream) >= d.Followed.size() || table < 0)
        return {};
    auto& tables = d.Followed[static_cast<std::size_t>(stream)];
    if (tables.size() <= static_cast<std::size_t>(table))
        tables.resize(static_cast<std::size_t>(table) + 1);
    auto& slot = tables[static_cast<std::size_t>(table)];
    slot.reset();
    d.Forget();
    d.TouchAll();
    TKind kind{};
    int depth = 0;
    if (!book_detail::Classify(d.Streams[static_cast<std::size_t>(stream)],
                               desc.name ? desc.name : "", kind, depth))
        return {};
    slot = std::make_unique<TFollowedTable>(kind, depth);
    slot->Describe(desc, rows);
    d.Forget();
    // Only the aggregated rows come often enough to be worth a place in the store's rows and
    // being told in bulk.
    if (kind != TKind::Aggr)
        return {};
    // A level's volume changing is most of what these streams say; only a row that comes, goes
    // or changes instrument is told.
    TFollow follow{book_detail::TLadders::kTrailerBytes, true};
    if (std::size_t at = 0; slot->Ladders.IsinKey(at)) {
        follow.KeyAt = at;
        follow.KeyBytes = sizeof(std::int32_t);
    }
    return follow;
}

void TBookKeeper::OnRow(std::int32_t stream, std::int32_t table, const TRowChange& change) {
    Impl& d = *FImpl;
    TFollowedTable* h = stream == d.LastStream && table == d.LastTable
                            ? d.LastFollowed
                            : d.RememberFollowed(stream, table);
    if (h == nullptr)
        return;
    if (h->Kind == TKind::Aggr) {
        h->Ladders.Apply(change);
        return;
    }
    d.ApplyRec(*h, change);
}

void TBookKeeper::OnRowsStored(std::int32_t stream, std::int32_t table,
                               std::span<const TStoredRow> rows, TRowView latest) {
    Impl& d = *FImpl;
    TFollowedTable* h = stream == d.LastStream && table == d.LastTable
                            ? d.LastFollowed
                            : d.RememberFollowed(stream, table);
    if (h != nullptr && h->Kind == TKind::Aggr)
        h->Ladders.Stored(rows, latest);
}

void TBookKeeper::Impl::ApplyRec(TFollowedTable& h, const TRowChange& change) {
    h.ApplyRec(change.ReplId, change.Data, change.Size, change.Deleted,
               [this](std::int32_t isin) { TouchIsin(isin); });
}

TFollowedTable* TBookKeeper::Impl::RememberFollowed(std::int32_t stream, std::int32_t table) {
    LastStream = stream;
    LastTable = table;
    LastFollowed = FollowedAt(stream, table);
    return LastFollowed;
}

void TBookKeeper::OnRunApplied() noexcept {
    Impl& d = *FImpl;
    for (TFollowedTable* h : d.AggrFollowed)
        h->Ladders.EndRun();
}

void TBookKeeper::Impl::Forget() {
    LastStream = LastTable = -1;
    LastFollowed = nullptr;
    AggrFollowed.clear();
    for (const auto& tables : Followed)
        for (const auto& h : tables)
            if (h && h->Kind == TKind::Aggr)
                AggrFollowed.push_back(h.get());
}

void TBookKeeper::OnStreamCleared(std::int32_t stream) {
    Impl& d = *FImpl;
    if (stream < 0 || static_cast<std::size_t>(stream) >= d.Followed.size())
        return;
    for (auto& h : d.Followed[static_cast<std::size_t>(stream)]) {
        if (h) {
            h->DropRows(0, true);
            d.TouchAll();
        }
    }
}

void TBookKeeper::OnDeletedCleared(std::int32_t stream, std::int32_t table, std::int64_t rev) {
    Impl& d = *FImpl;
    if (TFollowedTable* h = d.FollowedAt(stream, table)) {
        h->DropRows(rev, false);
        d.TouchAll();
    }
}

} // namespace vorlen
