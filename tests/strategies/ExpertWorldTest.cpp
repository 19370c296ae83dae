// A strategy's world over a real store: the instrument's step from the futures session table, the
// net position and its average price from the position table, and no order without a gate.

#include "strategies/ExpertWorld.h"

#include "experts/Expert.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <bit>
#include <gtest/gtest.h>

namespace vorlen {
namespace {

using test::TRowBytes;
using test::TTestScheme;

class ExpertWorldTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Doubles ("f") where the exchange sends decimals: the value reaches the world the same.
        Refdata.Table("fut_sess_contents", test::ReplFields({{"isin_id", "i4", 4},
                                                             {"isin", "c25", 25},
                                                             {"short_isin", "c25", 25},
                                                             {"name", "c75", 75},
                                                             {"min_step", "f", 8}}));
        Pos.Table("position", test::ReplFields({{"client_code", "c7", 7},
                                                {"isin_id", "i4", 4},
                                                {"xpos", "i8", 8},
                                                {"waprice", "f", 8}}));
        Store.SetStreams({"FORTS_REFDATA_REPL", "FORTS_POS_REPL"});
        Lsn.resize(2);
        Lsn[0].sName = "FORTS_REFDATA_REPL";
        Lsn[1].sName = "FORTS_POS_REPL";
        Lsn[1].Pos = 1;
        Store.SetTblsDesc(0, Lsn[0], Refdata.Desc());
        Store.SetTblsDesc(1, Lsn[1], Pos.Desc());
        Futures(1, 41, 0.01);
        Futures(2, 42, 0.05);
    }
    void Futures(std::int64_t id, std::int32_t isin, double step) {
        TRowBytes r(Refdata, "fut_sess_contents");
        r.Key(id).Int("isin_id", isin).Text("isin", "F" + std::to_string(isin));
        r.Int("min_step", std::bit_cast<std::int64_t>(step));
        Store.UpdStrMsg(r.Msg(), Lsn[0]);
    }
    void Position(std::int64_t id, const char* client, std::int32_t isin, std::int64_t pos,
                  double price) {
        TRowBytes r(Pos, "position");
        r.Key(id).Text("client_code", client).Int("isin_id", isin).Int("xpos", pos);
        r.Int("waprice", std::bit_cast<std::int64_t>(price));
        Store.UpdStrMsg(r.Msg(), Lsn[1]);
    }

    TTestScheme Refdata, Pos;
    TCGStorage Store;
    std::vector<TStreamData> Lsn;
};

TEST_F(ExpertWorldTest, StepAndPositionComeFromTheStoreAndOrdersNeedTheGate) {
    Position(1, "C01", 42, 3, 100.0);
    Position(2, "C02", 42, 2, 110.0);
    Position(3, "C01", 41, 7, 50.0); // another instrument
    TExpert expert(Store, nullptr);
    expert.isin_id = 42;
    TExpertWorld world(expert, Store, nullptr, nullptr);

    const auto step = world.PriceStep();
    ASSERT_TRUE(step.has_value());
    EXPECT_EQ(DecimalToString(*step), "0.05");

    const struct {
        const char* Client;
        bool Found;
        std::int64_t Net;
        double Avg;
    } cases[] = {{"", true, 5, 104.0}, {"C02", true, 2, 110.0}, {"C09", false, 0, 0}};
    for (const auto& c : cases) {
        TPositionInfo p;
        EXPECT_EQ(world.Position(c.Client, p), c.Found) << c.Client;
        EXPECT_EQ(p.Net, c.Net) << c.Client;
        EXPECT_DOUBLE_EQ(p.AvgPrice, c.Avg) << c.Client;
    }
    // Clients on opposite sides net out; their prices make no average.
    Position(4, "C03", 42, -1, 120.0);
    TPositionInfo p;
    ASSERT_TRUE(world.Position("", p));
    EXPECT_EQ(p.Net, 4);
    EXPECT_EQ(p.AvgPrice, 0);

    EXPECT_EQ(world.HaltReason(), "");
    EXPECT_EQ(world.OrderPathRefusal(), kNoGateRefusal);
    EXPECT_EQ(world
                  .Place(orders::TOrderRequest{"Si-3.27", orders::TSide::Buy, 1,
                                               100 * orders::kPriceScale, "C01"})
                  .Refusal,
              kNoGateRefusal);
    EXPECT_EQ(world.Cancel(5), kNoGateRefusal);
    EXPECT_TRUE(world.ActiveOrders().empty());

    // An instrument the session does not list has no step.
    expert.isin_id = 43;
    TExpertWorld other(expert, Store, nullptr, nullptr);
    EXPECT_FALSE(other.PriceStep().has_value());
}

} // namespace
} // namespace vorlen
