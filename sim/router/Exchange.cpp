#include "Exchange.h"

#include "RowMaker.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <unordered_map>

namespace vsim {

namespace fills = vorlen::fills;

Time LocalNow() {
    return LocalTime(std::chrono::system_clock::now());
}

namespace {

std::uint64_t EpochNs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

// Field positions of one table, looked up once for the background generator.
// Names are looked up once; the generator then writes through the cached descriptions.
struct Fields {
    Stream* stream = nullptr;
    int table = -1;
    const TableDef* def = nullptr;
    std::string scratch;
    mutable std::vector<std::pair<const char*, const FieldDef*>> cache;
    void Bind(Market& m, const char* s, const char* t) {
        stream = &m.At(s);
        table = Market::TableIndex(*stream, t);
        def = stream->tables[static_cast<std::size_t>(table)].def;
    }
    // Keyed by the address of the literal: every call site passes the same one.
    const FieldDef& operator[](const char* name) const {
        for (const auto& [key, f] : cache) {
            if (key == name) {
                return *f;
            }
        }
        cache.emplace_back(name, def->Field(name));
        return *cache.back().second;
    }
    std::string& Clear() {
        scratch.assign(def->size, '\0');
        return scratch;
    }
};

} // namespace

struct Exchange::Book {
    // Background volume by price, per side (0 bid, 1 ask).
    std::map<std::int64_t, std::int64_t> background[2];
    // Per depth and side: the rows the stream holds, price -> (row id, volume).
    std::map<std::int64_t, std::pair<std::int64_t, std::int64_t>> shown[3][2];
    std::int64_t openInterest = -1; // set at the first deal
};

struct Exchange::Handles {
    std::unordered_map<std::int32_t, Book> books;
    Fields aggr[3];
    Fields ordlog;
    Fields deal;
    Fields common;
    std::vector<Fields> heartbeats;
    bool aggrStale[3] = {false, false, false};
    int refreshing = -1;  // the depth being rebuilt, or -1
    Time now;             // the clock, read once per batch of events
    std::uint64_t ns = 0; // event times in nanoseconds, strictly increasing
    std::int64_t ordlogId = 0;
};

Exchange::Exchange(std::uint64_t seed)
    : rng_(seed), optionRng_(seed ^ 0x9E3779B97F4A7C15ull), h_(std::make_unique<Handles>()) {
    h_->aggr[0].Bind(market_, "FORTS_AGGR5_REPL", "orders_aggr");
    h_->aggr[1].Bind(market_, "FORTS_AGGR20_REPL", "orders_aggr");
    h_->aggr[2].Bind(market_, "FORTS_AGGR50_REPL", "orders_aggr");
    h_->ordlog.Bind(market_, "FORTS_ORDLOG_REPL", "orders_log");
    h_->deal.Bind(market_, "FORTS_DEALS_REPL", "deal");
    h_->common.Bind(market_, "FORTS_COMMON_REPL", "common");
    for (Stream& s : market_.Streams()) {
        const int t = Market::TableIndex(s, "heartbeat");
        if (t >= 0) {
            Fields f;
            f.stream = &s;
            f.table = t;
            f.def = s.tables[static_cast<std::size_t>(t)].def;
            s.tables[static_cast<std::size_t>(t)].cap = 1;
            h_->heartbeats.push_back(f);
        }
    }
}

Exchange::~Exchange() = default;

Instrument* Exchange::FindInstrument(std::int32_t isin_id) {
    for (Instrument& i : instruments_) {
        if (i.isin_id == isin_id) {
            return &i;
        }
    }
    return nullptr;
}

Account* Exchange::FindAccount(std::string_view client) {
    for (Account& a : accounts_) {
        if (a.client == client) {
            return &a;
        }
    }
    return nullptr;
}

namespace {

constexpr int kDepth[3] = {5, 20, 50};
constexpr int kLevels = kBackgroundLevels;

} // namespace

std::int64_t Exchange::OthersVolume(const Instrument& ins, int side, std::int64_t price) {
    auto& bg = h_->books[ins.isin_id].background[side];
    auto it = bg.find(price);
    if (it == bg.end()) {
        // An option's levels move with the clock (their value decays), so they draw from the
        // options' generator: the futures' flow stays the seed's whatever the pace.
        const std::uint64_t r = ins.option ? optionRng_() : rng_();
        it = bg.emplace(price, static_cast<std::int64_t>(1 + r % 500)).first;
    }
    return it->second;
}

std::int64_t Exchange::LevelVolume(const Instrument& ins, int side, std::int64_t price) {
    const std::int64_t others = OthersVolume(ins, side, price);
    std::int64_t own = 0;
    for (const auto& [id, o] : resting_) {
        if (o.isin_id == ins.isin_id && o.dir == side + 1 && o.price == price) {
            own += o.rest;
        }
    }
    return others + own;
}

std::int64_t Exchange::OwnBest(const Instrument& ins, int side) const {
    std::int64_t best = 0;
    for (const auto& [id, o] : resting_) {
        if (o.isin_id == ins.isin_id && o.dir == side + 1 &&
            (best == 0 || (side == 0 ? o.price > best : o.price < best))) {
            best = o.price;
        }
    }
    return best;
}

std::int64_t Exchange::BackgroundBest(const Instrument& ins, int side) const {
    const std::int64_t best = LevelPrice(ins, side, 0);
    const std::int64_t own = OwnBest(ins, 1 - side);
    // Levels are one step apart: the first one shown is the step beyond the trader's order.
    if (own == 0 || (side == 0 ? best < own : best > own)) {
        return best;
    }
    return side == 0 ? own - ins.step : own + ins.step;
}

bool Exchange::DepthWatched(int d) {
    // A book nobody watches is not kept row by row; it is brought up to date when someone
    // subscribes (Refresh).
    if (h_->refreshing >= 0 ? d != h_->refreshing : !market_.HasSubscribers(*h_->aggr[d].stream)) {
        h_->aggrStale[d] = h_->aggrStale[d] || h_->refreshing < 0;
        return false;
    }
    return true;
}

void Exchange::WriteAggrRow(int d, const Instrument& ins, int side, std::int64_t id,
                            std::int64_t price, std::int64_t volume) {
    Fields& f = h_->aggr[d];
    const std::uint64_t ns = ++h_->ns;
    std::string& row = f.Clear();
    PutInt(row.data(), f["isin_id"], ins.isin_id);
    PutDecimal(&row[f["price"].offset], price, static_cast<std::int8_t>(5));
    PutInt(row.data(), f["volume"], volume);
    PutTime(&row[f["moment"].offset], h_->now);
    PutInt(row.data(), f["moment_ns"], static_cast<std::int64_t>(ns));
    PutInt(row.data(), f["dir"], side + 1);
    PutInt(row.data(), f["timestamp"], static_cast<std::int64_t>(ns));
    PutInt(row.data(), f["sess_id"], kSession);
    market_.UpsertCopy(*f.stream, f.table, id, row);
}

// Background volume at one level changed: only the row of that price moves, when it is shown.
void Exchange::PutAggrLevel(const Instrument& ins, int side, int level) {
    const std::int64_t price = LevelPrice(ins, side, level);
    h_->books[ins.isin_id].background[side][price] = static_cast<std::int64_t>(1 + rng_() % 500);
    if (fillResting_ && FollowBook(ins)) {
        PublishBook(ins);
        return;
    }
    ShowLevel(ins, side, price, level);
}

void Exchange::ShowLevel(const Instrument& ins, int side, std::int64_t price, int level) {
    for (int d = 0; d < 3; ++d) {
        if (level >= kDepth[d] || !DepthWatched(d)) {
            continue;
        }
        auto& shown = h_->books[ins.isin_id].shown[d][side];
        const auto it = shown.find(price);
        if (it == shown.end()) {
            continue; // beyond the depth once own orders are counted in
        }
        it->second.second = LevelVolume(ins, side, price);
        WriteAggrRow(d, ins, side, it->second.first, price, it->second.second);
    }
}

// Brings every watched depth of the instrument's book to what the middle price, the background
// volumes and the trader's resting orders make it: rows of prices that left are deleted, new
// prices get rows of their own, changed volumes are rewritten. Each side stays sorted and within
// its depth. Bids stay below asks: a buy rests only below the best ask and a sell only above the
// best bid (AddOrder fills anything else at once, and refuses an order that would meet the
// trader's own); when resting orders are not filled and the middle price moves through them,
// the background levels they would meet are not shown, as if those traders had withdrawn.
void Exchange::PublishBook(const Instrument& ins) {
    Book& book = h_->books[ins.isin_id];
    for (int side = 0; side < 2; ++side) {
        // Prices offered: the background levels and the trader's own, best first.
        std::vector<std::int64_t> prices;
        const std::int64_t ownOpposite = OwnBest(ins, 1 - side);
        for (int level = 0; level < kLevels; ++level) {
            const std::int64_t price = LevelPrice(ins, side, level);
            // A cheap option's bids would run below its lowest price.
            if (price < ins.lower || price > ins.upper) {
                continue;
            }
            if (ownOpposite == 0 || (side == 0 ? price < ownOpposite : price > ownOpposite)) {
                prices.push_back(price);
            }
        }
        for (const auto& [id, o] : resting_) {
            if (o.isin_id == ins.isin_id && o.dir == side + 1) {
                prices.push_back(o.price);
            }
        }
        std::sort(prices.begin(), prices.end());
        prices.erase(std::unique(prices.begin(), prices.end()), prices.end());
        if (side == 0) {
            std::reverse(prices.begin(), prices.end());
        }
        // Background volumes far from the market are forgotten.
        auto& bg = book.background[side];
        std::erase_if(bg, [&](const auto& kv) {
            return kv.first < ins.mid - ins.step * (kLevels + 10) ||
                   kv.first > ins.mid + ins.step * (kLevels + 10);
        });
        for (int d = 0; d < 3; ++d) {
            if (!DepthWatched(d)) {
                continue;
            }
            Fields& f = h_->aggr[d];
            auto& shown = book.shown[d][side];
            const std::size_t n = std::min<std::size_t>(prices.size(), kDepth[d]);
            std::map<std::int64_t, std::pair<std::int64_t, std::int64_t>> next;
            for (std::size_t i = 0; i < n; ++i) {
                const std::int64_t price = prices[i];
                const std::int64_t volume = LevelVolume(ins, side, price);
                const auto old = shown.find(price);
                const std::int64_t id =
                    old != shown.end() ? old->second.first : market_.NextId(*f.stream, f.table);
                if (old == shown.end() || old->second.second != volume) {
                    WriteAggrRow(d, ins, side, id, price, volume);
                }
                next[price] = {id, volume};
            }
            for (const auto& [price, row] : shown) {
                if (next.find(price) == next.end()) {
                    market_.Delete(*f.stream, f.table, row.first);
                }
            }
            shown = std::move(next);
        }
    }
}

void Exchange::OwnOrdersChanged(const Instrument& ins) {
    h_->now = LocalNow();
    h_->ns = std::max<std::uint64_t>(h_->ns, EpochNs());
    PublishBook(ins);
}

bool Exchange::Move(std::int32_t isin_id, int ticks) {
    Instrument* ins = FindInstrument(isin_id);
    if (ins == nullptr || ins->option) {
        return false;
    }
    h_->now = LocalNow();
    h_->ns = std::max<std::uint64_t>(h_->ns, EpochNs());
    return MoveMid(*ins, ticks);
}

bool Exchange::MoveMid(Instrument& ins, int ticks) {
    const std::int64_t mid = ins.mid + ticks * ins.step;
    if (mid - ins.step * 50 <= ins.lower || mid + ins.step * 50 >= ins.upper) {
        return false;
    }
    ins.mid = mid;
    MatchResting(ins);
    PublishBook(ins);
    RepriceOptions(ins);
    Fields& f = h_->common;
    std::string& row = f.Clear();
    PutInt(row.data(), f["sess_id"], kSession);
    PutInt(row.data(), f["isin_id"], ins.isin_id);
    PutDecimal(&row[f["best_sell"].offset], mid + ins.step, static_cast<std::int8_t>(5));
    PutDecimal(&row[f["best_buy"].offset], mid - ins.step, static_cast<std::int8_t>(5));
    PutDecimal(&row[f["price"].offset], mid, static_cast<std::int8_t>(5));
    PutTime(&row[f["deal_time"].offset], h_->now);
    market_.UpsertCopy(*f.stream, f.table, ins.isin_id, row);
    return true;
}

bool Exchange::BackgroundWatched() {
    for (const Fields* f : {&h_->aggr[0], &h_->aggr[1], &h_->aggr[2], &h_->ordlog, &h_->deal}) {
        if (market_.HasSubscribers(*f->stream)) {
            return true;
        }
    }
    return false;
}

void Exchange::Background(std::size_t n) {
    const Time now = LocalNow();
    h_->now = now;
    h_->ns = std::max<std::uint64_t>(h_->ns, EpochNs());
    // Nobody keeps the anonymous order log or the deals: they leave no trace, and deals that
    // nobody sees are not made.
    const bool tape =
        market_.HasSubscribers(*h_->ordlog.stream) || market_.HasSubscribers(*h_->deal.stream);
    for (std::size_t e = 0; e < n; ++e) {
        ++counters_.events;
        const std::uint64_t r = rng_();
        const std::size_t k = (r >> 8) % futures_.size();
        Instrument& ins = instruments_[futures_[k]];
        const FlowStep step = flow_.Next(k, ins.mid, rng_);
        if (step.walk != 0) {
            MoveMid(ins, step.walk);
        }
        if (step.deal && tape) {
            BackgroundDeal(k, step.dir, step.amount);
            continue;
        }
        const unsigned kind = static_cast<unsigned>(r % 100);
        if (kind < 70) {
            // Most changes touch the best levels.
            const unsigned depth = static_cast<unsigned>((r >> 20) % 100);
            const int level = static_cast<int>(depth < 70   ? (r >> 28) % 5
                                               : depth < 90 ? 5 + (r >> 28) % 15
                                                            : 20 + (r >> 28) % 30);
            PutAggrLevel(ins, static_cast<int>((r >> 16) & 1), level);
            continue;
        }
        if (!tape) {
            continue;
        }
        // An order placed away from the market: it waits in the log, not in the book.
        const int dir = static_cast<int>((r >> 17) & 1) + 1;
        const std::int64_t price = ins.mid + (dir == 1 ? -1 : 1) * ins.step *
                                                 static_cast<std::int64_t>(1 + (r >> 24) % 10);
        const auto amount = static_cast<std::int64_t>(1 + (r >> 32) % 50);
        Fields& o = h_->ordlog;
        std::string& row = o.Clear();
        PutInt(row.data(), o["public_order_id"], nextPublicId_++);
        PutInt(row.data(), o["sess_id"], kSession);
        PutInt(row.data(), o["isin_id"], ins.isin_id);
        PutInt(row.data(), o["public_amount"], amount);
        PutInt(row.data(), o["public_amount_rest"], amount);
        PutInt(row.data(), o["xstatus"], 0x1);
        PutDecimal(&row[o["price"].offset], price, static_cast<std::int8_t>(5));
        PutTime(&row[o["moment"].offset], now);
        PutInt(row.data(), o["moment_ns"], static_cast<std::int64_t>(++h_->ns));
        PutInt(row.data(), o["dir"], dir);
        PutInt(row.data(), o["public_action"], 1);
        market_.UpsertCopy(*o.stream, o.table, ++h_->ordlogId, row);
    }
}

void Exchange::OrderLogFill(const Instrument& ins, std::int64_t orderId, int dir,
                            std::int64_t price, std::int64_t amount, std::int64_t rest,
                            std::int64_t dealId, std::int64_t dealPrice, std::uint64_t ns) {
    Fields& o = h_->ordlog;
    std::string& row = o.Clear();
    PutInt(row.data(), o["public_order_id"], orderId);
    PutInt(row.data(), o["sess_id"], kSession);
    PutInt(row.data(), o["isin_id"], ins.isin_id);
    PutInt(row.data(), o["public_amount"], amount);
    PutInt(row.data(), o["public_amount_rest"], rest);
    PutInt(row.data(), o["id_deal"], dealId);
    PutInt(row.data(), o["xstatus"], 0x1);
    PutDecimal(&row[o["price"].offset], price, static_cast<std::int8_t>(5));
    PutTime(&row[o["moment"].offset], h_->now);
    PutInt(row.data(), o["moment_ns"], static_cast<std::int64_t>(ns));
    PutInt(row.data(), o["dir"], dir);
    PutInt(row.data(), o["public_action"], 2);
    PutDecimal(&row[o["deal_price"].offset], dealPrice, static_cast<std::int8_t>(5));
    market_.UpsertCopy(*o.stream, o.table, ++h_->ordlogId, row);
}

// The taker trades with the background volume of the other side, best price first: one deal at
// each level it reaches, each with an order that rested there. It reaches no further than a few
// levels and never past the price limits (a limit order's price, in effect), so a large one may
// get less than it wanted. Levels it empties are gone: the quotes move after it by as many
// steps, and the prices it took fill again with fresh volume, as traders come back to them.
void Exchange::BackgroundDeal(std::size_t k, int dir, std::int64_t amount) {
    constexpr int kMaxLevels = 10;
    Instrument& ins = instruments_[futures_[k]];
    const int side = dir == 1 ? 1 : 0; // the side taken
    const std::int64_t toward = side == 1 ? ins.step : -ins.step;
    Book& book = h_->books[ins.isin_id];
    auto& bg = book.background[side];
    const std::int64_t best = BackgroundBest(ins, side);
    std::pair<std::int64_t, std::int64_t> taken[kMaxLevels]; // price, contracts
    int levels = 0;
    std::int64_t left = amount;
    bool emptiedLast = false;
    for (; levels < kMaxLevels && left > 0; ++levels) {
        const std::int64_t price = best + toward * levels;
        if (price < ins.lower || price > ins.upper) {
            break;
        }
        auto it = bg.find(price);
        if (it == bg.end()) {
            it = bg.emplace(price, static_cast<std::int64_t>(1 + rng_() % 500)).first;
        }
        const std::int64_t qty = std::min(left, it->second);
        taken[levels] = {price, qty};
        left -= qty;
        emptiedLast = qty == it->second;
        if (emptiedLast) {
            bg.erase(it);
        } else {
            it->second -= qty;
        }
    }
    if (levels == 0) {
        return;
    }
    flow_.Dealt(k);
    if (book.openInterest < 0) {
        book.openInterest = 50000 + static_cast<std::int64_t>(ins.isin_id % 97) * 1000;
    }
    const std::uint64_t opens = rng_();
    const std::int64_t limit = taken[levels - 1].first;
    const std::int64_t taker = nextPublicId_++;
    std::int64_t rest = amount - left;
    Fields& d = h_->deal;
    for (int i = 0; i < levels; ++i) {
        const auto [price, qty] = taken[i];
        const std::int64_t maker = nextRestingId_++;
        const std::int64_t dealId = nextDealId_++;
        const std::uint64_t ns = ++h_->ns;
        rest -= qty;
        // Each deal opens new positions or closes old ones, by chance.
        book.openInterest += ((opens >> i) & 1) != 0 ? qty : -std::min(qty, book.openInterest);
        std::string& deal = d.Clear();
        PutInt(deal.data(), d["sess_id"], kSession);
        PutInt(deal.data(), d["isin_id"], ins.isin_id);
        PutInt(deal.data(), d["id_deal"], dealId);
        PutInt(deal.data(), d["xpos"], book.openInterest);
        PutInt(deal.data(), d["xamount"], qty);
        PutInt(deal.data(), d["public_order_id_buy"], dir == 1 ? taker : maker);
        PutInt(deal.data(), d["public_order_id_sell"], dir == 1 ? maker : taker);
        PutDecimal(&deal[d["price"].offset], price, static_cast<std::int8_t>(5));
        PutTime(&deal[d["moment"].offset], h_->now);
        PutInt(deal.data(), d["moment_ns"], static_cast<std::int64_t>(ns));
        market_.UpsertCopy(*d.stream, d.table, dealId, deal);
        OrderLogFill(ins, taker, dir, limit, qty, rest, dealId, price, ns);
        OrderLogFill(ins, maker, 3 - dir, price, qty, 0, dealId, price, ns);
    }
    // The trader's orders by the deals first, then by the book they leave, as it happened.
    bool filled = false;
    if (const auto feed = feeds_.find(ins.isin_id); fillResting_ && feed != feeds_.end()) {
        const auto resting = side == 0 ? fills::TFillSide::Buy : fills::TFillSide::Sell;
        for (int i = 0; i < levels; ++i) {
            feed->second.engine.Deal(taken[i].first, taken[i].second, resting);
        }
        filled = BookFills(feed->second);
    }
    const int emptied = levels - (emptiedLast ? 0 : 1);
    if (emptied > 0 && MoveMid(ins, side == 1 ? emptied : -emptied)) {
        return;
    }
    filled = (fillResting_ && FollowBook(ins)) || filled;
    if (emptied > 0 || filled) {
        PublishBook(ins); // at the limits the quotes stay; the emptied levels refill where they are
    } else {
        ShowLevel(ins, side, best, 0);
    }
}

void Exchange::MarkStale(std::string_view stream) {
    for (int d = 0; d < 3; ++d) {
        if (h_->aggr[d].stream->def->name == stream) {
            h_->aggrStale[d] = true;
        }
    }
}

void Exchange::Refresh(std::string_view stream) {
    for (int d = 0; d < 3; ++d) {
        if (h_->aggr[d].stream->def->name != stream || !h_->aggrStale[d]) {
            continue;
        }
        h_->aggrStale[d] = false;
        h_->now = LocalNow();
        h_->refreshing = d;
        for (const Instrument& ins : instruments_) {
            PublishBook(ins);
        }
        h_->refreshing = -1;
    }
}

void Exchange::Tick() {
    ++ticks_;
    const Time now = LocalNow();
    for (Fields& f : h_->heartbeats) {
        std::string row(f.def->size, '\0');
        PutTime(&row[f["server_time"].offset], now);
        market_.Upsert(*f.stream, f.table, market_.NextId(*f.stream, f.table), std::move(row));
    }
    static const char* const kNews[][2] = {
        {"ru", "Изменены параметры расчёта гарантийного обеспечения по фьючерсу Si."},
        {"en", "Margin parameters of the Si futures have been changed."},
        {"ru", "Вечерняя торговая сессия начнётся в 19:05."},
        {"en", "The evening session starts at 19:05."},
        {"ru", "Расширены лимиты колебания цен по контракту BR."},
        {"en", "Price limits of the BR contract have been widened."},
    };
    OptionsTick();
    if (ticks_ % 30 == 0) {
        const auto& n = kNews[(ticks_ / 30 - 1) % (sizeof kNews / sizeof kNews[0])];
        SystemMessage(n[0], n[1], now);
    }
}

} // namespace vsim
