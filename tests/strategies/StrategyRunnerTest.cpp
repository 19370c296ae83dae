#include "strategies/StrategyRunner.h"

#include "store/Storage.h"

#include <algorithm>
#include <condition_variable>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace vorlen {
namespace {

using ::testing::ElementsAre;

// The expert's memo: the text after the line's date and time, and a wait for a line.
class TMemo final : public TJournalSink {
public:
    void AppendLine(const std::string& line) override {
        std::lock_guard lock(FLock);
        const std::size_t arrow = line.find(" --> ");
        FLines.push_back(arrow == std::string::npos ? line : line.substr(arrow + 5));
        FCond.notify_all();
    }
    bool WaitFor(const std::string& text, long times = 1) {
        std::unique_lock lock(FLock);
        return FCond.wait_for(lock, std::chrono::seconds(30), [&] {
            return std::count(FLines.begin(), FLines.end(), text) >= times;
        });
    }
    std::vector<std::string> Lines() {
        std::lock_guard lock(FLock);
        return FLines;
    }

private:
    std::mutex FLock;
    std::condition_variable FCond;
    std::vector<std::string> FLines;
};

TEST(StrategyRunnerTest, AStrategyLivesOnItsExpertsThreadAndCannotTradeWithoutTheGate) {
    TCGStorage store;
    TMemo memo;
    TExpert expert(store, nullptr);
    expert.isin_id = 7;
    expert.Futisin = "Si-3.27";
    expert.Memo = &memo;
    TStrategyRunner runner(expert, store, nullptr, nullptr);
    std::atomic<int> changes{0};
    runner.SetOnChange([&] { ++changes; });
    ASSERT_TRUE(expert.RegisterAndStart());

    runner.Load("q.lua", R"(
        params = { n = 1 }
        function on_start(ctx) ctx:log('n=' .. ctx.params.n, ctx:buy(1, '10', 'C01')) end
        function on_tick(ctx) ctx:log('tick', ctx.isin, ctx.isin_id) end
        function on_stop(ctx) ctx:log('bye') end)");
    runner.SetParams({{"n", "3"}});
    runner.Start();
    ASSERT_TRUE(memo.WaitFor("n=3 nil торговля недоступна: нет проверки рисков"));
    expert.TickEvent().Set();
    ASSERT_TRUE(memo.WaitFor("tick Si-3.27 7"));

    const TStrategyStatus status = runner.Status();
    EXPECT_EQ(status.Name, "q.lua");
    EXPECT_EQ(status.State, TStrategy::TState::Running);
    ASSERT_EQ(status.Params.size(), 1u);
    EXPECT_EQ(status.Params[0].Value, "3");
    EXPECT_EQ(changes.load(), 3);

    // Closing the expert ends the run the way the stop button does.
    expert.Stop();
    EXPECT_THAT(memo.Lines(), ElementsAre("Стратегия q.lua загружена.", "Стратегия q.lua запущена.",
                                          "n=3 nil торговля недоступна: нет проверки рисков",
                                          "tick Si-3.27 7", "bye", "Стратегия q.lua остановлена."));
}

TEST(StrategyRunnerTest, AFailedRunIsReportedAndTheNextStartBeginsAfresh) {
    TCGStorage store;
    TMemo memo;
    TExpert expert(store, nullptr);
    expert.Memo = &memo;
    TStrategyRunner runner(expert, store, nullptr, nullptr);
    std::mutex lock;
    std::condition_variable changed;
    runner.SetOnChange([&] {
        std::lock_guard hold(lock);
        changed.notify_all();
    });
    ASSERT_TRUE(expert.RegisterAndStart());
    runner.Load("f.lua", "count = 0\nfunction on_tick(ctx)\n  count = count + 1\n"
                         "  ctx:log('count ' .. count)\n  if count == 2 then error('boom') end\n"
                         "end");
    runner.Start();
    // A tick that arrives before the start has been handled finds nothing running.
    ASSERT_TRUE(memo.WaitFor("Стратегия f.lua запущена."));
    for (const char* line : {"count 1", "count 2"}) {
        expert.TickEvent().Set();
        ASSERT_TRUE(memo.WaitFor(line));
    }
    ASSERT_TRUE(memo.WaitFor("Стратегия f.lua остановлена: ошибка при on_tick: f.lua:5: boom"));
    {
        // The window learns of the failure from the status, told after the journal line.
        std::unique_lock hold(lock);
        EXPECT_TRUE(changed.wait_for(hold, std::chrono::seconds(30), [&] {
            return runner.Status().State == TStrategy::TState::Failed;
        }));
    }
    runner.Start();
    ASSERT_TRUE(memo.WaitFor("Стратегия f.lua запущена.", 2));
    expert.TickEvent().Set();
    // A fresh state: the global counts from zero again.
    ASSERT_TRUE(memo.WaitFor("count 1", 2));
    expert.Stop();
}

} // namespace
} // namespace vorlen
