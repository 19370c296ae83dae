// How fast a backtest goes: records a second of processor time over a recorded session of the
// offline exchange, with a strategy that defines no callback (the backtest's own cost: the
// replay into its store, the book, the fill models) and with the market-making sample; the
// replay alone for comparison; and a sweep of the sample on every core against one.
//
//   backtest_events_per_s      target 1 000 000 on one core
//   backtest_mm_events_per_s   target 200 000
//   sweep_speedup              wall time of the sweep on one worker over on every core

#include "../../tests/e2e/SimHarness.h"
#include "FastestRunReporter.h"
#include "backtest/Sweep.h"
#include "gateway/Cgate.h"
#include "history/Replay.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace vorlen {
namespace {

namespace fs = std::filesystem;

fs::path gDay;
std::uint64_t gRecords = 0;
// The fastest run's processor seconds of each benchmark, by name.
std::map<std::string, double> gSeconds;

// Times one run with the process's processor clock; keeps the fastest.
template <class F>
void Timed(const char* name, F run) {
    const std::clock_t start = std::clock();
    run();
    const double s = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    if (!gSeconds.contains(name) || s < gSeconds[name])
        gSeconds[name] = s;
}
std::string gMarketMaker;

backtest::TBacktestConfig Config(const std::string& source) {
    backtest::TBacktestConfig c;
    c.Days = {gDay};
    c.Isin = "Si-12.26";
    c.StrategyName = "bench.lua";
    c.StrategySource = source;
    c.Params = {{"min_interval", "1"}};
    if (source.empty())
        c.Params.clear();
    return c;
}

void Run(benchmark::State& state, const char* name, const std::string& source) {
    const backtest::TBacktestConfig config = Config(source);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        backtest::TBacktestResult r;
        Timed(name, [&] { r = backtest::RunBacktest(config); });
        if (!r.Ok) {
            state.SkipWithError(r.Error.c_str());
            return;
        }
        gRecords = r.Records;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * gRecords));
}

void BM_ReplayOnly(benchmark::State& state) {
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        history::TReplay replay;
        std::string error;
        bool ok = false;
        Timed("replay", [&] { ok = replay.Run(gDay, error); });
        if (!ok) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(replay.Stats().Records);
    }
}

void BM_EmptyStrategy(benchmark::State& state) {
    Run(state, "empty", "");
}

void BM_MarketMaker(benchmark::State& state) {
    Run(state, "mm", gMarketMaker);
}

// The sweep's wall time, and the processor time of the whole process over it: their ratio is
// how many cores the sweep kept busy, which the wall-time speed-up hides on a loaded machine.
std::pair<double, double> SweepSeconds(unsigned workers) {
    backtest::TBacktestConfig c = Config(gMarketMaker);
    const std::vector<backtest::TSweepAxis> axes = {{"half_spread", {"0.5", "1", "2", "5"}}};
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu = std::clock();
    backtest::RunSweep(c, axes, workers, {});
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC};
}

} // namespace
} // namespace vorlen

int main(int argc, char** argv) {
    using namespace vorlen;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    // A busy background market, recorded by the console as a trader would record it.
    e2e::TSimInstall inst(2000);
    const fs::path history = inst.Root / "hist";
    {
        e2e::TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--record",
                                    "--history", history.string(), "--seconds", "40"});
        if (!run.Started() || !run.Wait(std::chrono::seconds(120))) {
            std::fprintf(stderr, "the session could not be recorded\n");
            return 1;
        }
    }
    for (const auto& e : fs::directory_iterator(history))
        if (e.path().extension() == ".vrec")
            gDay = e.path();
    if (gDay.empty() || LoadCGateLibrary((inst.Root / "bin" / "cgate64.dll").string()) < 0x100) {
        std::fprintf(stderr, "no recording, or the gateway library did not load\n");
        return 1;
    }
    std::ifstream in(std::string(VORLEN_STRATEGY_SAMPLES) + "/market_maker.lua");
    std::ostringstream text;
    text << in.rdbuf();
    gMarketMaker = text.str();

    benchmark::RegisterBenchmark("BM_ReplayOnly", BM_ReplayOnly)
        ->Repetitions(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_EmptyStrategy", BM_EmptyStrategy)
        ->Repetitions(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_MarketMaker", BM_MarketMaker)
        ->Repetitions(3)
        ->Unit(benchmark::kMillisecond);
    bench::TFastestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& t = gSeconds;
    if (!t.contains("empty") || !t.contains("mm") || !t.contains("replay") || gRecords == 0) {
        std::fprintf(stderr, "the benchmarks must all run\n");
        return 1;
    }
    const auto perSecond = [](double s) { return static_cast<double>(gRecords) / s; };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto one = SweepSeconds(1), all = SweepSeconds(cores);
    std::fflush(stdout);
    std::printf("records: %llu\n", static_cast<unsigned long long>(gRecords));
    std::printf("replay_events_per_s: %.0f\n", perSecond(t.at("replay")));
    std::printf("backtest_events_per_s: %.0f\n", perSecond(t.at("empty")));
    std::printf("backtest_mm_events_per_s: %.0f\n", perSecond(t.at("mm")));
    std::printf("backtest_vs_replay: %.2f\n", t.at("empty") / t.at("replay"));
    std::printf("sweep_speedup: %.2f on %u cores (cores kept busy: %.2f)\n", one.first / all.first,
                cores, all.second / all.first);
    return 0;
}
