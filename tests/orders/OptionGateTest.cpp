// Option series through the gate: their own step and limits, their own position limits from the
// limits file's series lines, and a distance from the market counted in steps, not per cent.

#include "orders/RiskGate.h"

#include <gtest/gtest.h>

namespace vorlen::orders {
namespace {

constexpr std::int64_t P = kPriceScale;
constexpr const char* kSeries = "Si-3.27M190327CA92000";

struct TOptionCase {
    const char* Name;
    const char* LimitsFile; // read whole, then asked for the order's client and series
    std::int64_t Step, LimitDown, LimitUp;
    std::optional<std::int64_t> BestOpposite;
    std::int64_t Position;
    TSide Side;
    std::int64_t Qty, Price;
    const char* Refusal; // the reason as shown; null: allowed
};

// The series is quoted 118 / 120; the futures' own rule (5 % by default) would refuse 140 and
// allow 5 steps off a 5000 premium alike, which is why it is not the series' rule.
const TOptionCase kOptionCases[] = {
    {"at the best ask", "", P, P, 5000 * P, 120 * P, 0, TSide::Buy, 1, 120 * P, nullptr},
    {"20 steps over the ask", "", P, P, 5000 * P, 120 * P, 0, TSide::Buy, 1, 140 * P, nullptr},
    {"21 steps over the ask", "", P, P, 5000 * P, 120 * P, 0, TSide::Buy, 1, 141 * P,
     "Цена 141 дальше от лучшей встречной цены 120, чем допустимо для опциона (шагов цены: 20, "
     "шаг 1)."},
    {"20 steps under the bid", "", P, P, 5000 * P, 118 * P, 0, TSide::Sell, 1, 98 * P, nullptr},
    {"21 steps under the bid", "", P, P, 5000 * P, 118 * P, 0, TSide::Sell, 1, 97 * P,
     "Цена 97 дальше от лучшей встречной цены 118, чем допустимо для опциона (шагов цены: 20, "
     "шаг 1)."},
    {"the per-cent key does not hold a series", "* distance_pct=0.01", P, P, 5000 * P, 120 * P, 0,
     TSide::Buy, 1, 130 * P, nullptr},
    {"steps are the series' own", "* opt_distance_steps=3", 5 * P, 5 * P, 5000 * P, 120 * P, 0,
     TSide::Buy, 1, 135 * P, nullptr},
    {"one coarse step too many", "* opt_distance_steps=3", 5 * P, 5 * P, 5000 * P, 120 * P, 0,
     TSide::Buy, 1, 140 * P,
     "Цена 140 дальше от лучшей встречной цены 120, чем допустимо для опциона (шагов цены: 3, "
     "шаг 5)."},
    {"zero steps: only the best itself", "* opt_distance_steps=0", P, P, 5000 * P, 120 * P, 0,
     TSide::Buy, 1, 121 * P, "шагов цены: 0"},
    {"no book: no distance rule", "", P, P, 5000 * P, std::nullopt, 0, TSide::Buy, 1, 4000 * P,
     nullptr},
    {"off the series' step", "", 5 * P, 5 * P, 5000 * P, 120 * P, 0, TSide::Buy, 1, 123 * P,
     "Цена 123 не кратна шагу цены 5."},
    {"a fraction of a step", "", P / 100, P / 100, 5000 * P, 120 * P, 0, TSide::Buy, 1,
     120 * P + P / 1000, "не кратна шагу цены 0.01"},
    {"over the series' upper limit", "", P, P, 130 * P, 120 * P, 0, TSide::Buy, 1, 131 * P,
     "Цена 131 вне дневных лимитов (1 - 130)."},
    {"under the series' lower limit", "", P, 110 * P, 5000 * P, 118 * P, 0, TSide::Sell, 1, 109 * P,
     "Цена 109 вне дневных лимитов (110 - 5000)."},
    {"position up to the series' limit", "* max_pos=50\nFZ00001 Si-3.27M190327CA92000 max_pos=10",
     P, P, 5000 * P, 120 * P, 9, TSide::Buy, 1, 120 * P, nullptr},
    {"position over the series' limit", "* max_pos=50\nFZ00001 Si-3.27M190327CA92000 max_pos=10", P,
     P, 5000 * P, 120 * P, 9, TSide::Buy, 2, 120 * P,
     "Позиция с учётом активных заявок составит 11 (допустимо 10)."},
    {"the series' limit is not its futures'", "FZ00001 Si-3.27 max_pos=1", P, P, 5000 * P, 120 * P,
     9, TSide::Buy, 2, 120 * P, nullptr},
    {"the series' own steps beat the client's",
     "FZ00001 opt_distance_steps=0\nFZ00001 Si-3.27M190327CA92000 opt_distance_steps=5", P, P,
     5000 * P, 120 * P, 0, TSide::Buy, 1, 125 * P, nullptr},
};

TEST(OptionGate, SeriesOrdersAcceptedOrRefusedWithTheirReason) {
    for (const TOptionCase& c : kOptionCases) {
        TLimitsBook book;
        std::string error;
        ASSERT_TRUE(book.Parse(c.LimitsFile, error)) << c.Name << ": " << error;
        TGateView v;
        v.NowMs = 1'000'000;
        v.Transactions = v.MarketData = TLinkHealth::Online;
        v.KnownClients = {"FZ00001"};
        v.Instrument = TInstrumentRef{901, kSeries, c.Step, c.LimitDown, c.LimitUp, true, true};
        v.Position = c.Position;
        v.BestOpposite = c.BestOpposite;
        const TOrderRequest o{kSeries, c.Side, c.Qty, c.Price, "FZ00001", false};
        const TGateDecision d = CheckOrder(o, book.For("FZ00001", kSeries), v);
        if (c.Refusal == nullptr) {
            EXPECT_TRUE(d.Allowed) << c.Name << ": " << d.Reason;
        } else {
            EXPECT_FALSE(d.Allowed) << c.Name;
            EXPECT_NE(d.Reason.find(c.Refusal), std::string::npos)
                << c.Name << ": \"" << d.Reason << "\"";
        }
    }
}

// The same prices on a futures still answer to the per-cent rule: the flag alone switches.
TEST(OptionGate, FuturesKeepThePerCentRule) {
    TGateView v;
    v.NowMs = 1'000'000;
    v.Transactions = v.MarketData = TLinkHealth::Online;
    v.KnownClients = {"FZ00001"};
    v.Instrument = TInstrumentRef{7, "Si-3.27", P, P, 5000 * P, true, false};
    v.BestOpposite = 120 * P;
    TRiskLimits l;
    l.MaxOptionDistanceSteps = 1'000;
    const TGateDecision d = CheckOrder({"Si-3.27", TSide::Buy, 1, 130 * P, "FZ00001", false}, l, v);
    EXPECT_FALSE(d.Allowed);
    EXPECT_NE(d.Reason.find("5% от лучшей встречной"), std::string::npos) << d.Reason;
}

TEST(OptionGate, StepsKeyReadsWholeAndBounded) {
    TLimitsBook book;
    std::string error;
    ASSERT_TRUE(book.Parse("* opt_distance_steps=7\n", error)) << error;
    EXPECT_EQ(book.For("X", "Y").MaxOptionDistanceSteps, 7);
    TLimitsBook again;
    ASSERT_TRUE(again.Parse(book.Format(), error)) << error;
    EXPECT_EQ(again.For("X", "Y"), book.For("X", "Y"));
    EXPECT_EQ(TLimitsBook().For("X", "Y").MaxOptionDistanceSteps, 20);
    for (const char* bad : {"* opt_distance_steps=1.5\n", "* opt_distance_steps=-1\n",
                            "* opt_distance_steps=1000001\n"}) {
        EXPECT_FALSE(book.Parse(bad, error)) << bad;
        EXPECT_EQ(book.For("X", "Y").MaxOptionDistanceSteps, 7) << bad;
    }
}

} // namespace
} // namespace vorlen::orders
