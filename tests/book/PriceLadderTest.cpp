// The fixed-price ladder over a market that moves: where it stays, when it re-centres, what each
// row shows (empty levels, own orders beyond the subscribed depth, the last deal, cumulative
// volumes) and the spread.

#include "book/PriceLadder.h"

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vorlen::test {
namespace {

// A row as one line: "bid|price|ask", then what marks it.
std::string Render(const TLadderRow& r) {
    std::string out = r.Bid + "|" + r.Price + "|" + r.Ask;
    if (!r.Own.empty())
        out += std::string(" own") + (r.OwnSide == 1 ? "B" : "S") + r.Own;
    if (r.Best)
        out += " best";
    if (r.Inside)
        out += " in";
    if (r.LastDeal)
        out += " deal";
    if (!r.Cumulative.empty())
        out += " =" + r.Cumulative;
    return out;
}

TEST(PriceLadder, FixedRowsFollowAMovingMarketOnlyWhenTheyMust) {
    struct TStep {
        const char* What;
        std::map<double, std::int64_t> Bids, Asks; // price -> volume
        std::optional<double> Deal;
        bool Recentre; // the trader asks for the market in the middle first
        int Count;     // rows the view has room for
        bool Moved;    // the window of prices moved
        std::vector<std::string> Rows;
        std::string Spread;
    };
    // Own orders throughout: a buy at 99, below the one bid level subscribed, and a sell far up.
    const std::vector<TOwnLevel> own = {{1, 99, 2}, {2, 104, 1}};
    const std::vector<TStep> steps = {
        {"first centring, on the mid",
         {{100, 5}},
         {{102, 7}},
         {},
         false,
         5,
         true,
         {"|103| =7", "|102|7 best =7", "|101| in", "5|100| best =5", "|99| ownB2 =5"},
         "спред 2 шага"},
        {"a better bid and a deal inside the rows: nothing moves",
         {{101, 3}, {100, 5}},
         {{102, 7}},
         102,
         false,
         5,
         false,
         {"|103| =7", "|102|7 best deal =7", "3|101| best =3", "5|100| =8", "|99| ownB2 =8"},
         "спред 1 шаг"},
        {"asks lift to the top row: still inside",
         {{101, 3}},
         {{103, 1}, {104, 9}},
         102,
         false,
         5,
         false,
         {"|103|1 best =1", "|102| in deal", "3|101| best =3", "|100| =3", "|99| ownB2 =3"},
         "спред 2 шага"},
        {"the best ask leaves the rows: re-centred",
         {{105, 2}},
         {{106, 1}},
         {},
         false,
         5,
         true,
         {"|107| =1", "|106|1 best =1", "2|105| best =2", "|104| ownS1 =2", "|103| =2"},
         "спред 1 шаг"},
        {"drifting down inside the rows stays put",
         {{103, 4}},
         {{104, 1}},
         {},
         false,
         5,
         false,
         {"|107| =1", "|106| =1", "|105| =1", "|104|1 ownS1 best =1", "4|103| best =4"},
         "спред 1 шаг"},
        {"on demand, the market back in the middle",
         {{103, 4}},
         {{104, 1}},
         {},
         true,
         5,
         true,
         {"|105| =1", "|104|1 ownS1 best =1", "4|103| best =4", "|102| =4", "|101| =4"},
         "спред 1 шаг"},
        {"a taller view keeps the centre",
         {{103, 4}},
         {{104, 1}},
         {},
         false,
         7,
         false,
         {"|106| =1", "|105| =1", "|104|1 ownS1 best =1", "4|103| best =4", "|102| =4", "|101| =4",
          "|100| =4"},
         "спред 1 шаг"},
        {"an empty book keeps its place; the deal still shows",
         {},
         {},
         101,
         false,
         5,
         false,
         {"|105|", "|104| ownS1", "|103|", "|102|", "|101| deal"},
         ""},
    };
    TFixedLadder ladder;
    for (const TStep& step : steps) {
        TBookSnapshot book;
        book.MinStep = 1.0;
        book.OwnOrders = own;
        for (auto it = step.Bids.rbegin(); it != step.Bids.rend(); ++it)
            book.Bids.push_back({it->first, it->second, 0});
        for (const auto& [price, volume] : step.Asks)
            book.Asks.push_back({price, volume, 0});
        book.LastDeal = step.Deal;
        if (step.Recentre)
            ladder.Recentre();
        std::vector<TLadderRow> rows = ladder.Rows(book, step.Count);
        AddCumulative(rows);
        std::vector<std::string> shown;
        for (const TLadderRow& r : rows) {
            shown.push_back(Render(r));
            EXPECT_EQ(r.Units % 100000, 0) << step.What << ": every row on the step's grid";
        }
        EXPECT_EQ(shown, step.Rows) << step.What;
        EXPECT_EQ(ladder.Moved(), step.Moved) << step.What;
        EXPECT_EQ(SpreadText(book), step.Spread) << step.What;
    }

    // Without the instrument's step there is no grid: the window shows the levels instead.
    TBookSnapshot unknown;
    unknown.Bids = {{100, 1, 0}};
    EXPECT_TRUE(TFixedLadder().Rows(unknown, 5).empty());
    unknown.Asks = {{100.5, 1, 0}};
    EXPECT_EQ(SpreadText(unknown), "спред " + NumberText(0.5));
    unknown.MinStep = 0.1;
    unknown.Asks = {{101.1, 1, 0}};
    EXPECT_EQ(SpreadText(unknown), "спред 11 шагов");
    // A step the grid is not laid on: prices of the step, not of its float's rounding.
    TFixedLadder fine;
    const auto rows = fine.Rows(unknown, 3);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Units - rows[1].Units, 10000);
}

} // namespace
} // namespace vorlen::test
