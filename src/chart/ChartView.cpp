#include "chart/ChartView.h"

#include "history/HistoryDb.h"
#include "platform/FormatSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vorlen::chart {

namespace {

constexpr std::int64_t kDayMs = 86'400'000;
// A deal of an evening session belongs to the next trading day's candle, and the evening before
// a weekend to Monday's.
constexpr std::int64_t kEveningReachMs = 4 * kDayMs;
// The evening session starts after the main session's clearing, at 19:00 on the exchange's clock.
constexpr std::int64_t kEveningStartMs = 19LL * 3'600'000;

// "YYYY-MM-DD HH:MM:SS" of the exchange's clock, taken apart.
struct TStamp {
    std::string Date;  // DD.MM.YYYY
    std::string Short; // DD.MM
    std::string Time;  // HH:MM:SS
};
TStamp StampOf(std::int64_t ms) {
    const std::string t = history::FormatExchangeTime(ms);
    TStamp s;
    s.Short = t.substr(8, 2) + "." + t.substr(5, 2);
    s.Date = s.Short + "." + t.substr(0, 4);
    s.Time = t.substr(11, 8);
    return s;
}

std::int64_t Floor(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

} // namespace

void TViewport::ToLive(std::size_t count) {
    Follow = true;
    Right = static_cast<double>(count) + kLiveMarginPx / Step;
}

void TViewport::Zoom(double factor, double x, std::size_t count) {
    const double anchor = IndexAt(x);
    Step = std::clamp(Step * factor, kMinStep, kMaxStep);
    if (Follow) {
        ToLive(count);
        return;
    }
    Right = anchor + (Width - x) / Step;
    Pan(0, count);
}

void TViewport::Pan(double dx, std::size_t count) {
    Right -= dx / Step;
    const double live = static_cast<double>(count) + kLiveMarginPx / Step;
    // Reaching the live edge by hand follows it again, as the button does.
    Follow = Right >= live;
    Right = std::clamp(Right, std::min(1.0, live), live);
}

void Aggregate(std::span<const TCandle> candles, const TViewport& view, std::vector<TColumn>& out) {
    out.clear();
    if (candles.empty() || view.Width <= 0 || view.Step <= 0)
        return;
    const double n = static_cast<double>(candles.size());
    const double from = std::clamp(std::floor(view.IndexAt(0)), 0.0, n);
    const double to = std::clamp(std::ceil(view.Right), 0.0, n);
    for (auto i = static_cast<std::size_t>(from); i < static_cast<std::size_t>(to); ++i) {
        const double left = view.X(static_cast<double>(i));
        if (left + view.Step <= 0 || left >= view.Width)
            continue;
        const int px = static_cast<int>(std::floor(left));
        const TCandle& c = candles[i];
        if (!out.empty() && out.back().X == px) {
            TColumn& col = out.back();
            col.Last = i;
            col.High = std::max(col.High, c.High);
            col.Low = std::min(col.Low, c.Low);
            col.Close = c.Close;
            col.Volume += c.Volume;
            continue;
        }
        const int width = std::max(1, static_cast<int>(std::floor(left + view.Step)) - px);
        out.push_back({px, width, i, i, c.Open, c.High, c.Low, c.Close, c.Volume});
    }
}

TPriceRange PriceRangeOf(std::span<const TColumn> columns) {
    if (columns.empty())
        return {};
    TPriceRange r{columns.front().Low, columns.front().High};
    for (const TColumn& c : columns) {
        r.Low = std::min(r.Low, c.Low);
        r.High = std::max(r.High, c.High);
    }
    const double pad =
        r.High > r.Low ? (r.High - r.Low) * 0.05 : std::max(std::abs(r.High) * 0.005, 1e-5);
    return {r.Low - pad, r.High + pad};
}

std::int64_t MaxVolume(std::span<const TColumn> columns) {
    std::int64_t v = 0;
    for (const TColumn& c : columns)
        v = std::max(v, c.Volume);
    return v;
}

std::vector<double> PriceTicks(const TPriceRange& range, int wanted) {
    std::vector<double> ticks;
    const double span = range.High - range.Low;
    if (!(span > 0) || wanted <= 0)
        return ticks;
    const double raw = span / wanted;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    double step = mag;
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * mag;
        if (step >= raw)
            break;
    }
    const double first = std::ceil(range.Low / step);
    for (int k = 0;; ++k) {
        const double p = (first + k) * step;
        if (p > range.High)
            break;
        ticks.push_back(std::abs(p) < step * 1e-9 ? 0.0 : p);
    }
    return ticks;
}

std::optional<std::size_t> CandleOf(std::span<const TCandle> candles, TInterval interval,
                                    std::int64_t momentMs) {
    std::int64_t at = momentMs;
    if (const std::int64_t len = history::IntervalMs(interval); len != 0)
        at = IntervalStart(momentMs, len);
    if (interval == TInterval::Day1) {
        at = IntervalStart(momentMs, kDayMs);
        if (momentMs - at >= kEveningStartMs) {
            const auto next =
                std::upper_bound(candles.begin(), candles.end(), at,
                                 [](std::int64_t ms, const TCandle& c) { return ms < c.StartMs; });
            if (next != candles.end() && next->StartMs - at < kEveningReachMs)
                return static_cast<std::size_t>(next - candles.begin());
        }
    }
    const auto after =
        std::upper_bound(candles.begin(), candles.end(), at,
                         [](std::int64_t ms, const TCandle& c) { return ms < c.StartMs; });
    if (after == candles.begin())
        return std::nullopt;
    return static_cast<std::size_t>(after - candles.begin()) - 1;
}

std::vector<TFillMark> PlaceFills(std::span<const TCandle> candles, TInterval interval,
                                  std::span<const TOwnFill> fills) {
    std::vector<TFillMark> marks;
    marks.reserve(fills.size());
    for (const TOwnFill& f : fills)
        if (const auto at = CandleOf(candles, interval, f.MomentMs))
            marks.push_back({*at, f.Price, f.Side});
    return marks;
}

std::optional<TReadOut> ReadOutAt(std::span<const TColumn> columns,
                                  std::span<const TCandle> candles, double x) {
    const auto after = std::upper_bound(columns.begin(), columns.end(), x,
                                        [](double v, const TColumn& c) { return v < c.X; });
    if (after == columns.begin())
        return std::nullopt;
    const TColumn& c = *std::prev(after);
    if (x >= c.X + c.Width || c.First >= candles.size())
        return std::nullopt;
    return TReadOut{candles[c.First].StartMs, c.Open, c.High, c.Low, c.Close, c.Volume,
                    c.Last - c.First + 1};
}

std::string PriceText(double price) {
    char text[48];
    std::snprintf(text, sizeof text, "%.5f", price);
    std::string s = text;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    if (s == "-0")
        s = "0";
    if (const auto dot = s.find('.'); dot != std::string::npos)
        s[dot] = FormatSettings().DecimalSeparator;
    return s;
}

std::string ReadOutText(const TReadOut& r, TInterval interval) {
    const TStamp s = StampOf(r.StartMs);
    std::string when = s.Date;
    if (interval == TInterval::Tick) {
        const auto ms = static_cast<int>(r.StartMs - Floor(r.StartMs, 1000) * 1000);
        char frac[8];
        std::snprintf(frac, sizeof frac, ".%03d", ms);
        when += " " + s.Time + frac;
    } else if (interval != TInterval::Day1) {
        when += " " + s.Time.substr(0, 5);
    }
    std::string text = when + "  Откр " + PriceText(r.Open) + "  Макс " + PriceText(r.High) +
                       "  Мин " + PriceText(r.Low) + "  Закр " + PriceText(r.Close) + "  Объём " +
                       std::to_string(r.Volume);
    if (r.Candles > 1)
        text += "  (свечей: " + std::to_string(r.Candles) + ")";
    return text;
}

std::string TimeLabel(std::int64_t startMs, TInterval interval, bool newDay) {
    const TStamp s = StampOf(startMs);
    if (interval == TInterval::Day1)
        return s.Date;
    if (newDay)
        return s.Short;
    return interval == TInterval::Tick ? s.Time : s.Time.substr(0, 5);
}

bool OtherDay(std::int64_t aMs, std::int64_t bMs) {
    return IntervalStart(aMs, kDayMs) != IntervalStart(bMs, kDayMs);
}

} // namespace vorlen::chart
