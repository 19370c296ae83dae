// What a chart costs, off screen, over 1,000,000 one-minute candles of one instrument (about
// three years of a day-and-evening market), in a 1280 x 800 window:
//
//   chart_open_ms: the window built -> history.db read -> the first frame painted (target 500).
//   chart_frame_ms_p99: one frame after each step of a walk of wheel zooms and drags across the
//     whole range, from a few dozen candles to all of them in one picture (target 16).
//   chart_live_ms_p99: a deal applied to the store on a feeder thread -> the frame that shows
//     it painted (target 75), with the feeder at kDealsPerSecond; chart_repaints_per_s is how
//     many frames the window painted in any one second meanwhile (target 20).
//
// The last lines are each figure over its target: below 1 meets it.

#include "FastestRunReporter.h"
#include "chart/ChartData.h"
#include "gateway/Cgate.h"
#include "gui/ChartForm.h"
#include "history/HistoryDb.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <QApplication>
#include <QWheelEvent>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sqlite3.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vorlen {
namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

constexpr std::int32_t kIsin = 7;
constexpr int kCandles = 1'000'000;
constexpr int kDealsPerSecond = 5'000;
constexpr auto kLiveRun = std::chrono::seconds(3);
constexpr std::int64_t kFirst = 1'704'783'600'000; // 2024-01-09 10:00 on the exchange's clock

double Ms(TClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double P99(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * 99 / 100)];
}

fs::path gDir;
std::int64_t gLastMinute = 0;
std::vector<double> gOpen, gFrames, gLive;
double gRepaintsPerSecond = 0;

// history.db with a million minutes written straight into candle_1m, as the recorder leaves it,
// and the last minute's deals.
void MakeHistory() {
    gDir = fs::temp_directory_path() / ("vorlen-bench-chart-" + std::to_string(::getpid()));
    fs::create_directories(gDir);
    {
        history::THistoryDb schema;
        if (!schema.Open(gDir / "history.db"))
            std::abort();
    }
    sqlite3* db = nullptr;
    sqlite3_open((gDir / "history.db").string().c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* put = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO candle_1m VALUES(?1, ?2, 1, ?3, ?4, ?5, ?6, ?7, ?2, 0, ?2, 0)",
                       -1, &put, nullptr);
    std::mt19937 rng(3);
    std::normal_distribution<double> move(0, 8);
    std::uniform_int_distribution<int> volume(1, 300);
    double price = 90'000;
    std::int64_t t = kFirst;
    for (int i = 0; i < kCandles; ++i) {
        // Trading hours only: 10:00 to 23:50 on weekdays, as the candles of a real market lie.
        const double open = price;
        price = std::max(1000.0, price + move(rng));
        const double hi = std::max(open, price) + std::abs(move(rng)) / 2;
        const double lo = std::min(open, price) - std::abs(move(rng)) / 2;
        sqlite3_bind_int(put, 1, kIsin);
        sqlite3_bind_int64(put, 2, t);
        sqlite3_bind_double(put, 3, open);
        sqlite3_bind_double(put, 4, hi);
        sqlite3_bind_double(put, 5, lo);
        sqlite3_bind_double(put, 6, price);
        sqlite3_bind_int(put, 7, volume(rng));
        sqlite3_step(put);
        sqlite3_reset(put);
        gLastMinute = t;
        t += 60'000;
        if ((t + history::kExchangeOffsetMs) % 86'400'000 >= (23 * 60 + 50) * 60'000LL)
            t += 10 * 3'600'000 + 10 * 60'000;
    }
    sqlite3_finalize(put);
    const std::string deal = "INSERT INTO deal VALUES(1, 1, " + std::to_string(kIsin) + ", " +
                             std::to_string(price) + ", 1, " + std::to_string(gLastMinute) + ", 0)";
    sqlite3_exec(db, deal.c_str(), nullptr, nullptr, nullptr);
    sqlite3_exec(db, "INSERT INTO instrument VALUES(7, 'BENCH-3.27', 'BHH7')", nullptr, nullptr,
                 nullptr);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

std::vector<TClock::time_point> gPaintTimes;

// Notes when the chart paints, at the paint itself.
class TPaintClock final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            gPaintTimes.push_back(TClock::now());
        return QObject::eventFilter(watched, event);
    }
};

std::unique_ptr<gui::TChartForm> OpenChart(TCGStorage* store) {
    auto db = std::make_unique<chart::TDbHistory>();
    std::string error;
    if (!db->Open(gDir / "history.db", error))
        std::abort();
    auto form = std::make_unique<gui::TChartForm>(store, std::move(db), std::string(), kIsin,
                                                  "BENCH-3.27", chart::TInterval::Minute1);
    form->setAttribute(Qt::WA_DontShowOnScreen);
    form->resize(1280, 800);
    form->show();
    form->Chart->repaint();
    return form;
}

void BM_Open(benchmark::State& state) {
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        const auto since = TClock::now();
        auto form = OpenChart(nullptr);
        gOpen.push_back(Ms(TClock::now() - since));
        if (form->Data().Cache().Candles().size() != static_cast<std::size_t>(kCandles))
            state.SkipWithError("the candles did not all come");
    }
}

void BM_Frames(benchmark::State& state) {
    auto form = OpenChart(nullptr);
    gui::TChartWidget* w = form->Chart;
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> x(10, w->PlotRect().width() - 10);
    std::uniform_int_distribution<int> drag(-400, 400);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        // Out to the whole million and back in, with drags on the way.
        for (int step = 0; step < 120; ++step) {
            const QPoint at(x(rng), w->PlotRect().height() / 2);
            if (step % 3 == 2) {
                QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton,
                                  Qt::LeftButton, Qt::NoModifier);
                const QPoint to = at + QPoint(drag(rng), 0);
                QMouseEvent move(QEvent::MouseMove, to, w->mapToGlobal(to), Qt::NoButton,
                                 Qt::LeftButton, Qt::NoModifier);
                QMouseEvent release(QEvent::MouseButtonRelease, to, w->mapToGlobal(to),
                                    Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
                const auto since = TClock::now();
                QCoreApplication::sendEvent(w, &press);
                QCoreApplication::sendEvent(w, &move);
                QCoreApplication::sendEvent(w, &release);
                w->repaint();
                gFrames.push_back(Ms(TClock::now() - since));
                continue;
            }
            const int notches = step < 60 ? -1 : 1;
            QWheelEvent wheel(at, w->mapToGlobal(at), {}, {0, 120 * notches}, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            const auto since = TClock::now();
            QCoreApplication::sendEvent(w, &wheel);
            w->repaint();
            gFrames.push_back(Ms(TClock::now() - since));
        }
    }
}

void BM_Live(benchmark::State& state) {
    CG().cg_bcd_get = test::TestBcdGet;
    test::TTestScheme scheme;
    scheme.Table("deal", test::ReplFields({{"sess_id", "i4", 4},
                                           {"isin_id", "i4", 4},
                                           {"id_deal", "i8", 8},
                                           {"xamount", "i8", 8},
                                           {"price", "d16.5", 9},
                                           {"moment", "t", 10}}));
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        TCGStorage store;
        store.SetStreams({"FORTS_DEALS_REPL"});
        TStreamData lsn;
        lsn.sName = "FORTS_DEALS_REPL";
        store.SetTblsDesc(0, lsn, scheme.Desc());
        auto form = OpenChart(&store);
        TPaintClock clock;
        form->Chart->installEventFilter(&clock);
        const std::size_t before = form->Data().LiveDeals();
        const std::size_t total =
            static_cast<std::size_t>(kDealsPerSecond) * static_cast<std::size_t>(kLiveRun.count());
        std::vector<std::atomic<std::int64_t>> applied(total);
        std::atomic<bool> done{false};
        // Every deal lands in the minutes after the history's last one.
        const std::string when = history::FormatExchangeTime(gLastMinute + 60'000);
        std::thread feeder([&] {
            const auto start = TClock::now();
            for (std::size_t i = 0; i < total; ++i) {
                std::this_thread::sleep_until(
                    start + std::chrono::microseconds(i * 1'000'000 / kDealsPerSecond));
                cg_time_t t{};
                t.year = static_cast<std::uint16_t>(std::stoi(when.substr(0, 4)));
                t.month = static_cast<std::uint8_t>(std::stoi(when.substr(5, 2)));
                t.day = static_cast<std::uint8_t>(std::stoi(when.substr(8, 2)));
                t.hour = static_cast<std::uint8_t>(std::stoi(when.substr(11, 2)));
                t.minute = static_cast<std::uint8_t>(std::stoi(when.substr(14, 2)) + i / 60'000);
                t.second = static_cast<std::uint8_t>(i / 1000 % 60);
                test::TRowBytes r(scheme, "deal");
                r.Key(static_cast<std::int64_t>(i) + 10).Int("sess_id", 1).Int("isin_id", kIsin);
                r.Int("id_deal", static_cast<std::int64_t>(i) + 10).Int("xamount", 1);
                r.Decimal("price", 90'000 + static_cast<std::int64_t>(i % 50), 0);
                r.Time("moment", t);
                applied[i].store(TClock::now().time_since_epoch().count());
                store.UpdStrMsg(r.Msg(), lsn);
            }
            done = true;
        });
        const auto start = TClock::now();
        std::uint64_t seenPaints = form->Chart->Paints();
        std::size_t shown = 0;
        // When each frame with a live deal was seen; the rate is the most frames in any one
        // second, so the window's first paints after opening do not count as live ones.
        std::vector<TClock::time_point> frames;
        while (!done || shown < total) {
            QCoreApplication::processEvents();
            if (form->Chart->Paints() != seenPaints) {
                seenPaints = form->Chart->Paints();
                const auto at = TClock::now();
                const std::size_t live = form->Data().LiveDeals() - before;
                if (live > 0)
                    frames.push_back(at);
                for (; shown < live; ++shown)
                    gLive.push_back(
                        static_cast<double>(at.time_since_epoch().count() - applied[shown].load()) /
                        1e6);
            }
            if (TClock::now() - start > kLiveRun + std::chrono::seconds(5))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        feeder.join();
        // Frames per second over the live run: from the first frame with a live deal to the
        // last, as the window painted them (the paint events' own times).
        const auto& painted = gPaintTimes;
        const auto first = std::find_if(painted.begin(), painted.end(),
                                        [&](TClock::time_point t) { return t >= frames.front(); });
        if (!frames.empty() && first != painted.end() && painted.end() - first > 1)
            gRepaintsPerSecond = static_cast<double>(painted.end() - first - 1) /
                                 std::chrono::duration<double>(painted.back() - *first).count();
        if (shown < total)
            state.SkipWithError("not every deal was shown");
        form.reset();
    }
}

BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_Frames)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_Live)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(1)->UseRealTime();

} // namespace
} // namespace vorlen

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vorlen::MakeHistory();
    benchmark::Initialize(&argc, argv);
    vorlen::bench::TFastestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(vorlen::gDir, ec);
    using vorlen::gOpen;
    const double open = gOpen.empty() ? 0 : *std::min_element(gOpen.begin(), gOpen.end());
    const double frame = vorlen::P99(vorlen::gFrames);
    const double live = vorlen::P99(vorlen::gLive);
    std::printf("chart candles: %d, frames: %zu, live deals: %zu at %d/s\n", vorlen::kCandles,
                vorlen::gFrames.size(), vorlen::gLive.size(), vorlen::kDealsPerSecond);
    std::printf("chart_open_ms: %.1f\n", open);
    std::printf("chart_frame_ms_p99: %.2f\n", frame);
    std::printf("chart_live_ms_p99: %.1f\n", live);
    std::printf("chart_repaints_per_s: %.1f\n", vorlen::gRepaintsPerSecond);
    std::printf("chart_open_vs_target: %.2f\n", open / 500);
    std::printf("chart_frame_vs_target: %.2f\n", frame / 16);
    std::printf("chart_live_vs_target: %.2f\n", live / 75);
    std::printf("chart_repaints_vs_target: %.2f\n", vorlen::gRepaintsPerSecond / 20);
    return 0;
}
