// The subscription builder against the tables of tests/data: the listener strings of both market
// presets, and the scheme parameter of every catalogue stream.

#include "TableData.h"
#include "connections/GatewayRecords.h"
#include "main/Subscriptions.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace vorlen {
namespace {

TEST(SubscriptionTables, EachPresetGivesItsListenerStringsInOrder) {
    std::map<std::string, std::vector<std::string>> expected;
    for (const test::TDataRow& row : test::ReadTableData("preset_listeners.tsv")) {
        ASSERT_EQ(row.at(1), std::to_string(expected[row.at(0)].size()));
        expected[row.at(0)].push_back(row.at(2));
    }
    ASSERT_EQ(expected.size(), 2u);
    for (const auto& [preset, strings] : expected) {
        const int market = preset == "FUTURES" ? kMarketFutures : kMarketOptions;
        ASSERT_TRUE(preset == "FUTURES" || preset == "OPTIONS") << preset;
        TStreamTree tree;
        tree.MarketBoxChange(market, 0);
        const TSubscriptionBuild build = BuildSubscription(tree, false);
        ASSERT_EQ(build.Outcome, TSubscriptionOutcome::Built) << preset;
        std::vector<std::string> built;
        built.reserve(static_cast<std::size_t>(std::max(build.Count, 0)));
        for (int i = 0; i < build.Count; ++i)
            built.push_back(build.Subscription.Listeners.at(static_cast<std::size_t>(i)).Settings);
        EXPECT_EQ(built, strings) << preset;
    }
}

// Each stream alone (besides the order-book stream every preset keeps), in scheme mode.
TEST(SubscriptionTables, EveryStreamNamesItsSchemeOrGetsNoListener) {
    const auto rows = test::ReadTableData("scheme_parameters.tsv");
    ASSERT_EQ(rows.size(), 30u);
    const std::map<std::string, int> depthOf = {
        {"FORTS_AGGR5_REPL", 0}, {"FORTS_AGGR20_REPL", 1}, {"FORTS_AGGR50_REPL", 2}};
    for (const test::TDataRow& row : rows) {
        const std::string& stream = row.at(0);
        const auto depth = depthOf.find(stream);
        TStreamTree tree;
        tree.MarketBoxChange(kMarketCustom, depth == depthOf.end() ? 0 : depth->second);
        const int node = tree.FindStream(stream);
        ASSERT_GE(node, 0) << stream;
        if (!tree.IsTicked(node))
            tree.ClickPicture(node);
        ASSERT_TRUE(tree.IsTicked(node)) << stream;

        const TSubscriptionBuild build = BuildSubscription(tree, true);
        ASSERT_EQ(build.Outcome, TSubscriptionOutcome::Built) << stream;
        std::string settings = "-";
        for (int i = 0; i < build.Count; ++i) {
            const TListenerData& entry =
                build.Subscription.Listeners.at(static_cast<std::size_t>(i));
            if (entry.StreamData.sName == stream)
                settings = entry.Settings;
        }
        EXPECT_EQ(settings, row.at(1) == "-" ? "-" : "p2repl://" + stream + ";" + row.at(1))
            << stream;
    }
}

} // namespace
} // namespace vorlen
