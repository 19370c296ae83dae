#include "fills/FillModel.h"

#include <algorithm>

namespace vorlen::fills {

namespace {

constexpr std::pair<std::string_view, TFillModel> kModels[] = {
    {"touch", TFillModel::Touch},
    {"through", TFillModel::Through},
    {"queue", TFillModel::Queue},
};

TFillSide Opposite(TFillSide side) {
    return side == TFillSide::Buy ? TFillSide::Sell : TFillSide::Buy;
}

// Whether an order of `side` at `price` reaches a level of the opposite side at `level`.
bool Reaches(TFillSide side, std::int64_t price, std::int64_t level) {
    return side == TFillSide::Buy ? level <= price : level >= price;
}

// A deal at `deal` traded through an order of `side` at `price`: past it, not at it.
bool Through(TFillSide side, std::int64_t price, std::int64_t deal) {
    return side == TFillSide::Buy ? deal < price : deal > price;
}

} // namespace

std::optional<TFillModel> ParseFillModel(std::string_view name) {
    for (const auto& [text, model] : kModels) {
        if (text == name) {
            return model;
        }
    }
    return std::nullopt;
}

std::string_view FillModelName(TFillModel model) {
    for (const auto& [text, m] : kModels) {
        if (m == model) {
            return text;
        }
    }
    return {};
}

std::int64_t TFillEngine::Visible(TFillSide side, std::int64_t price) const {
    const TSideBook& book = Book(side);
    const auto it = book.find(price);
    return it == book.end() ? 0 : std::max<std::int64_t>(0, it->second.Volume - it->second.Taken);
}

void TFillEngine::SetLevel(TFillSide side, std::int64_t price, std::int64_t volume) {
    TSideBook& book = Book(side);
    if (volume <= 0) {
        book.erase(price);
    } else {
        TLevel& level = book[price];
        // What left the level is taken to include what the trader took: the recording cannot
        // show the trader's own volume, so a shrinking level pays back the taken volume first.
        if (volume < level.Volume) {
            level.Taken = std::max<std::int64_t>(0, level.Taken - (level.Volume - volume));
        }
        level.Volume = volume;
    }
    if (FModel == TFillModel::Queue) {
        // Volume that left the price from in front of a queued order: cancels and trades alike
        // can only shorten the queue down to what still stands there.
        for (auto& [id, order] : FOrders) {
            if (order.Side == side && order.Price == price) {
                order.Ahead = std::min(order.Ahead, std::max<std::int64_t>(0, volume));
            }
        }
        return;
    }
    if (FModel != TFillModel::Touch || volume <= 0) {
        return;
    }
    for (auto& [id, order] : InPriority(Opposite(side))) {
        if (!Reaches(order->Side, order->Price, price)) {
            break;
        }
        TakeLiquidity(id, *order, true, FPending);
    }
    std::erase_if(FOrders, [](const auto& entry) { return entry.second.Rest == 0; });
}

void TFillEngine::ClearBook() {
    FBids.clear();
    FAsks.clear();
}

void TFillEngine::Deal(std::int64_t price, std::int64_t qty, std::optional<TFillSide> resting) {
    if (qty <= 0 || FModel == TFillModel::Touch) {
        return;
    }
    for (const TFillSide side : {TFillSide::Buy, TFillSide::Sell}) {
        std::int64_t left = qty;
        // The recorded volume this deal took from the queue at its price: every queued order
        // there stood behind some of it.
        std::int64_t recordedTraded = 0;
        for (auto& [id, order] : InPriority(side)) {
            if (Through(side, order->Price, price)) {
                const std::int64_t q = std::min(left, order->Rest);
                if (q > 0) {
                    Fill(id, *order, order->Price, q, FPending);
                    left -= q;
                }
            } else if (FModel == TFillModel::Queue && order->Price == price &&
                       resting.value_or(side) == side) {
                // First what stood ahead of the order, then the order itself.
                const std::int64_t ahead =
                    std::min(left, std::max<std::int64_t>(0, order->Ahead - recordedTraded));
                recordedTraded += ahead;
                left -= ahead;
                order->Ahead = std::max<std::int64_t>(0, order->Ahead - recordedTraded);
                const std::int64_t q = std::min(left, order->Rest);
                if (q > 0) {
                    Fill(id, *order, price, q, FPending);
                    left -= q;
                }
            }
        }
    }
    std::erase_if(FOrders, [](const auto& entry) { return entry.second.Rest == 0; });
}

std::vector<TFill> TFillEngine::Add(std::int64_t id, TFillSide side, std::int64_t price,
                                    std::int64_t qty) {
    std::vector<TFill> fills;
    if (qty <= 0 || FOrders.contains(id)) {
        return fills;
    }
    TOrder order{side, price, qty, 0, ++FSeq};
    TakeLiquidity(id, order, false, fills);
    if (order.Rest > 0) {
        // Joins the back of the recorded queue at its price; its own earlier orders there are
        // ahead of it by time priority among the trader's orders.
        const TSideBook& book = Book(side);
        const auto level = book.find(price);
        order.Ahead = level == book.end() ? 0 : level->second.Volume;
        FOrders.emplace(id, order);
    }
    return fills;
}

bool TFillEngine::Cancel(std::int64_t id) {
    return FOrders.erase(id) > 0;
}

std::int64_t TFillEngine::Resting(std::int64_t id) const {
    const auto it = FOrders.find(id);
    return it == FOrders.end() ? 0 : it->second.Rest;
}

void TFillEngine::CancelAll() {
    FOrders.clear();
}

std::vector<TFill> TFillEngine::TakeFills() {
    return std::exchange(FPending, {});
}

void TFillEngine::TakeLiquidity(std::int64_t id, TOrder& order, bool resting,
                                std::vector<TFill>& out) {
    TSideBook& book = Book(Opposite(order.Side));
    const auto take = [&](std::int64_t price, TLevel& level) {
        if (order.Rest == 0 || !Reaches(order.Side, order.Price, price)) {
            return false;
        }
        const std::int64_t q = std::min(order.Rest, level.Volume - level.Taken);
        if (q > 0) {
            level.Taken += q;
            Fill(id, order, resting ? order.Price : price, q, out);
        }
        return true;
    };
    if (order.Side == TFillSide::Buy) {
        for (auto it = book.begin(); it != book.end() && take(it->first, it->second); ++it) {
        }
    } else {
        for (auto it = book.rbegin(); it != book.rend() && take(it->first, it->second); ++it) {
        }
    }
}

void TFillEngine::Fill(std::int64_t id, TOrder& order, std::int64_t price, std::int64_t qty,
                       std::vector<TFill>& out) {
    order.Rest -= qty;
    out.push_back({id, order.Side, price, qty, order.Rest});
}

std::vector<std::pair<std::int64_t, TFillEngine::TOrder*>> TFillEngine::InPriority(TFillSide side) {
    std::vector<std::pair<std::int64_t, TOrder*>> orders;
    for (auto& [id, order] : FOrders) {
        if (order.Side == side && order.Rest > 0) {
            orders.emplace_back(id, &order);
        }
    }
    std::sort(orders.begin(), orders.end(), [side](const auto& a, const auto& b) {
        if (a.second->Price != b.second->Price) {
            return side == TFillSide::Buy ? a.second->Price > b.second->Price
                                          : a.second->Price < b.second->Price;
        }
        return a.second->Seq < b.second->Seq;
    });
    return orders;
}

} // namespace vorlen::fills
