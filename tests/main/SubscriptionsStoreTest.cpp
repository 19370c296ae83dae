#include "connections/GatewayRecords.h"
#include "main/Subscriptions.h"
#include "store/Storage.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vorlen {
namespace {

std::vector<std::string> StoreStreams(TCGStorage& storage) {
    TMarketData data;
    storage.GetData(data);
    std::vector<std::string> names;
    for (const TStream& stream : data.Streams) {
        names.push_back(stream.sName);
    }
    return names;
}

TEST(SubscriptionStoreTest, StoreStreamsFollowTheListenerTable) {
    TStreamTree tree;
    tree.MarketBoxChange(kMarketFutures, 0);
    TCGStorage storage;
    TListeners listeners;
    ASSERT_TRUE(CommitSubscription(BuildSubscription(tree, false), listeners, storage));
    ASSERT_EQ(listeners.size(), 12u);
    const std::vector<std::string> names = StoreStreams(storage);
    ASSERT_EQ(names.size(), listeners.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], listeners[i].StreamData.sName);
    }

    // A refused subscription leaves the store as it was.
    tree.MarketBoxChange(kMarketCustom, 0);
    for (int i = 0; i < tree.NodeCount(); ++i) {
        if (tree.Node(i).Level == TNodeLevel::Stream && tree.Enabled(i) && !tree.IsTicked(i)) {
            tree.ClickPicture(i);
        }
    }
    EXPECT_FALSE(CommitSubscription(BuildSubscription(tree, false), listeners, storage));
    EXPECT_EQ(StoreStreams(storage), names);
}

} // namespace
} // namespace vorlen
