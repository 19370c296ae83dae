// The terminal's core in this process against the offline exchange: what an expert would do
// with the transaction connection, and what the replica holds behind the instrument lists.

#include "InProcessTerminal.h"
#include "SimHarness.h"
#include "connections/TrConnection.h"
#include "main/ConnectorPort.h"
#include "main/console/ConsoleTerminal.h"
#include "main/console/StopWatcher.h"
#include "platform/Events.h"
#include "platform/FormatSettings.h"
#include "platform/Module.h"
#include "platform/Thread.h"
#include "store/Functions.h"
#include "store/Storage.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
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
    std::memcpy(field, text.data(), std::min(size - 1, text.size()));
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

    TCGStorage& Store() { return *Port->Connector().Storage; }
    TCGTRConnection& Transactions() { return *Port->Connector().TRConn; }

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
    std::optional<std::int32_t> Order(const TFutures& f, std::int32_t amount, TReplData& reply) {
        TAddOrderParams p{};
        PutText(p.broker_code, sizeof p.broker_code, "FZ00");
        PutText(p.client_code, sizeof p.client_code, "001");
        PutText(p.price, sizeof p.price, f.Price);
        p.isin_id = f.IsinId;
        p.dir = 1;
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

} // namespace vorlen::e2e
