// The keeper's follower side: what the store tells it, on the market-data thread, under the
// store's lock.

#include "book/BookKeeper.h"

#include "book/BookKeeperImpl.h"
#include "settings/Catalogue.h"

#include <algorithm>

namespace vorlen {

using book_detail::THook;
using book_detail::TKind;

TBookKeeper::TBookKeeper(TMutex& storeLock) : FLock(storeLock), FImpl(std::make_unique<Impl>()) {}

TBookKeeper::~TBookKeeper() = default;

void TBookKeeper::OnStreams(const std::vector<std::string>& names) {
    Impl& d = *FImpl;
    d.Streams = names;
    d.Hooks.clear();
    d.Hooks.resize(names.size());
    d.AggrChosen = std::any_of(names.begin(), names.end(), [](const std::string& n) {
        return std::find(kDepthStreams.begin(), kDepthStreams.end(), n) != kDepthStreams.end();
    });
    d.TouchAll();
}

void TBookKeeper::OnTableDescribed(std::int32_t stream, std::int32_t table,
                                   const cg_message_desc_t& desc) {
    Impl& d = *FImpl;
    if (stream < 0 || static_cast<std::size_t>(stream) >= d.Hooks.size() || table < 0)
        return;
    auto& tables = d.Hooks[static_cast<std::size_t>(stream)];
    if (tables.size() <= static_cast<std::size_t>(table))
        tables.resize(static_cast<std::size_t>(table) + 1);
    auto& slot = tables[static_cast<std::size_t>(table)];
    slot.reset();
    d.TouchAll();
    TKind kind{};
    int depth = 0;
    if (!book_detail::Classify(d.Streams[static_cast<std::size_t>(stream)],
                               desc.name ? desc.name : "", kind, depth))
        return;
    slot = std::make_unique<THook>(kind, depth);
    slot->Describe(desc);
}

void TBookKeeper::OnRow(std::int32_t stream, std::int32_t table, const TRowChange& change) {
    Impl& d = *FImpl;
    THook* h = d.HookAt(stream, table);
    if (h == nullptr)
        return;
    if (h->Kind == TKind::Aggr) {
        // Reading the clock for every row would cost as much as the rest of this; the time is
        // taken every so many rows here and at every snapshot, which is as fresh as anyone can
        // see it.
        if ((++d.ClockTick & Impl::kClockEvery) == 0)
            d.Now = std::chrono::system_clock::now();
        h->Ladders.Apply(change, d.Counter, d.Now);
        return;
    }
    h->ApplyRec(change.ReplId, change.Data, change.Size, change.Deleted,
                [&d](std::int32_t isin) { d.TouchIsin(isin); });
}

void TBookKeeper::OnStreamCleared(std::int32_t stream) {
    Impl& d = *FImpl;
    if (stream < 0 || static_cast<std::size_t>(stream) >= d.Hooks.size())
        return;
    for (auto& h : d.Hooks[static_cast<std::size_t>(stream)]) {
        if (h) {
            h->DropRows(0, true);
            d.TouchAll();
        }
    }
}

void TBookKeeper::OnDeletedCleared(std::int32_t stream, std::int32_t table, std::int64_t rev) {
    Impl& d = *FImpl;
    if (THook* h = d.HookAt(stream, table)) {
        h->DropRows(rev, false);
        d.TouchAll();
    }
}

} // namespace vorlen
