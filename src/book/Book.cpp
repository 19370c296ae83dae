#include "book/Book.h"

#include "store/FieldConversion.h"

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

std::vector<TPositionRow> PositionRows(const TBookSnapshot& book) {
    std::vector<TPositionRow> rows;
    const auto mark = MarkPrice(book);
    for (const TBookPosition& p : book.Positions) {
        TPositionRow r;
        r.Client = p.Client;
        r.Pos = std::to_string(p.Pos);
        r.AvgPrice = NumberText(p.AvgPrice);
        if (mark)
            r.Mark = NumberText(*mark);
        // A closed position has nothing open to value, whatever its last average price.
        if (const auto pnl = p.Pos == 0
                                 ? std::optional<double>(0.0)
                                 : OpenPnl(mark, p.AvgPrice, p.Pos, book.StepPrice, book.MinStep))
            r.OpenPnl = NumberText(*pnl);
        if (!book.VmSubscribed)
            r.VarMargin = kVmNotSubscribedText;
        else if (p.VarMargin)
            r.VarMargin = NumberText(*p.VarMargin);
        rows.push_back(std::move(r));
    }
    return rows;
}

} // namespace vorlen
