#include "store/ExpertFieldMap.h"

#include "gateway/Cgate.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <gtest/gtest.h>

namespace vorlen::test {
namespace {

const char* const kMoney[] = {"money_free",      "money_blocked",
                              "vm_reserve",      "fee",
                              "limits_set",      "money_old",
                              "money_amount",    "money_pledge_amount",
                              "vm_intercl",      "is_auto_update_limit",
                              "broker_fee",      "penalty",
                              "premium_intercl", "net_option_value"};

class ExpertFieldMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSavedCG = CG();
        CG().cg_bcd_get = TestBcdGet;
        std::vector<TFieldSpec> fields = {{"client_code", "c7", 7}, {"isin_id", "i4", 4}};
        for (const char* name : kMoney)
            fields.push_back({name, "d26.2", 9});
        Part.Table("part_sasp", ReplFields({{"client_code", "c7", 7}}))
            .Table("part", ReplFields(fields));
        Other.Table("part", ReplFields({{"money_free", "d26.2", 9}}));
    }
    void TearDown() override { CG() = FSavedCG; }

    // The listeners: an unrelated stream first, so positions are not trivially zero.
    void Open(bool withPart) {
        Store.SetStreams({"FORTS_OTHER_REPL", withPart ? "FORTS_PART_REPL" : "FORTS_POS_REPL"});
        Lsn.resize(2);
        for (int i = 0; i < 2; ++i) {
            Lsn[static_cast<std::size_t>(i)].Pos = i;
            Store.SetTblsDesc(i, Lsn[static_cast<std::size_t>(i)],
                              i == 0 ? Other.Desc() : Part.Desc());
        }
    }

    void Account(std::int64_t id, const std::string& client, std::int64_t moneyFree) {
        TRowBytes r(Part, "part");
        r.Key(id).Text("client_code", client).Int("isin_id", 5);
        for (const char* name : kMoney)
            r.Decimal(name, 100, 2);
        r.Decimal("money_free", moneyFree, 2);
        Store.UpdStrMsg(r.Msg(), Lsn[1]);
        TRowBytes o(Other, "part");
        o.Key(id).Decimal("money_free", -1, 0);
        Store.UpdStrMsg(o.Msg(), Lsn[0]);
    }

    TTestScheme Part, Other;
    TCGStorage Store;
    std::vector<TStreamData> Lsn;
    TCGateEntryPoints FSavedCG;
};

TEST_F(ExpertFieldMapTest, RegistersTheFifteenAccountFieldsAtTheFirstRow) {
    Open(true);
    Account(4, "C1", 150);
    Account(2, "C2", 250);
    TDataBase db(Store);
    Store.GetData(db.DataBuff);
    db.BuildDataMap();

    ASSERT_EQ(db.DataMap().size(), 15u);
    for (const auto& [name, pos] : db.DataMap()) {
        EXPECT_EQ(pos.StrPos, 1) << name;
        EXPECT_EQ(pos.TblPos, 1) << name;
        EXPECT_EQ(pos.ReplId, 4) << name;
    }
    EXPECT_EQ(ValueToStr(db.GetField("client_code").Data), "C1");
    EXPECT_DOUBLE_EQ(std::get<double>(db.GetField("money_free").Data), 1.5);
    EXPECT_STREQ(db.GetField("money_free").FType, "d26.2");
}

TEST_F(ExpertFieldMapTest, SeesTheStoresLatestValueWithoutANewSnapshot) {
    Open(true);
    Account(4, "C1", 150);
    TDataBase db(Store);
    Store.GetData(db.DataBuff);
    db.BuildDataMap();

    Account(4, "C1", 990);
    EXPECT_DOUBLE_EQ(std::get<double>(db.GetField("money_free").Data), 9.9);

    // Once the row is gone, so is the field; another row under another id is not picked up.
    TRowBytes del(Part, "part");
    del.Key(4, 2, 1);
    Store.UpdStrMsg(del.Msg(), Lsn[1]);
    Account(5, "C1", 100);
    EXPECT_EQ(db.GetField("money_free").FType, nullptr);
    EXPECT_TRUE(IsEmpty(db.GetField("money_free").Data));
}

TEST_F(ExpertFieldMapTest, WithoutThePartStreamNothingIsRegistered) {
    Open(false);
    Account(4, "C1", 150);
    TDataBase db(Store);
    Store.GetData(db.DataBuff);
    db.BuildDataMap();
    EXPECT_TRUE(db.DataMap().empty());
    EXPECT_EQ(db.GetField("money_free").FType, nullptr);
}

TEST_F(ExpertFieldMapTest, AnEmptyPartTableAtBuildTimeStaysUnregistered) {
    Open(true);
    TDataBase db(Store);
    Store.GetData(db.DataBuff);
    db.BuildDataMap();
    Account(4, "C1", 150);
    Store.GetData(db.DataBuff);
    EXPECT_TRUE(db.DataMap().empty());
    EXPECT_EQ(db.GetField("money_free").FType, nullptr);
}

TEST_F(ExpertFieldMapTest, FieldsOutsideTheFifteenAreNeverRegistered) {
    Open(true);
    Account(4, "C1", 150);
    TDataBase db(Store);
    Store.GetData(db.DataBuff);
    db.BuildDataMap();
    EXPECT_EQ(db.DataMap().count("isin_id"), 0u);
    EXPECT_EQ(db.GetField("isin_id").FType, nullptr);
    EXPECT_EQ(db.GetField("replID").FType, nullptr);
}

TEST_F(ExpertFieldMapTest, AStaleSnapshotWithFewerStreamsGivesNullRatherThanReadingPastIt) {
    Open(true);
    Account(4, "C1", 150);
    TDataBase db(Store);
    Store.GetData(db.DataBuff);
    db.BuildDataMap();
    db.DataBuff.Streams.resize(1);
    EXPECT_EQ(db.GetField("money_free").FType, nullptr);
}

} // namespace
} // namespace vorlen::test
