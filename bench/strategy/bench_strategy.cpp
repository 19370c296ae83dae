// What a strategy's on_tick costs an expert: one that reads five fields of the field map and the
// best prices of the book, against an on_tick that does nothing (the hook's own cost: entering
// the script with its context under the time budget). Prints the ratio and the ticks per second
// one expert sustains with the reading on_tick.

#include "FastestRunReporter.h"
#include "strategies/FakeWorld.h"
#include "strategies/Strategy.h"

#include <benchmark/benchmark.h>
#include <cstdio>

namespace vorlen {
namespace {

const char* const kEmpty = "function on_tick(ctx) end";

const char* const kReading = R"(
local sum = 0
function on_tick(ctx)
  local free = ctx:field('money_free')
  local blocked = ctx:field('money_blocked')
  local fee = ctx:field('fee')
  local vm = ctx:field('vm_reserve')
  local code = ctx:field('client_code')
  local book = ctx:book(1)
  local bid, ask = book.bids[1][1], book.asks[1][1]
  sum = sum + free - blocked + fee + vm + (ask - bid) + #code
end)";

void RunTicks(benchmark::State& state, const char* script) {
    test::TFakeWorld world;
    world.Fields = {{"money_free", 1.5e6},
                    {"money_blocked", 2.5e5},
                    {"fee", 12.75},
                    {"vm_reserve", 0.0},
                    {"client_code", std::string("C01")}};
    // A book of the depth the terminal subscribes by default.
    TBookSnapshot book;
    for (int i = 0; i < 20; ++i) {
        book.Bids.push_back({100.0 - 0.05 * i, 10 + i});
        book.Asks.push_back({100.05 + 0.05 * i, 10 + i});
    }
    world.BookNow = book;
    TStrategy s(world, 7, "Si-3.27");
    if (!s.Load("bench.lua", script) || !s.Start()) {
        state.SkipWithError("the script did not start");
        return;
    }
    for (auto _ : state)
        s.Tick();
    if (!s.Running())
        state.SkipWithError("the script stopped");
}

void BM_EmptyTick(benchmark::State& state) {
    RunTicks(state, kEmpty);
}
BENCHMARK(BM_EmptyTick)->Repetitions(5)->ReportAggregatesOnly(false);

void BM_ReadingTick(benchmark::State& state) {
    RunTicks(state, kReading);
}
BENCHMARK(BM_ReadingTick)->Repetitions(5)->ReportAggregatesOnly(false);

} // namespace
} // namespace vorlen

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    vorlen::bench::TFastestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& times = reporter.Times;
    if (!times.contains("BM_EmptyTick") || !times.contains("BM_ReadingTick") ||
        times.at("BM_EmptyTick") <= 0 || times.at("BM_ReadingTick") <= 0) {
        std::fprintf(stderr, "strategy_tick_vs_empty: both benchmarks must run\n");
        return 1;
    }
    std::fflush(stdout);
    std::printf("strategy_tick_vs_empty: %.2f\n",
                times.at("BM_ReadingTick") / times.at("BM_EmptyTick"));
    // The reporter's times are in nanoseconds per tick.
    std::printf("strategy_ticks_per_s: %.0f\n", 1e9 / times.at("BM_ReadingTick"));
    return 0;
}
