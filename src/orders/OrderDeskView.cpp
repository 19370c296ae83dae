// What the gate sees of an order: the replica's facts, followed between orders, the view built
// from them and the tally of the client's live and recent orders.

#include "orders/OrderDesk.h"
#include "platform/FormatSettings.h"

#include <algorithm>
#include <cassert>
#include <chrono>

namespace vorlen::orders {

namespace {

// Milliseconds since local midnight, from the real clock: the day the per-day limit counts.
std::int64_t SinceMidnightMs() {
    const auto now = std::chrono::system_clock::now();
    const std::tm t = LocalTm(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    return ((t.tm_hour * 60 + t.tm_min) * 60 + t.tm_sec) * 1000LL + ms;
}

} // namespace

const TRefFacts& TOrderDesk::RefOf(const TStoreFacts& facts) {
    static const TRefFacts kNoRef;
    return facts.Ref ? *facts.Ref : kNoRef;
}

const std::vector<TOwnOrder>& TOrderDesk::OwnActive(const TStoreFacts& facts) const {
    if (facts.Tracker == nullptr || !facts.Own.empty()) {
        return facts.Own;
    }
    if (FOwnListSerial != FFactsSerial) {
        FOwnList = facts.Tracker->Orders(true);
        FOwnListSerial = FFactsSerial;
    }
    return FOwnList;
}

std::vector<TOwnOrder> TOrderDesk::LiveOrders(const TStoreFacts& facts) const {
    std::vector<TOwnOrder> live;
    for (const TOwnOrder& o : OwnActive(facts)) {
        if (o.Active()) {
            live.push_back(o);
        }
    }
    for (const auto& [id, o] : FAccepted) {
        // Until the orders log shows it (by the ext_id this desk gave it), the reply is all
        // there is to know of it.
        if (!facts.HasExtId(o.ExtId)) {
            live.push_back(o);
        }
    }
    for (const TOwnOrder& o : FBookOnly) {
        if (FAccepted.count(o.OrderId) == 0) {
            live.push_back(o);
        }
    }
    return live;
}

std::vector<std::uint32_t> TOrderDesk::UnseenAdds(const TStoreFacts& facts) const {
    std::vector<std::uint32_t> out;
    for (const auto& [trId, p] : FPending) {
        if (!p.IsCancel && !facts.HasExtId(p.ExtId)) {
            out.push_back(trId);
        }
    }
    return out;
}

const TStoreFacts& TOrderDesk::Facts() {
    if (!FHaveFacts || !FIn.FactsChanged || FIn.FactsChanged()) {
        ReadFacts();
    }
    return FFacts;
}

void TOrderDesk::ReadFacts() {
    FFacts = FIn.Facts ? FIn.Facts() : TStoreFacts{};
    FHaveFacts = true;
    ++FFactsSerial;
    FollowFacts();
}

void TOrderDesk::FollowFacts() {
    const TStoreFacts& f = FFacts;
    // An accepted order stays counted until a source shows it gone: the log may be cleared
    // while it rests, and the user order book may lag behind or not be subscribed at all.
    FBookIds.clear();
    for (const TOwnOrder& o : f.Book) {
        FBookIds.insert(o.OrderId);
    }
    for (auto it = FAccepted.begin(); it != FAccepted.end();) {
        if (ShownGone(f, it->second)) {
            DropUnseen({true, it->first});
            FBookSeen.erase(it->first);
            it = FAccepted.erase(it);
        } else {
            ++it;
        }
    }
    FBookOnly.clear();
    FBookCounts.clear();
    for (const TOwnOrder& o : f.Book) {
        if (!LogKnows(f, o) && FAccepted.count(o.OrderId) == 0) {
            FBookOnly.push_back(o);
            CountActive(FBookCounts, o, 1);
        }
    }
    if (f.Tracker == nullptr) {
        FOwnCounts.clear();
        for (const TOwnOrder& o : f.Own) {
            if (o.Active()) {
                CountActive(FOwnCounts, o, 1);
            }
        }
    }
    const std::vector<std::int64_t>* order = f.Tracker ? &f.Tracker->ExtIdOrder() : nullptr;
    if (order != nullptr && f.Tracker == FExtTracker && f.Tracker->Clears() == FExtClears &&
        FExtSeen <= order->size()) {
        // The log only grows: only the ext_ids new since the last read can make an order seen.
        for (std::size_t i = FExtSeen; i < order->size(); ++i) {
            if (std::erase_if(FUnseen, [&](const TUnseen& u) { return u.ExtId == (*order)[i]; }))
                ++FUnseenGen;
        }
    } else {
        FUnseen.clear();
        ++FUnseenGen;
        for (const auto& [trId, p] : FPending) {
            if (!p.IsCancel && !f.HasExtId(p.ExtId)) {
                SetUnseen({{false, trId}, p.ExtId, p.Qty, p.IsinId, p.Client, p.Isin, p.Side});
            }
        }
        for (const auto& [id, o] : FAccepted) {
            if (f.HasExtId(o.ExtId)) {
                continue; // the log's to count
            }
            SetUnseen(Unseen({true, id}, o.ExtId, o.Client, {}, o.IsinId, o.Side, o.Rest));
        }
    }
    FExtTracker = f.Tracker;
    FExtClears = f.Tracker ? f.Tracker->Clears() : 0;
    FExtSeen = order ? order->size() : 0;
    // What the view and the last order's look-ups take from the facts follows them here, between
    // orders, rather than in the next order's path: dropping old reference rows alone frees a
    // map node per instrument. Held, so a new read's rows can never be taken for these at the
    // same address.
    if (FViewRef != f.Ref || FViewRef == nullptr) {
        FView.KnownClients = RefOf(f).Clients;
        FViewRef = f.Ref;
    }
    if (FLookedUp != 0) {
        LookUp(f, FLookedIsin, FLookedClient);
    }
}

bool TOrderDesk::LogKnows(const TStoreFacts& facts, const TOwnOrder& order) {
    if (facts.Tracker != nullptr) {
        TOwnOrder found;
        return facts.Tracker->Find(order.OrderId, found);
    }
    return std::any_of(facts.Own.begin(), facts.Own.end(),
                       [&](const TOwnOrder& o) { return o.OrderId == order.OrderId; }) ||
           (order.ExtId != 0 && facts.HasExtId(order.ExtId));
}

bool TOrderDesk::ShownGone(const TStoreFacts& facts, const TOwnOrder& accepted) {
    if (facts.HaveBook) {
        if (FBookIds.contains(accepted.OrderId)) {
            FBookSeen.insert(accepted.OrderId);
        } else if (FBookSeen.count(accepted.OrderId) != 0) {
            return true;
        }
    }
    if (facts.Tracker != nullptr) {
        TOwnOrder found;
        return facts.Tracker->Find(accepted.OrderId, found) && !found.Active();
    }
    // Facts that list only the log's active orders: one the log shows, but not among them.
    if (!facts.HasExtId(accepted.ExtId)) {
        return false;
    }
    return std::none_of(facts.Own.begin(), facts.Own.end(), [&](const TOwnOrder& o) {
        return o.OrderId == accepted.OrderId && o.Active();
    });
}

const TGateView& TOrderDesk::PlaceView(const TStoreFacts& facts, const TOrderRequest& order) {
    TGateView& v = FView;
    v.NowMs = Now();
    // Local midnight, found again once the day it was found for is over.
    if (v.NowMs - FDayStartMs >= 86'400'000 || FDayStartMs == 0) {
        FDayStartMs = v.NowMs - SinceMidnightMs();
        for (auto& [client, sent] : FSent) {
            sent.Today = 0;
        }
    }
    v.Transactions = FTransport.Health();
    v.MarketData = FIn.MarketData ? FIn.MarketData() : TLinkHealth::Offline;
    v.Halted = FKill.Latched();
    // Looked up again only for another instrument or client, or new facts: orders come in runs.
    if (FLookedUp != FFactsSerial || FLookedIsin != order.Isin || FLookedClient != order.Client) {
        LookUp(facts, order.Isin, order.Client);
    }
    v.SentToday = 0;
    if (FLookedSent != nullptr) {
        std::deque<std::int64_t>& times = FLookedSent->RecentMs;
        while (!times.empty() && times.front() <= v.NowMs - 60'000) {
            times.pop_front();
        }
        v.SentToday = FLookedSent->Today;
    }
    v.BestOpposite.reset();
    if (FIn.BestOpposite) {
        v.BestOpposite = FIn.BestOpposite(order.Isin, order.Side);
    }
    return v;
}

std::uint32_t TOrderDesk::NameNo(const std::string& name) {
    const auto it = std::find(FNames.begin(), FNames.end(), name);
    if (it != FNames.end()) {
        return static_cast<std::uint32_t>(it - FNames.begin());
    }
    FNames.push_back(name);
    return static_cast<std::uint32_t>(FNames.size() - 1);
}

TOrderDesk::TUnseen TOrderDesk::Unseen(std::pair<bool, std::int64_t> key, std::int64_t extId,
                                       const std::string& client, const std::string& isin,
                                       std::int32_t isinId, TSide side, std::int64_t qty) {
    return {key, extId, qty, isinId, NameNo(client), NameNo(isin), side};
}

void TOrderDesk::SetUnseen(const TUnseen& entry) {
    ++FUnseenGen;
    const auto it = std::find_if(FUnseen.begin(), FUnseen.end(),
                                 [&](const TUnseen& u) { return u.Key == entry.Key; });
    if (it != FUnseen.end()) {
        *it = entry;
    } else {
        FUnseen.push_back(entry);
    }
}

bool TOrderDesk::DropUnseen(std::pair<bool, std::int64_t> key) {
    const auto it = std::find_if(FUnseen.begin(), FUnseen.end(),
                                 [&](const TUnseen& u) { return u.Key == key; });
    if (it == FUnseen.end()) {
        return false;
    }
    ++FUnseenGen;
    if (it != FUnseen.end() - 1) {
        *it = FUnseen.back();
    }
    FUnseen.pop_back();
    return true;
}

std::size_t TOrderDesk::TRepeatHash::operator()(const TRepeatKey& k) const {
    std::size_t h = static_cast<std::size_t>(k.IsinId);
    for (const std::int64_t v : {static_cast<std::int64_t>(k.Side), k.Price, k.Qty})
        h = (h ^ static_cast<std::size_t>(v)) * 0x100000001b3ull;
    // The open-addressing map takes the slot from the high bits and a tag from the low ones.
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ull;
    return h ^ (h >> 32);
}

bool TOrderDesk::SameIsin(std::int32_t isinId, const std::string& isin) const {
    // An order's instrument is known to the gate by the isin its reference row gives its id.
    if (FView.Instrument) {
        return isinId == FView.Instrument->IsinId;
    }
    const TRefFacts& ref = RefOf(FFacts);
    const auto it = ref.IsinById.find(isinId);
    return it != ref.IsinById.end() ? it->second == isin : isin.empty();
}

TOrderDesk::TUnseenTally TOrderDesk::WalkUnseen(const std::string& isin) const {
    TUnseenTally u{FUnseenGen, 0, {}};
    for (const TUnseen& e : FUnseen) {
        if (e.Client != FLookedClientNo) {
            continue;
        }
        ++u.Active;
        // An add still without its answer goes by the isin it was placed with.
        if (e.Key.first ? SameIsin(e.IsinId, isin) : e.Isin == FLookedIsinNo) {
            u.Rest[e.Side == TSide::Buy ? 0 : 1] += e.Qty;
        }
    }
    return u;
}

TOrderTally TOrderDesk::Tally(const TOrderRequest& order, std::int64_t nowMs) const {
    TOrderTally t;
    t.Active = FLoggedActive;
    t.PendingSameSide = FLoggedRest[order.Side == TSide::Buy ? 0 : 1];
    if (FUnseenTally.Gen != FUnseenGen) {
        FUnseenTally = WalkUnseen(order.Isin);
    }
    // What is kept must be what a walk finds.
    assert([&] {
        const TUnseenTally walked = WalkUnseen(order.Isin);
        return walked.Active == FUnseenTally.Active && walked.Rest == FUnseenTally.Rest;
    }());
    t.Active += FUnseenTally.Active;
    t.PendingSameSide += FUnseenTally.Rest[order.Side == TSide::Buy ? 0 : 1];
    if (FLookedSent == nullptr) {
        return t;
    }
    // PlaceView let go of the times past a minute.
    t.LastMinute = static_cast<std::int64_t>(FLookedSent->RecentMs.size());
    // An order for an instrument the reference does not know is refused before this counts.
    if (FView.Instrument) {
        const auto& last = FLookedSent->LastSameMs;
        const auto same = last.find({FView.Instrument->IsinId, order.Side, order.Price, order.Qty});
        t.Repeat = same != last.end() && same->second > nowMs - 1'000;
    }
    return t;
}

} // namespace vorlen::orders
