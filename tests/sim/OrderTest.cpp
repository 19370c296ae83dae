// The router's order handling, seen through the gateway library as the terminal posts orders.

#include "SimSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <gtest/gtest.h>
#include <thread>

namespace simtest {
namespace {

class SimOrders : public ::testing::Test {
protected:
    void SetUp() override {
        OpenEnvironment();
        ASSERT_TRUE(router.Running());
        session = std::make_unique<Session>(router.Port(), "transaction");
        ref = &session->Listen("p2repl://FORTS_REFDATA_REPL;tables=fut_sess_contents");
        trade = &session->Listen("p2repl://FORTS_TRADE_REPL;tables=orders_log,user_deal");
        pos = &session->Listen("p2repl://FORTS_POS_REPL;tables=position");
        part = &session->Listen("p2repl://FORTS_PART_REPL;tables=part");
        replies = &session->Publish("p2mq://FORTS_SRV;category=FORTS_MSG;name=publisher;timeout=" +
                                        timeout,
                                    "p2mqreply://;ref=publisher");
        ASSERT_TRUE(session->Pump(
            [&] { return ref->online && trade->online && pos->online && part->online; }));
        const Event& si = *ref->Rows("fut_sess_contents").front();
        isin = Int(ref->scheme, si, "isin_id");
        step = Decimal(ref->scheme, si, "min_step");
        mid = Decimal(ref->scheme, si, "old_kotir");
        ASSERT_GT(step, 0);
    }

    static std::string Price(double p) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.5f", p);
        return buf;
    }

    Event Order(std::uint32_t id, const std::string& client, long long isinId, int dir,
                long long amount, const std::string& price) {
        return session->Order(id, {{"broker_code", "FZ00"},
                                   {"client_code", client},
                                   {"isin_id", std::to_string(isinId)},
                                   {"dir", std::to_string(dir)},
                                   {"type", "1"},
                                   {"amount", std::to_string(amount)},
                                   {"price", price},
                                   {"comment", "test"}});
    }

    std::vector<const Event*> LogRowsOf(std::int64_t orderId) const {
        std::vector<const Event*> out;
        for (const Event* e : trade->Rows("orders_log")) {
            if (Int(trade->scheme, *e, "public_order_id") == orderId) {
                out.push_back(e);
            }
        }
        return out;
    }

    std::string timeout = "5000";
    Router router;
    std::unique_ptr<Session> session;
    Lsn* ref = nullptr;
    Lsn* trade = nullptr;
    Lsn* pos = nullptr;
    Lsn* part = nullptr;
    Lsn* replies = nullptr;
    std::int64_t isin = 0;
    double step = 0;
    double mid = 0;
};

TEST_F(SimOrders, EveryRefusalAnswersWithItsCodeAndLeavesNoOrder) {
    struct Case {
        const char* what;
        std::string client;
        long long isinId;
        int dir;
        long long amount;
        std::string price;
        int code;
    };
    const std::vector<Case> cases = {
        {"unknown instrument", "001", 999, 1, 1, Price(mid), 4098},
        {"zero amount", "001", isin, 1, 0, Price(mid), 53},
        {"negative amount", "001", isin, 2, -3, Price(mid), 53},
        {"price off the step", "001", isin, 1, 1, Price(mid + step / 2), 39},
        {"price digits beyond the fifth place", "001", isin, 1, 1, Price(mid) + "1", 39},
        {"unknown client", "999", isin, 1, 1, Price(mid), 34},
        {"bad direction", "001", isin, 3, 1, Price(mid), 35},
        {"price not a number", "001", isin, 1, 1, "abc", 35},
        {"price beyond the limits", "001", isin, 1, 1, Price(std::round(mid * 1.5)), 32},
    };
    const std::size_t logBefore = trade->Rows("orders_log").size();
    std::uint32_t id = 100;
    for (const Case& c : cases) {
        const Event r = Order(++id, c.client, c.isinId, c.dir, c.amount, c.price);
        ASSERT_EQ(r.type, CG_MSG_DATA) << c.what;
        EXPECT_EQ(r.name, "FORTS_MSG101") << c.what;
        EXPECT_EQ(Int(replies->scheme, r, "code"), c.code) << c.what;
        EXPECT_EQ(Int(replies->scheme, r, "order_id"), 0) << c.what;
        EXPECT_FALSE(Text(replies->scheme, r, "message").empty()) << c.what;
    }
    session->Pump([] { return false; }, 100);
    EXPECT_EQ(trade->Rows("orders_log").size(), logBefore);
}

TEST_F(SimOrders, OrderBelowTheMarketRestsAsActive) {
    const Event r = Order(7, "001", isin, 1, 3, Price(mid - 5 * step));
    ASSERT_EQ(r.type, CG_MSG_DATA);
    EXPECT_EQ(r.userId, 7u);
    ASSERT_EQ(Int(replies->scheme, r, "code"), 0);
    const std::int64_t orderId = Int(replies->scheme, r, "order_id");
    ASSERT_GT(orderId, 0);
    ASSERT_TRUE(session->Pump([&] { return !LogRowsOf(orderId).empty(); }));
    const Event& row = *LogRowsOf(orderId).front();
    EXPECT_STREQ(Field(trade->scheme, "orders_log", "private_action")->fild_type, "i4");
    EXPECT_EQ(Int(trade->scheme, row, "private_action"), 1);
    EXPECT_EQ(Int(trade->scheme, row, "private_amount_rest"), 3);
    EXPECT_EQ(Int(trade->scheme, row, "isin_id"), isin);
    EXPECT_EQ(Text(trade->scheme, row, "client_code"), "FZ00001");
    session->Pump([] { return false; }, 100);
    EXPECT_EQ(LogRowsOf(orderId).size(), 1u) << "a resting order must not fill";
}

TEST_F(SimOrders, FillControlFillsEveryRestingOrderAtItsPriceOrNone) {
    // The trader's day begins with orders of its own already resting.
    const std::string off = router.Control("fill off");
    ASSERT_EQ(off.rfind("OK fill off resting=", 0), 0u) << off;
    const int before = std::stoi(off.substr(off.find('=') + 1));
    std::vector<std::int64_t> ids;
    for (std::uint32_t i = 0; i < 2; ++i) {
        const Event r = Order(60 + i, "001", isin, 1, 2, Price(mid - (5 + i) * step));
        ASSERT_EQ(Int(replies->scheme, r, "code"), 0);
        ids.push_back(Int(replies->scheme, r, "order_id"));
    }
    session->Pump([] { return false; }, 100);
    EXPECT_EQ(router.Control("fill on"), "OK fill on resting=" + std::to_string(before + 2));
    EXPECT_EQ(router.Control("fill now"), "OK filled " + std::to_string(before + 2));
    EXPECT_EQ(router.Control("fill now"), "OK filled 0");
    EXPECT_EQ(router.Control("fill"), "ERR usage: fill now|off|on|touch|through|queue");
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ASSERT_TRUE(session->Pump([&] { return LogRowsOf(ids[i]).size() == 2; }));
        const Event& fill = *LogRowsOf(ids[i]).back();
        EXPECT_EQ(Int(trade->scheme, fill, "public_action"), 2);
        EXPECT_EQ(Int(trade->scheme, fill, "public_amount"), 2);
        EXPECT_EQ(Int(trade->scheme, fill, "public_amount_rest"), 0);
        EXPECT_DOUBLE_EQ(Decimal(trade->scheme, fill, "deal_price"), mid - (5.0 + i) * step);
    }
}

TEST_F(SimOrders, RestingOrdersFillByTheChosenModelAndArrivingOnesTakeTheBestAskUnderEach) {
    // A move of the market makes no deal: the crossing rule and `touch` fill an order the asks
    // come down to, the models that go by deals leave it resting.
    struct Case {
        const char* mode;
        bool fillsOnMove;
    };
    const Case cases[] = {{"on", true}, {"touch", true}, {"through", false}, {"queue", false}};
    const std::string isinText = std::to_string(isin);
    std::uint32_t tr = 300;
    for (const Case& c : cases) {
        const std::string reply = router.Control(std::string("fill ") + c.mode);
        ASSERT_EQ(reply.rfind(std::string("OK fill ") + c.mode + " resting=", 0), 0u) << reply;
        const Event taker = Order(++tr, "001", isin, 1, 1, Price(mid + 3 * step));
        ASSERT_EQ(Int(replies->scheme, taker, "code"), 0) << c.mode;
        const std::int64_t takerId = Int(replies->scheme, taker, "order_id");
        ASSERT_TRUE(session->Pump([&] { return LogRowsOf(takerId).size() == 2; })) << c.mode;
        EXPECT_DOUBLE_EQ(Decimal(trade->scheme, *LogRowsOf(takerId).back(), "deal_price"),
                         mid + step)
            << c.mode;

        const Event resting = Order(++tr, "001", isin, 1, 1, Price(mid - 3 * step));
        ASSERT_EQ(Int(replies->scheme, resting, "code"), 0) << c.mode;
        const std::int64_t id = Int(replies->scheme, resting, "order_id");
        ASSERT_EQ(router.Control("move " + isinText + " -5"), "OK move " + isinText + " -5");
        session->Pump([&] { return LogRowsOf(id).size() == 2; }, 500);
        ASSERT_EQ(LogRowsOf(id).size(), c.fillsOnMove ? 2u : 1u) << c.mode;
        if (c.fillsOnMove) {
            EXPECT_DOUBLE_EQ(Decimal(trade->scheme, *LogRowsOf(id).back(), "deal_price"),
                             mid - 3 * step)
                << c.mode << ": at its own price, the market came to it";
        } else {
            const Event del = session->Order(
                ++tr, {{"broker_code", "FZ00"}, {"order_id", std::to_string(id)}}, "DelOrder");
            EXPECT_EQ(Int(replies->scheme, del, "code"), 0) << c.mode;
        }
        ASSERT_EQ(router.Control("move " + isinText + " 5"), "OK move " + isinText + " 5");
    }
}

TEST_F(SimOrders, CrossingOrderFillsAndChangesPositionAndMoney) {
    auto clientRow = [&](const std::string& code) -> const Event* {
        const Event* last = nullptr;
        for (const Event* e : part->Rows("part")) {
            if (Text(part->scheme, *e, "client_code") == code) {
                last = e;
            }
        }
        return last;
    };
    auto position = [&]() -> std::int64_t {
        std::int64_t x = 0;
        for (const Event* e : pos->Rows("position")) {
            if (Int(pos->scheme, *e, "isin_id") == isin &&
                Text(pos->scheme, *e, "client_code") == "FZ00001") {
                x = Int(pos->scheme, *e, "xpos");
            }
        }
        return x;
    };
    ASSERT_NE(clientRow("FZ00001"), nullptr);
    const double freeBefore = Decimal(part->scheme, *clientRow("FZ00001"), "money_free");
    const std::int64_t posBefore = position();
    const std::size_t partRows = part->Rows("part").size();

    const Event r = Order(8, "001", isin, 1, 2, Price(mid + 3 * step));
    ASSERT_EQ(Int(replies->scheme, r, "code"), 0);
    const std::int64_t orderId = Int(replies->scheme, r, "order_id");
    ASSERT_TRUE(session->Pump([&] {
        return LogRowsOf(orderId).size() == 2 && position() == posBefore + 2 &&
               part->Rows("part").size() > partRows;
    }));
    EXPECT_EQ(Int(trade->scheme, *LogRowsOf(orderId)[1], "private_action"), 2);
    EXPECT_EQ(Int(trade->scheme, *LogRowsOf(orderId)[1], "private_amount_rest"), 0);
    const Event* deal = nullptr;
    for (const Event* e : trade->Rows("user_deal")) {
        if (Int(trade->scheme, *e, "private_order_id_buy") == orderId) {
            deal = e;
        }
    }
    ASSERT_NE(deal, nullptr);
    EXPECT_EQ(Int(trade->scheme, *deal, "xamount"), 2);
    EXPECT_DOUBLE_EQ(Decimal(trade->scheme, *deal, "price"), mid + step);
    EXPECT_LT(Decimal(part->scheme, *clientRow("FZ00001"), "money_free"), freeBefore);
}

TEST_F(SimOrders, DelOrderCancelsARestingOrderOnce) {
    const Event r = Order(9, "002", isin, 2, 4, Price(mid + 10 * step));
    const std::int64_t orderId = Int(replies->scheme, r, "order_id");
    ASSERT_GT(orderId, 0);
    const std::vector<std::pair<std::string, std::string>> del = {
        {"broker_code", "FZ00"}, {"order_id", std::to_string(orderId)}};
    const Event first = session->Order(10, del, "DelOrder");
    EXPECT_EQ(first.name, "FORTS_MSG102");
    EXPECT_EQ(Int(replies->scheme, first, "code"), 0);
    EXPECT_EQ(Int(replies->scheme, first, "amount"), 4);
    ASSERT_TRUE(session->Pump([&] { return LogRowsOf(orderId).size() == 2; }));
    EXPECT_EQ(Int(trade->scheme, *LogRowsOf(orderId)[1], "private_action"), 0);
    const Event second = session->Order(11, del, "DelOrder");
    EXPECT_EQ(Int(replies->scheme, second, "code"), 14);
}

TEST_F(SimOrders, TheUserOrderBookHoldsExactlyTheRestingOrdersAndTheMorningsAreOld) {
    const auto bookRows = [&] {
        const std::string reply = router.Control("rows FORTS_USERORDERBOOK_REPL orders");
        return reply.rfind("OK rows=", 0) == 0 ? std::stol(reply.substr(8)) : -1L;
    };
    EXPECT_EQ(bookRows(), 1); // the morning's resting order, and no filler rows
    // The morning's orders were not sent a moment ago (a router started in the first minutes
    // of the day has no earlier morning to give them).
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &secs);
#else
    localtime_r(&secs, &local);
#endif
    if (local.tm_hour > 0 || local.tm_min > 10) {
        const std::int64_t minuteAgo =
            std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count() -
            60'000'000'000LL;
        ASSERT_FALSE(trade->Rows("orders_log").empty());
        for (const Event* e : trade->Rows("orders_log")) {
            EXPECT_LT(Int(trade->scheme, *e, "moment_ns"), minuteAgo);
        }
    }
    std::vector<std::int64_t> ids;
    for (std::uint32_t i = 0; i < 2; ++i) {
        const Event r = Order(70 + i, "001", isin, 1, 2, Price(mid - (5 + i) * step));
        ASSERT_EQ(Int(replies->scheme, r, "code"), 0);
        ids.push_back(Int(replies->scheme, r, "order_id"));
    }
    EXPECT_EQ(bookRows(), 3);
    const Event del = session->Order(
        72, {{"broker_code", "FZ00"}, {"order_id", std::to_string(ids[0])}}, "DelOrder");
    ASSERT_EQ(Int(replies->scheme, del, "code"), 0);
    EXPECT_EQ(bookRows(), 2);
    // One that trades at once never rests.
    const Event crossing = Order(73, "001", isin, 1, 1, Price(mid + 50 * step));
    ASSERT_EQ(Int(replies->scheme, crossing, "code"), 0);
    EXPECT_EQ(bookRows(), 2);
    EXPECT_EQ(router.Control("fill now"), "OK filled 2");
    EXPECT_EQ(bookRows(), 0);
}

// What rests at the exchange is the ground truth a kill switch is judged by: "counters" says it,
// and "rest" puts many of the trader's orders there at once, each in the orders log.
TEST_F(SimOrders, CountersSayHowManyOfTheTradersOrdersRestAndRestAddsThem) {
    const auto resting = [&] {
        const std::string c = router.Control("counters");
        const std::size_t at = c.find(" resting=");
        return at == std::string::npos ? -1L : std::stol(c.substr(at + 9));
    };
    const long before = resting();
    ASSERT_GE(before, 1L) << "the day begins with an order of the trader's resting";
    const std::size_t logBefore = trade->Rows("orders_log").size();
    EXPECT_EQ(router.Control("rest " + std::to_string(isin) + " 250"),
              "OK rest 250 resting=" + std::to_string(before + 250));
    ASSERT_TRUE(session->Pump([&] { return trade->Rows("orders_log").size() == logBefore + 250; }));
    const Event& seeded = *trade->Rows("orders_log").back();
    EXPECT_EQ(Int(trade->scheme, seeded, "private_action"), 1);
    EXPECT_EQ(Text(trade->scheme, seeded, "client_code"), "FZ00001");
    EXPECT_EQ(Int(trade->scheme, seeded, "isin_id"), isin);

    const Event placed = Order(12, "001", isin, 1, 1, Price(mid - 5 * step));
    ASSERT_EQ(Int(replies->scheme, placed, "code"), 0);
    EXPECT_EQ(resting(), before + 251);
    EXPECT_EQ(router.Control("rows FORTS_USERORDERBOOK_REPL orders")
                  .rfind("OK rows=" + std::to_string(before + 251) + " ", 0),
              0u);
    const std::vector<std::pair<std::string, std::string>> del = {
        {"broker_code", "FZ00"},
        {"order_id", std::to_string(Int(trade->scheme, seeded, "public_order_id"))}};
    ASSERT_EQ(Int(replies->scheme, session->Order(13, del, "DelOrder"), "code"), 0);
    EXPECT_EQ(resting(), before + 250);

    EXPECT_EQ(router.Control("rest 1 5").rfind("ERR no instrument", 0), 0u);
    EXPECT_EQ(router.Control("rest " + std::to_string(isin)), "ERR usage: rest ISIN_ID N");
    EXPECT_EQ(resting(), before + 250);
}

TEST_F(SimOrders, OrdersPostedFromAnotherThreadAreAllAnswered) {
    // The terminal posts from expert threads while its transaction thread keeps processing.
    ASSERT_TRUE(session->Pump([&] {
        std::uint32_t ps = 0;
        return cg_pub_getstate(session->Pub(), &ps) == 0 && ps == CG_STATE_ACTIVE;
    }));
    cg_scheme_desc_t* scheme = nullptr;
    ASSERT_EQ(cg_pub_getscheme(session->Pub(), &scheme), 0u);
    cg_field_desc_t* fIsin = Field(scheme, "AddOrder", "isin_id");
    cg_field_desc_t* fAmount = Field(scheme, "AddOrder", "amount");
    cg_field_desc_t* fPrice = Field(scheme, "AddOrder", "price");
    cg_field_desc_t* fClient = Field(scheme, "AddOrder", "client_code");
    cg_field_desc_t* fDir = Field(scheme, "AddOrder", "dir");
    cg_field_desc_t* fType = Field(scheme, "AddOrder", "type");
    const std::string price = Price(mid - 7 * step);
    constexpr int kOrders = 50;
    std::atomic<int> posted{0};
    std::thread expert([&] {
        for (int i = 0; i < kOrders; ++i) {
            cg_msg_t* m = nullptr;
            if (cg_pub_msgnew(session->Pub(), CG_KEY_NAME, "AddOrder", &m) != 0) {
                continue;
            }
            char* d = static_cast<char*>(m->data);
            const std::int32_t isin32 = static_cast<std::int32_t>(isin);
            const std::int32_t one = 1;
            std::memcpy(d + fIsin->offset, &isin32, 4);
            std::memcpy(d + fAmount->offset, &one, 4);
            std::memcpy(d + fDir->offset, &one, 4);
            std::memcpy(d + fType->offset, &one, 4);
            std::memcpy(d + fClient->offset, "001", 4);
            std::strncpy(d + fPrice->offset, price.c_str(), fPrice->size - 1);
            reinterpret_cast<cg_msg_data_t*>(m)->user_id = 1000 + static_cast<std::uint32_t>(i);
            if (cg_pub_post(session->Pub(), m, CG_PUB_NEEDREPLY) == 0) {
                ++posted;
            }
            cg_pub_msgfree(session->Pub(), m);
        }
    });
    const bool all = session->Pump([&] { return replies->Count(CG_MSG_DATA) == kOrders; });
    expert.join();
    ASSERT_TRUE(all);
    EXPECT_EQ(posted.load(), kOrders);
    std::vector<bool> seen(kOrders, false);
    for (const Event& e : replies->events) {
        if (e.type == CG_MSG_DATA && e.userId >= 1000 && e.userId < 1000 + kOrders) {
            seen[e.userId - 1000] = true;
            EXPECT_EQ(Int(replies->scheme, e, "code"), 0);
        }
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kOrders);
}

TEST_F(SimOrders, MessageTheExchangeDoesNotTakeGetsASystemError) {
    const Event r = session->Order(12, {}, "FORTS_MSG99");
    ASSERT_EQ(r.type, CG_MSG_DATA);
    EXPECT_EQ(r.name, "FORTS_MSG100");
    EXPECT_EQ(Int(replies->scheme, r, "code"), 10001);
}

class SimOrdersShortTimeout : public SimOrders {
protected:
    void SetUp() override {
        timeout = "300";
        SimOrders::SetUp();
    }
};

TEST_F(SimOrdersShortTimeout, WithheldReplyBecomesATimeoutAndTheNextOneArrives) {
    ASSERT_EQ(router.Control("withhold 1"), "OK withhold 1");
    const Event lost = Order(20, "001", isin, 1, 1, Price(mid - 5 * step));
    EXPECT_EQ(lost.type, CG_MSG_P2MQ_TIMEOUT);
    EXPECT_EQ(lost.userId, 20u);
    EXPECT_EQ(lost.name, "AddOrder");
    const Event next = Order(21, "001", isin, 1, 1, Price(mid - 5 * step));
    EXPECT_EQ(next.type, CG_MSG_DATA);
    EXPECT_EQ(replies->Count(CG_MSG_P2MQ_TIMEOUT), 1u);
}

TEST_F(SimOrdersShortTimeout, ReplyLaterThanTheTimeoutIsDroppedAfterTheTimeout) {
    ASSERT_EQ(router.Control("delay 1500"), "OK delay 1500");
    const Event late = Order(22, "001", isin, 1, 1, Price(mid - 5 * step));
    EXPECT_EQ(late.type, CG_MSG_P2MQ_TIMEOUT);
    session->Pump([] { return false; }, 2500);
    EXPECT_EQ(replies->Count(CG_MSG_DATA), 0u) << "a reply after its timeout must not be delivered";
    ASSERT_EQ(router.Control("delay 0"), "OK delay 0");
    EXPECT_EQ(Order(23, "001", isin, 1, 1, Price(mid - 5 * step)).type, CG_MSG_DATA);
}

} // namespace
} // namespace simtest
