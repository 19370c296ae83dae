// The router's control channel and the replication events it provokes, as a listener sees them.

#include "SimSupport.h"

#include <cstring>
#include <gtest/gtest.h>

namespace simtest {
namespace {

class SimControl : public ::testing::Test {
protected:
    void SetUp() override {
        OpenEnvironment();
        ASSERT_TRUE(router.Running());
        session = std::make_unique<Session>(router.Port(), "marketdata");
        ref = &session->Listen("p2repl://FORTS_REFDATA_REPL;tables=fut_sess_contents,session,"
                               "sys_messages");
        ASSERT_TRUE(session->Pump([&] { return ref->online; }));
    }

    std::size_t Index(const std::string& table) const {
        std::size_t i = 0;
        for (cg_message_desc_t* m = ref->scheme->messages; m; m = m->next, ++i) {
            if (table == m->name) {
                return i;
            }
        }
        return 999;
    }

    Router router;
    std::unique_ptr<Session> session;
    Lsn* ref = nullptr;
};

TEST_F(SimControl, NewLifeNumberClearsAndReplaysTheStream) {
    ASSERT_EQ(ref->Rows("fut_sess_contents").size(), 30u);
    const std::size_t mark = ref->events.size();
    ASSERT_EQ(router.Control("lifenum FORTS_REFDATA_REPL 5"), "OK lifenum FORTS_REFDATA_REPL 5");
    ASSERT_TRUE(session->Pump([&] { return ref->Count(CG_MSG_P2REPL_ONLINE) == 2; }));
    // First the new number with flags that clear, then the whole stream, then on-line.
    const Event& first = ref->events[mark];
    EXPECT_EQ(first.type, CG_MSG_P2REPL_LIFENUM);
    EXPECT_EQ(first.a, 5u);
    EXPECT_NE(first.b, 1u);
    std::size_t rows = 0;
    for (std::size_t i = mark; i < ref->events.size(); ++i) {
        rows += ref->events[i].name == "fut_sess_contents" ? 1 : 0;
    }
    EXPECT_EQ(rows, 30u);
    EXPECT_EQ(ref->life, 5u);

    // Reopened with the life number it now knows, the stream is not cleared again.
    cg_lsn_close(ref->handle);
    const std::size_t reopen = ref->events.size();
    ASSERT_TRUE(session->Pump([&] { return ref->Count(CG_MSG_P2REPL_ONLINE) == 3; }));
    for (std::size_t i = reopen; i < ref->events.size(); ++i) {
        if (ref->events[i].type == CG_MSG_P2REPL_LIFENUM) {
            EXPECT_EQ(ref->events[i].b, 1u);
        }
    }
    EXPECT_EQ(ref->closed, 1);
    EXPECT_EQ(ref->opened, 2);
}

TEST_F(SimControl, OpeningWithAnOldLifeNumberIsToldTheCurrentOne) {
    const std::size_t firstOpen = 0;
    const Event* life = nullptr;
    for (std::size_t i = firstOpen; i < ref->events.size() && life == nullptr; ++i) {
        if (ref->events[i].type == CG_MSG_P2REPL_LIFENUM) {
            life = &ref->events[i];
        }
    }
    ASSERT_NE(life, nullptr);
    EXPECT_EQ(ref->events.front().type, CG_MSG_OPEN);
    EXPECT_EQ(life->a, 1u);
    EXPECT_NE(life->b, 1u) << "the listener opened with lifinum=0";
    EXPECT_EQ(ref->Count(CG_MSG_P2REPL_REPLSTATE), 1u);
}

TEST_F(SimControl, ClearDeletedNamesTheListenersTableIndex) {
    ASSERT_EQ(router.Control("cleardeleted FORTS_REFDATA_REPL session 12345"),
              "OK cleardeleted FORTS_REFDATA_REPL session 12345");
    ASSERT_TRUE(session->Pump([&] { return ref->Count(CG_MSG_P2REPL_CLEARDELETED) == 1; }));
    const Event& e = ref->events.back();
    EXPECT_EQ(e.a, Index("session"));
    EXPECT_EQ(e.rev2, 12345);
    EXPECT_EQ(router.Control("rows FORTS_REFDATA_REPL session").rfind("OK rows=0 ", 0), 0u);
}

TEST_F(SimControl, DeletedRowCarriesANonZeroMark) {
    const Event& row = *ref->Rows("fut_sess_contents").front();
    const std::int64_t id = Int(ref->scheme, row, "replID");
    EXPECT_EQ(Int(ref->scheme, row, "replAct"), 0);
    EXPECT_EQ(id, Int(ref->scheme, row, "isin_id"));
    ASSERT_EQ(router.Control("delete FORTS_REFDATA_REPL fut_sess_contents " + std::to_string(id)),
              "OK deleted");
    ASSERT_TRUE(session->Pump([&] { return ref->Rows("fut_sess_contents").size() == 31; }));
    const Event& gone = *ref->Rows("fut_sess_contents").back();
    EXPECT_EQ(Int(ref->scheme, gone, "replID"), id);
    EXPECT_NE(Int(ref->scheme, gone, "replAct"), 0);
    EXPECT_GT(gone.rev, row.rev);
    EXPECT_EQ(router.Control("delete FORTS_REFDATA_REPL fut_sess_contents " + std::to_string(id)),
              "ERR no such row");
}

TEST_F(SimControl, SystemMessageArrivesInCodePage1251) {
    const std::size_t before = ref->Rows("sys_messages").size();
    EXPECT_GE(before, 2u);
    ASSERT_EQ(router.Control("sysmsg ru Проверка связи").rfind("OK sysmsg ", 0), 0u);
    ASSERT_TRUE(session->Pump([&] { return ref->Rows("sys_messages").size() == before + 1; }));
    const Event& m = *ref->Rows("sys_messages").back();
    EXPECT_EQ(Text(ref->scheme, m, "lang_code"), "ru");
    EXPECT_EQ(Text(ref->scheme, m, "text"),
              "\xcf\xf0\xee\xe2\xe5\xf0\xea\xe0 \xf1\xe2\xff\xe7\xe8");
    cg_field_desc_t* moment = Field(ref->scheme, "sys_messages", "moment");
    ASSERT_NE(moment, nullptr);
    cg_time_t t;
    std::memcpy(&t, m.data.data() + moment->offset, sizeof t);
    EXPECT_GE(t.year, 2024);
}

TEST_F(SimControl, ReplicationStateTextReachesTheListener) {
    ASSERT_EQ(router.Control("replstate FORTS_REFDATA_REPL lifenum=1;note"), "OK replstate");
    ASSERT_TRUE(session->Pump([&] { return ref->Count(CG_MSG_P2REPL_REPLSTATE) == 2; }));
    EXPECT_EQ(ref->events.back().text, "lifenum=1;note");
}

TEST_F(SimControl, DroppedConnectionErrsAndTheLoopRecovers) {
    EXPECT_EQ(router.Control("drop"), "OK dropped 1");
    bool sawError = false;
    ASSERT_TRUE(session->Pump([&] {
        sawError = sawError || session->State() == CG_STATE_ERROR;
        return sawError && ref->online;
    }));
    EXPECT_EQ(ref->closed, 1);
    EXPECT_EQ(ref->opened, 2);
    EXPECT_EQ(ref->Rows("fut_sess_contents").size(), 60u);
}

TEST_F(SimControl, RefusedConnectionsErrUntilTheWindowEnds) {
    ASSERT_EQ(router.Control("refuse 1500"), "OK refusing 1500");
    Session late(router.Port(), "late");
    Lsn& l = late.Listen("p2repl://FORTS_REFDATA_REPL;tables=session");
    bool sawError = false;
    ASSERT_TRUE(late.Pump([&] {
        sawError = sawError || late.State() == CG_STATE_ERROR;
        return l.online;
    }));
    EXPECT_TRUE(sawError);
}

TEST_F(SimControl, RateCountersAndBadCommands) {
    EXPECT_EQ(router.Control("ping"), "OK pong");
    Lsn& aggr = session->Listen("p2repl://FORTS_AGGR5_REPL;tables=orders_aggr");
    ASSERT_TRUE(session->Pump([&] { return aggr.online; }));
    const std::size_t snapshot = aggr.Rows("orders_aggr").size();
    // Five levels a side for each of the 30 futures, and the option series' books besides
    // (a cheap series has fewer bids than five above its lowest price).
    EXPECT_GT(snapshot, 30u * 2 * 5 + 280u * 5);
    EXPECT_LE(snapshot, (30u + 280u) * 2 * 5);
    EXPECT_EQ(router.Control("rate 5000"), "OK rate 5000");
    ASSERT_TRUE(session->Pump([&] { return aggr.Rows("orders_aggr").size() > snapshot + 100; }));
    EXPECT_EQ(router.Control("rate max"), "OK rate max");
    EXPECT_EQ(router.Control("rate 0"), "OK rate 0");
    const std::string counters = router.Control("counters");
    EXPECT_EQ(counters.rfind("OK clients=1 ", 0), 0u) << counters;
    EXPECT_NE(counters.find(" subscriptions=2 "), std::string::npos) << counters;
    for (const char* bad :
         {"rate -1", "refuse soon", "lifenum FORTS_NO_SUCH_REPL",
          "cleardeleted FORTS_REFDATA_REPL no_table", "delete X y 1", "withhold", "sysmsg ru",
          "frobnicate", "move 1", "move x 1", "move 999999 1", "move 1 100000", ""}) {
        EXPECT_EQ(router.Control(bad).rfind("ERR", 0), 0u) << bad;
    }
}

TEST(SimRouter, LeavesCleanlyOnTerminate) {
    Router router;
    ASSERT_TRUE(router.Running());
    EXPECT_EQ(router.Control("ping"), "OK pong");
    EXPECT_TRUE(router.Stop());
}

} // namespace
} // namespace simtest
