#include "orders/OwnOrders.h"

#include <algorithm>
#include <map>
#include <set>

namespace vorlen::orders {

namespace {

struct TAcc {
    TOwnOrder Order;
    bool Placed = false;
    bool Cancelled = false;
    std::int64_t MinRest = -1;
    std::set<std::int64_t> Deals;
};

} // namespace

std::vector<TOwnOrder> DeriveOwnOrders(const std::vector<TOrderLogRow>& rows) {
    std::map<std::int64_t, TAcc> acc;
    for (const TOrderLogRow& r : rows) {
        if (r.OrderId == 0) {
            continue;
        }
        TAcc& a = acc[r.OrderId];
        TOwnOrder& o = a.Order;
        o.OrderId = r.OrderId;
        o.IsinId = r.IsinId;
        o.Client = r.Client;
        o.Side = r.Side;
        o.Price = r.Price;
        o.LastMomentNs = std::max(o.LastMomentNs, r.MomentNs);
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
    }
    std::vector<TOwnOrder> out;
    out.reserve(acc.size());
    for (auto& [id, a] : acc) {
        TOwnOrder& o = a.Order;
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
        out.push_back(std::move(o));
    }
    return out;
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
