#include "book/BookView.h"

#include "platform/FormatSettings.h"

#include <cmath>

namespace vorlen {

namespace {

// "hh:mm:ss.zzz" of a moment in local time, as the journal writes it.
std::string TimeOfDay(std::chrono::system_clock::time_point t) {
    std::string line = JournalLine(std::string(), t, FormatSettings());
    const std::size_t from = line.find(' ');
    const std::size_t to = line.find(" --> ");
    if (from == std::string::npos || to == std::string::npos || to <= from)
        return line;
    return line.substr(from + 1, to - from - 1);
}

std::int64_t PriceUnits(double price) {
    return std::llround(price * 100000.0);
}

std::string OrDash(const std::string& text) {
    return text.empty() ? std::string("—") : text;
}

} // namespace

std::vector<TLadderRow> LadderRows(const TBookSnapshot& book) {
    std::vector<TLadderRow> rows;
    rows.reserve(book.Asks.size() + book.Bids.size());
    const auto own = [](const TBookLevel& l) {
        return l.Own > 0 ? std::to_string(l.Own) : std::string();
    };
    for (auto it = book.Asks.rbegin(); it != book.Asks.rend(); ++it) {
        TLadderRow r;
        r.Price = NumberText(it->Price);
        r.Units = PriceUnits(it->Price);
        r.Ask = std::to_string(it->Volume);
        r.Own = own(*it);
        r.Best = std::next(it) == book.Asks.rend();
        r.IsAsk = true;
        rows.push_back(std::move(r));
    }
    for (std::size_t i = 0; i < book.Bids.size(); ++i) {
        TLadderRow r;
        r.Price = NumberText(book.Bids[i].Price);
        r.Units = PriceUnits(book.Bids[i].Price);
        r.Bid = std::to_string(book.Bids[i].Volume);
        r.Own = own(book.Bids[i]);
        r.Best = i == 0;
        rows.push_back(std::move(r));
    }
    return rows;
}

TBookStatusLine BookStatusLine(const TBookSnapshot& book, std::chrono::system_clock::time_point now,
                               std::optional<THealthState> marketData) {
    TBookStatusLine line;
    line.Health = marketData;
    bool frozen = false;
    switch (book.Status) {
    case TBookStatus::NotSubscribed:
        line.Text = kBookNotSubscribedText;
        frozen = true;
        break;
    case TBookStatus::Waiting:
        line.Text = kBookWaitingText;
        frozen = true;
        break;
    case TBookStatus::Live:
        if (!book.LastUpdate) {
            line.Text = "заявок по инструменту нет";
            break;
        }
        const auto age = now - *book.LastUpdate;
        const auto tenths =
            std::chrono::duration_cast<std::chrono::milliseconds>(age).count() / 100;
        line.Text = "обновлено " + TimeOfDay(*book.LastUpdate) + ", " +
                    NumberText(static_cast<double>(tenths < 0 ? 0 : tenths) / 10) + " с назад";
        if (book.Crossed())
            line.Text += "; лучшая покупка не ниже лучшей продажи";
        frozen = !marketData && age > kBookStaleAfter;
        break;
    }
    if (marketData) {
        line.Text = std::string(HealthStateName(*marketData)) + "; " + line.Text;
        frozen = frozen || *marketData != THealthState::Online;
    }
    line.Stale = frozen;
    return line;
}

std::vector<std::string> PositionLines(const TBookSnapshot& book) {
    std::vector<std::string> lines;
    for (const TPositionRow& r : PositionRows(book)) {
        lines.push_back(r.Client + ": позиция " + r.Pos + " по " + r.AvgPrice + ", оценка " +
                        OrDash(r.Mark) + ", доход " + OrDash(r.OpenPnl) + ", ВМ " +
                        OrDash(r.VarMargin));
    }
    if (lines.empty())
        lines.emplace_back(kNoPositionText);
    return lines;
}

} // namespace vorlen
