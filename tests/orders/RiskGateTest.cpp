// Every rule of the gate at its boundary: one case just inside, one just outside.

#include "orders/RiskGate.h"

#include <gtest/gtest.h>
#include <limits>

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

// Limits and an instrument that stand in the way of nothing the message can carry.
void Permissive(TScene& s) {
    s.Limits.MaxOrderQty = s.Limits.MaxPosition = std::numeric_limits<std::int64_t>::max();
    s.Limits.MaxDistanceBp = kMaxDistanceBp;
    s.View.Instrument->MinStep = 1;
    s.View.Instrument->Limited = false;
}

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
    // Nobody confirms a strategy's repeat: it is refused in words of what the strategy did.
    {"a strategy's repeat, even marked confirmed",
     [](TScene& s) {
         s.View.Sent = {Sent(s.View.NowMs - 999, 100 * P)};
         s.Order.FromStrategy = s.Order.RepeatConfirmed = true;
     },
     "Стратегия: повтор той же заявки в течение секунды."},
    {"same order a second later",
     [](TScene& s) { s.View.Sent = {Sent(s.View.NowMs - 1000, 100 * P)}; }, nullptr},
    {"other price within a second",
     [](TScene& s) { s.View.Sent = {Sent(s.View.NowMs - 10, 101 * P)}; }, nullptr},
    // What the add message carries, with limits that would let anything through.
    {"qty the message carries", [](TScene& s) { Permissive(s), s.Order.Qty = kMaxOrderAmount; },
     nullptr},
    {"qty 2^31", [](TScene& s) { Permissive(s), s.Order.Qty = 2'147'483'648; },
     "вмещает заявка биржи"},
    {"qty 2^32 + 1", [](TScene& s) { Permissive(s), s.Order.Qty = 4'294'967'297; },
     "вмещает заявка биржи"},
    {"qty 2^32 + 1 over the client's limit", [](TScene& s) { s.Order.Qty = 4'294'967'297; },
     "больше допустимого в одной заявке (10)"},
    {"price 0", [](TScene& s) { s.Order.Price = 0; }, "Цена должна быть больше нуля."},
    {"price -1", [](TScene& s) { s.Order.Price = -P; }, "Цена должна быть больше нуля."},
    {"price 0.00001 off step", [](TScene& s) { s.Order.Price = 1; }, "не кратна шагу"},
    {"price the exchange holds", [](TScene& s) { Permissive(s), s.Order.Price = kMaxOrderPrice; },
     nullptr},
    {"price beyond what the exchange holds",
     [](TScene& s) { Permissive(s), s.Order.Price = kMaxOrderPrice + 1; }, "вмещает заявка биржи"},
    // The distance rule where its products leave 64 bits.
    {"far below a best near the top",
     [](TScene& s) {
         Permissive(s);
         s.Limits.MaxDistanceBp = 500;
         s.View.BestOpposite = 9'000'000'000'000'000;
     },
     "от лучшей встречной"},
    {"1000% above a huge best: at the edge",
     [](TScene& s) {
         Permissive(s);
         s.Limits.MaxDistanceBp = kMaxDistanceBp;
         s.View.BestOpposite = 900'000'000'000'000;
         s.Order.Price = 9'900'000'000'000'000;
     },
     nullptr},
    {"1000% above a huge best: one unit over",
     [](TScene& s) {
         Permissive(s);
         s.Limits.MaxDistanceBp = kMaxDistanceBp;
         s.View.BestOpposite = 900'000'000'000'000;
         s.Order.Price = 9'900'000'000'000'001;
     },
     "дальше 1000% от лучшей"},
    {"a distance limit beyond any the file gives",
     [](TScene& s) {
         s.Limits.MaxDistanceBp = 1'000'000'000'000'000;
         s.View.BestOpposite = 92'000 * P;
         s.View.Instrument->Limited = false;
         s.Order.Price = 92'000 * P;
     },
     nullptr},
    {"a book price beyond what an order carries",
     [](TScene& s) {
         Permissive(s);
         s.Limits.MaxDistanceBp = 500;
         s.View.BestOpposite = std::numeric_limits<std::int64_t>::max();
         s.Order.Price = kMaxOrderPrice;
     },
     "от лучшей встречной"},
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

// True when `text` is UTF-8 with no control characters: safe to show in a journal or a box.
bool Printable(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
        if (c >= 0x80) {
            const std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
            if (n == 0 || i + n > text.size()) {
                return false;
            }
            for (std::size_t k = 1; k < n; ++k) {
                if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                    return false;
                }
            }
            i += n - 1;
        }
    }
    return true;
}

// Files that once loosened the limits, or read as something they did not say: each is refused
// whole, naming its line and what is wrong there, and the limits stay as they were.
TEST(RiskLimitsFile, EveryDamagedFormIsRefusedWithItsLineAndReason) {
    struct TBad {
        std::string Text;
        const char* Line;
        const char* Reason;
    };
    const std::string garbage("\x7f"
                              "ELF\x02\x01\x01\x00\x00\xff\xfe\x8a\x90\x01",
                              14);
    const std::vector<TBad> cases = {
        {"* max_qty=2\n* max_qty=30\n", "строка 2", "уже задано в строке 1"},
        {"FZ00001 max_qty=2\n# again\nFZ00001 max_pos=9\n", "строка 3", "уже задано в строке 1"},
        {"FZ00001 Si-3.27 max_qty=2\nFZ00001 Si-3.27 max_qty=5\n", "строка 2", "уже задано"},
        {"* max_qty=2 max_qty=30\n", "строка 1", "max_qty задан дважды"},
        {"max_qty=2\n", "строка 1", "не код клиента"},
        {"* max_qty=1\nFZ001 max_qty=5\n", "строка 2", "не код клиента"},
        {"* max_qty=1\nfz00001 max_qty=5\n", "строка 2", "не код клиента"},
        {"\xEF\xBB\xBF\xEF\xBB\xBF* max_qty=2\n", "строка 1", "не код клиента"},
        {garbage, "строка 1", "\\x7F"},
        {"* max_qty=2\n" + garbage + "\n", "строка 2", "\\x7F"},
        {"# \xff\xfe\n* max_qty=2\n", "строка 1", "UTF-8 (байт \\xFF)"},
        {std::string("* max_qty=2\0 max_qty=30\n", 24), "строка 1", "\\x00"},
        {"* max_qty=2\n* max_pos=\x01\n", "строка 2", "\\x01"},
        {"* distance_pct=10000000000000\n", "строка 1", "больше допустимого (1000)"},
        {"* distance_pct=1000.01\n", "строка 1", "больше допустимого (1000)"},
        {"* max_qty=4294967297\n", "строка 1", "больше допустимого (1000000000)"},
        {"* per_day=99999999999999999999999\n", "строка 1", "больше допустимого"},
        {"* max_qty=-0\n", "строка 1", "неверное значение"},
        {"* max_qty=+5\n", "строка 1", "неверное значение"},
        {"* max_qty=1e5\n", "строка 1", "неверное значение"},
        {"* max_qty=1,5\n", "строка 1", "неверное значение"},
        {"* max_qty=\n", "строка 1", "неверное значение"},
        {"* distance_pct=.5\n", "строка 1", "неверное значение"},
        {"* distance_pct=5.\n", "строка 1", "неверное значение"},
        {"* distance_pct=5..0\n", "строка 1", "неверное значение"},
        {"FZ00001 Si-3.27 extra max_qty=1\n", "строка 1", "не ключ=значение"},
        {"FZ00001 " + std::string(30, 'S') + " max_qty=1\n", "строка 1", "не код инструмента"},
        {"* max_qty=2\n* max_pos=" + std::string(100000, '7'), "строка 2", "\"max_pos=7777"},
    };
    for (const TBad& c : cases) {
        TLimitsBook book;
        std::string error;
        ASSERT_TRUE(book.Parse("* max_qty=3\n", error));
        EXPECT_FALSE(book.Parse(c.Text, error)) << c.Reason;
        EXPECT_EQ(error.rfind(std::string(c.Line) + ": ", 0), 0u) << c.Reason << ": " << error;
        EXPECT_NE(error.find(c.Reason), std::string::npos) << error;
        EXPECT_TRUE(Printable(error)) << c.Reason;
        EXPECT_LT(error.size(), 200u) << c.Reason;
        EXPECT_EQ(book.For("FZ00001", "Si-3.27"), TRiskLimits{.MaxOrderQty = 3}) << c.Reason;
    }
}

TEST(RiskLimitsFile, WindowsAndHandWrittenFormsRead) {
    TLimitsBook book;
    std::string error;
    ASSERT_TRUE(book.Parse("\xEF\xBB\xBF* max_qty=2 distance_pct=2,50\r\n"
                           "\r\n"
                           "# Лимиты клиента\r\n"
                           "FZ00001\tmax_qty=1\t max_pos=1000000000\r\n"
                           "FZ00001 Si-3.27 distance_pct=1000 # предел\r\n"
                           "FZ00002 max_active=0",
                           error))
        << error;
    TRiskLimits expected{.MaxOrderQty = 2, .MaxDistanceBp = 250};
    EXPECT_EQ(book.For("FZ00009", "Si-3.27"), expected);
    expected.MaxOrderQty = 1;
    expected.MaxPosition = 1'000'000'000;
    EXPECT_EQ(book.For("FZ00001", "RTS-3.27"), expected);
    expected.MaxDistanceBp = kMaxDistanceBp;
    EXPECT_EQ(book.For("FZ00001", "Si-3.27"), expected);
    EXPECT_EQ(book.For("FZ00002", "Si-3.27").MaxActive, 0);
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
