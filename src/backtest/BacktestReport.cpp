#include "backtest/BacktestReport.h"

#include "orders/RiskLimits.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace vorlen::backtest {

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::int64_t kMoscowNs = 10'800 * kNsPerSecond; // three hours

// "YYYY-MM-DD HH:MM:SS.mmm" in the exchange's time (Moscow, UTC+3 all year).
std::string Moment(std::int64_t ns) {
    const std::int64_t local = ns + kMoscowNs;
    const std::int64_t secs = local / kNsPerSecond;
    std::int64_t days = secs / 86'400;
    const std::int64_t tod = secs % 86'400;
    // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
    days += 719'468;
    const std::int64_t era = days / 146'097;
    const std::int64_t doe = days - era * 146'097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                  static_cast<long long>(tod / 3600), static_cast<long long>(tod / 60 % 60),
                  static_cast<long long>(tod % 60),
                  static_cast<long long>(local % kNsPerSecond / 1'000'000));
    return text;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    // A result that rounds to zero is written as zero, never "-0.00".
    const double shown = std::fabs(value) < 0.5 * std::pow(10.0, -decimals) ? 0.0 : value;
    std::snprintf(text, sizeof text, "%.*f", decimals, shown);
    return text;
}

// A journal text or a refusal in a TSV cell: no tab or line break may end the cell.
std::string Cell(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return text;
}

std::string Html(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// One series as an SVG polyline over the run's time, scaled to its own range.
std::string Svg(const std::vector<TEquityPoint>& points, const std::vector<double>& values,
                const char* colour, const std::string& title) {
    constexpr int kWidth = 900, kHeight = 220, kPad = 30;
    std::ostringstream s;
    s << "<h2>" << Html(title) << "</h2>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\""
      << kWidth << "\" height=\"" << kHeight << "\" style=\"background:#fafafa\">\n";
    if (points.size() < 2) {
        s << "<text x=\"10\" y=\"20\">нет данных</text></svg>\n";
        return s.str();
    }
    const double lo = std::min(0.0, *std::min_element(values.begin(), values.end()));
    const double hi = std::max(0.0, *std::max_element(values.begin(), values.end()));
    const double range = hi > lo ? hi - lo : 1;
    const auto t0 = static_cast<double>(points.front().AtNs);
    const double span = std::max(1.0, static_cast<double>(points.back().AtNs) - t0);
    const auto x = [&](std::size_t i) {
        return kPad + (kWidth - 2 * kPad) * (static_cast<double>(points[i].AtNs) - t0) / span;
    };
    const auto y = [&](double v) { return kPad + (kHeight - 2 * kPad) * (hi - v) / range; };
    s << "<line x1=\"" << kPad << "\" x2=\"" << kWidth - kPad << "\" y1=\"" << Fixed(y(0), 1)
      << "\" y2=\"" << Fixed(y(0), 1) << "\" stroke=\"#999\"/>\n";
    s << "<text x=\"2\" y=\"" << kPad - 8 << "\" font-size=\"11\">" << Fixed(hi, 2)
      << "</text><text x=\"2\" y=\"" << kHeight - 8 << "\" font-size=\"11\">" << Fixed(lo, 2)
      << "</text>\n<polyline fill=\"none\" stroke=\"" << colour << "\" points=\"";
    for (std::size_t i = 0; i < points.size(); ++i)
        s << (i > 0 ? " " : "") << Fixed(x(i), 1) << ',' << Fixed(y(values[i]), 1);
    s << "\"/>\n</svg>\n";
    return s.str();
}

bool WriteFile(const std::filesystem::path& file, const std::string& text, std::string& error) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        error = "не удалось записать " + file.string();
        return false;
    }
    return true;
}

} // namespace

std::string Money(double value) {
    return Fixed(value, 2);
}

TSummary Summarize(const TBacktestResult& r) {
    TSummary s;
    for (const TDayResult& d : r.Days) {
        s.Gross += d.Gross;
        s.Fees += d.Fees;
    }
    s.Net = s.Gross - s.Fees;
    for (const TOrderRow& o : r.Orders)
        ++(o.State == "refused" ? s.Refusals : s.Orders);
    for (const TTradeRow& t : r.Trades) {
        ++s.Fills;
        s.MaxExposure = std::max(s.MaxExposure, std::abs(t.Position));
        s.FinalPosition = t.Position;
        if (!t.Closing)
            continue;
        ++s.Closing;
        s.Wins += t.Realized > 0 ? 1 : 0;
        s.LargestWin = std::max(s.LargestWin, t.Realized);
        s.LargestLoss = std::min(s.LargestLoss, t.Realized);
    }
    s.WinRate = s.Closing > 0 ? static_cast<double>(s.Wins) / static_cast<double>(s.Closing) : 0;
    double peak = 0;
    for (const TEquityPoint& p : r.Equity) {
        peak = std::max(peak, p.Equity);
        s.MaxDrawdown = std::max(s.MaxDrawdown, peak - p.Equity);
    }
    return s;
}

std::vector<std::pair<std::string, std::string>> SummaryRows(const TBacktestResult& r) {
    const TSummary s = Summarize(r);
    std::vector<std::pair<std::string, std::string>> rows = {
        {"net_pnl", Money(s.Net)},
        {"gross_pnl", Money(s.Gross)},
        {"fees", Money(s.Fees)},
        {"orders", std::to_string(s.Orders)},
        {"fills", std::to_string(s.Fills)},
        {"refusals", std::to_string(s.Refusals)},
        {"win_rate", Fixed(s.WinRate, 4)},
        {"largest_win", Money(s.LargestWin)},
        {"largest_loss", Money(s.LargestLoss)},
        {"max_drawdown", Money(s.MaxDrawdown)},
        {"final_position", std::to_string(s.FinalPosition)},
        {"max_exposure", std::to_string(s.MaxExposure)},
        {"records", std::to_string(r.Records)},
    };
    for (const TDayResult& d : r.Days)
        rows.emplace_back("day_net_pnl " + d.Date, Money(d.Gross - d.Fees));
    return rows;
}

bool WriteReport(const std::filesystem::path& dir, const TRunFacts& facts, const TBacktestResult& r,
                 std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "не удалось создать папку " + dir.string() + ": " + ec.message();
        return false;
    }
    std::ostringstream trades;
    trades << "time\torder\tside\tqty\tprice\tfee\trealized\tposition\n";
    for (const TTradeRow& t : r.Trades)
        trades << Moment(t.AtNs) << '\t' << t.OrderId << '\t' << (t.Buy ? "buy" : "sell") << '\t'
               << t.Qty << '\t' << orders::FormatPrice(t.Price) << '\t' << Money(t.Fee) << '\t'
               << Money(t.Realized) << '\t' << t.Position << '\n';
    std::ostringstream ords;
    ords << "time\torder\tside\tqty\tprice\tclient\tstate\tfilled\treason\n";
    for (const TOrderRow& o : r.Orders)
        ords << Moment(o.AtNs) << '\t' << o.Id << '\t' << (o.Buy ? "buy" : "sell") << '\t' << o.Qty
             << '\t' << Cell(o.Price) << '\t' << Cell(o.Client) << '\t' << o.State << '\t'
             << o.Filled << '\t' << Cell(o.Reason) << '\n';
    const auto rows = SummaryRows(r);
    std::ostringstream summary;
    summary << "name\tvalue\n";
    for (const auto& [name, value] : facts)
        summary << name << '\t' << Cell(value) << '\n';
    for (const auto& [name, value] : rows)
        summary << name << '\t' << value << '\n';
    std::ostringstream journal;
    for (const std::string& line : r.Journal)
        journal << line << '\n';

    std::vector<double> equity, drawdown, position;
    double peak = 0;
    for (const TEquityPoint& p : r.Equity) {
        peak = std::max(peak, p.Equity);
        equity.push_back(p.Equity);
        drawdown.push_back(p.Equity - peak);
        position.push_back(static_cast<double>(p.Position));
    }
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\"><title>"
         << "Тест на истории</title>\n<style>body{font-family:sans-serif;margin:20px}"
         << "table{border-collapse:collapse}td{border:1px solid #ccc;padding:2px 8px}</style>"
         << "</head><body>\n<h1>Тест на истории</h1>\n<table>\n";
    for (const auto& [name, value] : facts)
        html << "<tr><td>" << Html(name) << "</td><td>" << Html(value) << "</td></tr>\n";
    for (const auto& [name, value] : rows)
        html << "<tr><td>" << Html(name) << "</td><td>" << Html(value) << "</td></tr>\n";
    html << "</table>\n"
         << Svg(r.Equity, equity, "#1f6fb4", "Доход с учётом комиссий")
         << Svg(r.Equity, drawdown, "#c0392b", "Просадка")
         << Svg(r.Equity, position, "#2e8b57", "Позиция") << "</body></html>\n";

    return WriteFile(dir / "trades.tsv", trades.str(), error) &&
           WriteFile(dir / "orders.tsv", ords.str(), error) &&
           WriteFile(dir / "summary.tsv", summary.str(), error) &&
           WriteFile(dir / "journal.txt", journal.str(), error) &&
           WriteFile(dir / "report.html", html.str(), error);
}

} // namespace vorlen::backtest
