#include "options/BoardView.h"

#include "options/ExpiryClock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>

namespace vorlen::options {

namespace {

constexpr const char* kDash = "—";

std::string Comma(std::string s) {
    for (char& c : s) {
        if (c == '.') {
            c = ',';
        }
    }
    return s;
}

// A price as the exchange quotes it: up to five decimals, no trailing zeros.
std::string PriceText(double v) {
    std::string s = Fixed(v, 5);
    if (s.find(',') != std::string::npos) {
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == ',') {
            s.pop_back();
        }
    }
    return s;
}

std::string Signed(double v, int places) {
    return (v > 0 ? "+" : "") + Fixed(v, places);
}

std::optional<std::int64_t> Units(const std::optional<double>& price) {
    if (!price) {
        return std::nullopt;
    }
    return std::llround(*price * 100000.0);
}

std::optional<double> Percent(const TIvResult& r) {
    return r.Vol ? std::optional<double>(*r.Vol * 100.0) : std::nullopt;
}

void Price(TBoardCell& cell, const std::optional<double>& v, const char* none) {
    cell.Text = v ? PriceText(*v) : kDash;
    cell.Tip = v ? std::string() : none;
}

void Iv(TBoardCell& cell, const TSeriesRow& r, TIvShow show) {
    const auto part = [](const TIvResult& iv, std::string& tip, const char* side) {
        if (iv.Vol) {
            return Fixed(*iv.Vol * 100.0, 1);
        }
        tip +=
            (tip.empty() ? "" : "\n") + std::string(side) + std::string(IvFailureText(iv.Failure));
        return std::string(kDash);
    };
    cell.Tip.clear();
    if (show == TIvShow::Mid) {
        cell.Text = part(r.IvMid, cell.Tip, "");
        return;
    }
    const std::string bid = part(r.IvBid, cell.Tip, "покупка: ");
    const std::string ask = part(r.IvAsk, cell.Tip, "продажа: ");
    cell.Text = !r.IvBid.Vol && !r.IvAsk.Vol ? std::string(kDash) : bid + " / " + ask;
}

void Series(TBoardLine& line, const TSeriesRow& r, bool call, TIvShow show) {
    auto& c = line.Cells;
    const int pos = call ? kCallPosition : kPutPosition;
    const int oi = call ? kCallOpenInterest : kPutOpenInterest;
    const int delta = call ? kCallDelta : kPutDelta;
    c[pos].Text = r.In.Position != 0 ? std::to_string(r.In.Position) : "";
    c[oi].Text = std::to_string(r.In.OpenInterest);
    if (r.GreeksVol) {
        c[delta].Text = Fixed(r.Greeks.Delta, 3);
    } else {
        c[delta].Text = kDash;
        c[delta].Tip = "нет волатильности: ни середины котировок, ни волатильности биржи";
    }
    Iv(c[call ? kCallIv : kPutIv], r, show);
    Price(c[call ? kCallBid : kPutBid], r.In.Bid, "нет заявок на покупку");
    Price(c[call ? kCallAsk : kPutAsk], r.In.Ask, "нет заявок на продажу");
    (call ? line.CallIsin : line.PutIsin) = r.In.Isin;
    (call ? line.CallBid : line.PutBid) = Units(r.In.Bid);
    (call ? line.CallAsk : line.PutAsk) = Units(r.In.Ask);
}

std::string SourceText(TPriceSource s) {
    switch (s) {
    case TPriceSource::Mid:
        return "середина стакана";
    case TPriceSource::Last:
        return "последняя сделка";
    case TPriceSource::None:
        break;
    }
    return {};
}

} // namespace

std::string Fixed(double v, int places) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", places, v);
    std::string s = buf;
    // "-0,000" for a tiny negative reads as a sign that is not there.
    if (s.front() == '-' && s.find_first_not_of("-0.") == std::string::npos) {
        s.erase(0, 1);
    }
    return Comma(std::move(s));
}

std::string ExpiryText(double expiryDays, std::chrono::system_clock::time_point now) {
    const auto secs = static_cast<std::time_t>(std::llround(ExchangeDaysToUnixSeconds(expiryDays)));
    // The calendar date in exchange time, whatever the machine's zone.
    const std::time_t moscow = secs + static_cast<std::time_t>(kExchangeUtcOffsetHours) * 3600;
    // The calendar of <chrono>, which every platform has, rather than gmtime_r, which Windows
    // lacks.
    const std::chrono::year_month_day date{std::chrono::floor<std::chrono::days>(
        std::chrono::sys_seconds{std::chrono::seconds{moscow}})};
    char buf[64];
    const double days = YearsUntil(expiryDays, now) * 365.0;
    std::snprintf(buf, sizeof buf, "%02u.%02u.%04d (%s дн.)", static_cast<unsigned>(date.day()),
                  static_cast<unsigned>(date.month()), static_cast<int>(date.year()),
                  days > 0 ? Fixed(days, 0).c_str() : "0");
    return buf;
}

TBoardPage BuildPage(const TBoard& board, double expiryDays, TIvShow show,
                     std::chrono::system_clock::time_point now) {
    TBoardPage page;
    page.Forward = board.Forward;
    const std::optional<double> atm = AtmStrike(board, expiryDays);
    std::map<double, TBoardLine> lines;
    for (const TSeriesRow& r : board.Rows) {
        if (r.In.ExpiryDays != expiryDays) {
            continue;
        }
        TBoardLine& line = lines[r.In.Strike];
        if (line.CallIsin.empty() && line.PutIsin.empty()) {
            line.Strike = r.In.Strike;
            line.Atm = atm && *atm == r.In.Strike;
            line.Cells[kStrikeColumn].Text = PriceText(r.In.Strike);
            // A side with no series listed stays blank, not "—": there is nothing to price.
        }
        const bool call = r.In.Right == TRight::Call;
        Series(line, r, call, show);
        const bool outOfMoney =
            board.Forward && (call ? r.In.Strike >= *board.Forward : r.In.Strike < *board.Forward);
        if (outOfMoney) {
            TSmilePoint p;
            p.Strike = r.In.Strike;
            p.Bid = Percent(r.IvBid);
            p.Ask = Percent(r.IvAsk);
            p.Mid = Percent(r.IvMid);
            if (r.In.ExchangeVolat && *r.In.ExchangeVolat > 0) {
                p.Exchange = *r.In.ExchangeVolat;
            }
            page.Smile.push_back(p);
        }
    }
    for (auto& [strike, line] : lines) {
        if (line.Atm) {
            page.AtmLine = static_cast<int>(page.Lines.size());
        }
        page.Lines.push_back(std::move(line));
    }
    std::sort(page.Smile.begin(), page.Smile.end(),
              [](const TSmilePoint& a, const TSmilePoint& b) { return a.Strike < b.Strike; });

    if (board.Forward) {
        page.Header =
            "Фьючерс: " + PriceText(*board.Forward) + " (" + SourceText(board.Source) + ")";
    } else {
        page.Header = "Фьючерс: нет цены (ни двух сторон стакана, ни сделки)";
    }
    const double years = YearsUntil(expiryDays, now);
    page.Header += years > 0 ? ", до экспирации " + Fixed(years * 365.0, 1) + " дн. (" +
                                   Fixed(years, 4) + " г.)"
                             : ", серии исполнены";
    const TRisk& k = board.Risk;
    page.Risk = "Позиция: дельта " + Signed(k.Delta, 2) + ", гамма " + Signed(k.Gamma, 5) +
                ", вега " + Signed(k.Vega, 2) + ", тета " + Signed(k.Theta, 2) + " в день";
    if (k.Unpriced > 0) {
        page.Risk += " (без оценки серий: " + std::to_string(k.Unpriced) + ")";
    }
    return page;
}

} // namespace vorlen::options
