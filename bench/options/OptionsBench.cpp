// The board of one futures computed again after the futures ticks: 280 series (two expiries,
// 70 strikes, calls and puts), each quoted a step either side of its value on a smile, so that
// every bid, ask and mid needs a solve, as on the simulator's market. Prints the time of one
// recomputation and the implied-volatility solves a second it amounts to.

#include "FastestRunReporter.h"
#include "options/Board.h"
#include "options/ExpiryClock.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace vorlen::options {
namespace {

constexpr double kForward = 92000;
constexpr double kStrikeStep = 250;
constexpr int kStrikes = 70;
constexpr double kTick = 1;

constexpr std::chrono::system_clock::time_point kNow{std::chrono::seconds(1'790'000'000)};

double Round(double v) {
    return std::max(kTick, std::round(v / kTick) * kTick);
}

TBoardInput Input() {
    TBoardInput in;
    in.Underlying.IsinId = 1;
    in.Underlying.Isin = "Si-12.26";
    in.Underlying.Bid = kForward - 1;
    in.Underlying.Ask = kForward + 1;
    const double nowDays = 25569.0 + 1'790'000'000.0 / 86400.0 + 3.0 / 24.0;
    std::int32_t id = 100;
    for (const double days : {23.0, 114.0}) {
        const double years = days / 365.0;
        for (int k = 0; k < kStrikes; ++k) {
            const double strike = kForward + (k - kStrikes / 2.0) * kStrikeStep;
            const double m = std::log(strike / kForward);
            const double vol = 0.18 + 0.9 * m * m - 0.05 * m;
            for (const TRight right : {TRight::Call, TRight::Put}) {
                TSeriesInput s;
                s.IsinId = id++;
                s.Isin = "S" + std::to_string(s.IsinId);
                s.Strike = strike;
                s.Right = right;
                s.ExpiryDays = nowDays + days;
                const double value = Black76Price(right, kForward, strike, years, vol);
                s.Bid = Round(value - kTick);
                s.Ask = Round(value + kTick);
                s.OpenInterest = 100;
                s.Position = k % 7 == 0 ? 3 : 0;
                s.ExchangeVolat = vol * 100;
                in.Series.push_back(std::move(s));
            }
        }
    }
    return in;
}

int Solves(const TBoard& b) {
    int n = 0;
    for (const TSeriesRow& r : b.Rows)
        n += (r.IvBid.Iterations > 0) + (r.IvAsk.Iterations > 0) + (r.IvMid.Iterations > 0);
    return n;
}

int gSolves = 0;

void BM_RecalcAfterTick(benchmark::State& state) {
    TBoardInput in = Input();
    double shift = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        // A tick of the futures: every series is solved again against the new forward.
        shift = shift == 0 ? 1 : 0;
        in.Underlying.Bid = kForward - 1 + shift;
        in.Underlying.Ask = kForward + 1 + shift;
        const TBoard b = ComputeBoard(in, kNow);
        benchmark::DoNotOptimize(b.Risk.Delta);
        gSolves = Solves(b);
    }
}
BENCHMARK(BM_RecalcAfterTick)->Unit(benchmark::kMicrosecond)->Repetitions(5);

} // namespace
} // namespace vorlen::options

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    vorlen::bench::TFastestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto it = reporter.Times.find("BM_RecalcAfterTick");
    if (it == reporter.Times.end() || it->second <= 0 || vorlen::options::gSolves == 0) {
        std::fprintf(stderr, "options_recalc_us: the benchmark must run\n");
        return 1;
    }
    // The reporter keeps microseconds, as the benchmark's unit says.
    const double us = it->second;
    std::fflush(stdout);
    std::printf("series: 280, solves per recalc: %d\n", vorlen::options::gSolves);
    std::printf("options_recalc_us: %.1f\n", us);
    std::printf("iv_solves_per_s: %.0f\n", vorlen::options::gSolves / (us * 1e-6));
    return 0;
}
