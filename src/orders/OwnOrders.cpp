#include "orders/OwnOrders.h"

#include <algorithm>

namespace vorlen::orders {

void TOwnOrderTracker::Add(const TOrderLogRow& r) {
    if (r.OrderId == 0) {
        return;
    }
    if (r.ExtId != 0 && FExtIds.insert(r.ExtId).second) {
        FExtIdOrder.push_back(r.ExtId);
        FExtIdMax = std::max(FExtIdMax, r.ExtId);
    }
    FChangeOrder.push_back(r.OrderId);
    TAcc& a = FAcc[r.OrderId];
    if (FActive.count(r.OrderId) != 0) {
        CountActive(FActiveCounts, Finish(a), -1);
    }
    TOwnOrder& o = a.Order;
    o.OrderId = r.OrderId;
    o.IsinId = r.IsinId;
    o.Client = r.Client;
    o.Side = r.Side;
    o.Price = r.Price;
    o.LastMomentNs = std::max(o.LastMomentNs, r.MomentNs);
    if (r.MomentNs != 0 && (o.FirstMomentNs == 0 || r.MomentNs < o.FirstMomentNs)) {
        o.FirstMomentNs = r.MomentNs;
    }
    if (!r.Login.empty()) {
        o.Login = r.Login;
    }
    o.SessId = r.SessId != 0 ? r.SessId : o.SessId;
    o.ExtId = r.ExtId != 0 ? r.ExtId : o.ExtId;
    a.MinRest = a.MinRest < 0 ? r.Rest : std::min(a.MinRest, r.Rest);
    switch (r.Action) {
    case 0:
        a.Cancelled = true;
        break;
    case 1:
        a.Placed = true;
        o.Amount = std::max(o.Amount, r.Amount);
        break;
    case 2:
        if (a.Deals.insert(r.DealId).second) {
            o.Filled += r.Amount;
        }
        break;
    default:
        break;
    }
    if (const TOwnOrder now = Finish(a); now.Active()) {
        FActive.insert(r.OrderId);
        CountActive(FActiveCounts, now, 1);
    } else {
        FActive.erase(r.OrderId);
    }
}

TOwnOrder TOwnOrderTracker::Finish(const TAcc& a) {
    TOwnOrder o = a.Order;
    // Without its placing row the order's size is what was traded plus what is left.
    if (!a.Placed) {
        o.Amount = std::max(o.Amount, o.Filled + std::max<std::int64_t>(a.MinRest, 0));
    }
    o.Rest = a.Cancelled ? 0 : std::max<std::int64_t>(a.MinRest, 0);
    if (a.Cancelled) {
        o.State = TOrderState::Cancelled;
    } else if (o.Rest == 0) {
        o.State = TOrderState::Filled;
    } else if (o.Filled > 0 || o.Rest < o.Amount) {
        o.State = TOrderState::PartlyFilled;
    } else {
        o.State = TOrderState::Placed;
    }
    return o;
}

bool TOwnOrderTracker::Find(std::int64_t orderId, TOwnOrder& out) const {
    const auto it = FAcc.find(orderId);
    if (it == FAcc.end()) {
        return false;
    }
    out = Finish(it->second);
    return true;
}

std::vector<TOwnOrder> TOwnOrderTracker::Orders(bool activeOnly) const {
    std::vector<TOwnOrder> out;
    if (activeOnly) {
        for (const std::int64_t id : FActive) {
            out.push_back(Finish(FAcc.at(id)));
        }
        return out;
    }
    out.reserve(FAcc.size());
    for (const auto& [id, a] : FAcc) {
        out.push_back(Finish(a));
    }
    return out;
}

void CountActive(TActiveByClient& counts, const TOwnOrder& o, int sign) {
    auto client = counts.find(o.Client);
    if (client == counts.end()) {
        client = counts.emplace(o.Client, TClientActive{}).first;
    }
    TClientActive& c = client->second;
    c.Count += sign;
    std::int64_t& rest = c.Rest[{o.IsinId, o.Side}];
    rest += sign * o.Rest;
    if (rest == 0) {
        c.Rest.erase({o.IsinId, o.Side});
    }
    if (c.Count == 0 && c.Rest.empty()) {
        counts.erase(client);
    }
}

std::vector<TOwnOrder> DeriveOwnOrders(const std::vector<TOrderLogRow>& rows) {
    TOwnOrderTracker tracker;
    for (const TOrderLogRow& r : rows) {
        tracker.Add(r);
    }
    return tracker.Orders();
}

const char* StateText(TOrderState state) {
    switch (state) {
    case TOrderState::Placed:
        return "выставлена";
    case TOrderState::PartlyFilled:
        return "частично исполнена";
    case TOrderState::Filled:
        return "исполнена";
    case TOrderState::Cancelled:
        return "снята";
    }
    return "";
}

} // namespace vorlen::orders
