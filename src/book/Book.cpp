#include "book/Book.h"

#include "platform/FormatSettings.h"
#include "store/FieldConversion.h"

#include <cmath>
#include <cstdlib>

namespace vorlen {

std::optional<double> TBookSnapshot::BestBid() const {
    if (Bids.empty())
        return std::nullopt;
    return Bids.front().Price;
}

std::optional<double> TBookSnapshot::BestAsk() const {
    if (Asks.empty())
        return std::nullopt;
    return Asks.front().Price;
}

bool TBookSnapshot::Crossed() const {
    return !Bids.empty() && !Asks.empty() && Bids.front().Price >= Asks.front().Price;
}

std::optional<double> MarkPrice(const TBookSnapshot& book) {
    const auto bid = book.BestBid();
    const auto ask = book.BestAsk();
    if (bid && ask)
        return (*bid + *ask) / 2;
    return book.LastDeal;
}

std::optional<double> OpenPnl(std::optional<double> mark, double avgPrice, std::int64_t pos,
                              std::optional<double> stepPrice, std::optional<double> minStep) {
    if (!mark || !stepPrice || !minStep || !(*minStep > 0))
        return std::nullopt;
    return (*mark - avgPrice) * static_cast<double>(pos) * *stepPrice / *minStep;
}

std::string NumberText(double v) {
    return ValueToStr(TValue(v));
}

std::string MoneyText(double roubles) {
    if (!std::isfinite(roubles))
        return NumberText(roubles);
    const long long kopecks = std::llround(roubles * 100);
    const long long whole = std::llabs(kopecks) / 100;
    const long long part = std::llabs(kopecks) % 100;
    std::string text = kopecks < 0 ? "-" : "";
    text += std::to_string(whole);
    text += FormatSettings().DecimalSeparator;
    text += static_cast<char>('0' + part / 10);
    text += static_cast<char>('0' + part % 10);
    return text + " ₽";
}

std::string PriceText(double price, std::optional<double> minStep) {
    // The exchange's prices carry at most five decimals.
    int decimals = 5;
    if (minStep && *minStep > 0) {
        for (int d = 0; d < 5; ++d) {
            const double scaled = *minStep * std::pow(10.0, d);
            if (std::fabs(scaled - std::round(scaled)) < 1e-6 * scaled) {
                decimals = d;
                break;
            }
        }
    }
    const double scale = std::pow(10.0, decimals);
    return NumberText(std::round(price * scale) / scale);
}

std::vector<TPositionRow> PositionRows(const TBookSnapshot& book) {
    std::vector<TPositionRow> rows;
    const auto mark = MarkPrice(book);
    for (const TBookPosition& p : book.Positions) {
        TPositionRow r;
        r.Client = p.Client;
        r.Pos = std::to_string(p.Pos);
        r.AvgPrice = PriceText(p.AvgPrice, book.MinStep);
        if (mark)
            r.Mark = PriceText(*mark, book.MinStep);
        // A closed position has nothing open to value, whatever its last average price.
        if (const auto pnl = p.Pos == 0
                                 ? std::optional<double>(0.0)
                                 : OpenPnl(mark, p.AvgPrice, p.Pos, book.StepPrice, book.MinStep))
            r.OpenPnl = MoneyText(*pnl);
        if (!book.VmSubscribed)
            r.VarMargin = kVmNotSubscribedText;
        else if (p.VarMargin)
            r.VarMargin = MoneyText(*p.VarMargin);
        rows.push_back(std::move(r));
    }
    return rows;
}

} // namespace vorlen
