// The fill models, case by case: a script of recorded market events and the trader's orders, and
// the fills each model must give for it.

#include "fills/FillModel.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace vorlen::fills {
namespace {

TFillSide SideOf(const std::string& s) {
    return s == "B" ? TFillSide::Buy : TFillSide::Sell;
}

// Runs a script and returns every fill as "id:qty@price", space-separated, in order. Steps, ';'
// between them:
//   L B|S price volume        the book's level now holds volume
//   D price qty [B|S]         a recorded deal, with the side that rested when known
//   A id B|S price qty        the trader's order
//   C id                      the trader cancels
std::string Fills(TFillModel model, const std::string& script) {
    TFillEngine engine(model);
    std::string fills;
    const auto note = [&](const std::vector<TFill>& made) {
        for (const TFill& f : made) {
            fills += (fills.empty() ? "" : " ") + std::to_string(f.OrderId) + ":" +
                     std::to_string(f.Qty) + "@" + std::to_string(f.Price);
        }
    };
    std::istringstream steps(script);
    std::string step;
    while (std::getline(steps, step, ';')) {
        std::istringstream in(step);
        std::string op, a, b;
        std::int64_t x = 0, y = 0, z = 0;
        in >> op;
        if (op == "L") {
            in >> a >> x >> y;
            engine.SetLevel(SideOf(a), x, y);
        } else if (op == "D") {
            in >> x >> y >> a;
            engine.Deal(x, y, a.empty() ? std::nullopt : std::optional(SideOf(a)));
        } else if (op == "A") {
            in >> x >> a >> y >> z;
            note(engine.Add(x, SideOf(a), y, z));
        } else if (op == "C") {
            in >> x;
            EXPECT_TRUE(engine.Cancel(x)) << step;
        } else {
            ADD_FAILURE() << "unknown step " << step;
        }
        note(engine.TakeFills());
    }
    return fills;
}

struct TCase {
    const char* Name;
    const char* Script;
    const char* Touch;
    const char* Through;
    const char* Queue;
};

// A book of bids 99 (5) and asks 101 (3), 102 (4) in every case.
constexpr const char* kBook = "L B 99 5;L S 101 3;L S 102 4;";

const TCase kCases[] = {
    {"AtTheBestBidTheAskComesDown", "A 1 B 99 2;L S 99 1", "1:1@99", "", ""},
    {"ARestingOrderFillsAtItsOwnPriceWhenCrossed", "A 1 B 99 2;L S 98 5", "1:2@99", "", ""},
    {"AtTheBestBidADealThroughIt", "A 1 B 99 2;D 98 5 B", "", "1:2@99", "1:2@99"},
    {"AtTheBestBidADealAtItBehindTheQueue", "A 1 B 99 2;D 99 4 B", "", "", ""},
    {"TheQueueAheadTradesThenTheOrder", "A 1 B 99 2;D 99 4 B;D 99 3 B", "", "", "1:2@99"},
    {"CancelsAheadShortenTheQueue", "A 1 B 99 2;L B 99 1;D 99 2 B", "", "", "1:1@99"},
    {"ADealOfTheOtherSideLeavesTheQueue", "A 1 B 99 2;D 99 9 S", "", "", ""},
    {"ADealOfUnknownSideTradesTheQueue", "A 1 B 99 2;D 99 6", "", "", "1:1@99"},
    {"PartialFillThenTheRest", "A 1 S 101 5;D 102 2 S;L B 101 1;D 102 9 S", "1:1@101",
     "1:2@101 1:3@101", "1:2@101 1:3@101"},
    {"MarketableLargerThanTheBook", "A 1 B 105 10", "1:3@101 1:4@102", "1:3@101 1:4@102",
     "1:3@101 1:4@102"},
    {"TakenLiquidityIsNotTakenTwice", "A 1 B 101 2;A 2 B 101 2", "1:2@101 2:1@101",
     "1:2@101 2:1@101", "1:2@101 2:1@101"},
    {"TakenLiquidityComesBackOnlyAsNewVolume", "A 1 B 101 3;L S 101 2;L S 101 4;A 2 B 101 9",
     "1:3@101 2:2@101", "1:3@101 2:2@101", "1:3@101 2:2@101"},
    {"PriceThenTimePriorityAmongOwnOrders", "A 1 B 98 2;A 2 B 99 2;A 3 B 99 2;D 97 5 B", "",
     "2:2@99 3:2@99 1:1@98", "2:2@99 3:2@99 1:1@98"},
    {"CancelledOrdersNeverFill", "A 1 B 99 2;C 1;L S 99 5;D 98 5 B", "", "", ""},
};

TEST(FillModels, EachCaseGivesTheModelsFills) {
    for (const TCase& c : kCases) {
        const std::string script = std::string(kBook) + c.Script;
        EXPECT_EQ(Fills(TFillModel::Touch, script), c.Touch) << c.Name << " (touch)";
        EXPECT_EQ(Fills(TFillModel::Through, script), c.Through) << c.Name << " (through)";
        EXPECT_EQ(Fills(TFillModel::Queue, script), c.Queue) << c.Name << " (queue)";
    }
}

TEST(FillModels, NamesReadBackAndUnknownOnesAreRefused) {
    for (const TFillModel m : {TFillModel::Touch, TFillModel::Through, TFillModel::Queue}) {
        EXPECT_EQ(ParseFillModel(FillModelName(m)), m);
    }
    EXPECT_FALSE(ParseFillModel("Touch"));
    EXPECT_FALSE(ParseFillModel(""));
}

} // namespace
} // namespace vorlen::fills
