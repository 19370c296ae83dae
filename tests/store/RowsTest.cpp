#include "store/ReferenceStore.h"
#include "store/StoreFixture.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <malloc.h>
#endif
#include <map>
#include <new>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

// Counts allocations made by the current thread while a test asks for it. Every form of the
// global allocation functions is replaced, so each pair matches under the sanitizers.
namespace {
thread_local bool tCounting = false;
thread_local std::size_t tAllocations = 0;

void* Allocate(std::size_t size, std::size_t align = 0) {
    if (tCounting)
        ++tAllocations;
    size = size != 0 ? size : 1;
#ifdef _WIN32
    // The Windows C runtime has no aligned_alloc, and its aligned blocks must go back through
    // _aligned_free: every aligned form takes this path, so every aligned delete can use it.
    if (align != 0)
        return _aligned_malloc(size, align);
#else
    if (align > alignof(std::max_align_t))
        return std::aligned_alloc(align, (size + align - 1) / align * align);
#endif
    return std::malloc(size);
}
void FreeAligned(void* p) {
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}
void* AllocateOrThrow(std::size_t size, std::size_t align = 0) {
    if (void* p = Allocate(size, align))
        return p;
    throw std::bad_alloc();
}
} // namespace

// clang-format off
void* operator new(std::size_t n) { return AllocateOrThrow(n); }
void* operator new[](std::size_t n) { return AllocateOrThrow(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return AllocateOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return AllocateOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return Allocate(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return Allocate(n, static_cast<std::size_t>(a)); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(p); }
// clang-format on

namespace vorlen::test {
namespace {

// Every kind of field the gateway sends, for checking rows against a plain conversion of the
// last message each row received.
std::vector<TFieldSpec> AllKinds() {
    return ReplFields({{"isin_id", "i4", 4},
                       {"ch", "a", 1},
                       {"i1", "i1", 1},
                       {"i2", "i2", 2},
                       {"u2", "u2", 2},
                       {"u8", "u8", 8},
                       {"f", "f", 8},
                       {"price", "d16.5", 9},
                       {"moment", "t", 10},
                       {"code", "c5", 5},
                       {"comment", "c20", 20},
                       {"blob", "b4", 4},
                       {"var", "z", 12},
                       {"odd", "x", 3}});
}

class RowsTest : public StoreFixture {
protected:
    void SetUp() override {
        StoreFixture::SetUp();
        Mixed.Table("mixed", AllKinds());
        Lsn.resize(3);
        Lsn[2].Pos = 2;
        Lsn[2].sName = "MIXED";
    }

    // Random bytes for one field, now and then shaped so that it converts to a real value.
    static void Scramble(std::mt19937& rng, TRowBytes& r, const cg_field_desc_t& f) {
        std::uniform_int_distribution<int> byte(0, 255);
        std::uint8_t* p = r.Bytes.data() + f.offset;
        for (std::size_t i = 0; i < f.size; ++i)
            p[i] = static_cast<std::uint8_t>(byte(rng));
        const std::string type = f.fild_type;
        if (type == "c5" || type == "c20") {
            if (rng() % 2 == 0) // short ASCII text
                r.Text(f.name, std::string(rng() % f.size, static_cast<char>('a' + rng() % 26)));
        } else if (type == "t" && rng() % 2 == 0) {
            cg_time_t t{2024, 3, static_cast<std::uint8_t>(1 + rng() % 28), 10, 20, 30, 0, 250};
            r.Time(f.name, t);
        } else if (type == "z" && rng() % 2 == 0) {
            const std::uint32_t n = rng() % 9;
            std::memcpy(p, &n, 4);
        }
    }

    TTestScheme Mixed;
};

TEST_F(RowsTest, RowsHoldWhatTheLastMessageConvertsTo) {
    for (TCGStorage* store : {&Store}) {
        store->SetStreams({"A", "B", "MIXED"});
        store->SetTblsDesc(2, Lsn[2], Mixed.Desc());
    }
    const cg_message_desc_t& desc = Mixed.Message(0);
    std::map<std::int64_t, std::pair<std::vector<std::uint8_t>, std::size_t>> last;
    std::map<std::int64_t, TRowBytes> current;
    std::mt19937 rng(12345);

    for (int step = 0; step < 4000; ++step) {
        const std::int64_t id = 1 + static_cast<std::int64_t>(rng() % 24);
        auto [it, fresh] = current.try_emplace(id, Mixed, "mixed");
        TRowBytes& r = it->second;
        if (fresh)
            for (const cg_field_desc_t* f = desc.fields; f != nullptr; f = f->next)
                Scramble(rng, r, *f);
        // Few fields change per message, as on a real stream.
        for (unsigned n = rng() % 4; n > 0; --n) {
            const cg_field_desc_t* f = desc.fields;
            for (unsigned k = 3 + rng() % (desc.num_fields - 3); k > 0; --k)
                f = f->next;
            Scramble(rng, r, *f);
        }
        const std::int64_t act = rng() % 10 == 0 ? 1 : 0;
        r.Key(id, step, act);
        // Now and then a message cut short, even inside a field.
        const std::size_t size = rng() % 8 == 0 ? 8 + rng() % (r.Bytes.size() - 8) : r.Bytes.size();
        const cg_msg_streamdata_t msg = r.Msg(size);
        Store.UpdStrMsg(msg, Lsn[2]);
        // A message cut before its deletion mark has no 0 there: it deletes.
        if (act == 0 && size >= 24)
            last[id] = {std::vector<std::uint8_t>(r.Bytes.begin(), r.Bytes.begin() + size), size};
        else
            last.erase(id);
    }

    for (TCGStorage* store : {&Store}) {
        TMarketData md;
        store->GetData(md);
        const TRows& rows = *md.Streams[2].Tables[0].Values;
        ASSERT_EQ(rows.Size(), last.size());
        for (const auto& [id, bytes] : last) {
            const TRowView row = rows.Find(id);
            ASSERT_TRUE(row) << id;
            std::size_t pos = 0;
            TField scratch;
            for (const cg_field_desc_t* f = desc.fields; f != nullptr; f = f->next, ++pos) {
                const TValue expected = FieldToVariant(*f, bytes.first.data(), bytes.second);
                row.Get(static_cast<int>(pos), scratch);
                EXPECT_TRUE(SameValue(scratch.Data, expected)) << "row " << id << " " << f->name;
                EXPECT_STREQ(scratch.FType, f->fild_type);
                EXPECT_TRUE(SameValue(row.Field(f->name).Data, expected));
            }
        }
    }
}

// What a follower of the store is told, in order, with the bytes it is shown; what it hears of
// the first table, which it follows in bulk, in a log of its own (a run tells the rows it stored
// and deleted when it ends, whatever other tables' rows came meanwhile). It keeps bytes of its
// own in the rows (a different number per table) and counts every time they are not what it
// left there: a new row's must be zero, a known row's (or the copy of a deleted one's) what the
// last call about it wrote.
class TRecordingObserver final : public TStoreObserver {
public:
    void OnStreams(const std::vector<std::string>& names) override {
        Log.push_back("streams " + std::to_string(names.size()));
    }
    TFollow OnTableDescribed(std::int32_t stream, std::int32_t table, const cg_message_desc_t&,
                             const std::shared_ptr<const TRows>&) override {
        Log.push_back("described " + std::to_string(stream) + "/" + std::to_string(table));
        return {table == 0 ? 16u : 8u, table == 0};
    }
    void OnRowsStored(std::int32_t, std::int32_t table, std::span<const TStoredRow> rows,
                      TRowView latest) override {
        std::int64_t last = 0;
        bool stored = false;
        for (const TStoredRow& r : rows) {
            const std::int64_t id = r.ReplId;
            std::array<std::uint8_t, 16> seen{};
            std::memcpy(seen.data(), r.Trailer, seen.size());
            std::int64_t mark[2];
            std::memcpy(mark, seen.data(), sizeof mark);
            // What this follower wrote: the row's id, then a count that is never zero.
            const bool faithful = mark[1] != 0 ? mark[0] == id && seen == Notes[{table, id}]
                                               : seen == std::array<std::uint8_t, 16>{};
            if (!faithful)
                ++Faults;
            if (!r.Row) {
                // Gone, with a copy of the bytes it had: nothing of it is left to write.
                BulkLog.push_back("deleted " + std::to_string(id));
                Notes.erase({table, id});
                continue;
            }
            // The row as it stands when told, which a later message of the run may have
            // changed again: the store's own checks see to its bytes.
            BulkLog.push_back("stored " + std::to_string(id));
            if (r.Row.ReplId() != id)
                ++Faults;
            Write(table, id, r.Trailer, seen.size());
            last = id;
            stored = true;
        }
        // Every row is told here (no key), so the latest is the last one stored in the call.
        if (static_cast<bool>(latest) != stored || (latest && latest.ReplId() != last))
            ++Faults;
    }
    void OnRow(std::int32_t stream, std::int32_t table, const TRowChange& c) override {
        std::string line = "row " + std::to_string(stream) + "/" + std::to_string(table) + " " +
                           std::to_string(c.ReplId) + (c.Deleted ? " deleted " : " kept ");
        line.append(static_cast<const char*>(c.Data), c.Size);
        if (c.Previous)
            line.append(" was ").append(reinterpret_cast<const char*>(c.Previous.Data()),
                                        c.Previous.Size());
        (table == 0 ? BulkLog : Log).push_back(std::move(line));

        const std::size_t bytes = table == 0 ? 16 : 8;
        // The table followed in bulk hears of nothing one at a time.
        if ((c.Trailer != nullptr) != (c.Previous || !c.Deleted) || table == 0) {
            ++Faults;
            return;
        }
        if (c.Trailer == nullptr)
            return;
        std::array<std::uint8_t, 16> expected{};
        if (c.Previous)
            expected = Notes[{table, c.ReplId}];
        if (std::memcmp(c.Trailer, expected.data(), bytes) != 0)
            ++Faults;
        Write(table, c.ReplId, c.Trailer, bytes);
    }
    void OnRunApplied() noexcept override {}
    void OnStreamCleared(std::int32_t stream) override {
        Log.push_back("cleared " + std::to_string(stream));
    }
    void OnDeletedCleared(std::int32_t stream, std::int32_t table, std::int64_t rev) override {
        Log.push_back("deleted cleared " + std::to_string(stream) + "/" + std::to_string(table) +
                      " " + std::to_string(rev));
    }
    std::vector<std::string> Log, BulkLog;
    std::size_t Faults = 0;

private:
    void Write(std::int32_t table, std::int64_t id, void* trailer, std::size_t bytes) {
        std::array<std::uint8_t, 16> next{};
        const std::int64_t mark[2] = {id, static_cast<std::int64_t>(++Writes)};
        std::memcpy(next.data(), mark, bytes);
        std::memcpy(trailer, next.data(), bytes);
        Notes[{table, id}] = next;
    }
    std::map<std::pair<std::int32_t, std::int64_t>, std::array<std::uint8_t, 16>> Notes;
    std::uint64_t Writes = 0;
};

// The events of a set signalled since the last call, one bit each; taking them resets them.
std::uint64_t TakeSignals(TEventSet& set) {
    std::uint64_t bits = 0;
    for (unsigned e = set.WaitAnyFor(0); e < set.Count(); e = set.WaitAnyFor(0))
        bits |= std::uint64_t{1} << e;
    return bits;
}

// Thousands of rows through inserts, in-place changes, deletions (of known and unknown ids),
// messages cut short or running past the declared size, another table's messages among them,
// deleted-row clears, journal removals, life-number clears and a new description, checked
// against the plain model after every batch: the map's growth and back-shifted removals, block
// reuse, the arrival order's compaction and conversion on read must all agree with it. The
// store takes the messages in runs that share one hold of its lock, as the market-data
// connection gives them, from buffers that are spoilt as soon as each call returns; a twin store
// takes each on its own, and both must wake the same grids and experts and tell a follower the
// same things.
TEST_F(RowsTest, ManyOperationsLeaveWhatThePlainModelHolds) {
    TTestScheme scheme;
    scheme.Table("orders_log", AllKinds()).Table("heartbeat", ReplFields({{"n", "i4", 4}}));
    TCGStorage store, twin;
    TReferenceStore model({"FORTS_TRADE_REPL"});
    TRecordingObserver seen, twinSeen;
    TEventSet events(kKeyTableCount + 2), twinEvents(kKeyTableCount + 2);
    TStreamData lsn;
    lsn.sName = "FORTS_TRADE_REPL";
    for (auto [s, observer, set] :
         {std::tuple{&store, &seen, &events}, std::tuple{&twin, &twinSeen, &twinEvents}}) {
        s->SetObserver(observer);
        s->SetStreams({"FORTS_TRADE_REPL"});
        std::array<TEvent, kKeyTableCount> grid;
        for (unsigned k = 0; k < kKeyTableCount; ++k)
            grid[k] = set->Event(k);
        s->SetGridEvents(grid);
        // Two experts on instruments the rows name now and then.
        s->RegEvent(3, set->Event(kKeyTableCount));
        s->RegEvent(77, set->Event(kKeyTableCount + 1));
    }
    TStreamData twinLsn = lsn;
    store.SetTblsDesc(0, lsn, scheme.Desc());
    twin.SetTblsDesc(0, twinLsn, scheme.Desc());
    model.Describe(0, scheme.Desc());
    const cg_message_desc_t& desc = scheme.Message(0);
    std::mt19937 rng(2024);
    std::int64_t rev = 0;
    TRowBytes r(scheme, "orders_log"), beat(scheme, "heartbeat");
    std::vector<std::uint8_t> longer;

    for (int batch = 0; batch < 60; ++batch) {
        // Ids crowd into a narrow range in some batches, so that removals shift long runs.
        const std::int64_t range = batch % 3 == 0 ? 40 : 3000;
        TCGStorage::TBatch run(store);
        for (int step = 0; step < 400; ++step) {
            const std::int64_t id = static_cast<std::int64_t>(rng() % range) * (batch % 2 + 1);
            for (const cg_field_desc_t* f = desc.fields; f != nullptr; f = f->next)
                if (rng() % 3 == 0)
                    Scramble(rng, r, *f);
            if (rng() % 4 == 0)
                r.Int("isin_id", rng() % 2 == 0 ? 3 : 77);
            const unsigned dice = rng() % 20;
            r.Key(id, ++rev, dice == 0 ? 1 : 0);
            cg_msg_streamdata_t msg = r.Msg();
            if (dice == 1) {
                msg = r.Msg(8 + rng() % (r.Bytes.size() - 8));
            } else if (dice == 2) {
                // The variable-length field says it runs on past the declared record.
                longer.assign(r.Bytes.begin(), r.Bytes.end());
                longer.resize(r.Bytes.size() + 1 + rng() % 300, static_cast<std::uint8_t>(rng()));
                const auto n =
                    static_cast<std::uint32_t>(longer.size() - 4 - r.Field("var").offset);
                std::memcpy(longer.data() + r.Field("var").offset, &n, 4);
                msg.data = longer.data();
                msg.data_size = longer.size();
            } else if (dice == 3) {
                // Another table's message among them.
                beat.Key(id % 5, ++rev).Int("n", step);
                msg = beat.Msg();
            }
            // A run ends wherever a cg_conn_process call would.
            if (rng() % 64 == 0)
                run.Release();
            twin.UpdStrMsg(msg, twinLsn);
            model.Update(msg, 0);
            // The gateway's buffer and the listener's record the run is handed may be reused
            // as soon as the call returns, though the run applies the message later.
            {
                std::vector<std::uint8_t> gone(static_cast<const std::uint8_t*>(msg.data),
                                               static_cast<const std::uint8_t*>(msg.data) +
                                                   msg.data_size);
                TStreamData passing = lsn;
                cg_msg_streamdata_t handed = msg;
                handed.data = gone.data();
                run.UpdStrMsg(handed, passing);
                std::fill(gone.begin(), gone.end(), std::uint8_t{0xEE});
                passing.TableDecs.assign(passing.TableDecs.size(), nullptr);
            }
        }
        run.Release();
        const unsigned op = rng() % 6;
        if (op == 0) {
            const cg_data_cleardeleted_t clear{0, rev - static_cast<std::int64_t>(rng() % 800), 0};
            store.ClearDeleted(0, &clear, sizeof clear);
            twin.ClearDeleted(0, &clear, sizeof clear);
            model.ClearDeleted(0, &clear, sizeof clear);
        } else if (op == 1) {
            for (int k = 0; k < 50; ++k) {
                const auto id = static_cast<std::int64_t>(rng() % range);
                const bool removed = model.RemoveRow(1, id);
                ASSERT_EQ(store.RemoveRow(1, id), removed);
                ASSERT_EQ(twin.RemoveRow(1, id), removed);
            }
        } else if (op == 2 && batch % 10 == 0) {
            store.LNClearTables(0);
            twin.LNClearTables(0);
            model.LifeNumberClear(0);
        } else if (op == 3 && batch % 20 == 0) {
            TStreamData again, twinAgain;
            store.SetTblsDesc(0, again, scheme.Desc());
            twin.SetTblsDesc(0, twinAgain, scheme.Desc());
            model.Describe(0, scheme.Desc());
        }
        ASSERT_EQ(Difference(store, model, 1), "") << "after batch " << batch;
        ASSERT_EQ(Difference(twin, model, 1), "") << "after batch " << batch;
        ASSERT_EQ(seen.Log, twinSeen.Log) << "after batch " << batch;
        ASSERT_EQ(seen.BulkLog, twinSeen.BulkLog) << "after batch " << batch;
        ASSERT_EQ(seen.Faults + twinSeen.Faults, 0u) << "after batch " << batch;
        ASSERT_EQ(TakeSignals(events), TakeSignals(twinEvents)) << "after batch " << batch;
        seen.Log.clear();
        twinSeen.Log.clear();
        seen.BulkLog.clear();
        twinSeen.BulkLog.clear();
    }
    store.SetObserver(nullptr);
    twin.SetObserver(nullptr);
}

TEST_F(RowsTest, AnUpdateRefillsTheRowWithoutAllocating) {
    Send(kTrade, Order(1, 7, 1).Text("comment", "twelve chars"));
    TRowBytes update = Order(1, 8, 2).Text("comment", "another text");
    update.Decimal("price", 12345, 2);
    tAllocations = 0;
    tCounting = true;
    Send(kTrade, update);
    tCounting = false;
    EXPECT_EQ(tAllocations, 0u);
    const TRowView row = RowsOf(kTrade, "orders_log")->Find(1);
    EXPECT_EQ(Text(row, "comment"), "another text");
    EXPECT_DOUBLE_EQ(std::get<double>(row.Field("price").Data), 123.45);
}

TEST_F(RowsTest, DuplicateFieldNamesKeepTheLastLikeADictionary) {
    TTestScheme dup;
    dup.Table("t", ReplFields({{"isin_id", "i4", 4}, {"isin_id", "i4", 4}}));
    Lsn[kTrade] = {};
    Lsn[kTrade].Pos = kTrade;
    Store.SetTblsDesc(kTrade, Lsn[kTrade], dup.Desc());
    Store.RegEvent(2, Experts.Event(0));
    TRowBytes r(dup, "t");
    r.Key(1);
    std::int32_t first = 1, second = 2;
    std::memcpy(r.Bytes.data() + 24, &first, 4);
    std::memcpy(r.Bytes.data() + 28, &second, 4);
    Send(kTrade, r);
    EXPECT_EQ(Drain(Experts), std::set<unsigned>{0});
    TMarketData md;
    Store.GetData(md);
    EXPECT_EQ(Int(md.Streams[kTrade].Tables[0].Values->Find(1), "isin_id"), 2);
}

TEST_F(RowsTest, ReadersUnderTheLockNeverSeeAHalfWrittenRow) {
    constexpr int kMessages = 20000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::mt19937 rng(7);
        for (int i = 0; i < kMessages; ++i) {
            const std::int64_t id = 1 + static_cast<std::int64_t>(rng() % 200);
            const auto amount = static_cast<std::int32_t>(rng() % 100000);
            TRowBytes r = Order(id, 7, amount, rng() % 8 == 0 ? 1 : 0);
            r.Text("comment", "v" + std::to_string(amount));
            Send(kTrade, r);
        }
        done = true;
    });

    std::size_t seen = 0;
    TTable table;
    TField amount, comment;
    while (!done || seen == 0) {
        Store.GetTable(1, table);
        if (table.Values) {
            TCGStorage::TAccess access(Store);
            const TRows& rows = access.Rows(table);
            const int a = rows.IndexOf("amount");
            const int c = rows.IndexOf("comment");
            for (const TRowView row : rows) {
                row.Get(a, amount);
                row.Get(c, comment);
                ASSERT_EQ("v" + std::to_string(VarAsInteger(amount.Data)),
                          ValueToStr(comment.Data));
                ++seen;
            }
        }
        // The lock is not fair: a reader that takes it again at once can keep the writer out
        // for good.
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    writer.join();
    EXPECT_GT(seen, 0u);
}

} // namespace
} // namespace vorlen::test
