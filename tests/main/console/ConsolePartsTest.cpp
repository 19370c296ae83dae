// The console's own pieces: its command line, the text of its dump, its grids and its expert.

#include "gateway/Cgate.h"
#include "grids/OrderMenus.h"
#include "grids/UpdGrids.h"
#include "main/console/ConsoleExpert.h"
#include "main/console/ConsoleGrids.h"
#include "main/console/ConsoleOptions.h"
#include "main/console/StoreDump.h"
#include "platform/Journal.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <gtest/gtest.h>

using namespace vorlen;

namespace {

bool Parse(const std::vector<std::string>& args, TConsoleOptions& out, std::string& error) {
    return ParseConsoleOptions(args, out, error);
}

} // namespace

TEST(ConsoleOptions, ReadsEveryOptionInBothForms) {
    TConsoleOptions o;
    std::string error;
    ASSERT_TRUE(Parse(
        {"--seconds", "60", "--until-online", "--dump=out dir", "--settings", "a.sav"}, o, error))
        << error;
    EXPECT_EQ(o.Seconds, 60);
    EXPECT_TRUE(o.UntilOnline);
    EXPECT_EQ(o.DumpDir, "out dir");
    EXPECT_EQ(o.SettingsFile, "a.sav");
    EXPECT_TRUE(o.ExpertIsin.empty());

    ASSERT_TRUE(Parse({"--expert", "Si-3.27", "--dump", "d"}, o, error)) << error;
    EXPECT_EQ(o.ExpertIsin, "Si-3.27");
    EXPECT_EQ(o.DumpDir, "d");
    ASSERT_TRUE(Parse({"--expert=GAZR-6.26"}, o, error)) << error;
    EXPECT_EQ(o.ExpertIsin, "GAZR-6.26");

    ASSERT_TRUE(
        Parse({"--expert", "Si", "--param", "b=x=y", "--strategy=s.lua", "--param=c="}, o, error))
        << error;
    EXPECT_EQ(o.StrategyFile, "s.lua");
    EXPECT_EQ(o.StrategyParams, (std::vector<std::string>{"b=x=y", "c="}));

    ASSERT_TRUE(Parse({"--order", "sell Si-3.27 2 92000,5 FZ00001", "--order=buy RTS-3.27 1 1 X",
                       "--cancel-all", "--risk", "lim.txt"},
                      o, error))
        << error;
    ASSERT_EQ(o.Orders.size(), 2u);
    const auto order = ParseOrderLine(o.Orders[0], error);
    ASSERT_TRUE(order);
    EXPECT_EQ(order->Side, orders::TSide::Sell);
    EXPECT_EQ(order->Qty, 2);
    EXPECT_EQ(order->Price, 9200050000);
    EXPECT_EQ(order->Client, "FZ00001");
    EXPECT_TRUE(o.CancelAll);
    EXPECT_EQ(o.RiskFile, "lim.txt");

    ASSERT_TRUE(
        Parse({"--backtest",  "hist",      "--expert", "Si",          "--strategy", "s.lua",
               "--report=r",  "--fill",    "queue",    "--latency=5", "--fee",      "1,5",
               "--from",      "10:30",     "--to",     "2026-12-31",  "--sweep",    "qty=1,2",
               "--sweep=a=x", "--workers", "2",        "--tr-max",    "30"},
              o, error))
        << error;
    EXPECT_EQ(o.BacktestPath, "hist");
    EXPECT_EQ(o.ReportDir, "r");
    EXPECT_EQ(o.FillModel, "queue");
    EXPECT_EQ(o.LatencyMs, 5);
    EXPECT_EQ(o.FeePerLot, 1.5);
    EXPECT_EQ(o.Sweeps, (std::vector<std::string>{"qty=1,2", "a=x"}));
    EXPECT_EQ(o.Workers, 2u);
    EXPECT_EQ(o.TrMax, 30);
    EXPECT_EQ(ParseBacktestBound(o.From)->Minute, 630);
    EXPECT_EQ(ParseBacktestBound(o.To)->Date, "2026-12-31");

    ASSERT_TRUE(
        Parse({"--replay=day.vrec", "--speed", "50", "--until-end", "--dump", "d"}, o, error))
        << error;
    EXPECT_EQ(o.Replay, "day.vrec");
    EXPECT_EQ(o.Speed, "50");
    EXPECT_TRUE(o.UntilEnd);

    ASSERT_TRUE(Parse({}, o, error));
    EXPECT_TRUE(o.Orders.empty());
    EXPECT_TRUE(o.Replay.empty());
    EXPECT_FALSE(o.UntilEnd);
    EXPECT_FALSE(o.CancelAll);
    EXPECT_FALSE(o.Seconds.has_value());
    EXPECT_FALSE(o.UntilOnline);
    EXPECT_TRUE(o.DumpDir.empty());
}

TEST(ConsoleOptions, RefusesWhatItCannotUse) {
    TConsoleOptions o;
    std::string error;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--seconds"},
             {"--seconds", "0"},
             {"--seconds", "-5"},
             {"--seconds", "10s"},
             {"--seconds", "99999999999"},
             {"--dump="},
             {"--settings"},
             {"--expert"},
             {"--expert="},
             {"--until-online=yes"},
             {"--verbose"},
             {"stray"},
             {"--strategy", "a.lua"},
             {"--expert", "Si", "--param", "a=1"},
             {"--expert", "Si", "--strategy="},
             {"--expert", "Si", "--strategy", "a.lua", "--param", "=1"},
             {"--expert", "Si", "--strategy", "a.lua", "--param", "a"},
             {"--order", "buy Si-3.27 1 92000"},
             {"--order", "hold Si-3.27 1 92000 FZ00001"},
             {"--order", "buy Si-3.27 x 92000 FZ00001"},
             {"--order", "buy Si-3.27 1 9.2.0 FZ00001"},
             {"--order", "buy Si-3.27 1 92000 FZ00001 more"},
             {"--cancel-all=yes"},
             {"--risk"},
             // A backtest needs its instrument, script and report folder, connects nowhere and
             // takes bounds, models and numbers it can use.
             {"--backtest", "h", "--expert", "Si", "--strategy", "a.lua"},
             {"--backtest", "h", "--strategy", "a.lua", "--report", "r"},
             {"--backtest", "h", "--expert", "Si", "--strategy", "a.lua", "--report", "r", "--dump",
              "d"},
             {"--backtest", "h", "--expert", "Si", "--strategy", "a.lua", "--report", "r", "--fill",
              "mid"},
             {"--backtest", "h", "--expert", "Si", "--strategy", "a.lua", "--report", "r",
              "--latency", "-1"},
             {"--backtest", "h", "--expert", "Si", "--strategy", "a.lua", "--report", "r", "--from",
              "25:00"},
             {"--backtest", "h", "--expert", "Si", "--strategy", "a.lua", "--report", "r", "--to",
              "2026-13-01"},
             {"--backtest", "h", "--expert", "Si", "--strategy", "a.lua", "--report", "r",
              "--sweep", "qty"},
             {"--backtest", "h", "--expert", "Si", "--strategy", "a.lua", "--report", "r", "--fee",
              "-1"},
             {"--backtest", "h", "--expert", "Si", "--strategy", "a.lua", "--report", "r",
              "--workers", "0"},
             {"--sweep", "qty=1,2"},
             {"--report", "r"},
             {"--until-end"},
             {"--speed", "max"},
             {"--replay", "d.vrec", "--speed", "3"},
             {"--replay", "d.vrec", "--until-end=yes"},
             {"--replay", "d.vrec", "--replay-file", "d.vrec", "--dump", "d"}}) {
        error.clear();
        EXPECT_FALSE(Parse(args, o, error)) << args.front();
        EXPECT_FALSE(error.empty()) << args.front();
    }
}

// A price the exchange cannot take is refused with what is wrong with it, not a usage line.
TEST(ConsoleOptions, OrderTextsThatAreNotOrdersSayWhy) {
    struct TCase {
        const char* Order;
        const char* Said;
    };
    for (const TCase& c : {
             TCase{"buy Si-3.27 1 1.000001 FZ00001", "more than five decimals"},
             TCase{"buy Si-3.27 1 1e-9 FZ00001", "is not a decimal number"},
             TCase{"buy Si-3.27 1 1e5 FZ00001", "is not a decimal number"},
             TCase{"buy Si-3.27 1 92,000.5 FZ00001", "is not a decimal number"},
             TCase{"buy Si-3.27 1 99999999999999999 FZ00001", "beyond any price"},
             TCase{"buy Si-3.27 99999999999999999999 1 FZ00001", "that any order can carry"},
             TCase{"buy Si-3.27 1.5 92000 FZ00001", "not a whole number of lots"},
         }) {
        TConsoleOptions o;
        std::string error;
        EXPECT_FALSE(Parse({"--order", c.Order}, o, error)) << c.Order;
        EXPECT_NE(error.find(c.Said), std::string::npos) << c.Order << ": " << error;
    }
    // Zero and below are the gate's to refuse: the order is journalled with the reason.
    std::string error;
    const auto zero = ParseOrderLine("sell Si-3.27 1 -0 FZ00001", error);
    ASSERT_TRUE(zero) << error;
    EXPECT_EQ(zero->Price, 0);
    TConsoleOptions o;
    ASSERT_TRUE(Parse({"--data-dir=d 1", "--order", "buy Si-3.27 1 92000.00000 FZ00001"}, o, error))
        << error;
    EXPECT_EQ(o.DataDir, "d 1");
    EXPECT_FALSE(Parse({"--data-dir="}, o, error));
}

TEST(ConsoleDump, EscapesCellsAndListsEveryInstrumentKind) {
    EXPECT_EQ(TsvCell("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
    EXPECT_EQ(TsvCell("Сбербанк"), "Сбербанк");

    const THeaders fut{{7, "Si-3.27", "SiH7", "Доллар\tСША"}};
    const THeaders opt{{8, "Si92000BC7", "Si92000BC7", "опцион"}};
    const TSHeaders spot{{9, "USD000UTSTOM", "USD", "Доллар"}};
    EXPECT_EQ(InstrumentsTsv(fut, opt, spot), "list\tisin_id\tisin\tshort_isin\tname\n"
                                              "futures\t7\tSi-3.27\tSiH7\tДоллар\\tСША\n"
                                              "options\t8\tSi92000BC7\tSi92000BC7\tопцион\n"
                                              "spot\t9\tUSD000UTSTOM\tUSD\tДоллар\n");
}

// The names come from the exchange's scheme: none may lead out of the dump's folder or name a
// file that another stream's table would also write.
TEST(ConsoleDump, TableFilesAreNamedByStreamAndStayInTheFolder) {
    const struct {
        const char* Stream;
        const char* Table;
        const char* File;
    } cases[] = {
        {"FORTS_ORDLOG_REPL", "orders_log", "FORTS_ORDLOG_REPL.orders_log.tsv"},
        {"FORTS_TRADE_REPL", "orders_log", "FORTS_TRADE_REPL.orders_log.tsv"},
        {"FORTS_X-REPL", "t2", "FORTS_X-REPL.t2.tsv"},
        {"..", "..", "__.__.tsv"},
        {"a/b", "c\\d", "a_b.c_d.tsv"},
        {"поток", "t", "__________.t.tsv"},
        {"", "", "..tsv"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TableFileName(c.Stream, c.Table), c.File) << c.Stream << " " << c.Table;
}

TEST(ConsoleGrids, FilesAreNamedAfterTheGridsAndHoldWhatThePassWrote) {
    std::vector<std::string> names;
    for (const TGridLayout& layout : GridLayouts()) {
        names.push_back(GridFileName(layout.Name));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"grid_acc.tsv", "grid_orders.tsv",
                                               "grid_ml_orders.tsv", "grid_deals.tsv",
                                               "grid_ml_deals.tsv", "grid_positions.tsv"}));

    TConsoleGrids grids;
    const std::vector<TDumpFile> files = CollectGridDump(grids);
    ASSERT_EQ(files.size(), static_cast<std::size_t>(kGridCount));
    // As created, a grid has one empty row, which no pass wrote: the captions alone.
    const TModelGridSink& positions = grids.Grid(kPositionsGrid);
    std::string captions;
    for (const std::string& c : positions.Captions()) {
        captions += (captions.empty() ? "" : "\t") + c;
    }
    EXPECT_EQ(files[kPositionsGrid].Text, captions + "\n");

    // Rows written by a pass come out in grid order, escaped, with every column.
    TGridSink* sink = grids.Sinks()[kPositionsGrid];
    std::vector<std::string> row(static_cast<std::size_t>(sink->ColCount()));
    row.front() = "a\tb";
    sink->SetRow(0, row);
    row.assign(static_cast<std::size_t>(sink->ColCount()), "");
    row.back() = "z";
    sink->SetRow(1, row);
    const std::string tabs(static_cast<std::size_t>(sink->ColCount() - 1), '\t');
    EXPECT_EQ(GridTsv(grids.Grid(kPositionsGrid)),
              captions + "\n" + "a\\tb" + tabs + "\n" + tabs + "z\n");

    // Setting up again is the window's start: back to the captions alone.
    grids.Setup();
    EXPECT_EQ(GridTsv(grids.Grid(kPositionsGrid)), captions + "\n");
}

// The console's grids show the store's rows by reference once the updater has them, as the
// window's do, so a pass costs what changed. The dump's last pass must then hand them a new list:
// texts written under the rows by reference would never show, and the files would hold the rows
// of the updater's last pass instead of those dumped beside them.
TEST(ConsoleGrids, TheDumpShowsTheRowsBesideItWhetherTheGridsFollowTheUpdaterOrNot) {
    const TCGateEntryPoints saved = CG();
    CG().cg_bcd_get = test::TestBcdGet;
    test::TTestScheme scheme;
    std::vector<test::TFieldSpec> fields;
    for (const auto& column : GridLayout(kOrdersGrid).Columns)
        if (!column.Field.empty())
            fields.push_back(column.Field == "private_action"
                                 ? test::TFieldSpec{"private_action", "i4", 4}
                                 : test::TFieldSpec{std::string(column.Field), "i8", 8});
    scheme.Table("orders_log", test::ReplFields(fields));
    TCGStorage store;
    store.SetStreams({"FORTS_TRADE_REPL"});
    TStreamData lsn;
    lsn.sName = "FORTS_TRADE_REPL";
    store.SetTblsDesc(0, lsn, scheme.Desc());
    const auto order = [&](std::int64_t id, std::int32_t action, std::int64_t act = 0) {
        test::TRowBytes r(scheme, "orders_log");
        r.Key(id, id, act).Int("public_order_id", id * 10).Int("private_action", action);
        store.UpdStrMsg(r.Msg(), lsn);
    };
    for (std::int64_t id = 1; id <= 40; ++id)
        order(id, static_cast<std::int32_t>(id % 3));

    TConsoleGrids live;
    const std::int32_t all = kFilterAll;
    TUpdateGrids updater(store, all, all);
    updater.FollowChanges(nullptr);
    for (int g = 0; g < kGridCount; ++g) {
        updater.SetGrid(g, live.Sinks()[static_cast<std::size_t>(g)]);
        EXPECT_TRUE(live.Grid(g).ShowsRowRefs()) << g;
    }
    // The grids show what the updater last handed them (nothing yet, its thread never ran),
    // while rows came, changed and went.
    order(41, 1);
    order(7, 2);
    order(12, 1, /*act=*/1);
    for (const std::int32_t filter : {kFilterActive, kFilterDone, kFilterAll}) {
        SCOPED_TRACE(filter);
        TConsoleGrids texts;
        const std::vector<TDumpFile> byText = CollectReplicaDump(store, texts, filter, filter);
        EXPECT_FALSE(texts.Grid(kOrdersGrid).ShowsRowRefs());
        const std::vector<TDumpFile> byRef = CollectReplicaDump(store, live, filter, filter);
        ASSERT_EQ(byRef.size(), byText.size());
        for (std::size_t f = 0; f < byRef.size(); ++f)
            EXPECT_EQ(byRef[f].Text, byText[f].Text) << byRef[f].Name;
        // The order that came last, placed: shown by every filter but the done orders'.
        EXPECT_EQ(GridTsv(live.Grid(kOrdersGrid)).find("\n410\t") != std::string::npos,
                  filter != kFilterDone);
    }
    CG() = saved;
}

// The preselection's underlying used to stay with a picked futures that has none.
TEST(ConsoleExpert, ThePickedFuturesHasItsOwnUnderlyingOrNone) {
    const THeaders fut{{11, "GAZR-6.26", "GZM6", "Газпром"}, {12, "XYZ-6.26", "XYM6", "Нечто"}};
    const THeaders opt;
    const TSHeaders spot{{9, "GAZP", "GAZP", "Газпром ао"}};
    TChooser chooser(fut, opt, spot);
    chooser.Preselect(0);
    ASSERT_EQ(chooser.Sname, "GAZP");

    EXPECT_FALSE(ChooseFuturesByIsin(chooser, "NOPE-1.11"));
    EXPECT_EQ(chooser.Fisin, "GAZR-6.26");

    ASSERT_TRUE(ChooseFuturesByIsin(chooser, "XYZ-6.26"));
    EXPECT_EQ(chooser.Fisin_id, 12);
    EXPECT_EQ(chooser.FName, "Нечто");
    EXPECT_EQ(chooser.SharLabel, "Базовый актив: Не найден");
    EXPECT_EQ(chooser.Sname, "");
    EXPECT_EQ(ExpertCaption(chooser.Fisin, chooser.Sname, chooser.Fisin_id), "XYZ-6.26(}-[12]");
}

TEST(ConsoleExpert, AWindowWithoutAStoreWritesItsCaptionedLinesAndNeverStarts) {
    TMemoryJournal out;
    TConsoleExpertWindow window("Si-3.27(USD000UTSTOM}-[7]", out, nullptr, nullptr);
    EXPECT_EQ(window.Caption(), "Si-3.27(USD000UTSTOM}-[7]");
    EXPECT_EQ(out.Lines, std::vector<std::string>{"Si-3.27(USD000UTSTOM}-[7] Memo1"});
    window.SetupExpert(7, "Доллар", "Si-3.27");
    EXPECT_FALSE(window.RegisterAndStart());
    EXPECT_FALSE(window.Running());
    window.StopExpert();
}
