// Strategies on the console's expert trading against the offline exchange through the risk gate:
// the market-making sample quotes both sides, follows the market and leaves nothing behind when
// it stops.

#include "SimHarness.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace vorlen::e2e {
namespace {

#if VORLEN_STRATEGIES

int Count(const std::string& text, const std::string& piece) {
    int n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos;
         at = text.find(piece, at + piece.size()))
        ++n;
    return n;
}

// The number after "name=" in the router's reply; -1 when missing.
long Counter(const std::string& reply, const std::string& name) {
    const std::size_t at = reply.find(" " + name + "=");
    return at == std::string::npos ? -1 : std::stol(reply.substr(at + name.size() + 2));
}

// The numbers after `key` in the journal texts that begin with `prefix`.
std::set<std::string> Numbers(const std::string& out, const std::string& prefix,
                              const std::string& key) {
    std::set<std::string> ids;
    for (const std::string& t : JournalTexts(out)) {
        const std::size_t at = t.find(key);
        if (t.rfind(prefix, 0) == 0 && at != std::string::npos) {
            const std::size_t from = at + key.size();
            ids.insert(t.substr(from, t.find_first_not_of("0123456789", from) - from));
        }
    }
    return ids;
}

TEST(StrategyRun, MarketMakerQuotesBothSidesRequotesAsTheBookMovesAndLeavesNothingAfterStop) {
    TSimInstall inst;
    const std::string script = std::string(VORLEN_STRATEGY_SAMPLES) + "/market_maker.lua";
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--expert", "Si-12.26",
                           "--strategy", script, "--seconds", "300"});
    ASSERT_TRUE(run.Started());
    // Quotes rest however the market moves (the strategy starts once on-line, long after the
    // router is up), so that every one of them must be cancelled.
    ASSERT_TRUE(WaitUntil([&] { return inst.Control("fill off").rfind("OK fill off", 0) == 0; }));
    // The market moves only when told: a background taker sweeping the book between a quote's
    // reading and its arrival would make it marketable, and it would fill at once.
    ASSERT_EQ(inst.Control("rate 0").rfind("OK", 0), 0u);
    ASSERT_TRUE(WaitUntil([&] { return Count(run.Stdout(), "Заявка отправлена") >= 2; }, 120s))
        << run.Stdout() << run.Stderr();
    // Two quotes, then moves of the middle: a quote a move leaves behind is cancelled and
    // placed anew (one the rounding to the step still leaves where it is wanted stays). The
    // strategy replaces its quotes at most every few seconds, so the middle moves until it has.
    const auto requoted = [&] {
        const std::string out = run.Stdout();
        return Count(out, "Заявка отправлена") >= 3 && Count(out, "отправлено, транзакция") >= 1;
    };
    int moves = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (requoted())
                return true;
            inst.Control(std::string("move 2070001 ") + (moves++ % 2 == 0 ? "5" : "-5"));
            std::this_thread::sleep_for(500ms);
            return false;
        },
        120s))
        << run.Stdout() << run.Stderr();
    const std::string before = run.Stdout();
    EXPECT_NE(before.find("Заявка: покупка Si-12.26 1 по"), std::string::npos) << before;
    EXPECT_NE(before.find("Заявка: продажа Si-12.26 1 по"), std::string::npos) << before;
    EXPECT_EQ(Counter(inst.Control("counters"), "rejected"), 0);

    run.Signal(SIGTERM);
    const std::optional<int> code = run.Wait(120s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 128 + SIGTERM) << run.Stderr();
    const std::string out = run.Stdout();
    EXPECT_NE(out.find("Стратегия market_maker.lua остановлена."), std::string::npos) << out;
    EXPECT_EQ(ThreadsLeft(run.Stderr()), 0) << run.Stderr();
    // Nothing fills, so every order the exchange accepted must have been cancelled, each
    // cancel confirmed by the exchange, before the run ended.
    const auto placed = Numbers(out, "Ответ на заявку", "номер заявки ");
    const auto cancelled = Numbers(out, "Ответ на снятие заявки ", "Ответ на снятие заявки ");
    std::set<std::string> confirmed;
    for (const std::string& t : JournalTexts(out)) {
        for (const std::string& id : cancelled) {
            if (t.rfind("Ответ на снятие заявки " + id + " ", 0) == 0 &&
                (t.find("): код 0.") != std::string::npos ||
                 t.find("): код 0 (") != std::string::npos))
                confirmed.insert(id);
        }
    }
    EXPECT_GE(placed.size(), 3u) << out;
    EXPECT_EQ(confirmed, placed) << out;
}

// The sample on a busy market (the router's fastest pace of the manual's example) for `seconds`:
// it quotes all along, and the gate has nothing to refuse, neither a repeat nor the minute's
// count. Returns the orders placed.
int MarketMakerOnABusyMarket(int seconds) {
    TSimInstall inst;
    const std::string script = std::string(VORLEN_STRATEGY_SAMPLES) + "/market_maker.lua";
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--expert", "Si-12.26",
                           "--strategy", script, "--seconds", std::to_string(seconds)});
    EXPECT_TRUE(run.Started());
    EXPECT_TRUE(WaitUntil([&] { return inst.Control("rate 2000").rfind("OK", 0) == 0; }));
    const std::optional<int> code = run.Wait(std::chrono::seconds(seconds + 120));
    EXPECT_TRUE(code.has_value()) << run.Stdout() << run.Stderr();
    EXPECT_EQ(code.value_or(-1), 0) << run.Stderr();
    const std::string out = run.Stdout();
    const int placed = Count(out, "Заявка отправлена, транзакция");
    EXPECT_GE(placed, 20) << out;
    EXPECT_EQ(Count(out, "Заявка отклонена"), 0) << out;
    EXPECT_EQ(Count(out, "Заявка не отправлена"), 0) << out;
    EXPECT_EQ(Count(out, " отклонена: "), 0) << out;
    EXPECT_EQ(Count(out, "отклонена биржей"), 0) << out;
    EXPECT_EQ(ThreadsLeft(run.Stderr()), 0) << run.Stderr();
    std::printf("market maker at rate 2000 for %d s: %d orders placed\n", seconds, placed);
    return placed;
}

TEST(StrategyRun, MarketMakerOnABusyMarketStaysInsideTheDefaultLimits) {
    MarketMakerOnABusyMarket(80);
}

// Five minutes: past the minute's count five times over and a fair part of the day's. Opt-in
// (VORLEN_LONG_TESTS, CTest's "long" label), not with the other end-to-end tests.
TEST(StrategyRun, DISABLED_MarketMakerForFiveMinutesOnABusyMarket) {
    MarketMakerOnABusyMarket(300);
}

// A strategy that tries every way to keep the expert's thread for itself when it is stopped: the
// terminal still ends on time, and the journal says where the strategy was stopped.
TEST(StrategyRun, AHostileStrategyCannotKeepTheTerminalFromEnding) {
    TSimInstall inst;
    const fs::path script = inst.Root / "hostile.lua";
    {
        std::ofstream f(script);
        f << "local pattern = string.rep('a?', 40) .. string.rep('a', 40)\n"
             "local told = false\n"
             "function on_tick(ctx)\n"
             "  local ok, why = pcall(setmetatable, {}, {__gc = function() while true do end "
             "end})\n"
             "  if not told then ctx:log('тик\\n' .. why) told = true end\n"
             "end\n"
             "function on_stop(ctx)\n"
             "  local co = coroutine.wrap(function()\n"
             "    while true do pcall(string.gsub, string.rep('a', 40), pattern, '') end\n"
             "  end)\n"
             "  while true do\n"
             "    pcall(co)\n"
             "    xpcall(function() while true do end end, function() while true do end end)\n"
             "  end\n"
             "end\n";
    }
    const auto from = std::chrono::steady_clock::now();
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--expert", "Si-12.26",
                           "--strategy", script.string(), "--seconds", "10"});
    ASSERT_TRUE(run.Started());
    const std::optional<int> code = run.Wait(60s);
    ASSERT_TRUE(code.has_value()) << "the run did not end\n" << run.Stdout() << run.Stderr();
    EXPECT_EQ(*code, 0) << run.Stderr();
    EXPECT_LT(std::chrono::steady_clock::now() - from, 30s);
    const std::string out = run.Stdout();
    EXPECT_NE(out.find("Стратегия hostile.lua запущена."), std::string::npos) << out;
    EXPECT_NE(out.find("тик\\n"), std::string::npos) << out;
    EXPECT_NE(out.find("метаметод __gc в стратегиях не поддерживается"), std::string::npos) << out;
    EXPECT_NE(out.find("Стратегия hostile.lua остановлена: ошибка при on_stop: hostile.lua:"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("превышено время выполнения (500 мс)"), std::string::npos) << out;
    EXPECT_EQ(ThreadsLeft(run.Stderr()), 0) << run.Stderr();
}

#endif

} // namespace
} // namespace vorlen::e2e
