// The picture's arithmetic: candles gathered per pixel column against a plain model, where the
// trader's fills sit, what the crosshair reads, and how the view keeps its place.

#include "chart/ChartView.h"

#include "platform/FormatSettings.h"

#include <gtest/gtest.h>
#include <map>
#include <random>
#include <vector>

namespace vorlen::chart {
namespace {

std::int64_t Msk(const char* text) {
    return *history::ParseExchangeTime(text);
}

std::vector<TCandle> RandomCandles(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> move(-1, 1);
    std::uniform_int_distribution<int> volume(0, 50);
    std::vector<TCandle> out;
    double price = 100;
    for (std::size_t i = 0; i < n; ++i) {
        const double open = price;
        price += move(rng);
        const double high = std::max(open, price) + std::abs(move(rng));
        const double low = std::min(open, price) - std::abs(move(rng));
        out.push_back({static_cast<std::int64_t>(i) * 60'000, open, high, low, price, volume(rng)});
    }
    return out;
}

TEST(ChartView, ColumnsGatherTheirCandlesAsAPlainModelDoes) {
    const std::vector<TCandle> candles = RandomCandles(5000, 7);
    struct TView {
        double Step;
        double Right;
    };
    // Narrower and wider than a pixel, a fractional step, and views cut at either end.
    for (const TView v : {TView{0.013, 5000}, TView{0.37, 4100.5}, TView{1.0, 2000},
                          TView{1.6, 300.25}, TView{7.5, 5003}, TView{0.2, 700}}) {
        SCOPED_TRACE(testing::Message() << "step " << v.Step << " right " << v.Right);
        TViewport view;
        view.Width = 640;
        view.Step = v.Step;
        view.Right = v.Right;
        // The model: every candle whose span reaches into the plot, keyed by the pixel it
        // starts in.
        std::map<int, TColumn> model;
        for (std::size_t i = 0; i < candles.size(); ++i) {
            const double left = view.Width - (view.Right - static_cast<double>(i)) * view.Step;
            if (left + view.Step <= 0 || left >= view.Width)
                continue;
            const int px = static_cast<int>(std::floor(left));
            const TCandle& c = candles[i];
            auto [it, fresh] = model.try_emplace(px);
            TColumn& m = it->second;
            if (fresh) {
                m = {px, 0, i, i, c.Open, c.High, c.Low, c.Close, 0};
            }
            m.Last = i;
            m.High = std::max(m.High, c.High);
            m.Low = std::min(m.Low, c.Low);
            m.Close = c.Close;
            m.Volume += c.Volume;
        }
        std::vector<TColumn> columns;
        Aggregate(candles, view, columns);
        ASSERT_EQ(columns.size(), model.size());
        auto m = model.begin();
        for (std::size_t k = 0; k < columns.size(); ++k, ++m) {
            TColumn expected = m->second;
            expected.Width = columns[k].Width;
            EXPECT_EQ(columns[k], expected) << "column " << k;
            // Columns never overlap; a candle of a pixel or more keeps its width.
            if (k + 1 < columns.size()) {
                EXPECT_LE(columns[k].X + columns[k].Width, columns[k + 1].X + 1);
            }
            EXPECT_GE(columns[k].Width, std::max(1, static_cast<int>(v.Step) - 1));
        }
    }
}

TEST(ChartView, FillsSitOnTheCandleOfTheirInterval) {
    const std::int64_t t = Msk("2026-12-10 10:00");
    // 10:00, 10:05, then nothing until 10:15.
    const std::vector<TCandle> five = {
        {t, 1, 1, 1, 1, 1}, {t + 300'000, 1, 1, 1, 1, 1}, {t + 900'000, 1, 1, 1, 1, 1}};
    const std::vector<TCandle> days = {{Msk("2026-12-10 00:00"), 1, 1, 1, 1, 1},
                                       {Msk("2026-12-11 00:00"), 1, 1, 1, 1, 1},
                                       {Msk("2026-12-14 00:00"), 1, 1, 1, 1, 1}};
    struct TCase {
        const char* Name;
        const std::vector<TCandle>* Candles;
        TInterval Interval;
        std::int64_t Moment;
        std::optional<std::size_t> Expected;
    };
    const TCase cases[] = {
        {"before the first candle", &five, TInterval::Minute5, t - 1, std::nullopt},
        {"the interval's first millisecond", &five, TInterval::Minute5, t, 0},
        {"its last millisecond", &five, TInterval::Minute5, t + 299'999, 0},
        {"the next interval", &five, TInterval::Minute5, t + 300'000, 1},
        {"a quiet interval goes to the candle before it", &five, TInterval::Minute5, t + 660'000,
         1},
        {"after the last candle", &five, TInterval::Minute5, t + 3'600'000, 2},
        {"a tick of the same moment", &five, TInterval::Tick, t + 300'000, 1},
        {"a day's own deal", &days, TInterval::Day1, Msk("2026-12-10 14:00"), 0},
        {"the evening belongs to the next trading day", &days, TInterval::Day1,
         Msk("2026-12-10 20:00"), 1},
        {"Friday evening belongs to Monday", &days, TInterval::Day1, Msk("2026-12-11 20:00"), 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(CandleOf(*c.Candles, c.Interval, c.Moment), c.Expected);
    }
    const std::vector<TOwnFill> fills = {{1, t - 5, 9, 1, TFillSide::Buy},
                                         {2, t + 301'000, 9.5, 2, TFillSide::Sell}};
    EXPECT_EQ(PlaceFills(five, TInterval::Minute5, fills),
              (std::vector<TFillMark>{{1, 9.5, TFillSide::Sell}}));
}

TEST(ChartView, TheCrosshairReadsTheColumnUnderIt) {
    SetFormatSettings(RussianFormatSettings());
    const std::int64_t t = Msk("2026-12-10 10:05");
    const std::vector<TCandle> candles = {{t, 101.5, 102, 100.5, 101, 12},
                                          {t + 60'000, 101, 103.25, 99, 100, 8},
                                          {t + 120'000, 100, 100, 100, 100, 1}};
    TViewport view;
    view.Width = 100;
    view.Step = 10;
    view.Right = 10; // candle i spans [10 i, 10 i + 10)
    std::vector<TColumn> columns;
    Aggregate(candles, view, columns);
    const auto first = ReadOutAt(columns, candles, 5);
    ASSERT_TRUE(first);
    EXPECT_EQ(ReadOutText(*first, TInterval::Minute1),
              "10.12.2026 10:05  Откр 101,5  Макс 102  Мин 100,5  Закр 101  Объём 12");
    EXPECT_EQ(ReadOutAt(columns, candles, 19.9)->Close, 100);
    EXPECT_FALSE(ReadOutAt(columns, candles, 30));
    EXPECT_FALSE(ReadOutAt(columns, candles, -1));

    // Two candles to a pixel: the read-out is the column's, and says how many it holds.
    view.Step = 0.5;
    view.Right = 200;
    Aggregate(candles, view, columns);
    const auto both = ReadOutAt(columns, candles, view.X(0) + 0.2);
    ASSERT_TRUE(both);
    EXPECT_EQ(ReadOutText(*both, TInterval::Minute5),
              "10.12.2026 10:05  Откр 101,5  Макс 103,25  Мин 99  Закр 100  Объём 20  (свечей: 2)");
    EXPECT_EQ(ReadOutText(*both, TInterval::Day1).substr(0, 12), "10.12.2026  ");
}

TEST(ChartView, TheViewFollowsTheLiveEdgeOrKeepsItsPlace) {
    TViewport view;
    view.Width = 800;
    view.Step = 8;
    view.ToLive(1000);
    const double edge = view.X(999);
    view.Update(1001);
    EXPECT_DOUBLE_EQ(view.X(1000), edge); // the new candle takes the last one's place

    // Zooming about a pixel keeps the candle under it there.
    view.Pan(400, 1001);
    ASSERT_FALSE(view.Follow);
    const double under = view.IndexAt(300);
    view.Zoom(2.5, 300, 1001);
    EXPECT_NEAR(view.IndexAt(300), under, 1e-9);
    const double right = view.Right;
    view.Update(1100); // looking back: new candles do not move the picture
    EXPECT_EQ(view.Right, right);

    // Panning past either end stops there; reaching the live edge follows it again.
    view.Pan(1e9, 1100);
    EXPECT_GE(view.Right, 1.0);
    view.Pan(-1e9, 1100);
    EXPECT_TRUE(view.Follow);
    view.Zoom(1e-9, 400, 1100);
    EXPECT_EQ(view.Step, TViewport::kMinStep);
}

} // namespace
} // namespace vorlen::chart
