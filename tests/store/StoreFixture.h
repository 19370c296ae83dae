#pragma once

// A store opened on two streams of hand-made schemes, with the grid updater's seven events and a
// set of expert events to watch.

#include "gateway/Cgate.h"
#include "platform/Events.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace vorlen::test {

class StoreFixture : public ::testing::Test {
protected:
    static constexpr int kTrade = 0;
    static constexpr int kRef = 1;

    void SetUp() override {
        FSavedCG = CG();
        CG().cg_bcd_get = TestBcdGet;
        Trade
            .Table("orders_log", ReplFields({{"isin_id", "i4", 4},
                                             {"private_action", "i4", 4},
                                             {"amount", "i4", 4},
                                             {"comment", "c20", 20},
                                             {"price", "d16.5", 9},
                                             {"moment", "t", 10}}))
            .Table("user_deal", ReplFields({{"isin_id", "i4", 4}, {"amount", "i4", 4}}))
            .Table("heartbeat", ReplFields({{"server_time", "t", 10}}))
            .Table("plain", ReplFields({{"note", "c10", 10}}))
            .Table("pair", {{"replID", "i8", 8}, {"replRev", "i8", 8}});
        Ref.Table("fut_sess_contents", ReplFields({{"isin_id", "i4", 4},
                                                   {"isin", "c25", 25},
                                                   {"short_isin", "c25", 25},
                                                   {"name", "c75", 75}}))
            .Table("opt_sess_contents", ReplFields({{"isin_id", "i4", 4},
                                                    {"isin", "c25", 25},
                                                    {"short_isin", "c25", 25},
                                                    {"name", "c75", 75}}))
            .Table("fut_bond_registry", ReplFields({{"bond_id", "i4", 4},
                                                    {"small_name", "c25", 25},
                                                    {"short_isin", "c25", 25},
                                                    {"name", "c75", 75}}))
            .Table("sys_messages", ReplFields({{"lang_code", "c8", 8}, {"text", "c255", 255}}));
        Store.SetStreams({"FORTS_TRADE_REPL", "FORTS_REFDATA_REPL"});
        std::array<TEvent, kKeyTableCount> grid;
        for (unsigned i = 0; i < kKeyTableCount; ++i)
            grid[i] = Grid.Event(i);
        Store.SetGridEvents(grid);
        Lsn.resize(2);
        Open(kTrade, Trade);
        Open(kRef, Ref);
    }
    void TearDown() override { CG() = FSavedCG; }

    void Open(int idx, TTestScheme& scheme) {
        Lsn[static_cast<std::size_t>(idx)].Pos = idx;
        Lsn[static_cast<std::size_t>(idx)].sName =
            idx == kTrade ? "FORTS_TRADE_REPL" : "FORTS_REFDATA_REPL";
        Store.SetTblsDesc(idx, Lsn[static_cast<std::size_t>(idx)], scheme.Desc());
    }

    void Send(int stream, const TRowBytes& row) {
        Store.UpdStrMsg(row.Msg(), Lsn[static_cast<std::size_t>(stream)]);
    }

    TRowBytes Order(std::int64_t id, std::int32_t isin = 7, std::int32_t amount = 1,
                    std::int64_t act = 0) {
        TRowBytes r(Trade, "orders_log");
        r.Key(id, 1, act).Int("isin_id", isin).Int("private_action", 1).Int("amount", amount);
        return r;
    }

    // The store's own rows of a table, through a snapshot.
    std::shared_ptr<TRows> RowsOf(int stream, const std::string& table) {
        TMarketData md;
        Store.GetData(md);
        const TTestScheme& s = stream == kTrade ? Trade : Ref;
        return md.Streams[static_cast<std::size_t>(stream)].Tables[s.Index(table)].Values;
    }

    // Indices of the events signalled since the last call; resets them.
    static std::set<unsigned> Drain(TEventSet& set) {
        std::set<unsigned> got;
        for (unsigned i = set.WaitAnyFor(0); i < set.Count(); i = set.WaitAnyFor(0))
            got.insert(i);
        return got;
    }

    static std::string Text(const TRowView& row, const std::string& field) {
        return ValueToStr(row.Field(field).Data);
    }
    static std::int32_t Int(const TRowView& row, const std::string& field) {
        return VarAsInteger(row.Field(field).Data);
    }

    TTestScheme Trade;
    TTestScheme Ref;
    TCGStorage Store;
    TEventSet Grid{kKeyTableCount};
    TEventSet Experts{8};
    std::vector<TStreamData> Lsn;
    TCGateEntryPoints FSavedCG;
};

} // namespace vorlen::test
