#pragma once

// A replica holding only the trader's orders log (FORTS_TRADE_REPL.orders_log) with the fields
// the order path reads, and rows for it: enough for the own-orders window, its tests and its
// figures. Set CG().cg_bcd_get to test::TestBcdGet first (the prices are decimals).

#include "store/Storage.h"
#include "store/TestScheme.h"

#include <cstdint>

namespace vorlen::test {

class TOrdersLogStore {
public:
    TOrdersLogStore() {
        Scheme.Table("orders_log", ReplFields({{"public_order_id", "i8", 8},
                                               {"isin_id", "i4", 4},
                                               {"client_code", "c7", 7},
                                               {"dir", "i1", 1},
                                               {"price", "d16.5", 9},
                                               {"public_action", "i1", 1},
                                               {"public_amount", "i8", 8},
                                               {"public_amount_rest", "i8", 8},
                                               {"id_deal", "i8", 8},
                                               {"moment_ns", "u8", 8},
                                               {"ext_id", "i4", 4},
                                               {"login_from", "c20", 20},
                                               {"sess_id", "i4", 4}}));
        Store.SetStreams({"FORTS_TRADE_REPL"});
        Lsn.sName = "FORTS_TRADE_REPL";
        Store.SetTblsDesc(0, Lsn, Scheme.Desc());
    }

    // Order `order` placed for 5 lots (action 1), or one lot of it traded (action 2) or the
    // rest cancelled (action 0), leaving `rest`. Orders are placed two at a moment, the later
    // ones later; odd ones buy.
    void Row(std::int64_t order, int action, std::int64_t rest) {
        TRowBytes row(Scheme, "orders_log");
        ++Rows;
        row.Key(Rows)
            .Int("public_order_id", order)
            .Int("isin_id", 7)
            .Text("client_code", "FZ00001")
            .Int("dir", order % 2 == 1 ? 1 : 2)
            .Decimal("price", 9'000'000 + order % 50, 0)
            .Int("public_action", action)
            .Int("public_amount", action == 1 ? 5 : 1)
            .Int("public_amount_rest", rest)
            .Int("id_deal", action == 2 ? Rows : 0)
            .Int("moment_ns", 1'765'000'000'000'000'000 + order / 2 * 1'000'000)
            .Text("login_from", "trader")
            .Int("sess_id", 5123);
        Store.UpdStrMsg(row.Msg(), Lsn);
    }

    TTestScheme Scheme;
    TCGStorage Store;
    TStreamData Lsn;
    std::int64_t Rows = 0;
};

} // namespace vorlen::test
