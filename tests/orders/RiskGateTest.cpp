// Every rule of the gate at its boundary: one case just inside, one just outside.

#include "orders/RiskGate.h"

#include <gtest/gtest.h>

namespace vorlen::orders {
namespace {

constexpr std::int64_t P = kPriceScale;

// An order of 1 lot at 100 on an instrument with step 1, limits 90..110, everything healthy.
struct TScene {
    TOrderRequest Order{"Si-3.27", TSide::Buy, 1, 100 * P, "FZ00001", false};
    TRiskLimits Limits;
    TGateView View;
    TScene() {
        View.NowMs = 10'000'000;
        View.Transactions = TLinkHealth::Online;
        View.MarketData = TLinkHealth::Online;
        View.KnownClients = {"FZ00001"};
        View.Instrument = TInstrumentRef{7, "Si-3.27", 1 * P, 90 * P, 110 * P, true};
    }
};

TSentOrder Sent(std::int64_t at, std::int64_t price = 99 * P) {
    return {at, "FZ00001", "Si-3.27", TSide::Buy, price, 1};
}

struct TCase {
    const char* Name;
    void (*Setup)(TScene&);
    const char* Refusal; // a piece of the reason; null: allowed
};

constexpr TCase kCases[] = {
    {"healthy order", [](TScene&) {}, nullptr},
    {"halted", [](TScene& s) { s.View.Halted = true; }, "Торговля остановлена"},
    {"transactions stale", [](TScene& s) { s.View.Transactions = TLinkHealth::Stale; },
     "Трансакций"},
    {"market data stale", [](TScene& s) { s.View.MarketData = TLinkHealth::Stale; },
     "Рыночные данные"},
    {"unknown client", [](TScene& s) { s.Order.Client = "FZ00002"; }, "FZ00002"},
    {"qty 0", [](TScene& s) { s.Order.Qty = 0; }, "больше нуля"},
    {"qty -1", [](TScene& s) { s.Order.Qty = -1; }, "больше нуля"},
    {"qty at max", [](TScene& s) { s.Order.Qty = 10; }, nullptr},
    {"qty over max", [](TScene& s) { s.Order.Qty = 11; }, "больше допустимого"},
    {"unknown instrument", [](TScene& s) { s.Order.Isin = "RTS-3.27"; }, "RTS-3.27"},
    {"off step",
     [](TScene& s) {
         s.View.Instrument->MinStep = 10 * P;
         s.Order.Price = 105 * P;
     },
     "не кратна шагу"},
    {"on a coarse step",
     [](TScene& s) {
         s.View.Instrument->MinStep = 10 * P;
         s.Order.Price = 100 * P;
     },
     nullptr},
    {"fraction off step", [](TScene& s) { s.Order.Price = 100 * P + 1; }, "не кратна шагу"},
    {"at upper limit", [](TScene& s) { s.Order.Price = 110 * P; }, nullptr},
    {"over upper limit", [](TScene& s) { s.Order.Price = 111 * P; }, "вне дневных лимитов"},
    {"at lower limit", [](TScene& s) { s.Order.Price = 90 * P; }, nullptr},
    {"under lower limit", [](TScene& s) { s.Order.Price = 89 * P; }, "вне дневных лимитов"},
    {"unlimited session",
     [](TScene& s) {
         s.View.Instrument->Limited = false;
         s.Order.Price = 200 * P;
     },
     nullptr},
    {"5% from best", [](TScene& s) { s.View.BestOpposite = 100 * P, s.Order.Price = 105 * P; },
     nullptr},
    {"over 5% from best",
     [](TScene& s) {
         s.View.BestOpposite = 100 * P;
         s.Order.Price = 105 * P + P / 100;
         s.View.Instrument->MinStep = P / 100;
     },
     "от лучшей встречной"},
    {"under best by over 5%",
     [](TScene& s) { s.View.BestOpposite = 100 * P, s.Order.Price = 94 * P; },
     "от лучшей встречной"},
    {"no book: distance not applied", [](TScene& s) { s.Order.Price = 90 * P; }, nullptr},
    {"19 active",
     [](TScene& s) {
         s.View.Live.assign(19, {"FZ00001", "RTS-3.27", TSide::Buy, 1});
     },
     nullptr},
    {"20 active",
     [](TScene& s) {
         s.View.Live.assign(20, {"FZ00001", "RTS-3.27", TSide::Buy, 1});
     },
     "Активных заявок уже 20"},
    {"other client's active do not count",
     [](TScene& s) {
         s.View.Live.assign(20, {"FZ00009", "Si-3.27", TSide::Buy, 1});
     },
     nullptr},
    {"59 in the last minute",
     [](TScene& s) {
         for (int i = 0; i < 59; ++i)
             s.View.Sent.push_back(Sent(s.View.NowMs - 59'999));
     },
     nullptr},
    {"60 in the last minute",
     [](TScene& s) {
         for (int i = 0; i < 60; ++i)
             s.View.Sent.push_back(Sent(s.View.NowMs - 59'999));
     },
     "в минуту"},
    {"60 just over a minute ago",
     [](TScene& s) {
         for (int i = 0; i < 60; ++i)
             s.View.Sent.push_back(Sent(s.View.NowMs - 60'000));
     },
     nullptr},
    {"per day at the limit",
     [](TScene& s) {
         s.Limits.MaxPerDay = 3;
         s.View.SentToday = 3;
     },
     "за день"},
    {"per day one below",
     [](TScene& s) {
         s.Limits.MaxPerDay = 3;
         s.View.SentToday = 2;
     },
     nullptr},
    {"position reaches max",
     [](TScene& s) {
         s.View.Position = 45;
         s.View.Live = {{"FZ00001", "Si-3.27", TSide::Buy, 4}};
     },
     nullptr},
    {"pending buys push position over max",
     [](TScene& s) {
         s.View.Position = 45;
         s.View.Live = {{"FZ00001", "Si-3.27", TSide::Buy, 5}};
     },
     "составит 51"},
    {"pending sells do not add to a buy",
     [](TScene& s) {
         s.View.Position = 50;
         s.View.Live = {{"FZ00001", "Si-3.27", TSide::Sell, 9}};
         s.Order.Qty = 1;
     },
     "составит 51"},
    {"short position grows by a sell",
     [](TScene& s) {
         s.View.Position = -50;
         s.Order.Side = TSide::Sell;
     },
     "составит 51"},
    {"a buy reduces a short", [](TScene& s) { s.View.Position = -55; }, nullptr},
    {"repeat within a second", [](TScene& s) { s.View.Sent = {Sent(s.View.NowMs - 999, 100 * P)}; },
     "меньше секунды"},
    {"repeat confirmed",
     [](TScene& s) {
         s.View.Sent = {Sent(s.View.NowMs - 999, 100 * P)};
         s.Order.RepeatConfirmed = true;
     },
     nullptr},
    {"same order a second later",
     [](TScene& s) { s.View.Sent = {Sent(s.View.NowMs - 1000, 100 * P)}; }, nullptr},
    {"other price within a second",
     [](TScene& s) { s.View.Sent = {Sent(s.View.NowMs - 10, 101 * P)}; }, nullptr},
};

TEST(RiskGate, EachRuleAtItsBoundary) {
    for (const TCase& c : kCases) {
        TScene s;
        c.Setup(s);
        const TGateDecision d = CheckOrder(s.Order, s.Limits, s.View);
        if (c.Refusal == nullptr) {
            EXPECT_TRUE(d.Allowed) << c.Name << ": " << d.Reason;
            EXPECT_TRUE(d.Reason.empty()) << c.Name;
        } else {
            EXPECT_FALSE(d.Allowed) << c.Name;
            EXPECT_NE(d.Reason.find(c.Refusal), std::string::npos)
                << c.Name << ": \"" << d.Reason << "\"";
        }
    }
}

TEST(RiskGate, CancelsPassWhileHaltedButNotWithoutConnection) {
    TScene s;
    s.View.Halted = true;
    s.View.MarketData = TLinkHealth::Stale;
    EXPECT_TRUE(CheckCancel(s.View).Allowed);
    s.View.Transactions = TLinkHealth::Offline;
    EXPECT_FALSE(CheckCancel(s.View).Allowed);
}

TEST(RiskLimitsFile, LayersDefaultsAllClientAndInstrument) {
    TLimitsBook book;
    std::string error;
    ASSERT_TRUE(book.Parse("# comment\n*  max_qty=8 distance_pct=2.5\n"
                           "FZ00001 max_qty=5 max_pos=20\n"
                           "FZ00001 Si-3.27 max_pos=7   # tighter on Si\n",
                           error))
        << error;
    TRiskLimits expected;
    expected.MaxOrderQty = 8;
    expected.MaxDistanceBp = 250;
    EXPECT_EQ(book.For("FZ00002", "Si-3.27"), expected);
    expected.MaxOrderQty = 5;
    expected.MaxPosition = 20;
    EXPECT_EQ(book.For("FZ00001", "RTS-3.27"), expected);
    expected.MaxPosition = 7;
    EXPECT_EQ(book.For("FZ00001", "Si-3.27"), expected);

    TLimitsBook again;
    ASSERT_TRUE(again.Parse(book.Format(), error)) << error;
    EXPECT_EQ(again.For("FZ00001", "Si-3.27"), expected);
}

TEST(RiskLimitsFile, ADamagedFileChangesNothing) {
    TLimitsBook book;
    std::string error;
    ASSERT_TRUE(book.Parse("* max_qty=3\n", error));
    for (const char* bad : {"* max_qty=-1\n", "* max_qty=ten\n", "* size=3\n", "* max_qty\n",
                            "* Si-3.27 max_qty=1\n", "* distance_pct=0.001\n"}) {
        EXPECT_FALSE(book.Parse(bad, error)) << bad;
        EXPECT_NE(error.find("строка 1"), std::string::npos) << bad;
        EXPECT_EQ(book.For("X", "Y").MaxOrderQty, 3) << bad;
    }
}

TEST(Prices, ParseAndFormat) {
    EXPECT_EQ(ParsePrice("92000"), 92000 * P);
    EXPECT_EQ(ParsePrice("0,5"), P / 2);
    EXPECT_EQ(ParsePrice("1.000010"), P + 1);
    EXPECT_EQ(ParsePrice("1.000001"), std::nullopt);
    EXPECT_EQ(ParsePrice("1.2.3"), std::nullopt);
    EXPECT_EQ(ParsePrice(""), std::nullopt);
    EXPECT_EQ(FormatPrice(92000 * P + P / 4), "92000.25");
    EXPECT_EQ(FormatPrice(-P / 100000), "-0.00001");
}

} // namespace
} // namespace vorlen::orders
