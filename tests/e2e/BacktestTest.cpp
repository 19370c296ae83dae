// Backtests over a session of the offline exchange recorded by the console while the
// market-making sample traded in it: the same run twice gives the same report to the byte, a
// sweep gives the same results on one worker as on two, fees come out of the recorded fee table
// lot by lot, and a script that fails or loops stops the run with its file and line.

#include "SimHarness.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace vorlen::e2e {
namespace {

#if VORLEN_BACKTEST

constexpr const char* kOnline = "Инструменты добавлены.";
constexpr const char* kIsin = "Si-12.26";

class Backtest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Inst = new TSimInstall();
        const fs::path history = Inst->Root / "hist";
        const std::string mm = std::string(VORLEN_STRATEGY_SAMPLES) + "/market_maker.lua";
        // The sample trades live while the session is recorded: its own orders are in the
        // recording, and the backtest must take them out of the market it trades against.
        Settings = new fs::path(WriteSettingsWithDeals(*Inst));
        TConsoleRun run(*Inst, {"--settings", Settings->string(), "--record", "--history",
                                history.string(), "--expert", kIsin, "--strategy", mm, "--param",
                                "min_interval=1", "--seconds", "120"});
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();
        std::this_thread::sleep_for(12s);
        run.Signal(SIGTERM);
        ASSERT_TRUE(run.Wait(60s).has_value()) << run.Stderr();
        for (const auto& e : fs::directory_iterator(history))
            if (e.path().extension() == ".vrec")
                Day = new fs::path(e.path());
        ASSERT_NE(Day, nullptr) << run.Stderr();
    }
    static void TearDownTestSuite() {
        delete Day;
        delete Settings;
        delete Inst;
    }

    struct TOutcome {
        int Code = -1;
        std::string Out, Err;
    };
    // A backtest of `script` on the recorded day, its report in `report`.
    static TOutcome Run(const std::string& script, const fs::path& report,
                        std::vector<std::string> more = {}) {
        std::vector<std::string> args = {
            "--settings", Settings->string(), "--backtest", Day->string(), "--expert",
            kIsin,        "--strategy",       script,       "--report",    report.string()};
        args.insert(args.end(), more.begin(), more.end());
        TConsoleRun run(*Inst, args);
        EXPECT_TRUE(run.Started());
        const auto code = run.Wait(300s);
        return {code.value_or(-1), run.Stdout(), run.Stderr()};
    }
    static std::string Script(const std::string& name, const std::string& text) {
        const fs::path file = Inst->Root / name;
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }
    static std::map<std::string, std::string> Summary(const fs::path& report) {
        std::map<std::string, std::string> values;
        for (const auto& row : TsvRows(report / "summary.tsv"))
            if (row.size() == 2)
                values[row[0]] = row[1];
        return values;
    }

    static TSimInstall* Inst;
    static fs::path* Settings;
    static fs::path* Day;
};

TSimInstall* Backtest::Inst = nullptr;
fs::path* Backtest::Settings = nullptr;
fs::path* Backtest::Day = nullptr;

TEST_F(Backtest, TheMarketMakerTwiceGivesTheSameReportAndASweepTheSameResultsOnOneWorkerAsOnTwo) {
    const std::string mm = std::string(VORLEN_STRATEGY_SAMPLES) + "/market_maker.lua";
    const fs::path a = Inst->Root / "a", b = Inst->Root / "b";
    const std::vector<std::string> opts = {"--param", "min_interval=1", "--latency", "20"};
    const TOutcome first = Run(mm, a, opts), second = Run(mm, b, opts);
    // The models that go by the market's deals read them from the recording.
    const fs::path through = Inst->Root / "through";
    auto throughOpts = opts;
    throughOpts.insert(throughOpts.end(), {"--fill", "through"});
    const TOutcome byDeals = Run(mm, through, throughOpts);
    EXPECT_EQ(byDeals.Code, 0) << byDeals.Err;
    ASSERT_EQ(first.Code, 0) << first.Err;
    ASSERT_EQ(second.Code, 0) << second.Err;
    for (const char* file :
         {"trades.tsv", "orders.tsv", "summary.tsv", "journal.txt", "report.html"}) {
        ASSERT_TRUE(fs::exists(a / file)) << file;
        EXPECT_TRUE(ReadFile(a / file) == ReadFile(b / file)) << file;
    }
    EXPECT_EQ(first.Out, second.Out);
    const auto summary = Summary(a);
    EXPECT_GT(std::stoll(summary.at("records")), 1000);
    EXPECT_GT(std::stoll(summary.at("orders")), 2) << "the sample quotes both sides";
    EXPECT_NE(ReadFile(a / "report.html").find("<polyline"), std::string::npos);

    const fs::path one = Inst->Root / "one", two = Inst->Root / "two";
    const std::vector<std::string> sweep = {
        "--sweep", "half_spread=0.5,2,5", "--sweep", "requote=0.5,3", "--param", "min_interval=1"};
    auto withWorkers = [&](const char* n) {
        auto args = sweep;
        args.insert(args.end(), {"--workers", n});
        return args;
    };
    const TOutcome s1 = Run(mm, one, withWorkers("1")), s2 = Run(mm, two, withWorkers("2"));
    ASSERT_EQ(s1.Code, 0) << s1.Err;
    ASSERT_EQ(s2.Code, 0) << s2.Err;
    const auto rows = TsvRows(one / "sweep.tsv");
    EXPECT_EQ(rows.size(), 7u) << "a header and the grid's six combinations";
    EXPECT_TRUE(ReadFile(one / "sweep.tsv") == ReadFile(two / "sweep.tsv"));
    EXPECT_TRUE(ReadFile(one / "trades.tsv") == ReadFile(two / "trades.tsv"));
    for (std::size_t i = 2; i < rows.size(); ++i)
        EXPECT_GE(std::stod(rows[i - 1][3]), std::stod(rows[i][3])) << "ranked by net P&L";
}

TEST_F(Backtest, FeesComeLotByLotFromTheRecordedFeeTableAndNetIsGrossLessFees) {
    // Buys through the best ask as soon as the book is there and sells it back through the best
    // bid some ticks later: six lots that cross the spread.
    const std::string script = Script("cross.lua", R"(
local step = 0
function on_book(ctx)
  step = step + 1
  local b = ctx:book(1)
  if not b or #b.bids == 0 or #b.asks == 0 then return end
  if step == 2 then ctx:buy(3, b.asks[1][1] + 20) end
  if step == 40 then ctx:sell(3, b.bids[1][1] - 20) end
end
)");
    const fs::path report = Inst->Root / "fees";
    const TOutcome r = Run(script, report, {"--fee", "100"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto trades = TsvRows(report / "trades.tsv");
    ASSERT_GE(trades.size(), 3u) << ReadFile(report / "orders.tsv");
    double fees = 0, realized = 0;
    long lots = 0;
    for (std::size_t i = 1; i < trades.size(); ++i) {
        const long qty = std::stol(trades[i][3]);
        // The simulator's fee table for the base contract: exch_pay 1.25 and clear_pay 0.50 a
        // lot; --fee is only for a recording without one.
        EXPECT_DOUBLE_EQ(std::stod(trades[i][5]), 1.75 * static_cast<double>(qty));
        fees += std::stod(trades[i][5]);
        realized += std::stod(trades[i][6]);
        lots += qty;
    }
    EXPECT_EQ(lots, 6);
    const auto summary = Summary(report);
    EXPECT_DOUBLE_EQ(std::stod(summary.at("fees")), 10.5);
    EXPECT_EQ(summary.at("final_position"), "0");
    // Flat at the end: gross is what the round trip realized.
    EXPECT_NEAR(std::stod(summary.at("gross_pnl")), realized, 0.005);
    EXPECT_NEAR(std::stod(summary.at("net_pnl")), realized - fees, 0.005);
}

TEST_F(Backtest, RefusalsAreReportedAndFailuresStopTheRunWithTheScriptsLine) {
    struct TCase {
        const char* Name;
        const char* Text;
        int Code;
        const char* Expect; // in the error output
    };
    const TCase cases[] = {
        {"err.lua", "function on_book(ctx)\n  local t = nil\n  return t.x\nend\n", 6, "err.lua:3:"},
        {"loop.lua", "function on_book(ctx)\n  while true do end\nend\n", 6,
         "loop.lua:2: превышено время выполнения (500 мс)"},
        {"syntax.lua", "function on_book(ctx)\n  x = = 1\nend\n", 6, "syntax.lua:2:"},
    };
    for (const TCase& c : cases) {
        const TOutcome r = Run(Script(c.Name, c.Text), Inst->Root / "fail");
        EXPECT_EQ(r.Code, c.Code) << c.Name << ": " << r.Err;
        EXPECT_NE(r.Err.find(c.Expect), std::string::npos) << c.Name << ": " << r.Err;
    }

    // Over the limits file's quantity; then the same order twice in one second of the market's
    // time (the repeat rule), and once more after it.
    const std::string script = Script("refused.lua", R"(
local sent, first = 0, nil
function on_book(ctx)
  local b = ctx:book(1)
  if not b or #b.bids == 0 then return end
  local price = b.bids[1][1] - 50
  local now = ctx:now()
  if sent == 0 then ctx:buy(11, price); first = now; sent = 1
  elseif sent == 1 then ctx:buy(1, price); ctx:buy(1, price); sent = 2
  elseif sent == 2 and now - first > 3 then ctx:buy(1, price); sent = 3 end
end
)");
    const fs::path report = Inst->Root / "refused";
    const TOutcome r = Run(script, report);
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto orders = TsvRows(report / "orders.tsv");
    ASSERT_EQ(orders.size(), 5u) << ReadFile(report / "orders.tsv");
    EXPECT_EQ(orders[1][6], "refused");
    EXPECT_EQ(orders[1][8], "Количество 11 больше допустимого в одной заявке (10).");
    EXPECT_NE(orders[2][6], "refused");
    EXPECT_EQ(orders[3][6], "refused");
    EXPECT_EQ(orders[3][8], "Стратегия: повтор той же заявки в течение секунды.");
    EXPECT_NE(orders[4][6], "refused") << "a second later in the market's time it goes";
    EXPECT_EQ(Summary(report).at("refusals"), "2");
}

#endif

} // namespace
} // namespace vorlen::e2e
