#pragma once

// What a chart's picture is made of, without the drawing: which candles the view shows and where,
// the candles gathered per pixel column when they are narrower than a pixel, the price scale,
// where the trader's fills sit, and the crosshair's read-out.
//
// The time axis counts candles, not time: nights, weekends and quiet minutes take no room, as
// every trading chart does it. Candle i spans [X(i), X(i) + Step) pixels of the plot.

#include "chart/ChartCandles.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vorlen::chart {

struct TViewport {
    // The narrowest and widest candle, in pixels: at the narrowest a million candles still fit
    // a window; the widest shows a few dozen.
    static constexpr double kMinStep = 1.0 / 2048;
    static constexpr double kMaxStep = 64;
    // Room kept right of the last candle while following the live edge.
    static constexpr double kLiveMarginPx = 24;

    int Width = 0;      // the plot's width in pixels
    double Step = 8;    // pixels per candle
    double Right = 0;   // the candle position at the plot's right edge
    bool Follow = true; // the right edge moves with new candles

    double X(double index) const { return Width - (Right - index) * Step; }
    double IndexAt(double x) const { return Right - (Width - x) / Step; }

    // Follows the last of `count` candles (the live edge).
    void ToLive(std::size_t count);
    // Keeps the live edge when following; otherwise the place the trader scrolled to.
    void Update(std::size_t count) {
        if (Follow)
            ToLive(count);
    }
    // Scales the step by `factor` about pixel `x`: the candle under it stays under it.
    void Zoom(double factor, double x, std::size_t count);
    // Moves the picture `dx` pixels to the right (an earlier stretch comes into view).
    void Pan(double dx, std::size_t count);
};

// The candles of one pixel column: the first's open, the last's close, the extremes, the sum of
// volumes. Where candles are a pixel or wider, each is a column of its own.
struct TColumn {
    int X = 0;             // left pixel
    int Width = 1;         // pixels
    std::size_t First = 0; // candle indices, inclusive
    std::size_t Last = 0;
    double Open = 0, High = 0, Low = 0, Close = 0;
    std::int64_t Volume = 0;
    bool operator==(const TColumn&) const = default;
};

// The visible candles as columns, left to right.
void Aggregate(std::span<const TCandle> candles, const TViewport& view, std::vector<TColumn>& out);

// The price range the columns span, widened a little so that highs and lows do not touch the
// frame; a flat range is opened around its price.
struct TPriceRange {
    double Low = 0;
    double High = 1;
    double Y(double price, double top, double height) const {
        return top + (High - price) / (High - Low) * height;
    }
    double PriceAt(double y, double top, double height) const {
        return High - (y - top) / height * (High - Low);
    }
};
TPriceRange PriceRangeOf(std::span<const TColumn> columns);
std::int64_t MaxVolume(std::span<const TColumn> columns);

// Round price levels for the axis, about `wanted` of them across the range.
std::vector<double> PriceTicks(const TPriceRange& range, int wanted);

// The candle a moment belongs to, by the interval's own rule; nothing before the first candle.
// A moment between candles (a deal the chart does not have) goes to the candle before it.
std::optional<std::size_t> CandleOf(std::span<const TCandle> candles, TInterval interval,
                                    std::int64_t momentMs);

// The trader's own deal.
enum class TFillSide { Buy, Sell, Unknown };
struct TOwnFill {
    std::int64_t IdDeal = 0;
    std::int64_t MomentMs = 0;
    double Price = 0;
    std::int64_t Amount = 0;
    TFillSide Side = TFillSide::Unknown;
};
struct TFillMark {
    std::size_t Candle = 0;
    double Price = 0;
    TFillSide Side = TFillSide::Unknown;
    bool operator==(const TFillMark&) const = default;
};
std::vector<TFillMark> PlaceFills(std::span<const TCandle> candles, TInterval interval,
                                  std::span<const TOwnFill> fills);

// What the crosshair reads at pixel x: the column under it; nothing off the candles.
struct TReadOut {
    std::int64_t StartMs = 0; // the column's first candle
    double Open = 0, High = 0, Low = 0, Close = 0;
    std::int64_t Volume = 0;
    std::size_t Candles = 1;
};
std::optional<TReadOut> ReadOutAt(std::span<const TColumn> columns,
                                  std::span<const TCandle> candles, double x);
// "10.12.2026 10:05  О 101,5  Макс 102  Мин 100,5  З 101  Объём 12" in exchange time; a tick
// candle's time shows milliseconds, a day candle's none.
std::string ReadOutText(const TReadOut& r, TInterval interval);
// A price as the axis and the labels show it: no trailing zeros, the locale's decimal separator.
std::string PriceText(double price);
// The axis label of a candle's time: the date at a day's first candle, else the time of day.
std::string TimeLabel(std::int64_t startMs, TInterval interval, bool newDay);
// Whether two stamps fall on different days in exchange time.
bool OtherDay(std::int64_t aMs, std::int64_t bMs);

} // namespace vorlen::chart
