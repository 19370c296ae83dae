// Feeds arbitrary bytes to the replica store as the market-data thread would: stream-data
// messages with any table index, stream index, data size and bytes, interleaved with life-number
// clears, deleted-row clears, instrument-list builds and journal-style removals. A plain model of
// the replica (tests/store/ReferenceStore.h) takes the same operations; any difference between
// the store's rows and the model's, in order or in any field's value, is a fault.

#include "gateway/Cgate.h"
#include "store/ReferenceStore.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace {

using namespace vorlen;
using test::ReplFields;
using test::SameValue;

const test::TTestScheme& Scheme() {
    static const test::TTestScheme scheme = [] {
        test::TTestScheme s;
        s.Table("orders_log", ReplFields({{"isin_id", "i4", 4},
                                          {"ch", "a", 1},
                                          {"i2", "i2", 2},
                                          {"u8", "u8", 8},
                                          {"f", "f", 8},
                                          {"price", "d16.5", 9},
                                          {"moment", "t", 10},
                                          {"comment", "c20", 20},
                                          {"blob", "b4", 4},
                                          {"var", "z", 12},
                                          {"wide", "i8", 4},
                                          {"odd", "x", 3}}));
        s.Table("heartbeat", ReplFields({{"server_time", "t", 10}}));
        s.Table("pair", {{"replID", "i8", 8}, {"replRev", "i8", 8}});
        s.Table("fut_sess_contents", ReplFields({{"isin_id", "i4", 4},
                                                 {"isin", "c25", 25},
                                                 {"short_isin", "c25", 25},
                                                 {"name", "c75", 75}}));
        s.Table("sys_messages", ReplFields({{"lang_code", "c8", 8}, {"text", "c255", 255}}));
        return s;
    }();
    return scheme;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool installed = [] {
        CG().cg_bcd_get = test::TestBcdGet;
        return true;
    }();
    (void)installed;
    const test::TTestScheme& scheme = Scheme();
    FuzzedDataProvider in(data, size);

    TCGStorage store;
    test::TReferenceStore model({"FORTS_TRADE_REPL", "FORTS_REFDATA_REPL"});
    TStreamData lsn;
    lsn.sName = "FORTS_TRADE_REPL";
    store.SetStreams({"FORTS_TRADE_REPL", "FORTS_REFDATA_REPL"});
    store.SetTblsDesc(0, lsn, scheme.Desc());
    model.Describe(0, scheme.Desc());

    // Consecutive messages share one hold of the lock, as one cg_conn_process call's do.
    TCGStorage::TBatch run(store);
    while (in.remaining_bytes() > 0) {
        const auto op = in.ConsumeIntegralInRange<int>(0, 15);
        if (op > 10)
            run.Release();
        if (op <= 10) {
            cg_msg_streamdata_t msg{};
            msg.type = CG_MSG_STREAM_CHANGED;
            msg.msg_index = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::size_t>(0, 6)
                                             : in.ConsumeIntegral<std::size_t>();
            TStreamData sd = lsn;
            if (in.ConsumeIntegralInRange<int>(0, 15) == 0)
                sd.Pos = in.ConsumeIntegral<std::int32_t>();
            // The message's data is a heap block of exactly its size: a read past it is caught.
            std::vector<std::uint8_t> bytes;
            if (msg.msg_index < scheme.Count() && in.ConsumeBool()) {
                // Shaped like a row of its table: one of a few ids, mostly kept, a few bytes
                // changed, now and then cut short; so rows are refilled, not only rejected.
                bytes.assign(scheme.Message(msg.msg_index).size, 0);
                // Every table here has its key at 0 and, if any, its deletion mark at 16.
                bytes[0] = in.ConsumeIntegralInRange<std::uint8_t>(0, 7);
                if (bytes.size() > 16)
                    bytes[16] = in.ConsumeIntegralInRange<int>(0, 7) == 0 ? 1 : 0;
                for (auto n = in.ConsumeIntegralInRange<int>(0, 6); n > 0; --n)
                    bytes[in.ConsumeIntegralInRange<std::size_t>(8, bytes.size() - 1)] =
                        in.ConsumeIntegral<std::uint8_t>();
                if (in.ConsumeIntegralInRange<int>(0, 7) == 0)
                    bytes.resize(in.ConsumeIntegralInRange<std::size_t>(0, bytes.size()));
            } else {
                bytes =
                    in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 400));
            }
            msg.data_size = bytes.size();
            msg.data = bytes.empty() ? nullptr : const_cast<std::uint8_t*>(bytes.data());
            run.UpdStrMsg(msg, sd);
            model.Update(msg, sd.Pos);
        } else if (op == 11) {
            const auto idx = in.ConsumeIntegralInRange<std::int32_t>(-1, 2);
            store.LNClearTables(idx);
            model.LifeNumberClear(idx);
        } else if (op == 12) {
            const auto idx = in.ConsumeIntegralInRange<std::int32_t>(-1, 2);
            const std::vector<std::uint8_t> rec =
                in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 20));
            store.ClearDeleted(idx, rec.empty() ? nullptr : rec.data(), rec.size());
            model.ClearDeleted(idx, rec.empty() ? nullptr : rec.data(), rec.size());
        } else if (op == 13) {
            // Reads every row of the instrument tables; sanitizers watch it.
            store.SetCLTFut(in.ConsumeBool());
            store.BuildHeaders();
        } else if (op == 14) {
            const auto no = in.ConsumeIntegralInRange<std::int32_t>(-1, 8);
            const auto id = in.ConsumeIntegral<std::int64_t>();
            if (store.RemoveRow(no, id) != model.RemoveRow(no, id))
                std::abort();
        } else {
            // The listener opened again: same scheme, tables emptied.
            TStreamData again;
            store.SetTblsDesc(0, again, scheme.Desc());
            model.Describe(0, scheme.Desc());
        }
    }
    run.Release();
    if (!test::Difference(store, model, 2).empty())
        std::abort();
    return 0;
}
