// The trader's resting orders filled by a backtest's fill model: one engine per instrument the
// trader has orders on, told the others' levels around the middle price and the others' deals as
// the generated market makes them. The engine never learns of the trader's own volume, as a
// backtest's does not: it reads a recording in which the trader's orders are taken out.

#include "Exchange.h"

#include <vector>

namespace vsim {

namespace fills = vorlen::fills;

namespace {

fills::TFillSide FillSide(int dir) {
    return dir == 1 ? fills::TFillSide::Buy : fills::TFillSide::Sell;
}

} // namespace

void Exchange::SetFillResting(bool on) {
    fillResting_ = on;
    fillModel_.reset();
    feeds_.clear();
}

void Exchange::SetFillModel(fills::TFillModel model) {
    fillResting_ = true;
    fillModel_ = model;
    feeds_.clear();
    // Every instrument with orders resting gets its engine now: they must fill from here on.
    std::vector<std::int32_t> isins;
    for (const auto& [id, o] : resting_) {
        isins.push_back(o.isin_id);
    }
    for (const std::int32_t isin : isins) {
        if (const Instrument* ins = FindInstrument(isin);
            ins != nullptr && !feeds_.contains(isin)) {
            FeedOf(*ins);
        }
    }
}

Exchange::FillFeed& Exchange::FeedOf(const Instrument& ins) {
    if (const auto it = feeds_.find(ins.isin_id); it != feeds_.end()) {
        return it->second;
    }
    FillFeed& feed = feeds_.emplace(ins.isin_id, FillFeed(*fillModel_)).first->second;
    FollowBook(ins);
    // In the order they came (ids grow): their time priority among the trader's own.
    std::vector<UserOrder> orders;
    for (const auto& [id, o] : resting_) {
        if (o.isin_id == ins.isin_id) {
            orders.push_back(o);
        }
    }
    bool filled = false;
    for (const UserOrder& o : orders) {
        for (const fills::TFill& f : feed.engine.Add(o.id, FillSide(o.dir), o.price, o.rest)) {
            BookFill(f);
            filled = true;
        }
    }
    if (filled) {
        OwnOrdersChanged(ins);
    }
    return feed;
}

bool Exchange::FollowBook(const Instrument& ins) {
    const auto it = feeds_.find(ins.isin_id);
    if (it == feeds_.end()) {
        return false;
    }
    FillFeed& feed = it->second;
    for (int side = 0; side < 2; ++side) {
        // The levels the book offers besides the trader's own, whether or not a resting order
        // of the trader hides them for now: the engine decides what they fill.
        std::map<std::int64_t, std::int64_t> now;
        for (int level = 0; level < kBackgroundLevels; ++level) {
            const std::int64_t price = LevelPrice(ins, side, level);
            if (price >= ins.lower && price <= ins.upper) {
                now[price] = OthersVolume(ins, side, price);
            }
        }
        const auto fillSide = side == 0 ? fills::TFillSide::Buy : fills::TFillSide::Sell;
        for (const auto& [price, volume] : feed.told[side]) {
            if (now.find(price) == now.end()) {
                feed.engine.SetLevel(fillSide, price, 0);
            }
        }
        for (const auto& [price, volume] : now) {
            const auto was = feed.told[side].find(price);
            if (was == feed.told[side].end() || was->second != volume) {
                feed.engine.SetLevel(fillSide, price, volume);
            }
        }
        feed.told[side] = std::move(now);
    }
    return BookFills(feed);
}

bool Exchange::BookFills(FillFeed& feed) {
    const std::vector<fills::TFill> made = feed.engine.TakeFills();
    for (const fills::TFill& f : made) {
        BookFill(f);
    }
    return !made.empty();
}

void Exchange::BookFill(const fills::TFill& f) {
    const auto it = resting_.find(f.OrderId);
    if (it == resting_.end()) {
        return;
    }
    Fill(it->second, f.Price, f.Qty);
    if (it->second.rest <= 0) {
        resting_.erase(it);
    }
}

} // namespace vsim
