// Giving a backtest up: the run stops at the next record whether asked before it starts or in
// the middle of a long day, says so and returns nothing of what it did; a job on a thread of
// its own ends promptly when asked and when it goes while running.

#include "backtest/BacktestJob.h"
#include "history/HistorySupport.h"
#include "store/TestScheme.h"

#include <gtest/gtest.h>
#include <thread>

namespace vorlen::backtest {
namespace {

constexpr int kRows = 40'000;

// A long day of one table's rows, a millisecond apart: enough records for many progress calls.
std::filesystem::path RecordLongDay(const std::filesystem::path& folder) {
    test::TTestScheme deals;
    deals.Table("deal", test::ReplFields({{"isin_id", "i4", 4}, {"xamount", "i8", 8}}));
    std::atomic<std::int64_t> clock{1'000'000'000};
    test::TLines journal;
    history::TRecorderOptions options = test::TestOptions(folder, clock);
    options.BufferBytes = 16u << 20;
    history::TRecorder recorder(options, journal.Sink());
    recorder.Start("2026-03-02");
    recorder.StreamOpen(0, "FORTS_DEALS_REPL", deals.Desc());
    for (int i = 0; i < kRows; ++i) {
        test::TRowBytes r(deals, "deal");
        r.Key(i + 1).Int("isin_id", 101).Int("xamount", 1 + i % 7);
        recorder.StreamData(0, r.Msg());
        clock += 1'000'000;
    }
    recorder.Stop();
    EXPECT_TRUE(journal.Take().empty());
    return folder / "2026-03-02.vrec";
}

TBacktestConfig Config(const std::filesystem::path& day) {
    TBacktestConfig c;
    c.Days = {day, day};
    c.Isin = "Si-3.26";
    c.StrategyName = "idle.lua";
    c.StrategySource = "function on_tick(ctx) end\n";
    return c;
}

TEST(BacktestCancel, StopsAtTheNextRecordAndReturnsNothing) {
    test::TScratch scratch;
    const auto day = RecordLongDay(scratch.Dir);
    struct TCase {
        const char* Name;
        int CancelAtCall; // -1: never; 0: before the run
        int Calls;        // progress calls the run makes
    };
    const TCase cases[] = {
        {"never", -1, -1},
        {"before the start", 0, 0},
        {"at the first progress", 1, 1},
        {"at the third progress", 3, 3},
    };
    int uncancelledCalls = 0;
    for (const TCase& c : cases) {
        std::atomic<bool> cancel{c.CancelAtCall == 0};
        int calls = 0;
        TBacktestConfig config = Config(day);
        config.Cancel = &cancel;
        config.Progress = [&](double, std::uint64_t) {
            if (++calls == c.CancelAtCall)
                cancel = true;
        };
        const TBacktestResult r = RunBacktest(config);
        if (c.CancelAtCall < 0) {
            // The two days are read through; the instrument is not in them.
            EXPECT_FALSE(r.Cancelled) << c.Name;
            EXPECT_EQ(r.Records, 2u * kRows + 2) << c.Name;
            EXPECT_EQ(r.Days.size(), 2u) << c.Name;
            uncancelledCalls = calls;
            continue;
        }
        EXPECT_TRUE(r.Cancelled) << c.Name;
        EXPECT_FALSE(r.Ok) << c.Name;
        EXPECT_EQ(r.Error, "тест прерван") << c.Name;
        EXPECT_EQ(calls, c.Calls) << c.Name << ": the run went on after it was given up";
        EXPECT_EQ(r.Records, 0u) << c.Name;
        EXPECT_TRUE(r.Days.empty() && r.Equity.empty() && r.Journal.empty()) << c.Name;
    }
    EXPECT_GT(uncancelledCalls, 10) << "too short a day to give up in the middle of";
}

TEST(BacktestCancel, AJobEndsPromptlyWhenAskedAndWhenItGoes) {
    test::TScratch scratch;
    const auto day = RecordLongDay(scratch.Dir);
    TBacktestConfig config = Config(day);
    config.Days.assign(2000, day); // long minutes of work: only a cancel ends it within the test

    {
        TBacktestJob job(config);
        while (job.Records() == 0)
            std::this_thread::yield();
        EXPECT_FALSE(job.Finished());
        EXPECT_FALSE(job.TakeResult().Ok) << "no result while it runs";
        job.Cancel();
        while (!job.Finished())
            std::this_thread::yield();
        const TBacktestResult r = job.TakeResult();
        EXPECT_TRUE(r.Cancelled);
        EXPECT_LT(job.Done(), 0.1);
    }
    // Dropped while running: the destructor gives it up and waits for its thread.
    const auto job = std::make_unique<TBacktestJob>(config);
    while (job->Records() == 0)
        std::this_thread::yield();
}

} // namespace
} // namespace vorlen::backtest
