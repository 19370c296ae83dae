#include "connections/Connection.h"

#include "connections/FakeGateway.h"
#include "connections/GatewayRecords.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "settings/ConnectorSettings.h"
#include "store/Storage.h"

#include <algorithm>
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

const char* const kClosing = "Закрытие соединения Макет-дата...";

// A futures table the store builds its instrument list from.
constexpr std::size_t kRowSize = 153;
void BuildFuturesScheme(test::FakeScheme& scheme) {
    cg_message_desc_t& m = scheme.AddMessage("fut_sess_contents", 1, kRowSize);
    scheme.AddField(m, "replID", "i8", 8, 0);
    scheme.AddField(m, "replRev", "i8", 8, 8);
    scheme.AddField(m, "replAct", "i8", 8, 16);
    scheme.AddField(m, "isin_id", "i4", 4, 24);
    scheme.AddField(m, "isin", "c25", 25, 28);
    scheme.AddField(m, "short_isin", "c25", 25, 53);
    scheme.AddField(m, "name", "c75", 75, 78);
}

std::vector<unsigned char> FuturesRow(std::int64_t replId, std::int32_t isinId, const char* isin) {
    std::vector<unsigned char> row(kRowSize, 0);
    std::memcpy(row.data(), &replId, 8);
    std::memcpy(row.data() + 24, &isinId, 4);
    std::memcpy(row.data() + 28, isin, std::strlen(isin));
    std::memcpy(row.data() + 53, isin, std::strlen(isin));
    std::memcpy(row.data() + 78, "Future", 6);
    return row;
}

std::shared_ptr<test::FakeMessage> LifeNumber(std::uint32_t number, std::uint32_t flags) {
    const cg_data_lifenum_t ln{number, flags};
    return test::MakeMessage(CG_MSG_P2REPL_LIFENUM, &ln, sizeof ln);
}

class MarketDataConnection : public ::testing::Test {
protected:
    void SetUp() override {
        ui::MarkUiThread();
        SetFormatSettings(RussianFormatSettings());
        BuildFuturesScheme(scheme);
        gw.LsnScheme = scheme.Desc();
    }

    void TearDown() override {
        if (conn && conn->Started() && !conn->Finished()) {
            Stop();
        }
    }

    void Build(const std::vector<std::string>& streams) {
        store.SetStreams(streams);
        conn = std::make_unique<TCGConnection>(store, settings, &journal);
        for (const std::string& name : streams) {
            TListenerData l;
            l.Settings = "p2repl://" + name + ";tables=fut_sess_contents";
            l.LsnParams.StrName = name;
            l.LsnParams.LifeStrNum = "lifinum=";
            l.StreamData.sName = name;
            conn->Lsnrs.push_back(l);
        }
        conn->SetOnConnected([this] {
            ++connectedCalls;
            connectedOnUi = ui::IsUiThread();
        });
    }

    void Start(const std::vector<std::string>& streams) {
        Build(streams);
        conn->Start();
    }

    // Waits until the listeners that could be created have been opened and their open messages
    // handled, so their tables are described.
    void WaitListenersOpen(int count) {
        ASSERT_TRUE(WaitUntil([&] {
            return gw.With([&](FakeGateway& g) {
                int open = 0;
                for (const auto& l : g.Listeners) {
                    open += l.Opens.empty() ? 0 : 1;
                }
                return open >= count && g.Delivered == g.Queued;
            });
        }));
    }

    void WaitPasses(std::uint64_t passes) {
        const std::uint64_t from = ProcessCalls();
        ASSERT_TRUE(WaitUntil([&] { return ProcessCalls() >= from + passes; }));
    }

    std::uint64_t ProcessCalls() {
        return gw.With([](FakeGateway& g) -> std::uint64_t {
            return g.Conns.empty() ? 0 : g.Conns.front().ProcessCalls;
        });
    }

    void Stop() {
        conn->Terminate();
        conn->WaitFor();
        ASSERT_FALSE(journal.Lines.empty());
        EXPECT_EQ(Texts(journal).back(), kClosing);
    }

    TConnectorSettings settings = DefaultSettings();
    TMemoryJournal journal;
    FakeGateway gw;
    test::FakeScheme scheme;
    TCGStorage store;
    int connectedCalls = 0;
    bool connectedOnUi = false;
    std::unique_ptr<TCGConnection> conn;
};

TEST(MarketDataConnectionString, AddsTheBufferSizeForEveryTypeButExactlyP2tcp) {
    TConnectorSettings s = DefaultSettings();
    EXPECT_EQ(TCGConnection::ConnectionString(s),
              "p2tcp://127.0.0.1:4001;app_name=vorlen;timeout=2000;local_timeout=500;"
              "name=marketdata");
    s.ConType = "P2TCP";
    EXPECT_EQ(TCGConnection::ConnectionString(s),
              "P2TCP://127.0.0.1:4001;app_name=vorlen;timeout=2000;local_timeout=500;"
              "lrpcq_buf=1024000;name=marketdata");
    s.ConType = "p2lrpcq";
    EXPECT_EQ(TCGConnection::ConnectionString(s),
              "p2lrpcq://127.0.0.1:4001;app_name=vorlen;timeout=2000;local_timeout=500;"
              "lrpcq_buf=1024000;name=marketdata");
}

TEST_F(MarketDataConnection, GivesTheGatewayItsStringsInCodePage1251) {
    settings.ProgName = "Вор";
    Start({"FORTS_A_REPL"});
    WaitListenersOpen(1);
    Stop();
    gw.With([](FakeGateway& g) {
        ASSERT_EQ(g.Conns.size(), 1u);
        EXPECT_EQ(g.Conns[0].Settings, "p2tcp://127.0.0.1:4001;app_name=\xC2\xEE\xF0;"
                                       "timeout=2000;local_timeout=500;name=marketdata");
        EXPECT_EQ(g.Listeners[0].Settings, "p2repl://FORTS_A_REPL;tables=fut_sess_contents");
        EXPECT_EQ(g.Listeners[0].Opens.at(0), "lifinum=0");
    });
    const std::vector<std::string> expected = {
        "Создание соединения Макет-дата...",
        "Соединение Макет-дата создано. Создание слушателей Макет-дата...",
        "Слушатели Макет-дата созданы. Открытие соединения Макет-дата...",
        "Соединение Макет-дата открыто. Идет получение начальных данных...",
        "Лисенер FORTS_A_REPL открыт.",
        kClosing,
    };
    EXPECT_EQ(Texts(journal), expected);
}

TEST_F(MarketDataConnection, ReportsEachKindOfCreationFailureAndEnds) {
    const struct {
        std::uint32_t rc;
        std::vector<std::string> lines;
    } cases[] = {
        {CG_ERR_INTERNAL,
         {"Создание соединения Макет-дата...",
          "Ошибка: Внутренняя ошибка в функци создания соединения Макет-дата.", kClosing}},
        {CG_ERR_INVALIDARGUMENT,
         {"Создание соединения Макет-дата...",
          "Ошибка: Функции создания соединения Макет-дата были переданы некорректные аргументы.",
          kClosing}},
        {CG_ERR_INCORRECTSTATE, {"Создание соединения Макет-дата...", kClosing}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rc);
        journal.Lines.clear();
        gw.ConnNewResult = c.rc;
        conn = std::make_unique<TCGConnection>(store, settings, &journal);
        conn->Start();
        ASSERT_TRUE(WaitUntil([&] { return conn->Finished(); }));
        conn->WaitFor();
        EXPECT_EQ(Texts(journal), c.lines);
        EXPECT_EQ(conn->hConn(), nullptr);
        EXPECT_TRUE(gw.With([](FakeGateway& g) { return g.Listeners.empty(); }));
    }
}

TEST_F(MarketDataConnection, StopsCreatingListenersAtTheFirstFailure) {
    gw.LsnNewResults = {CG_ERR_OK, CG_ERR_INVALIDARGUMENT, CG_ERR_OK};
    Start({"FORTS_A_REPL", "FORTS_B_REPL", "FORTS_C_REPL"});
    WaitListenersOpen(1);
    gw.Deliver(0, test::MakeMessage(CG_MSG_P2REPL_ONLINE));
    ASSERT_TRUE(WaitDelivered(gw));
    WaitPasses(50);
    Stop();

    EXPECT_EQ(gw.With([](FakeGateway& g) { return g.ListenerCount(); }), 2u);
    const std::vector<std::string> texts = Texts(journal);
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(texts[2],
              "Ошибка: Слушатель Макет-дата p2repl://FORTS_B_REPL;tables=fut_sess_contents"
              " не создан!");
    EXPECT_EQ(texts[3], "Слушатели Макет-дата созданы. Открытие соединения Макет-дата...");
    EXPECT_TRUE(HasText(journal, "Поток FORTS_A_REPL Перешел в режим Он-Лайн"));
    // The on-line set can never be complete, so the lists are never built.
    EXPECT_FALSE(
        HasText(journal, "Начальное получение данных завершено. Создание списков инструментов..."));
    EXPECT_FALSE(conn->Online());
    // Two listeners without a handle: one warning each, not one per pass.
    EXPECT_EQ(CountText(journal, "Внимание: Состояние слушателя Макет-дата не определено."), 2);
    EXPECT_EQ(conn->Lsnrs[2].Lsn, nullptr);
}

TEST_F(MarketDataConnection, WithoutListenersOnlyKeepsTheConnection) {
    Start({});
    WaitPasses(20);
    Stop();
    const std::vector<std::string> expected = {
        "Создание соединения Макет-дата...",
        "Соединение Макет-дата создано. Создание слушателей Макет-дата...",
        "Слушатели Макет-дата созданы. Открытие соединения Макет-дата...",
        "Соединение Макет-дата открыто. Идет получение начальных данных...",
        kClosing,
    };
    EXPECT_EQ(Texts(journal), expected);
    EXPECT_EQ(gw.With([](FakeGateway& g) { return g.ListenerCount(); }), 0u);
    EXPECT_EQ(connectedCalls, 0);
}

TEST_F(MarketDataConnection, BuildsTheListsOnceWhenTheLastStreamGoesOnline) {
    Start({"FORTS_A_REPL", "FORTS_B_REPL"});
    WaitListenersOpen(2);
    gw.Deliver(0, test::MakeMessage(CG_MSG_P2REPL_ONLINE));
    gw.Deliver(0, test::MakeMessage(CG_MSG_P2REPL_ONLINE));
    ASSERT_TRUE(WaitDelivered(gw));
    EXPECT_FALSE(conn->Online());
    gw.Deliver(1, test::MakeMessage(CG_MSG_P2REPL_ONLINE));
    gw.Deliver(1, test::MakeMessage(CG_MSG_P2REPL_ONLINE));
    ASSERT_TRUE(WaitDelivered(gw));
    EXPECT_TRUE(conn->Online());
    Stop();

    EXPECT_EQ(CountText(journal, "Поток FORTS_A_REPL Перешел в режим Он-Лайн"), 2);
    EXPECT_EQ(CountText(journal, "Поток FORTS_B_REPL Перешел в режим Он-Лайн"), 2);
    EXPECT_EQ(CountText(journal,
                        "Начальное получение данных завершено. Создание списков инструментов..."),
              1);
    EXPECT_EQ(CountText(journal, "Инструменты добавлены."), 1);
    EXPECT_EQ(connectedCalls, 1);
    EXPECT_TRUE(connectedOnUi);
}

class LifeNumberFlags : public MarketDataConnection,
                        public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(LifeNumberFlags, ClearTheStreamUnlessTheyAreOne) {
    const std::uint32_t flags = GetParam();
    Start({"FORTS_A_REPL"});
    WaitListenersOpen(1);
    const auto row = FuturesRow(1, 42, "RTS-6.24");
    gw.Deliver(0, test::MakeStreamData(0, row.data(), row.size()));
    gw.Deliver(0, LifeNumber(77, flags));
    gw.Deliver(0, test::MakeMessage(CG_MSG_P2REPL_ONLINE));
    ASSERT_TRUE(WaitUntil([&] { return HasText(journal, "Инструменты добавлены."); }));

    THeaders fut, opt;
    TSHeaders spot;
    store.GetHeaders(fut, opt, spot);
    ASSERT_EQ(fut.size(), flags == 1 ? 1u : 0u);
    if (flags == 1) {
        EXPECT_EQ(fut[0].isin, "RTS-6.24");
        EXPECT_EQ(fut[0].isin_id, 42);
    }

    // The listener is reopened with the life number last received.
    gw.With([](FakeGateway& g) { g.Listeners[0].State = CG_STATE_CLOSED; });
    ASSERT_TRUE(WaitUntil(
        [&] { return gw.With([](FakeGateway& g) { return g.Listeners[0].Opens.size(); }) == 2; }));
    Stop();
    EXPECT_EQ(gw.With([](FakeGateway& g) { return g.Listeners[0].Opens[1]; }), "lifinum=77");
    EXPECT_EQ(conn->Lsnrs[0].StreamData.LifeNum, 77u);
    EXPECT_EQ(conn->Lsnrs[0].StreamData.LnFlags, flags);
}

INSTANTIATE_TEST_SUITE_P(MarketDataConnection, LifeNumberFlags, ::testing::Values(1u, 0u, 2u));

TEST_F(MarketDataConnection, DestroysAListenerInErrorAndCreatesItAnew) {
    Start({"FORTS_A_REPL"});
    WaitListenersOpen(1);
    gw.With([](FakeGateway& g) { g.Listeners[0].State = CG_STATE_ERROR; });
    ASSERT_TRUE(WaitUntil([&] { return CountText(journal, "Лисенер FORTS_A_REPL открыт.") == 2; }));
    WaitPasses(20);
    Stop();

    const std::vector<std::string> texts = Texts(journal);
    const auto destroyed =
        std::find(texts.begin(), texts.end(), "Внимание: Лисенер потока FORTS_A_REPLуничтожен.");
    ASSERT_NE(destroyed, texts.end());
    ASSERT_NE(destroyed + 1, texts.end());
    EXPECT_EQ(*(destroyed + 1), "Внимание: Ошибка Маркет-дата лисенера FORTS_A_REPL.");
    EXPECT_EQ(CountText(journal, "Внимание: Состояние слушателя Макет-дата не определено."), 0);
    gw.With([&](FakeGateway& g) {
        ASSERT_EQ(g.ListenerCount(), 2u);
        EXPECT_TRUE(g.Listeners[0].Destroyed);
        EXPECT_EQ(g.Listeners[1].Settings, g.Listeners[0].Settings);
        EXPECT_EQ(g.Listeners[1].Data, g.Listeners[0].Data);
        EXPECT_EQ(g.Listeners[1].Data, &conn->Lsnrs[0].StreamData);
    });
}

TEST_F(MarketDataConnection, AListenerThatWillNotCloseIsReportedOnce) {
    Start({"FORTS_A_REPL"});
    WaitListenersOpen(1);
    gw.With([](FakeGateway& g) {
        g.Listeners[0].CloseResult = CG_ERR_INCORRECTSTATE;
        g.Listeners[0].State = CG_STATE_ERROR;
    });
    ASSERT_TRUE(WaitUntil(
        [&] { return gw.With([](FakeGateway& g) { return g.Listeners[0].Closes >= 20; }); }));
    Stop();
    EXPECT_EQ(CountText(journal, "Внимание: Ошибка Маркет-дата лисенера FORTS_A_REPL."), 1);
    EXPECT_FALSE(HasText(journal, "Внимание: Лисенер потока FORTS_A_REPLуничтожен."));
    EXPECT_NE(conn->Lsnrs[0].Lsn, nullptr);
}

TEST_F(MarketDataConnection, ReopensAfterTheConnectionDrops) {
    Start({"FORTS_A_REPL"});
    WaitListenersOpen(1);
    gw.Deliver(0, LifeNumber(9, 1));
    ASSERT_TRUE(WaitDelivered(gw));
    gw.With([](FakeGateway& g) { g.Conns[0].State = CG_STATE_ERROR; });
    ASSERT_TRUE(WaitUntil([&] { return CountText(journal, "Лисенер FORTS_A_REPL открыт.") == 2; }));
    Stop();
    gw.With([](FakeGateway& g) {
        EXPECT_EQ(g.Conns[0].Closes, 1);
        EXPECT_EQ(g.Conns[0].Opens, 2);
        EXPECT_EQ(g.Listeners[0].Opens.back(), "lifinum=9");
    });
    EXPECT_EQ(
        CountText(journal, "Соединение Макет-дата открыто. Идет получение начальных данных..."), 1);
}

TEST_F(MarketDataConnection, AFailingProcessCallIsReportedOncePerRun) {
    Start({});
    WaitPasses(5);
    gw.With([](FakeGateway& g) { g.ProcessError = CG_ERR_INCORRECTSTATE; });
    WaitPasses(30);
    gw.With([](FakeGateway& g) { g.ProcessError = CG_ERR_OK; });
    WaitPasses(5);
    gw.With([](FakeGateway& g) { g.ProcessError = CG_ERR_INTERNAL; });
    WaitPasses(30);
    Stop();
    EXPECT_EQ(CountText(journal, "Внимание: Состояние соединения Макет-дата не определено."), 2);
}

TEST_F(MarketDataConnection, ReadsNothingPastTheDataAMessageGives) {
    Start({"FORTS_A_REPL"});
    WaitListenersOpen(1);
    gw.Deliver(0, LifeNumber(5, 1));
    const std::uint32_t shortLife = 99;
    gw.Deliver(0, test::MakeMessage(CG_MSG_P2REPL_LIFENUM, &shortLife, sizeof shortLife));
    const unsigned char shortClear[8] = {0};
    gw.Deliver(0, test::MakeMessage(CG_MSG_P2REPL_CLEARDELETED, shortClear, sizeof shortClear));
    // "Онлайн" in code page 1251, with no terminating zero inside the message.
    const char state[] = "\xCE\xED\xEB\xE0\xE9\xED";
    gw.Deliver(0, test::MakeMessage(CG_MSG_P2REPL_REPLSTATE, state, 6));
    const auto row = FuturesRow(1, 42, "RTS-6.24");
    gw.Deliver(0, test::MakeStreamData(0, row.data(), 20)); // cut inside the fourth field
    ASSERT_TRUE(WaitDelivered(gw));
    Stop();
    EXPECT_EQ(conn->Lsnrs[0].StreamData.LifeNum, 5u);
    EXPECT_EQ(conn->Lsnrs[0].LsnParams.ReplState, "Онлайн");
}

TEST_F(MarketDataConnection, TracksOpenAndOnlineFlagsPerListener) {
    Start({"FORTS_A_REPL", "FORTS_B_REPL"});
    WaitListenersOpen(2);
    gw.Deliver(0, test::MakeMessage(CG_MSG_P2REPL_ONLINE));
    gw.Deliver(1, test::MakeMessage(CG_MSG_P2REPL_ONLINE));
    gw.Deliver(1, test::MakeMessage(CG_MSG_CLOSE));
    ASSERT_TRUE(WaitDelivered(gw));
    Stop();
    EXPECT_TRUE(conn->Lsnrs[0].LsnParams.cgMsgOpen);
    EXPECT_TRUE(conn->Lsnrs[0].LsnParams.cgMsgRplOnline);
    EXPECT_FALSE(conn->Lsnrs[1].LsnParams.cgMsgOpen);
    EXPECT_FALSE(conn->Lsnrs[1].LsnParams.cgMsgRplOnline);
    EXPECT_EQ(conn->Lsnrs[1].StreamData.Pos, 1);
    // The open message described the stream's tables.
    ASSERT_EQ(conn->Lsnrs[0].StreamData.TableDecs.size(), 1u);
    EXPECT_EQ(conn->Lsnrs[0].StreamData.SchemType, CG_SCHEME_BIN);
}

} // namespace
} // namespace vorlen
