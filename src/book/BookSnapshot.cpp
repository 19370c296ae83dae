// The keeper's readers' side: one instrument's book and header copied under the store's lock.

#include "book/BookKeeper.h"
#include "book/BookKeeperImpl.h"

#include <algorithm>
#include <map>
#include <utility>

namespace vorlen {

using book_detail::TFollowedTable;
using book_detail::THeaderRow;
using book_detail::TKind;
using book_detail::TLadder;

const TFollowedTable* TBookKeeper::Impl::BookTable() const {
    const TFollowedTable* best = nullptr;
    for (const auto& tables : Followed)
        for (const auto& h : tables)
            if (h && h->Kind == TKind::Aggr && (best == nullptr || h->Depth > best->Depth))
                best = h.get();
    return best;
}

void TBookKeeper::Impl::Fill(std::int32_t isin, const book_detail::TSeen* seen,
                             TBookSnapshot& out) const {
    out.IsinId = isin;
    out.Bids.clear();
    out.Asks.clear();
    out.Positions.clear();
    out.OwnOrders.clear();
    out.LastUpdate.reset();
    out.LastDeal.reset();
    out.MinStep.reset();
    out.StepPrice.reset();
    out.Depth = 0;
    out.VmSubscribed = false;

    const TFollowedTable* book = BookTable();
    out.Status = !AggrChosen       ? TBookStatus::NotSubscribed
                 : book == nullptr ? TBookStatus::Waiting
                                   : TBookStatus::Live;
    const TFollowedTable* orders = nullptr;
    bool lastDeal = false;
    for (const auto& tables : Followed) {
        for (const auto& h : tables) {
            if (!h)
                continue;
            switch (h->Kind) {
            case TKind::OrdersLog:
                orders = h.get();
                break;
            case TKind::Position:
                for (const auto& [id, r] : h->Recs)
                    if (r.Isin == isin)
                        out.Positions.push_back({r.Client, r.Volume, r.Price, std::nullopt});
                break;
            case TKind::Reference:
                if (const THeaderRow* r = h->ForIsin(isin)) {
                    out.MinStep = r->Price;
                    out.StepPrice = r->StepPrice;
                }
                break;
            case TKind::Common:
                // The deals' own stream is the fresher word when both are chosen.
                if (const THeaderRow* r = h->ForIsin(isin);
                    r != nullptr && r->Price != 0 && !lastDeal)
                    out.LastDeal = r->Price;
                break;
            case TKind::Deal:
                if (const THeaderRow* r = h->ForIsin(isin); r != nullptr && r->Price != 0) {
                    out.LastDeal = r->Price;
                    lastDeal = true;
                }
                break;
            default:
                break;
            }
        }
    }
    std::sort(out.Positions.begin(), out.Positions.end(),
              [](const TBookPosition& a, const TBookPosition& b) { return a.Client < b.Client; });
    for (const auto& tables : Followed) {
        for (const auto& h : tables) {
            if (!h || h->Kind != TKind::Vm)
                continue;
            out.VmSubscribed = true;
            for (const auto& [id, r] : h->Recs)
                for (TBookPosition& p : out.Positions)
                    if (r.Isin == isin && r.Client == p.Client)
                        p.VarMargin = p.VarMargin.value_or(0) + r.Price;
        }
    }

    if (book == nullptr)
        return;
    out.Depth = book->Depth;
    if (seen == nullptr)
        return;
    out.LastUpdate = seen->Updated;
    // Own resting volume at a price; the orders log marks what the aggregate already counts.
    // One walk of the log's records for all levels: a walk per level, under the store's lock,
    // was the depth times the day's orders.
    std::map<std::pair<int, double>, std::int64_t> ownAt;
    if (orders != nullptr)
        for (const auto& [id, r] : orders->Recs)
            if (r.Isin == isin)
                ownAt[{r.Dir, r.Price}] += r.Volume;
    const auto own = [&](int dir, double price) {
        const auto it = ownAt.find({dir, price});
        return it != ownAt.end() ? it->second : std::int64_t{0};
    };
    for (const auto& [at, volume] : ownAt)
        out.OwnOrders.push_back({at.first, at.second, volume});
    out.Bids = seen->Bids;
    out.Asks = seen->Asks;
    for (TBookLevel& level : out.Bids)
        level.Own = own(1, level.Price);
    for (TBookLevel& level : out.Asks)
        level.Own = own(2, level.Price);
}

std::optional<double> TBookKeeper::BestPrice(std::int32_t isin_id, bool asks) const {
    TMutexGuard lock(FLock);
    const Impl& d = *FImpl;
    const TFollowedTable* book = d.AggrChosen ? d.BookTable() : nullptr;
    const TLadder* l = book != nullptr ? book->Ladders.Find(isin_id) : nullptr;
    if (l == nullptr)
        return std::nullopt;
    const book_detail::TSeen& seen =
        book->Ladders.Look(*l, static_cast<std::size_t>(std::max(book->Depth, 0)), d.Counter);
    const std::vector<TBookLevel>& side = asks ? seen.Asks : seen.Bids;
    return side.empty() ? std::nullopt : std::optional<double>(side.front().Price);
}

bool TBookKeeper::Snapshot(std::int32_t isin_id, TBookSnapshot& out) const {
    TMutexGuard lock(FLock);
    const Impl& d = *FImpl;
    std::uint64_t version = d.GlobalStamp;
    if (const auto it = d.IsinStamps.find(isin_id); it != d.IsinStamps.end())
        version = std::max(version, it->second);
    // Whether the levels changed is found here, from the rows: the store does not tell the
    // books of a level whose volume changed.
    const book_detail::TSeen* seen = nullptr;
    if (const TFollowedTable* book = d.BookTable()) {
        if (const TLadder* l = book->Ladders.Find(isin_id)) {
            seen = &book->Ladders.Look(*l, static_cast<std::size_t>(std::max(book->Depth, 0)),
                                       d.Counter);
            version = std::max(version, seen->Stamp);
        }
    }
    // Version 0 is "never filled", so the first snapshot always copies.
    ++version;
    if (out.IsinId == isin_id && out.Version == version)
        return false;
    d.Fill(isin_id, seen, out);
    out.Version = version;
    return true;
}

} // namespace vorlen
