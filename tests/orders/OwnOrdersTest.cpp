// Own orders from orders-log rows, whatever order they come in and however often repeated.

#include "orders/OwnOrders.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vorlen::orders {
namespace {

TOrderLogRow Row(std::int64_t id, int action, std::int64_t amount, std::int64_t rest,
                 std::int64_t deal = 0) {
    TOrderLogRow r;
    r.OrderId = id;
    r.IsinId = 7;
    r.Client = "FZ00001";
    r.Price = 100 * kPriceScale;
    r.Action = action;
    r.Amount = amount;
    r.Rest = rest;
    r.DealId = deal;
    return r;
}

struct TCase {
    const char* Name;
    std::vector<TOrderLogRow> Rows;
    TOrderState State;
    std::int64_t Amount, Filled, Rest;
};

TEST(OwnOrders, StateFromRowsInAnyOrderAndRepeated) {
    const TCase cases[] = {
        {"placed", {Row(1, 1, 5, 5)}, TOrderState::Placed, 5, 0, 5},
        {"placed twice", {Row(1, 1, 5, 5), Row(1, 1, 5, 5)}, TOrderState::Placed, 5, 0, 5},
        {"partly filled",
         {Row(1, 1, 5, 5), Row(1, 2, 2, 3, 91)},
         TOrderState::PartlyFilled,
         5,
         2,
         3},
        {"fill before its placing row",
         {Row(1, 2, 2, 3, 91), Row(1, 1, 5, 5)},
         TOrderState::PartlyFilled,
         5,
         2,
         3},
        {"same deal repeated",
         {Row(1, 1, 5, 5), Row(1, 2, 2, 3, 91), Row(1, 2, 2, 3, 91)},
         TOrderState::PartlyFilled,
         5,
         2,
         3},
        {"filled in two deals, out of order",
         {Row(1, 2, 3, 0, 92), Row(1, 1, 5, 5), Row(1, 2, 2, 3, 91)},
         TOrderState::Filled,
         5,
         5,
         0},
        {"fill without placing row", {Row(1, 2, 2, 3, 91)}, TOrderState::PartlyFilled, 5, 2, 3},
        {"cancelled", {Row(1, 1, 5, 5), Row(1, 0, 5, 0)}, TOrderState::Cancelled, 5, 0, 0},
        {"cancel before placing row",
         {Row(1, 0, 5, 0), Row(1, 1, 5, 5)},
         TOrderState::Cancelled,
         5,
         0,
         0},
        {"cancelled after a partial fill",
         {Row(1, 1, 5, 5), Row(1, 0, 3, 0), Row(1, 2, 2, 3, 91)},
         TOrderState::Cancelled,
         5,
         2,
         0},
    };
    for (const TCase& c : cases) {
        const std::vector<TOwnOrder> orders = DeriveOwnOrders(c.Rows);
        ASSERT_EQ(orders.size(), 1u) << c.Name;
        const TOwnOrder& o = orders[0];
        EXPECT_EQ(o.State, c.State) << c.Name << ": " << StateText(o.State);
        EXPECT_EQ(o.Amount, c.Amount) << c.Name;
        EXPECT_EQ(o.Filled, c.Filled) << c.Name;
        EXPECT_EQ(o.Rest, c.Rest) << c.Name;
        EXPECT_EQ(o.Active(),
                  c.State == TOrderState::Placed || c.State == TOrderState::PartlyFilled)
            << c.Name;
    }
}

// The active orders' counts the tracker keeps as rows come, against counting its list afresh.
TActiveByClient Recounted(const TOwnOrderTracker& tracker) {
    TActiveByClient counts;
    for (const TOwnOrder& o : tracker.Orders(true)) {
        CountActive(counts, o, 1);
    }
    return counts;
}

TEST(OwnOrders, EveryPermutationOfOneOrdersRowsAgrees) {
    TOrderLogRow other = Row(9, 1, 1, 1);
    other.Client = "FZ00002";
    other.Side = TSide::Sell;
    std::vector<TOrderLogRow> rows = {Row(4, 1, 6, 6), Row(4, 2, 1, 5, 1), Row(4, 2, 2, 3, 2),
                                      other, Row(4, 0, 3, 0)};
    const auto key = [](const TOrderLogRow& r) {
        return r.OrderId * 1000 + r.DealId * 10 + r.Action;
    };
    const auto less = [&](const TOrderLogRow& a, const TOrderLogRow& b) { return key(a) < key(b); };
    std::sort(rows.begin(), rows.end(), less);
    int seen = 0;
    do {
        ++seen;
        TOwnOrderTracker tracker;
        for (const TOrderLogRow& r : rows) {
            tracker.Add(r);
            ASSERT_EQ(tracker.Active(), Recounted(tracker)) << "after row of order " << r.OrderId;
        }
        EXPECT_EQ(tracker.Active().count("FZ00001"), 0u);
        EXPECT_EQ(tracker.Active().at("FZ00002").Rest.at({7, TSide::Sell}), 1);
        const auto orders = DeriveOwnOrders(rows);
        ASSERT_EQ(orders.size(), 2u);
        EXPECT_EQ(orders[0].OrderId, 4);
        EXPECT_EQ(orders[0].State, TOrderState::Cancelled);
        EXPECT_EQ(orders[0].Filled, 3);
        EXPECT_EQ(orders[1].State, TOrderState::Placed);
    } while (std::next_permutation(rows.begin(), rows.end(), less));
    EXPECT_EQ(seen, 120);
}

} // namespace
} // namespace vorlen::orders
