// The terminal's core in this process against the offline exchange: what an expert would do
// with the transaction connection, and what the replica holds behind the instrument lists.

#include "InProcessTerminal.h"
#include "SimHarness.h"
#include "connections/Connection.h"
#include "connections/GatewayRecords.h"
#include "connections/TrConnection.h"
#include "gateway/AddOrderMessage.h"
#include "grids/GridLayouts.h"
#include "health/HealthMonitor.h"
#include "main/ConnectorPort.h"
#include "main/console/ConsoleGrids.h"
#include "main/console/ConsoleTerminal.h"
#include "main/console/StopWatcher.h"
#include "main/console/StoreDump.h"
#include "orders/OrderDesk.h"
#include "platform/Events.h"
#include "platform/FormatSettings.h"
#include "platform/Module.h"
#include "platform/Thread.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace vorlen::e2e {

namespace {

// Keeps the UI-call queue served while waiting for something no UI call announces.
bool DrainUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
    return WaitUntil(
        [&] {
            ui::DrainUiQueue();
            return done();
        },
        limit);
}

void PutText(char* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::copy_n(text.data(), std::min(size - 1, text.size()), field);
}

struct TFutures {
    std::int32_t IsinId = 0;
    std::string Price; // the last closing quote, "." as decimal separator
};

class InProcess : public ::testing::Test {
protected:
    void SetUp() override {
        Term = std::make_unique<TInProcessTerminal>(Inst);
        ASSERT_TRUE(Term->Online()) << Term->Failure();
        Port = &Term->Port();
    }

    void TearDown() override { Term.reset(); }

    TCGStorage& Store() { return *Port->Connector().Storage(); }
    TCGTRConnection& Transactions() { return *Port->Connector().Transactions(); }

    // The first listed futures with its closing quote from the replica.
    TFutures SomeFutures() {
        THeaders fut, opt;
        TSHeaders spot;
        Store().GetHeaders(fut, opt, spot);
        TFutures f;
        if (fut.empty()) {
            return f;
        }
        f.IsinId = fut.front().isin_id;
        TFormatSettings dot = RussianFormatSettings();
        dot.DecimalSeparator = '.';
        ForEachRow("fut_sess_contents", [&](const TRowView& row) {
            if (VarAsInteger(row.Field("isin_id").Data) == f.IsinId) {
                f.Price = ValueToStr(row.Field("last_cl_quote").Data, dot);
            }
        });
        return f;
    }

    void ForEachRow(const std::string& table, const std::function<void(const TRowView&)>& fn) {
        TMarketData data;
        Store().GetData(data);
        TCGStorage::TAccess access(Store());
        for (const TStream& s : data.Streams) {
            for (const TTable& t : s.Tables) {
                if (t.tName == table) {
                    for (const TRowView row : access.Rows(t)) {
                        fn(row);
                    }
                }
            }
        }
    }

    // Posts one order and waits for its reply; the reply's code, or nothing.
    std::optional<std::int32_t> Order(const TFutures& f, std::int32_t amount, TReplData& reply,
                                      std::int8_t dir = 1) {
        TAddOrderParams p{};
        PutText(p.broker_code, sizeof p.broker_code, "FZ00");
        PutText(p.client_code, sizeof p.client_code, "001");
        PutText(p.price, sizeof p.price, f.Price);
        p.isin_id = f.IsinId;
        p.dir = static_cast<std::int32_t>(static_cast<unsigned char>(dir));
        p.atype = 1;
        p.amount = amount;
        std::uint32_t id = 0;
        Transactions().GetTrandID(id);
        TEventSet events(1);
        if (!Transactions().AddOrder(id, f.IsinId, p, events.Event(0))) {
            ADD_FAILURE() << "AddOrder refused";
            return std::nullopt;
        }
        if (!DrainUntil([&] { return events.WaitAnyFor(10) == 0; })) {
            ADD_FAILURE() << "no reply";
            return std::nullopt;
        }
        if (!Transactions().GetReplData(id, reply)) {
            ADD_FAILURE() << "reply not stored";
            return std::nullopt;
        }
        // Handed over once only.
        TReplData again;
        EXPECT_FALSE(Transactions().GetReplData(id, again));
        return VarAsInteger(reply.Fields["code"].Data);
    }

    TSimInstall Inst;
    std::unique_ptr<TInProcessTerminal> Term;
    TConnectorPort* Port = nullptr;
};

} // namespace

TEST_F(InProcess, AnOrderGetsItsReplyAndAnInvalidOneItsRefusal) {
    const TFutures f = SomeFutures();
    ASSERT_NE(f.IsinId, 0);
    ASSERT_FALSE(f.Price.empty());
    ASSERT_TRUE(DrainUntil([this] { return Transactions().PubState() == 3; }));

    TReplData accepted;
    EXPECT_EQ(Order(f, 1, accepted), 0);
    EXPECT_NE(accepted.Fields["order_id"].FType, nullptr);

    TReplData refused;
    EXPECT_EQ(Order(f, 0, refused), 53); // the amount is wrong
    EXPECT_NE(refused.Fields["message"].FType, nullptr);
}

// The built-in limits may be looser than what a damaged file meant: nothing trades until the
// trader sets limits again, and then exactly those hold.
TEST(InProcessLimits, ADamagedLimitsFileStopsEveryOrderUntilTheTraderSetsLimits) {
    TSimInstall inst;
    std::ofstream(inst.DataDir / orders::kLimitsFileName) << "max_qty=2\n";
    TInProcessTerminal term(inst);
    ASSERT_TRUE(term.Online()) << term.Failure();
    orders::TOrderDesk* desk = term.Port().OrderDesk();
    ASSERT_NE(desk, nullptr);
    const orders::TOrderRequest order{"Si-12.26", orders::TSide::Buy, 3, 9'100'000'000, "FZ00001"};
    EXPECT_EQ(desk->Place(order).Reason, "Лимиты заявок не прочитаны: заявки не принимаются, "
                                         "пока файл risk_limits.txt не исправлен.");
    EXPECT_NE(term.Journal().find("Ошибка: лимиты заявок не прочитаны (строка 1"),
              std::string::npos)
        << term.Journal();
    orders::TLimitsBook limits;
    std::string error;
    ASSERT_TRUE(limits.Parse("* max_qty=2\n", error)) << error;
    desk->SetLimits(std::move(limits));
    // Until the health monitor has seen both links live, the gate refuses for them first.
    std::string reason;
    EXPECT_TRUE(term.ServeUntil([&] {
        reason = desk->Place(order).Reason;
        return reason.find("не в рабочем состоянии") == std::string::npos &&
               reason.find("не актуальны") == std::string::npos;
    }));
    EXPECT_EQ(reason, "Количество 3 больше допустимого в одной заявке (2).");
}

// The rows of a dumped table as a grid shows them: the grid's fields in its column order, an
// empty cell where a column shows no field.
std::multiset<std::vector<std::string>> AsGrid(const std::vector<std::vector<std::string>>& tsv,
                                               const TGridLayout& layout) {
    std::multiset<std::vector<std::string>> rows;
    if (tsv.empty()) {
        return rows;
    }
    for (std::size_t r = 1; r < tsv.size(); ++r) {
        std::vector<std::string> row;
        for (const TGridColumn& c : layout.Columns) {
            const auto it = std::find(tsv[0].begin(), tsv[0].end(), c.Field);
            const auto at = static_cast<std::size_t>(it - tsv[0].begin());
            row.push_back(c.Field.empty() || it == tsv[0].end() || at >= tsv[r].size()
                              ? std::string()
                              : tsv[r][at]);
        }
        rows.insert(row);
    }
    return rows;
}

// Fills change the position and the account rows in place; the positions and account grids
// follow them, as the console's dump at the end of a run shows them.
TEST_F(InProcess, AfterFillsThePositionsAndAccountGridsEqualTheirTables) {
    const TFutures f = SomeFutures();
    ASSERT_NE(f.IsinId, 0);
    std::string upper;
    TFormatSettings dot = RussianFormatSettings();
    dot.DecimalSeparator = '.';
    ForEachRow("fut_sess_contents", [&](const TRowView& row) {
        if (VarAsInteger(row.Field("isin_id").Data) == f.IsinId) {
            upper = ValueToStr(row.Field("limit_up").Data, dot);
        }
    });
    ASSERT_FALSE(upper.empty());
    ASSERT_TRUE(DrainUntil([this] { return Transactions().PubState() == 3; }));
    const auto xpos = [&] {
        std::int64_t sum = 0;
        ForEachRow("position", [&](const TRowView& row) {
            if (VarAsInteger(row.Field("isin_id").Data) == f.IsinId) {
                sum += VarAsInt64(row.Field("xpos").Data);
            }
        });
        return sum;
    };
    const std::int64_t before = xpos();

    // A buy at the upper limit meets the market at once. (A sell at the lower one would meet the
    // trader's own resting buys first, which the exchange refuses as a counter order.)
    TReplData reply;
    EXPECT_EQ(Order({f.IsinId, upper}, 3, reply, 1), 0);
    ASSERT_TRUE(DrainUntil([&] { return xpos() == before + 3; })) << xpos();

    const fs::path dump = Inst.Root / "dump";
    const auto agree = [&] {
        std::vector<TDumpFile> files = CollectDump(Store());
        for (TDumpFile& g : CollectGridDump(Term->View()->GridTables())) {
            files.push_back(std::move(g));
        }
        std::string error;
        if (!WriteDump(dump, files, error)) {
            ADD_FAILURE() << error;
            return true;
        }
        bool same = true;
        for (const auto& [grid, table] :
             {std::pair{kPositionsGrid, "position"}, std::pair{kAccGrid, "part"}}) {
            const std::string file = grid == kAccGrid ? "grid_acc.tsv" : "grid_positions.tsv";
            auto shown = TsvRows(dump / file);
            if (!shown.empty()) {
                shown.erase(shown.begin()); // the captions
            }
            const auto expected =
                AsGrid(TsvRows(dump / (std::string(table) + ".tsv")), GridLayout(grid));
            same = same && !expected.empty() &&
                   std::multiset<std::vector<std::string>>(shown.begin(), shown.end()) == expected;
        }
        return same;
    };
    EXPECT_TRUE(DrainUntil(agree, 20s))
        << ReadFile(dump / "grid_positions.tsv") << ReadFile(dump / "position.tsv");
}

TEST_F(InProcess, TheFuturesListLeavesOutCltContractsTheReplicaHolds) {
    int clt = 0;
    int others = 0;
    ForEachRow("fut_sess_contents", [&](const TRowView& row) {
        (ValueToStr(row.Field("isin").Data).find("_CLT") != std::string::npos ? clt : others)++;
    });
    EXPECT_GT(clt, 0);
    THeaders fut, opt;
    TSHeaders spot;
    Store().GetHeaders(fut, opt, spot);
    EXPECT_EQ(static_cast<int>(fut.size()), others);
    for (const THeader& h : fut) {
        EXPECT_EQ(h.isin.find("_CLT"), std::string::npos) << h.isin;
    }
}

// "Разорвать соединение" ends both connections and leaves everything else: the rows stay (marked
// stale), the environment stays open, Connect comes back; connecting again refills the grids.
TEST_F(InProcess, DisconnectKeepsTheRowsStaleAndConnectingAgainRefillsThem) {
    THealthMonitor& health = Port->Connector().Health();
    const auto both = [&health](THealthState state) {
        return health.State(THealthLink::MarketData) == state &&
               health.State(THealthLink::Transactions) == state;
    };
    const auto filled = [this](int grid) {
        const TModelGridSink& g = Term->View()->GridTables().Grid(grid);
        return g.RowCount() > 1 && !g.Cell(1, 0).empty();
    };
    ASSERT_TRUE(DrainUntil([&] { return both(THealthState::Online); })) << Term->Journal();
    ASSERT_TRUE(DrainUntil([&] { return filled(kAccGrid) && filled(kPositionsGrid); }));
    EXPECT_FALSE(Term->Controller()->HealthView().Stale);

    Term->Controller()->Disconnect1Execute();
    EXPECT_TRUE(Port->Connector().MarketData()->Finished());
    EXPECT_TRUE(Port->Connector().Transactions()->Finished());
    EXPECT_EQ(Port->Connector().MarketData()->hConn(), nullptr);
    EXPECT_EQ(Port->Connector().Transactions()->hConn(), nullptr);
    EXPECT_TRUE(Port->EnvOpen());
    TMainControls offline;
    offline.Conndis1 = true;
    offline.Connect1 = true;
    offline.Settings1 = false;
    EXPECT_EQ(Term->Controller()->Controls(), offline);
    ASSERT_TRUE(DrainUntil([&] { return both(THealthState::Disconnected); }));
    // Nothing of ours is connected to the router any more, once it has seen the connections go.
    EXPECT_TRUE(DrainUntil([this] {
        return Inst.Control("counters").rfind("OK clients=0 ", 0) == 0;
    })) << Inst.Control("counters");
    EXPECT_TRUE(filled(kAccGrid) && filled(kPositionsGrid));
    const THealthView stale = Term->Controller()->HealthView();
    EXPECT_TRUE(stale.Stale);
    EXPECT_NE(stale.StaleText.find("Последние данные в "), std::string::npos);
    // The state is known before its journal line has been served on this thread.
    EXPECT_TRUE(DrainUntil([this] {
        const std::string journal = Term->Journal();
        return journal.find("Соединение Маркет-дата отключено.") != std::string::npos &&
               journal.find("Соединение Трансакции отключено.") != std::string::npos;
    })) << Term->Journal();

    // Grids drawn anew from nothing: only a refill can bring their rows back.
    Term->View()->SetupGrids();
    ASSERT_FALSE(filled(kAccGrid));
    Term->Controller()->Conndis1Execute();
    ASSERT_TRUE(DrainUntil([this] { return Term->Controller()->Controls().FileNew1Menu; }))
        << Term->Journal();
    EXPECT_TRUE(Term->Controller()->Controls().Disconnect1);
    ASSERT_TRUE(DrainUntil([&] { return filled(kAccGrid) && filled(kPositionsGrid); }));
    ASSERT_TRUE(DrainUntil([&] { return both(THealthState::Online); })) << Term->Journal();
    EXPECT_FALSE(Term->Controller()->HealthView().Stale);
    const std::string again = Term->Journal();
    std::size_t lists = 0;
    for (std::size_t at = again.find("Инструменты добавлены."); at != std::string::npos;
         at = again.find("Инструменты добавлены.", at + 1)) {
        ++lists;
    }
    EXPECT_EQ(lists, 2u);
}

} // namespace vorlen::e2e
