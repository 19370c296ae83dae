#include "book/PriceLadder.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>

namespace vorlen {

namespace {

std::int64_t Units(double price) {
    return std::llround(price * 100000.0);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t Volume(const std::string& text) {
    std::int64_t v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

// "шаг", "шага", "шагов" for n.
const char* StepsWord(std::int64_t n) {
    n = n < 0 ? -n : n;
    if (n % 100 >= 11 && n % 100 <= 14)
        return "шагов";
    switch (n % 10) {
    case 1:
        return "шаг";
    case 2:
    case 3:
    case 4:
        return "шага";
    default:
        return "шагов";
    }
}

} // namespace

std::int64_t StepUnits(const TBookSnapshot& book) {
    if (!book.MinStep || !(*book.MinStep > 0))
        return 0;
    return Units(*book.MinStep);
}

std::vector<TLadderRow> TFixedLadder::Rows(const TBookSnapshot& book, int count) {
    FMoved = false;
    const std::int64_t step = StepUnits(book);
    if (step <= 0 || count <= 0)
        return {};
    if (step != FStep) {
        FStep = step;
        FCentre.reset();
    }
    std::optional<std::int64_t> bid, ask;
    if (!book.Bids.empty())
        bid = Units(book.Bids.front().Price);
    if (!book.Asks.empty())
        ask = Units(book.Asks.front().Price);

    // The grid goes through the market's own prices, whatever they are counted from.
    std::optional<std::int64_t> grid = bid ? bid : ask;
    if (!grid && book.LastDeal)
        grid = Units(*book.LastDeal);
    const std::int64_t half = count / 2;
    const auto shown = [&](std::optional<std::int64_t> p) {
        return !p || (*p <= *FCentre + half * step && *p >= *FCentre + (half - count + 1) * step);
    };
    const bool offGrid = FCentre && grid && (*FCentre - *grid) % step != 0;
    if (grid && (!FCentre || offGrid || !shown(bid) || !shown(ask))) {
        const std::int64_t mid = bid && ask ? (*bid + *ask) / 2 : *grid;
        const std::int64_t centre = *grid + FloorDiv(mid - *grid, step) * step;
        FMoved = FCentre != centre;
        FCentre = centre;
    }
    if (!FCentre)
        return {};

    std::map<std::int64_t, std::int64_t> bids, asks, ownBuy, ownSell;
    for (const TBookLevel& l : book.Bids)
        bids[Units(l.Price)] += l.Volume;
    for (const TBookLevel& l : book.Asks)
        asks[Units(l.Price)] += l.Volume;
    for (const TOwnLevel& o : book.OwnOrders)
        (o.Dir == 2 ? ownSell : ownBuy)[Units(o.Price)] += o.Volume;
    // Plain figures from here on: comparisons with an optional trip GCC's maybe-uninitialized.
    const bool hasBid = bid.has_value(), hasAsk = ask.has_value(),
               hasDeal = book.LastDeal.has_value();
    const std::int64_t bestBid = bid.value_or(0), bestAsk = ask.value_or(0);
    const std::int64_t deal = hasDeal ? Units(*book.LastDeal) : 0;
    const auto find = [](const std::map<std::int64_t, std::int64_t>& m, std::int64_t p) {
        const auto it = m.find(p);
        return it != m.end() ? it->second : std::int64_t{0};
    };

    std::vector<TLadderRow> rows(static_cast<std::size_t>(count));
    const std::int64_t top = *FCentre + half * step;
    for (int i = 0; i < count; ++i) {
        TLadderRow& r = rows[static_cast<std::size_t>(i)];
        const std::int64_t p = top - i * step;
        r.Units = p;
        r.Price = PriceText(static_cast<double>(p) / 100000.0, book.MinStep);
        if (const std::int64_t v = find(bids, p); v > 0)
            r.Bid = std::to_string(v);
        if (const std::int64_t v = find(asks, p); v > 0)
            r.Ask = std::to_string(v);
        r.IsAsk = hasAsk && p >= bestAsk;
        r.Inside = hasBid && hasAsk && p > bestBid && p < bestAsk;
        r.Best = (hasBid && p == bestBid) || (hasAsk && p == bestAsk);
        r.LastDeal = hasDeal && p == deal;
        if (const std::int64_t v = find(ownBuy, p); v > 0) {
            r.Own = std::to_string(v);
            r.OwnSide = 1;
        } else if (const std::int64_t s = find(ownSell, p); s > 0) {
            r.Own = std::to_string(s);
            r.OwnSide = 2;
        }
    }
    return rows;
}

void AddCumulative(std::vector<TLadderRow>& rows) {
    std::int64_t sum = 0;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (!it->IsAsk)
            continue;
        sum += Volume(it->Ask);
        it->Cumulative = sum > 0 ? std::to_string(sum) : std::string();
    }
    sum = 0;
    for (TLadderRow& r : rows) {
        if (r.IsAsk || r.Inside)
            continue;
        sum += Volume(r.Bid);
        r.Cumulative = sum > 0 ? std::to_string(sum) : std::string();
    }
}

std::string SpreadText(const TBookSnapshot& book) {
    if (book.Bids.empty() || book.Asks.empty())
        return {};
    const std::int64_t diff = Units(book.Asks.front().Price) - Units(book.Bids.front().Price);
    if (const std::int64_t step = StepUnits(book); step > 0 && diff % step == 0) {
        const std::int64_t n = diff / step;
        return "спред " + std::to_string(n) + " " + StepsWord(n);
    }
    return "спред " + NumberText(static_cast<double>(diff) / 100000.0);
}

} // namespace vorlen
