// Trading against a recorded session played back through the router: the trader's orders never
// leak into the market's streams, the same orders at the same market moment give the same
// trader's tables run after run, and the market-making sample's own fills account for the
// position and money the exchange reports.

#include "SimHarness.h"

#if VORLEN_HISTORY && VORLEN_STRATEGIES

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <thread>

namespace vorlen::e2e {

namespace {

constexpr const char* kOnline = "Инструменты добавлены.";
constexpr const char* kIsin = "Si-12.26";

// The files only the trader's own activity changes while replaying (its streams, the tables the
// store keeps of them, the grids that show them); every other file of a dump is the market's.
bool IsTraderFile(const std::string& name) {
    static const std::vector<std::string> prefixes = {"FORTS_TRADE_REPL.",
                                                      "FORTS_USERORDERBOOK_REPL.",
                                                      "FORTS_POS_REPL.",
                                                      "FORTS_PART_REPL.",
                                                      "grid_",
                                                      "orders_log.",
                                                      "user_deal.",
                                                      "multileg_orders_log.",
                                                      "user_multileg_deal.",
                                                      "part.",
                                                      "position."};
    for (const std::string& p : prefixes)
        if (name.rfind(p, 0) == 0)
            return true;
    return false;
}

// The trader's fields stamped from the terminal's clock rather than the recording: ext_id counts
// on from the second the order desk was made.
const std::set<std::string>& WallClockColumns() {
    static const std::set<std::string> columns = {
        "orders_log.tsv:ext_id",
        "user_deal.tsv:ext_id_buy",
        "user_deal.tsv:ext_id_sell",
        "FORTS_USERORDERBOOK_REPL.orders.tsv:ext_id",
        "grid_orders.tsv:Внешний номер",
        "grid_deals.tsv:Внешний номер из заявки покупателя",
        "grid_deals.tsv:Внешний номер из заявки продавца",
    };
    return columns;
}

std::set<std::string> FileNames(const fs::path& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        names.insert(e.path().filename().string());
    return names;
}

// A table file's columns by name, row by row.
std::vector<std::map<std::string, std::string>> Rows(const fs::path& file) {
    const auto cells = TsvRows(file);
    std::vector<std::map<std::string, std::string>> rows;
    for (std::size_t i = 1; i < cells.size(); ++i) {
        auto& row = rows.emplace_back();
        for (std::size_t c = 0; c < cells[i].size() && c < cells[0].size(); ++c)
            row[cells[0][c]] = cells[i][c];
    }
    return rows;
}

[[maybe_unused]] double Number(const std::string& text) {
    std::string t = text;
    for (char& ch : t)
        ch = ch == ',' ? '.' : ch;
    return t.empty() ? 0 : std::stod(t);
}

// The trader's deals of the replay, by the numbers the router gives them.
std::vector<std::map<std::string, std::string>> OwnDeals(const fs::path& dump) {
    std::vector<std::map<std::string, std::string>> own;
    for (auto& row : Rows(dump / "user_deal.tsv"))
        if (row["id_deal"].size() == 13 && row["id_deal"].rfind("179", 0) == 0)
            own.push_back(std::move(row));
    return own;
}

// Lots the trader's deals bought (`side` "1", the buyer's order is its own) or sold ("2").
std::int64_t Volume(const std::vector<std::map<std::string, std::string>>& deals,
                    const std::string& side) {
    std::int64_t lots = 0;
    for (const auto& d : deals) {
        const bool bought = d.at("public_order_id_buy") != "0";
        if (bought == (side == "1"))
            lots += std::stoll(d.at("xamount"));
    }
    return lots;
}

// The row of `file` whose columns hold the values given; empty when none does.
std::map<std::string, std::string> RowWhere(const fs::path& file,
                                            const std::map<std::string, std::string>& key) {
    for (auto& row : Rows(file))
        if (std::all_of(key.begin(), key.end(),
                        [&](const auto& k) { return row[k.first] == k.second; }))
            return row;
    return {};
}

// Seconds of market recorded for the tests: long enough for the market maker at x100 to quote
// and fill a few times, short enough for a test leg.
int RecordSeconds() {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any thread of the test runs
    const char* s = std::getenv("VORLEN_REPLAY_TRADE_SECONDS");
    return s != nullptr && std::atoi(s) > 0 ? std::atoi(s) : 45;
}

// One session of the simulator's whole market, recorded for the replays of every test here.
class RouterReplayTrade : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Inst = new TSimInstall();
        Settings = WriteWholeMarketSettings(*Inst);
        ASSERT_FALSE(Settings.empty());
        const fs::path history = Inst->Root / "hist";
        TConsoleRun run(*Inst, {"--settings", Settings.string(), "--seconds", "120", "--record",
                                "--history", history.string()});
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();
        // The market swings to and fro, so that quotes near its middle are reached.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(RecordSeconds());
        for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
            Inst->Control(std::string("move 2070001 ") + (i % 2 == 0 ? "6" : "-6"));
            std::this_thread::sleep_for(1500ms);
        }
        run.Signal(SIGTERM);
        ASSERT_TRUE(run.Wait(60s).has_value()) << run.Stderr();
        for (const auto& e : fs::directory_iterator(history))
            if (e.path().extension() == ".vrec")
                File = e.path();
        ASSERT_FALSE(File.empty());
    }
    static void TearDownTestSuite() {
        delete Inst;
        Inst = nullptr;
    }

    // The recording from its start, paused at once and stepped a second at a time until the
    // terminal is on-line, so that the console's orders (placed once on-line) reach the router
    // at the same market moment in every run; then, once the journal shows `ready`, to its end
    // at `speed`.
    static fs::path SteppedRun(const std::string& name, const std::vector<std::string>& orders,
                               const std::vector<std::string>& more = {},
                               const std::string& ready = {}, const std::string& speed = "max") {
        fs::path dir = Inst->Root / name;
        std::vector<std::string> args{
            "--settings",  Settings.string(), "--replay", File.string(), "--speed",   "1",
            "--until-end", "--seconds",       "150",      "--dump",      dir.string()};
        for (const std::string& o : orders) {
            args.push_back("--order");
            args.push_back(o);
        }
        args.insert(args.end(), more.begin(), more.end());
        TConsoleRun run(*Inst, args);
        EXPECT_TRUE(WaitUntil([&] {
            return Inst->Control("replay state").rfind("OK replay date=", 0) == 0 &&
                   Inst->Control("replay pause") == "OK";
        }));
        for (int i = 0; i < 60 && run.CountJournal(kOnline) == 0; ++i) {
            EXPECT_EQ(Inst->Control("replay step"), "OK");
            // Long enough for the terminal to take the second's messages and come on-line.
            std::this_thread::sleep_for(800ms);
        }
        EXPECT_EQ(run.CountJournal(kOnline), 1) << run.Stdout() << run.Stderr();
        if (!orders.empty()) {
            EXPECT_TRUE(run.WaitForJournal("Заявки консоли: отклонено 0, не выполнено 0."))
                << run.Stdout();
        }
        if (!ready.empty()) {
            EXPECT_TRUE(WaitUntil([&] { return run.Stdout().find(ready) != std::string::npos; }))
                << run.Stdout();
        }
        EXPECT_EQ(Inst->Control("replay speed " + speed), "OK");
        EXPECT_EQ(Inst->Control("replay play"), "OK");
        const std::optional<int> code = run.Wait(150s);
        EXPECT_EQ(code, 0) << run.Stdout() << run.Stderr();
        return dir;
    }

    static inline TSimInstall* Inst = nullptr;
    static inline fs::path Settings;
    static inline fs::path File;
};

TEST_F(RouterReplayTrade, OrdersLeaveTheMarketAsRecordedAndFillTheSameWayEveryRun) {
    ASSERT_FALSE(File.empty());
    const fs::path bare = SteppedRun("bare", {});
    // Two take the book at once, one rests below the market for the day to come to it.
    const std::vector<std::string> orders = {std::string("buy ") + kIsin + " 2 92600 FZ00001",
                                             std::string("sell ") + kIsin + " 1 91400 FZ00001",
                                             std::string("buy ") + kIsin + " 1 91950 FZ00001"};
    const fs::path first = SteppedRun("orders1", orders);
    const fs::path second = SteppedRun("orders2", orders);

    const std::set<std::string> names = FileNames(bare);
    std::set<std::string> differing;
    EXPECT_GE(names.size(), 20u);
    EXPECT_EQ(FileNames(first), names);
    EXPECT_EQ(FileNames(second), names);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        if (!IsTraderFile(name)) {
            EXPECT_TRUE(ReadFile(first / name) == ReadFile(bare / name));
            continue;
        }
        const auto a = Rows(first / name), b = Rows(second / name);
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i)
            for (const auto& [column, value] : a[i])
                if (b[i].at(column) != value)
                    differing.insert(name + ':' += column);
    }
    EXPECT_TRUE(std::includes(WallClockColumns().begin(), WallClockColumns().end(),
                              differing.begin(), differing.end()))
        << ::testing::PrintToString(differing);
    // The orders did trade, and only in the runs that placed them: the two that take the book
    // fill at once, in deals of the trader's own numbering.
    EXPECT_EQ(OwnDeals(bare).size(), 0u);
    const auto own = OwnDeals(first);
    EXPECT_GE(own.size(), 2u);
    EXPECT_EQ(Volume(own, "1") - Volume(own, "2"), 1) << "two bought, one sold";
}

TEST_F(RouterReplayTrade, MarketMakerAtX100EndsWithThePositionAndMoneyOfItsOwnFills) {
    ASSERT_FALSE(File.empty());
    // The recording's own accounts, as the file rebuilds them without a router.
    const fs::path recorded = Inst->Root / "mm_recorded";
    {
        TConsoleRun run(*Inst, {"--settings", Settings.string(), "--replay-file", File.string(),
                                "--dump", recorded.string()});
        ASSERT_EQ(run.Wait(60s), 0) << run.Stderr();
    }
    // Market time stands at the day's start until the strategy runs: it trades all of it.
    const std::string script = std::string(VORLEN_STRATEGY_SAMPLES) + "/market_maker.lua";
    const fs::path dir = SteppedRun(
        "mm", {},
        {"--expert", kIsin, "--strategy", script, "--param", "min_interval=0", "--book", kIsin},
        "Стратегия market_maker.lua запущена.", "100");
    ASSERT_TRUE(fs::exists(dir / "orders_log.tsv"));

    // The plain model over the fills of its orders log: lots bought less lots sold, and the
    // money those fills paid and took.
    std::int64_t bought = 0, sold = 0, fills = 0;
    double cash = 0;
    for (const auto& row : Rows(dir / "orders_log.tsv")) {
        if (row.at("public_order_id").rfind("199", 0) != 0 || row.at("id_deal") == "0")
            continue;
        const std::int64_t qty = std::stoll(row.at("public_amount"));
        const double price = Number(row.at("deal_price"));
        (row.at("dir") == "1" ? bought : sold) += qty;
        cash += (row.at("dir") == "1" ? -price : price) * static_cast<double>(qty);
        ++fills;
    }
    // The sample quotes by the wall clock, so on a machine busy enough the recording may have
    // played before any quote was reached: then there is nothing to account for.
    if (fills == 0)
        GTEST_SKIP() << "no quote of the sample was reached this run";
    EXPECT_EQ(static_cast<std::int64_t>(OwnDeals(dir).size()), fills);
    EXPECT_EQ(Volume(OwnDeals(dir), "1"), bought);
    EXPECT_EQ(Volume(OwnDeals(dir), "2"), sold);

    // What the exchange reports: the recorded position and money with the replay's trading added.
    const std::map<std::string, std::string> key{{"client_code", "FZ00001"},
                                                 {"isin_id", "2070001"}};
    const auto before = RowWhere(recorded / "position.tsv", key);
    const auto after = RowWhere(dir / "position.tsv", key);
    ASSERT_FALSE(after.empty());
    const auto field = [](const std::map<std::string, std::string>& row, const char* name) {
        const auto it = row.find(name);
        return it == row.end() ? 0.0 : Number(it->second);
    };
    const double position = field(after, "xpos") - field(before, "xpos");
    EXPECT_EQ(position, static_cast<double>(bought - sold));
    EXPECT_NEAR(field(after, "net_volume_rur") - field(before, "net_volume_rur"), cash, 1e-6);
    const auto client = std::map<std::string, std::string>{{"client_code", "FZ00001"}};
    EXPECT_NEAR(field(RowWhere(dir / "part.tsv", client), "fee") -
                    field(RowWhere(recorded / "part.tsv", client), "fee"),
                2.0 * static_cast<double>(bought + sold), 1e-6);
    // The terminal's own book keeping shows the same position, and its P&L at the final price.
    const auto book =
        RowWhere(dir / ("position_" + std::string(kIsin) + ".tsv"), {{"client_code", "FZ00001"}});
    ASSERT_FALSE(book.empty());
    EXPECT_EQ(field(book, "pos"), field(after, "xpos"));
    const double final = field(book, "mark");
    const double pnl = cash + static_cast<double>(bought - sold) * final;
    const double reported =
        field(after, "net_volume_rur") - field(before, "net_volume_rur") + position * final;
    EXPECT_NEAR(reported, pnl, 1e-6);
    RecordProperty("mm_fills", std::to_string(fills));
    RecordProperty("mm_position", std::to_string(bought - sold));
    RecordProperty("mm_pnl", std::to_string(pnl));
}

} // namespace

} // namespace vorlen::e2e

#endif
