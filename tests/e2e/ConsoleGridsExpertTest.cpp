// vorlen-console's grids, its journal pass and its expert against the offline exchange: the six
// grids written at the end of a run, system messages reaching the journal, an expert started on
// a futures from the command line, and all of them running together under a heavy market.

#include "SimHarness.h"
#include "grids/GridLayouts.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>

namespace vorlen::e2e {

namespace {

constexpr const char* kOnline = "Инструменты добавлены.";

// The grids' files in page order: account, orders, multi-leg orders, deals, multi-leg deals,
// positions.
constexpr std::array<const char*, 6> kGridFiles = {"grid_acc.tsv",       "grid_orders.tsv",
                                                   "grid_ml_orders.tsv", "grid_deals.tsv",
                                                   "grid_ml_deals.tsv",  "grid_positions.tsv"};

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.rfind(start, 0) == 0;
}

// Checks the six grid files of a dump; returns the number of data rows of each.
std::vector<std::size_t> CheckGridFiles(const fs::path& dump) {
    std::vector<std::size_t> dataRows;
    for (int g = 0; g < kGridCount; ++g) {
        const std::string file = kGridFiles[static_cast<std::size_t>(g)];
        const TGridLayout& layout = GridLayout(g);
        const auto rows = TsvRows(dump / file);
        dataRows.push_back(rows.empty() ? 0 : rows.size() - 1);
        if (rows.empty()) {
            ADD_FAILURE() << file << " missing or empty";
            continue;
        }
        std::vector<std::string> captions;
        for (const TGridColumn& c : layout.Columns) {
            captions.emplace_back(c.Caption);
        }
        EXPECT_EQ(rows[0], captions) << file;
        for (std::size_t r = 1; r < rows.size(); ++r) {
            EXPECT_EQ(rows[r].size(), captions.size()) << file << " row " << r;
        }
    }
    return dataRows;
}

struct TKnownFutures {
    std::string Isin;
    std::string Caption; // the expert window's caption the chooser leads to
};

// A futures of the replica whose underlying is listed, and the caption of an expert on it, read
// from the dump of a short run of its own.
std::optional<TKnownFutures> FindKnownFutures(const TSimInstall& inst) {
    const fs::path dump = inst.Root / "lists";
    {
        TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--until-online",
                               "--seconds", "60", "--dump", dump.string()});
        if (!run.Started() || run.Wait(120s) != 0) {
            return std::nullopt;
        }
    }
    const auto rows = TsvRows(dump / "instruments.tsv");
    const bool gazp = std::any_of(rows.begin(), rows.end(), [](const auto& r) {
        return r.size() >= 3 && r[0] == "spot" && r[2] == "GAZP";
    });
    for (const auto& r : rows) {
        // GAZR stands for the spot ticker GAZP.
        if (gazp && r.size() >= 3 && r[0] == "futures" && StartsWith(r[2], "GAZR-")) {
            return TKnownFutures{r[2], r[2] + "(GAZP}-[" + r[1] + "]"};
        }
    }
    return std::nullopt;
}

} // namespace

TEST(ConsoleGrids, DumpHoldsTheSixGridsAndSystemMessagesReachTheJournal) {
    TSimInstall inst;
    const fs::path dump = inst.Root / "dump";
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--seconds", "120", "--dump",
                           dump.string()});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();

    // Only Russian messages are journalled; the other one goes first, so by the time the Russian
    // one shows, the other has been taken from the table too.
    ASSERT_TRUE(StartsWith(inst.Control("sysmsg en Not for this journal"), "OK sysmsg"));
    ASSERT_TRUE(StartsWith(inst.Control("sysmsg ru Торги продлены до 19:00"), "OK sysmsg"));
    const auto journalled = [&](const std::string& text) {
        const auto texts = JournalTexts(run.Stdout());
        return std::count_if(texts.begin(), texts.end(),
                             [&](const std::string& t) { return EndsWith(t, ": " + text); });
    };
    ASSERT_TRUE(WaitUntil([&] { return journalled("Торги продлены до 19:00") > 0; }))
        << run.Stdout();

    run.Signal(SIGTERM);
    const std::optional<int> code = run.Wait(60s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 128 + SIGTERM) << run.Stderr();
    EXPECT_EQ(journalled("Торги продлены до 19:00"), 1);
    EXPECT_EQ(journalled("Not for this journal"), 0);
    EXPECT_EQ(ThreadsLeft(run.Stderr()), 0) << run.Stderr();

    // The tables hold the account's money: readable by their owner only.
    for (const auto& entry : fs::directory_iterator(dump)) {
        const fs::perms p = entry.status().permissions();
        EXPECT_EQ(p & (fs::perms::group_all | fs::perms::others_all), fs::perms::none)
            << entry.path();
    }

    const std::vector<std::size_t> rows = CheckGridFiles(dump);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kGridCount));
    EXPECT_GE(rows[kAccGrid], 1u);
    EXPECT_GE(rows[kOrdersGrid], 1u);
    // The account grid shows the client's rows of the part table, cell for cell.
    const auto acc = TsvRows(dump / kGridFiles[kAccGrid]);
    const auto part = TsvRows(dump / "part.tsv");
    EXPECT_LE(acc.size(), part.size());
    for (std::size_t r = 1; r < acc.size(); ++r) {
        EXPECT_FALSE(std::all_of(acc[r].begin(), acc[r].end(),
                                 [](const std::string& c) { return c.empty(); }))
            << "row " << r;
    }
}

TEST(ConsoleExpert, RunsOnAKnownFuturesAndStopsWithTheTerminal) {
    TSimInstall inst;
    const std::optional<TKnownFutures> fut = FindKnownFutures(inst);
    ASSERT_TRUE(fut.has_value());

    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--expert", fut->Isin,
                           "--until-online", "--seconds", "60"});
    ASSERT_TRUE(run.Started());
    const std::optional<int> code = run.Wait(120s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0) << run.Stdout() << run.Stderr();

    // The window's journal starts with its initial text; every line is either the terminal's
    // journal or the expert's, after its caption.
    const std::vector<std::string> lines = SplitLines(run.Stdout());
    const std::string first = fut->Caption + " Memo1";
    const auto expertAt = std::find(lines.begin(), lines.end(), first);
    ASSERT_NE(expertAt, lines.end()) << run.Stdout();
    const auto onlineAt = std::find_if(
        lines.begin(), lines.end(), [](const std::string& l) { return JournalText(l) == kOnline; });
    EXPECT_LT(onlineAt, expertAt);
    for (const std::string& line : lines) {
        EXPECT_TRUE(!JournalText(line).empty() || StartsWith(line, fut->Caption + " ")) << line;
    }
    EXPECT_EQ(std::count(lines.begin(), lines.end(), first), 1);
    EXPECT_EQ(ThreadsLeft(run.Stderr()), 0) << run.Stderr();
}

TEST(ConsoleExpert, AnUnknownFuturesEndsTheRunWithCode2) {
    TSimInstall inst;
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--expert", "NOPE-1.11",
                           "--seconds", "60"});
    ASSERT_TRUE(run.Started());
    const std::optional<int> code = run.Wait(120s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 2) << run.Stderr();
    EXPECT_NE(run.Stderr().find("\"NOPE-1.11\""), std::string::npos) << run.Stderr();
    // It got as far as the connected state, and no expert window opened.
    EXPECT_EQ(run.CountJournal(kOnline), 1);
    for (const std::string& line : SplitLines(run.Stdout())) {
        EXPECT_FALSE(JournalText(line).empty()) << line;
    }
    EXPECT_EQ(ThreadsLeft(run.Stderr()), 0) << run.Stderr();
}

// Under the thread sanitizer this is the check that the updater's passes, the market-data
// thread filling the store and an expert refreshing its snapshot share the store safely.
TEST(ConsoleExpert, UpdaterMarketDataAndExpertRunTogetherUnderAHeavyMarket) {
    TSimInstall inst;
    const std::optional<TKnownFutures> fut = FindKnownFutures(inst);
    ASSERT_TRUE(fut.has_value());
    const fs::path dump = inst.Root / "dump";
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--expert", fut->Isin,
                           "--seconds", "240", "--dump", dump.string()});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(WaitUntil([&] {
        return run.Stdout().find(fut->Caption + " Memo1") != std::string::npos;
    })) << run.Stdout()
        << run.Stderr();

    // The heavy market runs until the router has made a second's worth of events at the rate
    // asked for, and the terminal has journalled a message sent once it had begun.
    const long before = inst.Counter("events");
    ASSERT_GE(before, 0);
    ASSERT_EQ(inst.Control("rate 20000"), "OK rate 20000");
    ASSERT_TRUE(WaitUntil([&] { return inst.Counter("events") >= before + 20000; }, 120s))
        << inst.Control("counters");
    ASSERT_TRUE(StartsWith(inst.Control("sysmsg ru Нагрузка"), "OK sysmsg"));
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto texts = JournalTexts(run.Stdout());
            return std::any_of(texts.begin(), texts.end(),
                               [](const std::string& t) { return EndsWith(t, ": Нагрузка"); });
        },
        120s))
        << run.Stdout();

    run.Signal(SIGTERM);
    const std::optional<int> code = run.Wait(120s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 128 + SIGTERM) << run.Stderr();
    const std::string err = run.Stderr();
    EXPECT_EQ(err.find("ThreadSanitizer"), std::string::npos) << err;
    EXPECT_EQ(ThreadsLeft(err), 0) << err;
    const std::vector<std::size_t> rows = CheckGridFiles(dump);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kGridCount));
    EXPECT_GE(rows[kOrdersGrid], 1u);
}

#if VORLEN_STRATEGIES
// A strategy on the console's expert reads its parameters, has its over-limit order refused by
// the risk gate with the gate's reason and nothing posted, and gets its on_stop when the
// terminal ends.
TEST(ConsoleExpert, RunsAStrategyWhoseOverLimitOrderTheGateRefuses) {
    TSimInstall inst;
    const std::optional<TKnownFutures> fut = FindKnownFutures(inst);
    ASSERT_TRUE(fut.has_value());
    const fs::path script = inst.Root / "probe.lua";
    std::ofstream(script) << "params = { qty = 1, tag = 'x' }\n"
                             "function on_start(ctx)\n"
                             "  local id, why = ctx:buy(ctx.params.qty, '100', 'FZ00001')\n"
                             "  ctx:log(ctx.params.tag, ctx.isin, tostring(id), why)\n"
                             "end\n"
                             "function on_stop(ctx) ctx:log('stop', ctx.params.tag) end\n";

    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--expert", fut->Isin,
                           "--strategy", script.string(), "--param", "tag=probe", "--param",
                           "qty=11", "--seconds", "120"});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(WaitUntil([&] { return run.Stdout().find(" probe ") != std::string::npos; }))
        << run.Stdout() << run.Stderr();
    const std::string counters = inst.Control("counters");
    EXPECT_NE(counters.find(" posts=0 "), std::string::npos) << counters;
    run.Signal(SIGTERM);
    const std::optional<int> code = run.Wait(120s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 128 + SIGTERM) << run.Stdout() << run.Stderr();
    std::vector<std::string> texts;
    for (const std::string& line : SplitLines(run.Stdout())) {
        if (StartsWith(line, fut->Caption + " "))
            texts.push_back(JournalText(line.substr(fut->Caption.size() + 1)));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "", // the window's initial "Memo1"
                         "Стратегия probe.lua загружена.", "Стратегия probe.lua запущена.",
                         "probe " + fut->Isin +
                             " nil Количество 11 больше допустимого в одной заявке (10).",
                         "stop probe", "Стратегия probe.lua остановлена."}))
        << run.Stdout();
    EXPECT_EQ(ThreadsLeft(run.Stderr()), 0) << run.Stderr();

    // A parameter the script does not declare ends the run before the strategy starts.
    TConsoleRun wrong(inst,
                      {"--settings", inst.SettingsFile.string(), "--expert", fut->Isin,
                       "--strategy", script.string(), "--param", "qtty=2", "--seconds", "60"});
    ASSERT_TRUE(wrong.Started());
    const std::optional<int> wrongCode = wrong.Wait(120s);
    ASSERT_TRUE(wrongCode.has_value());
    EXPECT_EQ(*wrongCode, 1) << wrong.Stderr();
    EXPECT_NE(wrong.Stderr().find("--param: нет параметра qtty"), std::string::npos)
        << wrong.Stderr();
    EXPECT_EQ(wrong.Stdout().find("запущена."), std::string::npos) << wrong.Stdout();
}
#endif

} // namespace vorlen::e2e
