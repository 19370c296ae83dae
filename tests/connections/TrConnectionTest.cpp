#include "connections/TrConnection.h"

#include "connections/FakeGateway.h"
#include "connections/GatewayRecords.h"
#include "gateway/AddOrderMessage.h"
#include "platform/Events.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "settings/ConnectorSettings.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace vorlen {
namespace {

using test::CountText;
using test::DefaultSettings;
using test::FakeGateway;
using test::HasText;
using test::Texts;
using test::WaitDelivered;
using test::WaitUntil;

const char* const kSchemeReady = "Паблишер открыт. Схема данных получена.";
const char* const kListenerUnknown = "Внимание: Состояние слушателя Трансакций не определено.";

// "AddOrder" as the publisher's scheme lays it out: some fields wider than the order record's,
// some narrower, one the record does not have, and one that runs past the end of the message.
constexpr std::uint32_t kAddOrderId = 64;
constexpr std::size_t kOrderSize = 200;
void BuildOrderScheme(test::FakeScheme& scheme) {
    cg_message_desc_t& d = scheme.AddMessage("DelOrder", 65, 16);
    scheme.AddField(d, "order_id", "i8", 8, 0);
    scheme.AddField(d, "broker_code", "c4", 4, 8);
    scheme.AddField(d, "isin_id", "i4", 4, 12);
    cg_message_desc_t& m = scheme.AddMessage("AddOrder", kAddOrderId, kOrderSize);
    scheme.AddField(m, "broker_code", "c7", 7, 0);
    scheme.AddField(m, "isin_id", "i4", 4, 8);
    scheme.AddField(m, "client_code", "c3", 3, 12);
    scheme.AddField(m, "dir", "i4", 4, 16);
    scheme.AddField(m, "type", "i4", 4, 20);
    scheme.AddField(m, "amount", "i4", 4, 24);
    scheme.AddField(m, "price", "c10", 10, 28);
    scheme.AddField(m, "comment", "c40", 40, 40);
    scheme.AddField(m, "ext_id", "i4", 4, 100);
    scheme.AddField(m, "is_check_limit", "i4", 4, 104);
    scheme.AddField(m, "date_exp", "c10", 10, 108);
    scheme.AddField(m, "dont_check_money", "i4", 4, 118);
    scheme.AddField(m, "match_ref", "c12", 12, 122);
    scheme.AddField(m, "ncc_request", "i1", 1, 134);
    scheme.AddField(m, "unknown", "c5", 5, 140);
    scheme.AddField(m, "broker_to", "c64", 64, 190);
}

// The reply: a code and a text.
constexpr std::size_t kReplySize = 259;
void BuildReplyScheme(test::FakeScheme& scheme) {
    cg_message_desc_t& m = scheme.AddMessage("FORTS_MSG101", 101, kReplySize);
    scheme.AddField(m, "code", "i4", 4, 0);
    scheme.AddField(m, "message", "c255", 255, 4);
}

std::vector<unsigned char> ReplyBytes(std::int32_t code, const char* text) {
    std::vector<unsigned char> b(kReplySize, 0);
    std::memcpy(b.data(), &code, 4);
    std::memcpy(b.data() + 4, text, std::strlen(text));
    return b;
}

TAddOrderParams SampleOrder() {
    TAddOrderParams p;
    std::memset(&p, 'x', sizeof p);
    std::memcpy(p.broker_code, "ABCDEF", 6); // the full width, no terminator
    p.isin_id = 42;
    std::memcpy(p.client_code, "CLI\0", 5);
    p.dir = 1;
    p.atype = 2;
    p.amount = 3;
    std::memcpy(p.price, "123456789012345678", 19);
    std::memcpy(p.comment, "comment-comment-12345", 22);
    std::memcpy(p.broker_to, "TO-TO-TO-TO-TO-TO-TO-", 22);
    p.ext_id = 7;
    p.is_check_limit = 1;
    std::memcpy(p.date_exp, "20240101\0", 10);
    p.dont_check_money = 0;
    std::memcpy(p.match_ref, "MATCH-REF-1", 12);
    p.ncc_request = 5;
    return p;
}

class TestTrConnection : public TCGTRConnection {
public:
    using TCGTRConnection::TCGTRConnection;
    void SetLastId(std::uint32_t id) { Trans_id = id; }
};

class TransactionConnection : public ::testing::Test {
protected:
    void SetUp() override {
        ui::MarkUiThread();
        SetFormatSettings(RussianFormatSettings());
        BuildOrderScheme(orderScheme);
        BuildReplyScheme(replyScheme);
        gw.PubScheme = orderScheme.Desc();
        gw.PubMsgId = kAddOrderId;
        gw.PubMsgSize = kOrderSize;
        gw.LsnScheme = replyScheme.Desc();
        conn =
            std::make_unique<TestTrConnection>(settings, &journal, [this] { return now.load(); });
        conn->TrMax = 30;
    }

    void TearDown() override {
        if (conn && conn->Started() && !conn->Finished()) {
            Stop();
        }
    }

    // Starts the thread and waits until an order can be posted and a reply can be stored.
    void StartReady() {
        conn->Start();
        ASSERT_TRUE(WaitUntil([&] {
            return HasText(journal, kSchemeReady) && conn->PubState() == CG_STATE_ACTIVE &&
                   gw.With([](FakeGateway& g) {
                       return !g.Listeners.empty() && g.Listeners[0].State == CG_STATE_ACTIVE &&
                              g.Delivered == g.Queued;
                   });
        }));
    }

    std::size_t PostCount() {
        return gw.With([](FakeGateway& g) {
            return g.Publishers.empty() ? std::size_t{0} : g.Publishers[0].Posts.size();
        });
    }

    std::uint64_t ProcessCalls() {
        return gw.With([](FakeGateway& g) -> std::uint64_t {
            return g.Conns.empty() ? 0 : g.Conns.front().ProcessCalls;
        });
    }

    void WaitPasses(std::uint64_t passes) {
        const std::uint64_t from = ProcessCalls();
        ASSERT_TRUE(WaitUntil([&] { return ProcessCalls() >= from + passes; }));
    }

    void DeliverReply(std::uint32_t id, const char* name, std::int32_t code, const char* text,
                      std::size_t size = kReplySize) {
        const auto bytes = ReplyBytes(code, text);
        gw.Deliver(0, test::MakeReply(id, name, bytes.data(), size));
    }

    void Stop() {
        conn->Terminate();
        conn->WaitFor();
    }

    TConnectorSettings settings = DefaultSettings();
    TMemoryJournal journal;
    FakeGateway gw;
    test::FakeScheme orderScheme;
    test::FakeScheme replyScheme;
    std::atomic<std::int64_t> now{100000};
    TEventSet events{4};
    std::unique_ptr<TestTrConnection> conn;
};

TEST(TransactionStrings, AreBuiltFromTheSettings) {
    TConnectorSettings s = DefaultSettings();
    EXPECT_EQ(TCGTRConnection::ConnectionString(s),
              "p2tcp://127.0.0.1:4001;app_name=tr_vorlen;timeout=2000;local_timeout=500;"
              "name=transaction");
    s.ConType = "p2lrpcq";
    EXPECT_EQ(TCGTRConnection::ConnectionString(s),
              "p2lrpcq://127.0.0.1:4001;app_name=tr_vorlen;timeout=2000;local_timeout=500;"
              "lrpcq_buf=1024000;name=transaction");
    EXPECT_EQ(TCGTRConnection::PublisherSettings("publisher", ""),
              "p2mq://FORTS_SRV;category=FORTS_MSG;name=publisher;timeout=5000");
    EXPECT_EQ(TCGTRConnection::PublisherSettings("publisher", "718"),
              "p2mq://FORTS_SRV;category=FORTS_MSG;name=publisher;timeout=5000;"
              "scheme=|FILE|forts_messages.ini|message;version=718");
    EXPECT_EQ(TCGTRConnection::ReplyListenerSettings("publisher"), "p2mqreply://;ref=publisher");
}

TEST_F(TransactionConnection, CreatesConnectionPublisherAndReplyListener) {
    conn->SchemVer = "718";
    StartReady();
    Stop();
    // Nobody processes the connection any more.
    EXPECT_FALSE(conn->AddOrder(1, 42, SampleOrder(), events.Event(0)));
    EXPECT_EQ(PostCount(), 0u);
    gw.With([](FakeGateway& g) {
        EXPECT_EQ(g.Conns.at(0).Settings, "p2tcp://127.0.0.1:4001;app_name=tr_vorlen;"
                                          "timeout=2000;local_timeout=500;name=transaction");
        EXPECT_EQ(g.Publishers.at(0).Settings,
                  "p2mq://FORTS_SRV;category=FORTS_MSG;name=publisher;timeout=5000;"
                  "scheme=|FILE|forts_messages.ini|message;version=718");
        EXPECT_EQ(g.Listeners.at(0).Settings, "p2mqreply://;ref=publisher");
        // Neither the prefix nor the life number is ever set for the reply listener.
        EXPECT_EQ(g.Listeners.at(0).Opens.at(0), "0");
    });
    const std::vector<std::string> expected = {
        "Создание соединения Трансакции...",
        "Соединение Трансакции создано. Создание Паблишера...",
        "Паблишер создан. Создание слушателя Трансакций...",
        "Слушатель Трансакций создан. Открытие соединения Трансакции...",
        "Соединение Трансакции открыто.",
        kSchemeReady,
    };
    EXPECT_EQ(Texts(journal), expected); // and no closing line
}

TEST_F(TransactionConnection, ReportsEachKindOfCreationFailureAndEnds) {
    const struct {
        std::uint32_t rc;
        std::vector<std::string> lines;
    } cases[] = {
        {CG_ERR_INTERNAL,
         {"Создание соединения Трансакции...",
          "Ошибка: Внутренняя ошибка в функци создания соединения Трансакции."}},
        {CG_ERR_INVALIDARGUMENT,
         {"Создание соединения Трансакции...",
          "Ошибка: Функции создания соединения Трансакции были переданы некорректные аргументы."}},
        {CG_ERR_UNSUPPORTED, {"Создание соединения Трансакции..."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rc);
        journal.Lines.clear();
        gw.ConnNewResult = c.rc;
        conn = std::make_unique<TestTrConnection>(settings, &journal);
        conn->Start();
        ASSERT_TRUE(WaitUntil([&] { return conn->Finished(); }));
        conn->WaitFor();
        EXPECT_EQ(Texts(journal), c.lines);
        EXPECT_TRUE(gw.With([](FakeGateway& g) { return g.Publishers.empty(); }));
    }
}

TEST_F(TransactionConnection, GoesOnWithoutPublisherOrListener) {
    gw.PubNewResult = CG_ERR_INVALIDARGUMENT;
    gw.LsnNewResults = {CG_ERR_INTERNAL};
    conn->Start();
    ASSERT_TRUE(WaitUntil([&] { return HasText(journal, "Соединение Трансакции открыто."); }));
    WaitPasses(30);
    const std::vector<std::string> texts = Texts(journal);
    ASSERT_GE(texts.size(), 7u);
    EXPECT_EQ(texts[2], "Ошибка: Паблишер не создан!");
    EXPECT_EQ(texts[3], "Паблишер создан. Создание слушателя Трансакций...");
    EXPECT_EQ(texts[4], "Ошибка: Слушатель Трансакции p2mqreply://;ref=publisher не создан!");
    EXPECT_EQ(texts[5], "Слушатель Трансакций создан. Открытие соединения Трансакции...");
    // The missing listener is reported once, not on every pass.
    EXPECT_EQ(CountText(journal, kListenerUnknown), 1);
    EXPECT_EQ(conn->PubState(), CG_STATE_CLOSED);
    EXPECT_FALSE(conn->AddOrder(1, 42, SampleOrder(), events.Event(0)));
    TReplData data;
    EXPECT_FALSE(conn->GetReplData(1, data));
}

TEST_F(TransactionConnection, TransactionIdsWrapToOneAfterTheLargestSignedValueLessOne) {
    std::uint32_t id = 0;
    ASSERT_TRUE(conn->GetTrandID(id));
    EXPECT_EQ(id, 1u);
    conn->SetLastId(2147483645u);
    ASSERT_TRUE(conn->GetTrandID(id));
    EXPECT_EQ(id, 2147483646u);
    ASSERT_TRUE(conn->GetTrandID(id));
    EXPECT_EQ(id, 1u);
    ASSERT_TRUE(conn->GetTrandID(id));
    EXPECT_EQ(id, 2u);
}

TEST_F(TransactionConnection, RefusesOrdersWhileThePublisherIsNotActive) {
    EXPECT_FALSE(conn->AddOrder(5, 42, SampleOrder(), events.Event(0)));
    TReplData data;
    EXPECT_FALSE(conn->GetReplData(5, data));
    EXPECT_TRUE(conn->RegEvent(5, 42, events.Event(0))); // nothing was left registered
    EXPECT_EQ(PostCount(), 0u);
}

TEST_F(TransactionConnection, PostsTheOrderAndHandsOverItsReply) {
    StartReady();
    const TAddOrderParams order = SampleOrder();
    ASSERT_TRUE(conn->AddOrder(7, 42, order, events.Event(1)));
    std::vector<unsigned char> posted;
    gw.With([&](FakeGateway& g) {
        ASSERT_EQ(g.Publishers[0].Posts.size(), 1u);
        EXPECT_EQ(g.Publishers[0].Posts[0].UserId, 7u);
        posted = g.Publishers[0].Posts[0].Bytes;
        EXPECT_TRUE(g.LiveMessages.empty()); // the message was released
    });
    ASSERT_EQ(posted.size(), kOrderSize);
    const auto at = [&](std::size_t off, std::size_t n) {
        return std::string(reinterpret_cast<const char*>(posted.data() + off), n);
    };
    const std::string untouched(1, '\xCC');
    EXPECT_EQ(at(0, 6), "ABCDEF");
    EXPECT_EQ(at(6, 1), untouched); // wider in the scheme: only the record's width is copied
    std::int32_t isin = 0;
    std::memcpy(&isin, posted.data() + 8, 4);
    EXPECT_EQ(isin, 42);
    EXPECT_EQ(at(12, 3), "CLI"); // narrower in the scheme: cut to the scheme's size
    EXPECT_EQ(at(15, 1), untouched);
    std::int32_t type = 0;
    std::memcpy(&type, posted.data() + 20, 4);
    EXPECT_EQ(type, 2); // "type" comes from atype
    EXPECT_EQ(at(28, 10), "1234567890");
    EXPECT_EQ(at(40, 22), std::string(order.comment, 22));
    EXPECT_EQ(at(62, 18), std::string(18, '\xCC'));
    EXPECT_EQ(at(134, 1), std::string(1, '\x05'));
    EXPECT_EQ(at(140, 5), std::string(5, '\xCC'));            // a field the order does not have
    EXPECT_EQ(at(190, 10), std::string(order.broker_to, 10)); // cut at the end of the message

    DeliverReply(7, "FORTS_MSG101", 0, "\xCE\xEA"); // "Ок" in code page 1251
    ASSERT_EQ(events.WaitAnyFor(20000), 1u);
    TReplData reply;
    ASSERT_TRUE(conn->GetReplData(7, reply));
    EXPECT_EQ(reply.isin_id, 42);
    ASSERT_EQ(reply.Fields.size(), 2u);
    EXPECT_STREQ(reply.Fields["code"].FType, "i4");
    EXPECT_EQ(std::get<std::int32_t>(reply.Fields["code"].Data), 0);
    EXPECT_EQ(std::get<std::string>(reply.Fields["message"].Data), "Ок");
    EXPECT_FALSE(conn->GetReplData(7, reply));
}

TEST_F(TransactionConnection, CancelsThroughDelOrderAndHandsOverOnlyArrivedReplies) {
    gw.PubMsgId = 65;
    gw.PubMsgSize = 16;
    StartReady();
    TDelOrderParams del;
    del.order_id = 1850000000042;
    std::memcpy(del.broker_code, "FZ00", 4);
    del.isin_id = 7;
    ASSERT_TRUE(conn->DelOrder(8, 7, del, events.Event(1)));
    std::vector<unsigned char> posted;
    gw.With([&](FakeGateway& g) {
        ASSERT_EQ(g.Publishers[0].Posts.size(), 1u);
        EXPECT_EQ(g.Publishers[0].Posts[0].UserId, 8u);
        posted = g.Publishers[0].Posts[0].Bytes;
    });
    ASSERT_EQ(posted.size(), 16u);
    std::int64_t orderId = 0;
    std::int32_t isin = 0;
    std::memcpy(&orderId, posted.data(), 8);
    std::memcpy(&isin, posted.data() + 12, 4);
    EXPECT_EQ(orderId, 1850000000042);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(posted.data() + 8), 3), "FZ0");
    EXPECT_EQ(isin, 7);

    // Registered, not answered yet: a poller must not take the entry away from its reply.
    TReplData reply;
    EXPECT_FALSE(conn->TakeReply(8, reply));
    DeliverReply(8, "FORTS_MSG101", 14, "gone");
    ASSERT_EQ(events.WaitAnyFor(20000), 1u);
    ASSERT_TRUE(conn->TakeReply(8, reply));
    EXPECT_EQ(std::get<std::int32_t>(reply.Fields["code"].Data), 14);
    EXPECT_FALSE(conn->TakeReply(8, reply));
    EXPECT_FALSE(conn->GetReplData(8, reply));
}

TEST_F(TransactionConnection, StoresOnlyRepliesThatAreAwaited) {
    StartReady();
    ASSERT_TRUE(conn->RegEvent(10, 1, events.Event(0)));
    ASSERT_TRUE(conn->RegEvent(11, 2, events.Event(1)));
    ASSERT_TRUE(conn->RegEvent(12, 3, events.Event(2)));
    DeliverReply(99, "FORTS_MSG101", 1, "nobody");    // never registered: dropped
    DeliverReply(10, "FORTS_MSG999", 0, "unknown");   // not in the scheme
    DeliverReply(11, "FORTS_MSG101", 31, "short", 4); // the text lies past the data
    ASSERT_TRUE(WaitDelivered(gw));
    ASSERT_EQ(events.WaitAnyFor(20000), 0u);
    ASSERT_EQ(events.WaitAnyFor(20000), 1u);

    TReplData data;
    EXPECT_FALSE(conn->GetReplData(99, data));
    ASSERT_TRUE(conn->GetReplData(10, data));
    EXPECT_TRUE(data.Fields.empty());
    ASSERT_TRUE(conn->GetReplData(11, data));
    EXPECT_EQ(std::get<std::int32_t>(data.Fields["code"].Data), 31);
    EXPECT_TRUE(IsEmpty(data.Fields["message"].Data));
    // Still waiting, unanswered.
    ASSERT_TRUE(conn->GetReplData(12, data));
    EXPECT_TRUE(data.Fields.empty());
    EXPECT_EQ(data.isin_id, 3);
}

TEST_F(TransactionConnection, AReplyTimeoutOnlyWritesItsLine) {
    StartReady();
    ASSERT_TRUE(conn->RegEvent(20, 1, events.Event(0)));
    gw.Deliver(0, test::MakeMessage(CG_MSG_P2MQ_TIMEOUT));
    ASSERT_TRUE(WaitUntil(
        [&] { return HasText(journal, "Внимание: Истекло время ожидания ответа на команду."); }));
    // The entry is still there to be answered later.
    DeliverReply(20, "FORTS_MSG101", 0, "late");
    ASSERT_EQ(events.WaitAnyFor(20000), 0u);
    TReplData data;
    ASSERT_TRUE(conn->GetReplData(20, data));
    EXPECT_EQ(std::get<std::string>(data.Fields["message"].Data), "late");
}

TEST_F(TransactionConnection, RefusesAnIdThatIsStillRegistered) {
    StartReady();
    ASSERT_TRUE(conn->RegEvent(30, 1, events.Event(0)));
    EXPECT_FALSE(conn->RegEvent(30, 2, events.Event(1)));
    EXPECT_FALSE(conn->AddOrder(30, 2, SampleOrder(), events.Event(1)));
    EXPECT_EQ(PostCount(), 0u);
    // The earlier caller is still the one answered.
    DeliverReply(30, "FORTS_MSG101", 0, "first");
    ASSERT_EQ(events.WaitAnyFor(20000), 0u);
    TReplData data;
    ASSERT_TRUE(conn->GetReplData(30, data));
    EXPECT_EQ(data.isin_id, 1);
    EXPECT_TRUE(conn->AddOrder(30, 2, SampleOrder(), events.Event(1)));
}

TEST_F(TransactionConnection, AReplyHandledBeforeThePostReturnsStillWakesItsCaller) {
    StartReady();
    gw.OnPost = [this](std::uint32_t userId) {
        DeliverReply(userId, "FORTS_MSG101", 0, "fast");
        ASSERT_TRUE(WaitDelivered(gw));
    };
    ASSERT_TRUE(conn->AddOrder(40, 1, SampleOrder(), events.Event(2)));
    ASSERT_EQ(events.WaitAnyFor(20000), 2u);
    TReplData data;
    ASSERT_TRUE(conn->GetReplData(40, data));
    EXPECT_EQ(std::get<std::string>(data.Fields["message"].Data), "fast");
}

TEST_F(TransactionConnection, AFailedPostLeavesNothingRegistered) {
    StartReady();
    gw.With([](FakeGateway& g) { g.PostResult = CG_ERR_INCORRECTSTATE; });
    bool throttled = true;
    EXPECT_FALSE(conn->AddOrder(50, 1, SampleOrder(), events.Event(0), &throttled));
    EXPECT_FALSE(throttled); // the gateway's refusal, not the terminal's cap
    EXPECT_EQ(PostCount(), 1u);
    TReplData data;
    EXPECT_FALSE(conn->GetReplData(50, data));
    EXPECT_TRUE(gw.With([](FakeGateway& g) { return g.LiveMessages.empty(); }));
    gw.With([](FakeGateway& g) { g.PostResult = CG_ERR_OK; });
    EXPECT_TRUE(conn->AddOrder(50, 1, SampleOrder(), events.Event(0)));
}

TEST_F(TransactionConnection, AdmitsAtMostTrMaxPostsInAnyThousandMilliseconds) {
    StartReady();
    std::uint32_t id = 100;
    const auto post = [&] { return conn->AddOrder(++id, 1, SampleOrder(), events.Event(0)); };
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(post()) << i;
    }
    now += 600;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(post()) << i;
    }
    EXPECT_EQ(conn->TrRoom(), 0u);
    bool throttled = false;
    EXPECT_FALSE(conn->DelOrder(++id, 1, TDelOrderParams{}, events.Event(0), &throttled));
    EXPECT_TRUE(throttled);
    EXPECT_EQ(PostCount(), 30u);
    TReplData data;
    EXPECT_FALSE(conn->GetReplData(id, data)); // the refused order left nothing registered

    now += 400; // exactly 1000 ms after the first ten: they still count
    EXPECT_FALSE(post());
    now += 1; // the first ten have left the window, the later twenty have not
    EXPECT_EQ(conn->TrRoom(), 10u);
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(post()) << i;
    }
    EXPECT_FALSE(post());
    now += 600;
    EXPECT_TRUE(post());
    EXPECT_EQ(PostCount(), 41u);
}

TEST_F(TransactionConnection, ReopensThePublisherAndFetchesItsSchemeAgain) {
    StartReady();
    gw.With([](FakeGateway& g) { g.Publishers[0].State = CG_STATE_ERROR; });
    ASSERT_TRUE(WaitUntil([&] { return CountText(journal, kSchemeReady) == 2; }));
    gw.With([](FakeGateway& g) {
        EXPECT_EQ(g.Publishers[0].Closes, 1);
        EXPECT_EQ(g.Publishers[0].Opens, 2);
    });
    EXPECT_TRUE(conn->AddOrder(60, 1, SampleOrder(), events.Event(0)));
}

// A disconnection closes what the run opened, in the gateway's order, and the same object
// connects again from scratch; a plain stop (shutdown) leaves them to the environment's closing.
TEST_F(TransactionConnection, ADisconnectionClosesInOrderAndARestartConnectsAnew) {
    THealthFeed feed;
    conn->SetHealthFeed(&feed);
    StartReady();
    ASSERT_TRUE(WaitUntil([&] { return feed.Ready.load(); }));
    EXPECT_TRUE(feed.Running.load());
    EXPECT_EQ(feed.ConnState.load(), CG_STATE_ACTIVE);
    EXPECT_EQ(feed.Attempts.load(), 1u);

    gw.With([](FakeGateway& g) { g.Calls.clear(); });
    conn->RequestDisconnect();
    conn->WaitFor();
    EXPECT_FALSE(feed.Running.load());
    EXPECT_EQ(conn->PubState(), CG_STATE_CLOSED);
    EXPECT_EQ(conn->hConn(), nullptr);
    gw.With([](FakeGateway& g) {
        EXPECT_EQ(g.Calls, (std::vector<std::string>{"lsn_close", "lsn_destroy", "pub_close",
                                                     "pub_destroy", "conn_close", "conn_destroy"}));
        g.Calls.clear();
    });

    ASSERT_TRUE(conn->Restart());
    ASSERT_TRUE(WaitUntil([&] {
        return CountText(journal, kSchemeReady) == 2 && feed.Ready.load() &&
               conn->PubState() == CG_STATE_ACTIVE;
    }));
    gw.With([](FakeGateway& g) {
        EXPECT_EQ(g.Conns.size(), 2u);
        EXPECT_EQ(g.Publishers.size(), 2u);
        EXPECT_EQ(g.Listeners.size(), 2u);
    });
    EXPECT_EQ(CountText(journal, "Соединение Трансакции открыто."), 2);
    Stop();
    gw.With([](FakeGateway& g) { EXPECT_TRUE(g.Calls.empty()); });
}

} // namespace
} // namespace vorlen
