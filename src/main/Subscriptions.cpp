#include "main/Subscriptions.h"

#include "store/Storage.h"

#include <array>
#include <utility>

namespace vorlen {

namespace {

struct TSchemeRow {
    std::string_view Stream;
    std::string_view Parameter;
};

constexpr std::array<TSchemeRow, 26> kSchemes = {{
    {"FORTS_ORDLOG_REPL", "scheme=|FILE|scheme/ordLog_trades.ini|CustReplScheme"},
    {"FORTS_FEE_REPL", "scheme=|FILE|scheme/fee.ini|CustReplScheme"},
    {"FORTS_FEERATE_REPL", "scheme=|FILE|scheme/fee.ini|CustReplScheme"},
    {"FORTS_BROKER_FEE_REPL", "scheme=|FILE|scheme/brokerfee.ini|CustReplScheme"},
    {"FORTS_BROKER_FEE_PARAMS_REPL", "scheme=|FILE|scheme/brokerfeeparams.ini|CustReplScheme"},
    {"FORTS_ORDBOOK_REPL", "scheme=|FILE|scheme/ordbook.ini|CustReplScheme"},
    {"FORTS_COMMON_REPL", "scheme=|FILE|scheme/common.ini|CustReplScheme"},
    {"FORTS_AGGR5_REPL", "scheme=|FILE|scheme/orders_aggr.ini|CustReplScheme"},
    {"FORTS_AGGR20_REPL", "scheme=|FILE|scheme/orders_aggr.ini|CustReplScheme"},
    {"FORTS_AGGR50_REPL", "scheme=|FILE|scheme/orders_aggr.ini|CustReplScheme"},
    {"FORTS_REFDATA_REPL", "scheme=|FILE|scheme/refdata.ini|CustReplScheme"},
    {"FORTS_MM_REPL", "scheme=|FILE|scheme/mm.ini|CustReplScheme"},
    {"RTS_INDEX_REPL", "scheme=|FILE|scheme/rts_index.ini|CustReplScheme"},
    {"FORTS_VOLAT_REPL", "scheme=|FILE|scheme/volat.ini|CustReplScheme"},
    {"FORTS_RISKINFOBLACK_REPL", "scheme=|FILE|scheme/riskinfo_black.ini|CustReplScheme"},
    {"FORTS_INFO_REPL", "scheme=|FILE|scheme/info.ini|CustReplScheme"},
    {"MOEX_RATES_REPL", "scheme=|FILE|scheme/rates.ini|CustReplScheme"},
    {"FORTS_FORECASTIM_REPL", "scheme=|FILE|scheme/forecastim.ini|CustReplScheme"},
    {"FORTS_TRADE_REPL", "scheme=|FILE|scheme/trades.ini|CustReplScheme"},
    {"FORTS_USERORDERBOOK_REPL", "scheme=|FILE|scheme/userorderbook.ini|CustReplScheme"},
    {"FORTS_POS_REPL", "scheme=|FILE|scheme/pos.ini|CustReplScheme"},
    {"FORTS_PART_REPL", "scheme=|FILE|scheme/part.ini|CustReplScheme"},
    {"FORTS_PROHIBITION_REPL", "scheme=|FILE|scheme/prohibition.ini|CustReplScheme"},
    {"FORTS_VM_REPL", "scheme=|FILE|scheme/vm.ini|CustReplScheme"},
    {"FORTS_TNPENALTY_REPL", "scheme=|FILE|scheme/tnpenalty.ini|CustReplScheme"},
    {"FORTS_USER_REPL", "scheme=|FILE|scheme/user.ini|CustReplScheme"},
}};

constexpr std::string_view kSettingsPrefix = "p2repl://";

TListenerData NewListener(const std::string& stream) {
    TListenerData entry;
    entry.LsnParams.StrName = stream;
    entry.LsnParams.ModeAll = "mode=snapshot+online";
    entry.LsnParams.ModeSnap = "mode=snapshot";
    entry.LsnParams.ModeOnline = "mode=online";
    entry.LsnParams.LifeStrNum = "lifinum=";
    entry.LsnParams.ReplState.clear();
    entry.LsnParams.cgMsgOpen = false;
    entry.LsnParams.cgMsgRplOnline = false;
    entry.StreamData.sName = stream;
    entry.StreamData.LifeNum = 0;
    entry.StreamData.LnFlags = 0;
    return entry;
}

} // namespace

std::string_view SchemeParameter(std::string_view stream) {
    for (const TSchemeRow& row : kSchemes) {
        if (row.Stream == stream) {
            return row.Parameter;
        }
    }
    return {};
}

void AddStreamListener(const TStreamTree& tree, int node, bool useScheme, TSubscription& out,
                       int& n) {
    if (!tree.IsNode(node) || tree.ImageIndex(node) != kImageTicked) {
        return;
    }
    const std::string& stream = tree.Text(node);
    std::string settings = std::string(kSettingsPrefix) + stream + ";";

    if (useScheme) {
        const std::string_view scheme = SchemeParameter(stream);
        if (scheme.empty()) {
            return;
        }
        settings += scheme;
    } else {
        const std::vector<int>& tables = tree.Children(node);
        if (tables.empty()) {
            return;
        }
        bool first = true;
        for (const int table : tables) {
            if (tree.ImageIndex(table) != kImageTicked) {
                continue;
            }
            settings += first ? "tables=" : ",";
            settings += tree.Text(table);
            first = false;
        }
    }

    TListenerData entry = NewListener(stream);
    entry.Settings = std::move(settings);
    out.Listeners.push_back(std::move(entry));
    out.StreamNames.push_back(stream);
    ++n;
}

TSubscriptionBuild BuildSubscription(const TStreamTree& tree, bool useScheme) {
    TSubscriptionBuild build;
    constexpr int root = 0;
    if (!tree.IsNode(root) || tree.Children(root).empty()) {
        build.Outcome = TSubscriptionOutcome::NoStreamTree;
        build.Error = std::string(kNoStreamTreeText);
        return build;
    }

    int n = 0;
    for (const int group : tree.Children(root)) {
        if (tree.Text(group) != kMarketDataGroup && tree.Text(group) != kPersonalDataGroup) {
            continue;
        }
        for (const int stream : tree.Children(group)) {
            AddStreamListener(tree, stream, useScheme, build.Subscription, n);
        }
    }
    build.Count = n;

    if (n > kMaxListeners) {
        build.Outcome = TSubscriptionOutcome::TooManyStreams;
        build.Error = std::string(kTooManyStreamsText);
        build.Subscription = {};
    }
    return build;
}

bool CommitSubscription(TSubscriptionBuild build, TListeners& listeners,
                        const std::function<void(const std::vector<std::string>&)>& setStreams) {
    switch (build.Outcome) {
    case TSubscriptionOutcome::Built:
        if (setStreams) {
            setStreams(build.Subscription.StreamNames);
        }
        listeners = std::move(build.Subscription.Listeners);
        return true;
    case TSubscriptionOutcome::NoStreamTree:
        return true;
    case TSubscriptionOutcome::TooManyStreams:
        return false;
    }
    return false;
}

bool CommitSubscription(TSubscriptionBuild build, TListeners& listeners, TCGStorage& storage) {
    return CommitSubscription(
        std::move(build), listeners,
        [&storage](const std::vector<std::string>& names) { storage.SetStreams(names); });
}

} // namespace vorlen
