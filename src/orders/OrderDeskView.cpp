// What the gate sees of an order: the replica's facts, followed between orders, the view built
// from them and the tally of the client's live and recent orders.

#include "orders/OrderDesk.h"
#include "platform/FormatSettings.h"

#include <algorithm>
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
        FFacts = FIn.Facts ? FIn.Facts() : TStoreFacts{};
        FHaveFacts = true;
        ++FFactsSerial;
        FollowFacts();
    }
    return FFacts;
}

void TOrderDesk::FollowFacts() {
    const TStoreFacts& f = FFacts;
    // Accepted orders the log shows are its to tell from now on.
    std::erase_if(FAccepted, [&](const auto& a) { return f.HasExtId(a.second.ExtId); });
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
            std::erase_if(FUnseen, [&](const TUnseen& u) { return u.ExtId == (*order)[i]; });
        }
    } else {
        FUnseen.clear();
        for (const auto& [trId, p] : FPending) {
            if (!p.IsCancel && !f.HasExtId(p.ExtId)) {
                SetUnseen({{false, trId},
                           p.ExtId,
                           p.Order.Client,
                           p.Order.Isin,
                           p.IsinId,
                           p.Order.Side,
                           p.Order.Qty});
            }
        }
        for (const auto& [id, o] : FAccepted) {
            SetUnseen({{true, id}, o.ExtId, o.Client, {}, o.IsinId, o.Side, o.Rest});
        }
    }
    FExtTracker = f.Tracker;
    FExtClears = f.Tracker ? f.Tracker->Clears() : 0;
    FExtSeen = order ? order->size() : 0;
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
    const TRefFacts& ref = RefOf(facts);
    // Held, so a new read's rows can never be taken for these at the same address.
    if (FViewRef != facts.Ref || FViewRef == nullptr) {
        v.KnownClients = ref.Clients;
        FViewRef = facts.Ref;
    }
    const auto sent = FSent.find(order.Client);
    v.SentToday = sent != FSent.end() ? sent->second.Today : 0;
    // Looked up again only for another instrument or client, or new facts: orders come in runs.
    if (FLookedUp != FFactsSerial || FLookedIsin != order.Isin || FLookedClient != order.Client) {
        v.Instrument.reset();
        v.Position = 0;
        if (const auto ins = ref.Instruments.find(order.Isin); ins != ref.Instruments.end()) {
            v.Instrument = ins->second;
            const auto pos = facts.Positions.find({order.Client, ins->second.IsinId});
            v.Position = pos != facts.Positions.end() ? pos->second : 0;
        }
        FLookedLimits = FLimits.For(order.Client, order.Isin);
        FLookedUp = FFactsSerial;
        FLookedIsin = order.Isin;
        FLookedClient = order.Client;
    }
    v.BestOpposite.reset();
    if (FIn.BestOpposite) {
        v.BestOpposite = FIn.BestOpposite(order.Isin, order.Side);
    }
    return v;
}

void TOrderDesk::SetUnseen(TUnseen entry) {
    const auto it = std::find_if(FUnseen.begin(), FUnseen.end(),
                                 [&](const TUnseen& u) { return u.Key == entry.Key; });
    if (it != FUnseen.end()) {
        *it = std::move(entry);
    } else {
        FUnseen.push_back(std::move(entry));
    }
}

bool TOrderDesk::DropUnseen(std::pair<bool, std::int64_t> key) {
    const auto it = std::find_if(FUnseen.begin(), FUnseen.end(),
                                 [&](const TUnseen& u) { return u.Key == key; });
    if (it == FUnseen.end()) {
        return false;
    }
    if (it != FUnseen.end() - 1) {
        *it = std::move(FUnseen.back());
    }
    FUnseen.pop_back();
    return true;
}

std::size_t TOrderDesk::TRepeatHash::operator()(const TRepeatKey& k) const {
    std::size_t h = static_cast<std::size_t>(k.IsinId);
    for (const std::int64_t v : {static_cast<std::int64_t>(k.Side), k.Price, k.Qty})
        h = (h ^ static_cast<std::size_t>(v)) * 0x100000001b3ull;
    return h;
}

TOrderTally TOrderDesk::Tally(const TOrderRequest& order, const TRefFacts& ref,
                              const std::optional<TInstrumentRef>& instrument,
                              std::int64_t nowMs) const {
    TOrderTally t;
    // An order's instrument is known to the gate by the isin its reference row gives its id.
    const auto sameIsin = [&](std::int32_t isinId) {
        if (instrument)
            return isinId == instrument->IsinId;
        const auto isin = ref.IsinById.find(isinId);
        return isin != ref.IsinById.end() ? isin->second == order.Isin : order.Isin.empty();
    };
    const TActiveByClient& logged = FFacts.Tracker ? FFacts.Tracker->Active() : FOwnCounts;
    if (const auto c = logged.find(order.Client); c != logged.end()) {
        t.Active += c->second.Count;
        for (const auto& [key, rest] : c->second.Rest) {
            if (key.second == order.Side && sameIsin(key.first)) {
                t.PendingSameSide += rest;
            }
        }
    }
    for (const TUnseen& u : FUnseen) {
        if (u.Client != order.Client) {
            continue;
        }
        ++t.Active;
        // An add still without its answer goes by the isin it was placed with.
        if (u.Side == order.Side && (u.Key.first ? sameIsin(u.IsinId) : u.Isin == order.Isin)) {
            t.PendingSameSide += u.Qty;
        }
    }
    const auto sent = FSent.find(order.Client);
    if (sent == FSent.end()) {
        return t;
    }
    const std::deque<std::int64_t>& times = sent->second.RecentMs;
    t.LastMinute = times.end() - std::upper_bound(times.begin(), times.end(), nowMs - 60'000);
    // An order for an instrument the reference does not know is refused before this counts.
    if (instrument) {
        const auto& last = sent->second.LastSameMs;
        const auto same = last.find({instrument->IsinId, order.Side, order.Price, order.Qty});
        t.Repeat = same != last.end() && same->second > nowMs - 1'000;
    }
    return t;
}

} // namespace vorlen::orders
