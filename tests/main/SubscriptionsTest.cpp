#include "main/Subscriptions.h"

#include "connections/GatewayRecords.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vorlen {
namespace {

TStreamTree WithMarket(int market, int depth = 0) {
    TStreamTree tree;
    tree.MarketBoxChange(market, depth);
    return tree;
}

std::vector<std::string> SettingsOf(const TListeners& listeners) {
    std::vector<std::string> settings;
    for (const TListenerData& entry : listeners) {
        settings.push_back(entry.Settings);
    }
    return settings;
}

std::vector<std::string> NamesOf(const TListeners& listeners) {
    std::vector<std::string> names;
    for (const TListenerData& entry : listeners) {
        names.push_back(entry.StreamData.sName);
    }
    return names;
}

// Ticks, by clicks, the first `count` enabled streams that are not yet ticked.
void TickMore(TStreamTree& tree, int count) {
    for (int i = 0; i < tree.NodeCount() && count > 0; ++i) {
        if (tree.Node(i).Level == TNodeLevel::Stream && tree.Enabled(i) && !tree.IsTicked(i)) {
            tree.ClickPicture(i);
            --count;
        }
    }
    ASSERT_EQ(count, 0);
}

TEST(SubscriptionTableFormTest, DefaultFuturesGivesTwelveListeners) {
    const TSubscriptionBuild build = BuildSubscription(WithMarket(kMarketFutures), false);
    ASSERT_EQ(build.Outcome, TSubscriptionOutcome::Built);
    EXPECT_EQ(build.Count, 12);
    EXPECT_TRUE(build.Error.empty());
    // Long listener strings are split over lines on purpose.
    // NOLINTBEGIN(bugprone-suspicious-missing-comma)
    const std::vector<std::string> expected = {
        "p2repl://FORTS_FEE_REPL;tables=adjusted_fee,penalty",
        "p2repl://FORTS_FEERATE_REPL;tables=futures_rate",
        "p2repl://FORTS_BROKER_FEE_REPL;tables=broker_fee",
        "p2repl://FORTS_BROKER_FEE_PARAMS_REPL;tables=broker_fee_params",
        "p2repl://FORTS_AGGR5_REPL;tables=orders_aggr",
        "p2repl://FORTS_REFDATA_REPL;tables=fut_sess_contents,fut_vcb,fut_instruments,"
        "fut_bond_registry,sys_messages,multileg_dict,fut_rejected_orders,fut_intercl_info,"
        "fut_bond_nkd,fut_bond_nominal,fut_bond_isin,user,investor,fut_margin_type,"
        "fut_settlement_account,sma_master,sma_pre_trade_check,clearing_members,"
        "instr2matching_map,fut_exec_orders,discrete_auction,discrete_auction_base_contract,"
        "session,brokers_base_contracts_params",
        "p2repl://FORTS_INFO_REPL;tables=currency_params,base_contracts_params,investor,"
        "multileg_dictionary,common_params,brokers_base_contracts_params",
        "p2repl://FORTS_TRADE_REPL;tables=orders_log,multileg_orders_log,user_deal,"
        "user_multileg_deal,heartbeat",
        "p2repl://FORTS_USERORDERBOOK_REPL;tables=orders,info",
        "p2repl://FORTS_POS_REPL;tables=position,position_sa",
        "p2repl://FORTS_PART_REPL;tables=part,part_sa",
        "p2repl://FORTS_PROHIBITION_REPL;tables=prohibition",
    };
    // NOLINTEND(bugprone-suspicious-missing-comma)
    EXPECT_EQ(SettingsOf(build.Subscription.Listeners), expected);
    EXPECT_EQ(build.Subscription.StreamNames, NamesOf(build.Subscription.Listeners));

    const TListenerData& entry = build.Subscription.Listeners[9];
    EXPECT_EQ(entry.LsnParams.StrName, "FORTS_POS_REPL");
    EXPECT_EQ(entry.LsnParams.ModeAll, "mode=snapshot+online");
    EXPECT_EQ(entry.LsnParams.ModeSnap, "mode=snapshot");
    EXPECT_EQ(entry.LsnParams.ModeOnline, "mode=online");
    EXPECT_EQ(entry.LsnParams.LifeStrNum, "lifinum=");
    EXPECT_TRUE(entry.LsnParams.ReplState.empty());
    EXPECT_FALSE(entry.LsnParams.cgMsgOpen);
    EXPECT_FALSE(entry.LsnParams.cgMsgRplOnline);
    EXPECT_EQ(entry.StreamData.sName, "FORTS_POS_REPL");
    EXPECT_EQ(entry.StreamData.LifeNum, 0u);
    EXPECT_EQ(entry.StreamData.LnFlags, 0u);
    EXPECT_EQ(entry.Lsn, nullptr);
}

TEST(SubscriptionTableFormTest, OptionsGivesSeventeenStreamsInTreeOrder) {
    const TSubscriptionBuild build = BuildSubscription(WithMarket(kMarketOptions), false);
    ASSERT_EQ(build.Outcome, TSubscriptionOutcome::Built);
    EXPECT_EQ(
        build.Subscription.StreamNames,
        (std::vector<std::string>{
            "FORTS_COMMON_REPL", "FORTS_AGGR5_REPL", "FORTS_REFDATA_REPL", "FORTS_MISCINFO_REPL",
            "FORTS_VOLAT_REPL", "FORTS_RISKINFOBLACK_REPL", "FORTS_RISKINFOBACH_REPL",
            "FORTS_INFO_REPL", "FORTS_FORECASTIM_REPL", "FORTS_TRADE_REPL",
            "FORTS_USERORDERBOOK_REPL", "FORTS_POS_REPL", "FORTS_PART_REPL",
            "FORTS_PROHIBITION_REPL", "FORTS_CLR_REPL", "FORTS_VM_REPL", "FORTS_TNPENALTY_REPL"}));
    EXPECT_EQ(build.Subscription.Listeners[14].Settings,
              "p2repl://FORTS_CLR_REPL;tables=money_clearing,clr_rate,opt_pos,opt_sess_settl,"
              "pledge_details,money_clearing_sa,opt_pos_sa,option_series_settl");
}

TEST(SubscriptionTableFormTest, TicksOutOfStepWithTheirStream) {
    TStreamTree tree = WithMarket(kMarketCustom);
    // As a hand-edited file may leave them: a ticked stream with no ticked table, and a ticked
    // table under an unticked stream.
    tree.SetIndices(tree.FindStream("FORTS_VM_REPL"), {1, 1, 1});
    tree.SetIndices(tree.FindTable("FORTS_POS_REPL", "position"), {1, 1, 1});
    const TSubscriptionBuild build = BuildSubscription(tree, false);
    EXPECT_EQ(SettingsOf(build.Subscription.Listeners),
              (std::vector<std::string>{"p2repl://FORTS_AGGR5_REPL;tables=orders_aggr",
                                        "p2repl://FORTS_VM_REPL;"}));
}

TEST(SubscriptionSchemeFormTest, StreamsWithoutSchemeAreSkipped) {
    // OPTIONS ticks FORTS_CLR_REPL, FORTS_MISCINFO_REPL and FORTS_RISKINFOBACH_REPL, which have
    // no scheme file.
    const TSubscriptionBuild build = BuildSubscription(WithMarket(kMarketOptions), true);
    ASSERT_EQ(build.Outcome, TSubscriptionOutcome::Built);
    EXPECT_EQ(build.Count, 14);
    const TListeners& listeners = build.Subscription.Listeners;
    ASSERT_EQ(listeners.size(), 14u);
    EXPECT_EQ(build.Subscription.StreamNames, NamesOf(listeners));
    for (const TListenerData& entry : listeners) {
        EXPECT_NE(entry.StreamData.sName, "FORTS_CLR_REPL");
        EXPECT_EQ(entry.Settings, "p2repl://" + entry.StreamData.sName + ";" +
                                      std::string(SchemeParameter(entry.StreamData.sName)));
    }
    // FORTS_CLR_REPL lies between these two in the tree; they keep consecutive positions.
    EXPECT_EQ(listeners[11].Settings, "p2repl://FORTS_PROHIBITION_REPL;scheme=|FILE|scheme/"
                                      "prohibition.ini|CustReplScheme");
    EXPECT_EQ(listeners[12].Settings,
              "p2repl://FORTS_VM_REPL;scheme=|FILE|scheme/vm.ini|CustReplScheme");
}

TEST(SubscriptionSchemeFormTest, SchemeTable) {
    EXPECT_EQ(SchemeParameter("FORTS_FEE_REPL"), SchemeParameter("FORTS_FEERATE_REPL"));
    EXPECT_EQ(SchemeParameter("FORTS_FEE_REPL"), "scheme=|FILE|scheme/fee.ini|CustReplScheme");
    for (const char* aggr : {"FORTS_AGGR5_REPL", "FORTS_AGGR20_REPL", "FORTS_AGGR50_REPL"}) {
        EXPECT_EQ(SchemeParameter(aggr), "scheme=|FILE|scheme/orders_aggr.ini|CustReplScheme");
    }
    EXPECT_EQ(SchemeParameter("FORTS_ORDLOG_REPL"),
              "scheme=|FILE|scheme/ordLog_trades.ini|CustReplScheme");
    for (const char* none : {"FORTS_DEALS_REPL", "FORTS_MISCINFO_REPL", "FORTS_RISKINFOBACH_REPL",
                             "FORTS_CLR_REPL", "forts_fee_repl", ""}) {
        EXPECT_TRUE(SchemeParameter(none).empty()) << none;
    }
    int withScheme = 0;
    const TStreamTree tree;
    for (int i = 0; i < tree.NodeCount(); ++i) {
        withScheme +=
            tree.Node(i).Level == TNodeLevel::Stream && !SchemeParameter(tree.Text(i)).empty() ? 1
                                                                                               : 0;
    }
    EXPECT_EQ(withScheme, 26);
}

class SubscriptionLimitTest : public ::testing::Test {
protected:
    void SetUp() override {
        Previous = BuildSubscription(WithMarket(kMarketFutures), false).Subscription.Listeners;
        Listeners = Previous;
    }
    bool Commit(const TSubscriptionBuild& build) {
        return CommitSubscription(build, Listeners, [this](const std::vector<std::string>& names) {
            Streams = names;
            ++StreamCalls;
        });
    }

    TListeners Previous;
    TListeners Listeners;
    std::vector<std::string> Streams = {"kept"};
    int StreamCalls = 0;
};

TEST_F(SubscriptionLimitTest, TwentyStreamsAccepted) {
    TStreamTree tree = WithMarket(kMarketCustom);
    TickMore(tree, 19);
    const TSubscriptionBuild build = BuildSubscription(tree, false);
    EXPECT_EQ(build.Outcome, TSubscriptionOutcome::Built);
    EXPECT_TRUE(Commit(build));
    EXPECT_EQ(Listeners.size(), 20u);
    EXPECT_EQ(StreamCalls, 1);
    EXPECT_EQ(Streams, NamesOf(Listeners));
}

TEST_F(SubscriptionLimitTest, TwentyOneStreamsRefusedAndNothingReplaced) {
    TStreamTree tree = WithMarket(kMarketCustom);
    TickMore(tree, 20);
    const TSubscriptionBuild build = BuildSubscription(tree, false);
    EXPECT_EQ(build.Outcome, TSubscriptionOutcome::TooManyStreams);
    EXPECT_EQ(build.Count, 21);
    EXPECT_EQ(build.Error, "Превышен лимит потоков в одном соединении!");
    EXPECT_FALSE(Commit(build));
    EXPECT_EQ(SettingsOf(Listeners), SettingsOf(Previous));
    EXPECT_EQ(Streams, std::vector<std::string>{"kept"});
    EXPECT_EQ(StreamCalls, 0);
}

TEST_F(SubscriptionLimitTest, SchemeModeCountsOnlyStreamsWithAScheme) {
    TStreamTree tree = WithMarket(kMarketCustom);
    for (const char* stream :
         {"FORTS_DEALS_REPL", "FORTS_MISCINFO_REPL", "FORTS_RISKINFOBACH_REPL", "FORTS_CLR_REPL"}) {
        tree.ClickPicture(tree.FindStream(stream));
    }
    TickMore(tree, 16); // 21 ticked, 17 of them with a scheme
    EXPECT_EQ(BuildSubscription(tree, false).Outcome, TSubscriptionOutcome::TooManyStreams);
    const TSubscriptionBuild build = BuildSubscription(tree, true);
    EXPECT_EQ(build.Outcome, TSubscriptionOutcome::Built);
    EXPECT_EQ(build.Count, 17);
    EXPECT_TRUE(Commit(build));
    EXPECT_EQ(Streams, NamesOf(Listeners));
}

TEST_F(SubscriptionLimitTest, TreeWithoutStreamsKeepsTheOldTable) {
    const TSubscriptionBuild build = BuildSubscription(TStreamTree{TCatalogue{}}, false);
    EXPECT_EQ(build.Outcome, TSubscriptionOutcome::NoStreamTree);
    EXPECT_EQ(build.Error, "Не получены данные из дерева потоков!");
    EXPECT_TRUE(Commit(build));
    EXPECT_EQ(SettingsOf(Listeners), SettingsOf(Previous));
    EXPECT_EQ(StreamCalls, 0);
}

} // namespace
} // namespace vorlen
