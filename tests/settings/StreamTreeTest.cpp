#include "settings/StreamTree.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vorlen {
namespace {

std::vector<std::string> TickedStreams(const TStreamTree& tree) {
    std::vector<std::string> names;
    for (int i = 0; i < tree.NodeCount(); ++i) {
        if (tree.Node(i).Level == TNodeLevel::Stream && tree.IsTicked(i)) {
            names.push_back(tree.Text(i));
        }
    }
    return names;
}

int EnabledStreams(const TStreamTree& tree) {
    int count = 0;
    for (int i = 0; i < tree.NodeCount(); ++i) {
        count += tree.Node(i).Level == TNodeLevel::Stream && tree.Enabled(i) ? 1 : 0;
    }
    return count;
}

// Ticked and enabled, or unticked and disabled, with all three indices alike.
void ExpectOn(const TStreamTree& tree, int node, bool on) {
    ASSERT_TRUE(tree.IsNode(node));
    const int image = on ? kImageTicked : kImageUnticked;
    EXPECT_EQ(tree.Indices(node), (TNodeIndices{image, image, image})) << tree.Text(node);
    EXPECT_EQ(tree.Enabled(node), on) << tree.Text(node);
}

TStreamTree WithMarket(int market, int depth = 0) {
    TStreamTree tree;
    tree.MarketBoxChange(market, depth);
    return tree;
}

TEST(StreamTreeShapeTest, FixedCatalogueInTreeOrder) {
    const TStreamTree tree;
    ASSERT_EQ(tree.NodeCount(), 153);
    EXPECT_EQ(tree.Text(0), "Потоки и таблицы");
    EXPECT_EQ(tree.Text(1), "Маркет-дата");
    EXPECT_EQ(tree.Text(2), "FORTS_ORDLOG_REPL");
    EXPECT_EQ(tree.Text(3), "orders_log");
    EXPECT_EQ(tree.Text(103), "Личные данные");
    EXPECT_EQ(tree.Text(152), "sys_events");
    EXPECT_EQ(tree.Text(tree.Parent(152)), "FORTS_USER_REPL");
    EXPECT_EQ(tree.Children(0), (std::vector<int>{1, 103}));
    EXPECT_EQ(tree.Children(1).size(), 21u);
    EXPECT_EQ(tree.Children(103).size(), 9u);

    int tables = 0;
    for (int i = 1; i < tree.NodeCount(); ++i) {
        // Pre-order: a parent comes before its children, and a node's parent is one level up.
        ASSERT_LT(tree.Parent(i), i);
        EXPECT_EQ(static_cast<int>(tree.Node(tree.Parent(i)).Level) + 1,
                  static_cast<int>(tree.Node(i).Level));
        tables += tree.Node(i).Level == TNodeLevel::Table ? 1 : 0;
    }
    EXPECT_EQ(tables, 120);
    EXPECT_EQ(tree.Children(tree.FindStream("FORTS_REFDATA_REPL")).size(), 33u);
    EXPECT_EQ(tree.FindStream("forts_fee_repl"), -1);
}

TEST(StreamTreeShapeTest, DesignStateBeforeAnyPreset) {
    const TStreamTree tree;
    for (int i = 0; i < tree.NodeCount(); ++i) {
        const bool heading =
            tree.Node(i).Level == TNodeLevel::Root || tree.Node(i).Level == TNodeLevel::Group;
        const int image = heading ? kImageNone : kImageUnticked;
        EXPECT_EQ(tree.Indices(i), (TNodeIndices{image, image, image})) << i;
        EXPECT_TRUE(tree.Enabled(i));
        EXPECT_FALSE(tree.Expanded(i));
    }
}

TEST(MarketPresetTest, FuturesTicksTheTwelveDefaultStreams) {
    const TStreamTree tree = WithMarket(kMarketFutures);
    EXPECT_EQ(TickedStreams(tree),
              (std::vector<std::string>{
                  "FORTS_FEE_REPL", "FORTS_FEERATE_REPL", "FORTS_BROKER_FEE_REPL",
                  "FORTS_BROKER_FEE_PARAMS_REPL", "FORTS_AGGR5_REPL", "FORTS_REFDATA_REPL",
                  "FORTS_INFO_REPL", "FORTS_TRADE_REPL", "FORTS_USERORDERBOOK_REPL",
                  "FORTS_POS_REPL", "FORTS_PART_REPL", "FORTS_PROHIBITION_REPL"}));
    ExpectOn(tree, tree.FindStream("FORTS_FEERATE_REPL"), true);
    ExpectOn(tree, tree.FindTable("FORTS_FEERATE_REPL", "futures_rate"), true);
    ExpectOn(tree, tree.FindTable("FORTS_FEERATE_REPL", "option_rate"), false);
    ExpectOn(tree, tree.FindTable("FORTS_FEERATE_REPL", "sys_events"), false);
    // A stream switched off takes every one of its tables with it, listed or not.
    ExpectOn(tree, tree.FindStream("FORTS_CLR_REPL"), false);
    ExpectOn(tree, tree.FindTable("FORTS_CLR_REPL", "money_clearing"), false);
}

TEST(MarketPresetTest, OptionsTicksSeventeenStreams) {
    const TStreamTree tree = WithMarket(kMarketOptions);
    EXPECT_EQ(
        TickedStreams(tree),
        (std::vector<std::string>{
            "FORTS_COMMON_REPL", "FORTS_AGGR5_REPL", "FORTS_REFDATA_REPL", "FORTS_MISCINFO_REPL",
            "FORTS_VOLAT_REPL", "FORTS_RISKINFOBLACK_REPL", "FORTS_RISKINFOBACH_REPL",
            "FORTS_INFO_REPL", "FORTS_FORECASTIM_REPL", "FORTS_TRADE_REPL",
            "FORTS_USERORDERBOOK_REPL", "FORTS_POS_REPL", "FORTS_PART_REPL",
            "FORTS_PROHIBITION_REPL", "FORTS_CLR_REPL", "FORTS_VM_REPL", "FORTS_TNPENALTY_REPL"}));
    for (const char* table : {"fut_pos", "fut_sess_settl", "fut_pos_sa", "sys_events"}) {
        ExpectOn(tree, tree.FindTable("FORTS_CLR_REPL", table), false);
    }
    for (const char* table : {"opt_pos", "opt_sess_settl", "opt_pos_sa"}) {
        ExpectOn(tree, tree.FindTable("FORTS_CLR_REPL", table), true);
    }
}

TEST(MarketPresetTest, CustomSelectTicksOnlyTheChosenDepth) {
    const TStreamTree tree = WithMarket(kMarketCustom, 0);
    EXPECT_EQ(TickedStreams(tree), (std::vector<std::string>{"FORTS_AGGR5_REPL"}));
    EXPECT_EQ(EnabledStreams(tree), 28);
    ExpectOn(tree, tree.FindStream("FORTS_AGGR20_REPL"), false);
    ExpectOn(tree, tree.FindStream("FORTS_AGGR50_REPL"), false);
    int tickedTables = 0;
    for (int i = 0; i < tree.NodeCount(); ++i) {
        tickedTables += tree.Node(i).Level == TNodeLevel::Table && tree.IsTicked(i) ? 1 : 0;
    }
    EXPECT_EQ(tickedTables, 1);
}

TEST(MarketPresetTest, PresetDiscardsManualTicks) {
    TStreamTree tree = WithMarket(kMarketFutures);
    const std::vector<TNodeIndices> preset = tree.AllIndices();
    tree.ClickPicture(tree.FindStream("FORTS_TRADE_REPL"));
    tree.ClickPicture(tree.FindTable("FORTS_REFDATA_REPL", "session"));
    ASSERT_NE(tree.AllIndices(), preset);
    tree.MarketBoxChange(kMarketFutures, 0);
    EXPECT_EQ(tree.AllIndices(), preset);
}

TEST(MarketPresetTest, GroupsShowStreamsButNotTables) {
    TStreamTree tree = WithMarket(kMarketCustom);
    tree.ClickPicture(tree.FindStream("FORTS_TRADE_REPL")); // expands it fully
    tree.MarketBoxChange(kMarketFutures, 0);
    EXPECT_TRUE(tree.Expanded(0));
    EXPECT_TRUE(tree.Expanded(1));
    EXPECT_TRUE(tree.Expanded(103));
    EXPECT_TRUE(tree.IsVisible(tree.FindStream("FORTS_TRADE_REPL")));
    EXPECT_FALSE(tree.Expanded(tree.FindStream("FORTS_TRADE_REPL")));
    EXPECT_FALSE(tree.IsVisible(tree.FindTable("FORTS_TRADE_REPL", "orders_log")));
}

TEST(MarketPresetTest, NoMarketOnlyCollapses) {
    TStreamTree tree = WithMarket(kMarketFutures);
    const std::vector<TNodeIndices> before = tree.AllIndices();
    tree.MarketBoxChange(kMarketNone, 0);
    EXPECT_EQ(tree.AllIndices(), before);
    EXPECT_FALSE(tree.Expanded(0));
}

TEST(BookDepthTest, Depth20AfterFutures) {
    TStreamTree tree = WithMarket(kMarketFutures);
    tree.SelectBookDepth(1);
    ExpectOn(tree, tree.FindStream("FORTS_AGGR20_REPL"), true);
    ExpectOn(tree, tree.FindTable("FORTS_AGGR20_REPL", "orders_aggr"), true);
    for (const char* stream : {"FORTS_AGGR5_REPL", "FORTS_AGGR50_REPL"}) {
        ExpectOn(tree, tree.FindStream(stream), false);
        ExpectOn(tree, tree.FindTable(stream, "orders_aggr"), false);
    }
    // Nothing else moves.
    TStreamTree reference = WithMarket(kMarketFutures);
    for (int i = 0; i < tree.NodeCount(); ++i) {
        if (tree.Text(i).rfind("FORTS_AGGR", 0) != 0 && tree.Text(i) != "orders_aggr") {
            EXPECT_EQ(tree.Indices(i), reference.Indices(i)) << tree.Text(i);
        }
    }
}

TEST(BookDepthTest, NoChoiceChangesNothing) {
    TStreamTree tree = WithMarket(kMarketFutures);
    const std::vector<TNodeIndices> before = tree.AllIndices();
    tree.SelectBookDepth(-1);
    tree.SelectBookDepth(3);
    EXPECT_EQ(tree.AllIndices(), before);
}

TEST(TreeClickTest, DisabledNodeStaysUnticked) {
    TStreamTree tree = WithMarket(kMarketFutures);
    const int optionRate = tree.FindTable("FORTS_FEERATE_REPL", "option_rate");
    tree.ClickPicture(optionRate);
    ExpectOn(tree, optionRate, false);
    // Even a tick restored from a file is cleared by a click on a greyed node.
    tree.SetIndices(optionRate, {1, 1, 1});
    tree.ClickPicture(optionRate);
    ExpectOn(tree, optionRate, false);
    EXPECT_TRUE(tree.IsTicked(tree.FindStream("FORTS_FEERATE_REPL")));
}

TEST(TreeClickTest, UntickingTheLastTickedTableUnticksTheStream) {
    TStreamTree tree = WithMarket(kMarketFutures);
    const int feeRate = tree.FindStream("FORTS_FEERATE_REPL"); // only futures_rate is ticked
    tree.ClickPicture(tree.FindTable("FORTS_FEERATE_REPL", "futures_rate"));
    EXPECT_FALSE(tree.IsTicked(feeRate));
    EXPECT_TRUE(tree.Enabled(feeRate));

    const int fee = tree.FindStream("FORTS_FEE_REPL"); // adjusted_fee and penalty ticked
    tree.ClickPicture(tree.FindTable("FORTS_FEE_REPL", "penalty"));
    EXPECT_TRUE(tree.IsTicked(fee));
}

TEST(TreeClickTest, TickingATableTicksItsStream) {
    TStreamTree tree = WithMarket(kMarketCustom);
    const int trade = tree.FindStream("FORTS_TRADE_REPL");
    tree.ClickPicture(tree.FindTable("FORTS_TRADE_REPL", "heartbeat"));
    EXPECT_EQ(tree.Indices(trade), (TNodeIndices{1, 1, 1}));
    EXPECT_FALSE(tree.IsTicked(tree.FindTable("FORTS_TRADE_REPL", "orders_log")));
}

TEST(TreeClickTest, StreamClickSetsOnlyEnabledTables) {
    TStreamTree tree = WithMarket(kMarketFutures);
    const int pos = tree.FindStream("FORTS_POS_REPL");
    const int sysEvents = tree.FindTable("FORTS_POS_REPL", "sys_events");
    tree.ClickPicture(pos);
    EXPECT_EQ(tree.Indices(pos), (TNodeIndices{0, 0, 0}));
    EXPECT_FALSE(tree.IsTicked(tree.FindTable("FORTS_POS_REPL", "position")));
    EXPECT_FALSE(tree.Expanded(pos));

    tree.ClickPicture(pos);
    EXPECT_TRUE(tree.IsTicked(pos));
    EXPECT_TRUE(tree.IsTicked(tree.FindTable("FORTS_POS_REPL", "position")));
    EXPECT_TRUE(tree.IsTicked(tree.FindTable("FORTS_POS_REPL", "position_sa")));
    ExpectOn(tree, sysEvents, false);
    EXPECT_TRUE(tree.Expanded(pos));
    EXPECT_TRUE(tree.IsVisible(sysEvents));
}

TEST(TreeClickTest, RootGroupsAndStrayIndicesChangeNothing) {
    TStreamTree tree = WithMarket(kMarketFutures);
    const std::vector<TNodeIndices> before = tree.AllIndices();
    int changes = 0;
    tree.SetChangeHandler([&] { ++changes; });
    for (const int node : {0, 1, 103, -1, 153}) {
        tree.ClickPicture(node);
    }
    EXPECT_EQ(tree.AllIndices(), before);
    EXPECT_EQ(changes, 0);
}

TEST(TreeClickTest, DoubleClickFoldsOneLevel) {
    TStreamTree tree = WithMarket(kMarketFutures);
    const int trade = tree.FindStream("FORTS_TRADE_REPL");
    tree.DoubleClick(trade);
    EXPECT_TRUE(tree.Expanded(trade));
    tree.DoubleClick(103);
    EXPECT_FALSE(tree.Expanded(103));
    EXPECT_TRUE(tree.Expanded(trade)); // folding the group keeps the stream's own state
    EXPECT_FALSE(tree.IsVisible(trade));
    const int table = tree.FindTable("FORTS_TRADE_REPL", "orders_log");
    tree.DoubleClick(table);
    EXPECT_FALSE(tree.Expanded(table));
}

TEST(TreeClickTest, OneNotificationPerOperation) {
    TStreamTree tree;
    int changes = 0;
    tree.SetChangeHandler([&] { ++changes; });
    tree.MarketBoxChange(kMarketFutures, 0);
    EXPECT_EQ(changes, 1);
    tree.ClickPicture(tree.FindStream("FORTS_REFDATA_REPL"));
    EXPECT_EQ(changes, 2);
    tree.SelectBookDepth(0); // already the state
    EXPECT_EQ(changes, 2);
}

TEST(TreeClickTest, EmptyCatalogueHasOnlyTheRoot) {
    TStreamTree tree{TCatalogue{}};
    ASSERT_EQ(tree.NodeCount(), 1);
    tree.MarketBoxChange(kMarketFutures, 0);
    tree.SelectBookDepth(1);
    tree.ClickPicture(0);
    EXPECT_EQ(tree.Indices(0), (TNodeIndices{-1, -1, -1}));
}

} // namespace
} // namespace vorlen
