// Cost of the replica store's stream-data path, against copying each message into a slot of an
// open-addressing hash map keyed by replication id.
//
// Two streams. One is shaped like orders_log: 30 fields, ten of them text of 5 to 25 bytes.
// 100,000 rows are loaded first, then 2,000,000 messages arrive: 80% updates of a few fields of
// a live row, 15% new rows, 5% deletions. The other is an order book (orders_aggr): 5,000 price
// levels, then 2,000,000 updates of them only. Both sides get the very same messages; the
// baseline's arena is allocated before it is timed. Then a table of 1,000,000 rows is cleared
// as on a new life number, while another thread keeps taking the store's lock. The last lines:
//   ln_clear_lock_ms: <longest wait for the store's lock during the clear, wall time>
//   ln_clear_memory_given_back: <share of the table's memory the clear returned to the system>
//   store_aggr_vs_baseline: <store time / baseline time, order book>
//   store_vs_baseline: <store time / baseline time, orders_log>
//   store_bytes_per_row: <memory the store holds per live row, orders_log>

#include "FastestRunReporter.h"
#include "gateway/Cgate.h"
#include "platform/Events.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vorlen {
namespace {

using test::TFieldSpec;

constexpr std::size_t kPreload = 100'000;
constexpr std::size_t kMessages = 2'000'000;
constexpr std::size_t kBatch = 65'536;

const std::vector<TFieldSpec>& OrdersLog() {
    static const std::vector<TFieldSpec> fields = {
        {"replID", "i8", 8},          {"replRev", "i8", 8},      {"replAct", "i8", 8},
        {"id_ord", "i8", 8},          {"sess_id", "i4", 4},      {"client_code", "c7", 7},
        {"moment", "t", 10},          {"xstatus", "i8", 8},      {"status", "i4", 4},
        {"action", "i1", 1},          {"isin_id", "i4", 4},      {"dir", "i1", 1},
        {"price", "d16.5", 11},       {"amount", "i4", 4},       {"amount_rest", "i4", 4},
        {"comment", "c20", 20},       {"short_isin", "c25", 25}, {"user_code", "c5", 5},
        {"ext_id", "i4", 4},          {"login_from", "c20", 20}, {"broker_to", "c7", 7},
        {"broker_to_rts", "c7", 7},   {"date_exp", "c8", 8},     {"id_ord1", "i8", 8},
        {"broker_from_rts", "c7", 7}, {"init_moment", "t", 10},  {"init_amount", "i4", 4},
        {"deal_price", "d16.5", 11},  {"isin", "c25", 25},       {"private_action", "i4", 4},
    };
    return fields;
}

const std::vector<TFieldSpec>& OrdersAggr() {
    static const std::vector<TFieldSpec> fields = {
        {"replID", "i8", 8},   {"replRev", "i8", 8},   {"replAct", "i8", 8}, {"isin_id", "i4", 4},
        {"price", "d16.5", 9}, {"volume", "i8", 8},    {"moment", "t", 10},  {"moment_ns", "u8", 8},
        {"dir", "i1", 1},      {"timestamp", "u8", 8}, {"sess_id", "i4", 4},
    };
    return fields;
}

// The messages: a seeded, repeatable stream with a model of every live row, so that an update
// changes a few fields of what the row really holds.
class TFeed {
public:
    explicit TFeed(const test::TTestScheme& scheme) : FRow(scheme, "orders_log") {
        FSize = FRow.Bytes.size();
        FStatus = &FRow.Field("status");
        FRest = &FRow.Field("amount_rest");
        FXStatus = &FRow.Field("xstatus");
        FMoment = &FRow.Field("moment");
    }
    std::size_t Size() const { return FSize; }

    // Writes `count` messages, each Size() bytes, into `out`; the first kPreload are inserts.
    void Next(std::vector<std::uint8_t>& out, std::size_t count) {
        out.resize(count * FSize);
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t* msg = out.data() + i * FSize;
            const unsigned dice = FLive.size() < kPreload ? 90 : FRng() % 100;
            if (dice < 80)
                Update(msg);
            else if (dice < 95)
                Insert(msg);
            else
                Delete(msg);
        }
    }

private:
    std::uint8_t* Model(std::int64_t id) {
        return FModel.data() + static_cast<std::size_t>(id) * FSize;
    }

    std::string Ascii(std::size_t maxLen) {
        std::string s(3 + FRng() % (maxLen - 2), 'A');
        for (char& c : s)
            c = static_cast<char>('A' + FRng() % 26);
        return s;
    }

    void Insert(std::uint8_t* msg) {
        const std::int64_t id = ++FLastId;
        FModel.resize((static_cast<std::size_t>(id) + 1) * FSize);
        FLive.push_back(id);

        test::TRowBytes& r = FRow;
        std::fill(r.Bytes.begin(), r.Bytes.end(), 0);
        r.Key(id, ++FRev, 0).Int("id_ord", id * 7).Int("sess_id", 5123);
        r.Int("xstatus", FRng())
            .Int("status", 1)
            .Int("action", 1)
            .Int("isin_id", 100 + FRng() % 400);
        r.Int("dir", 1 + FRng() % 2).Int("amount", 1 + FRng() % 100).Int("amount_rest", 50);
        r.Int("ext_id", FRng() % 1000).Int("id_ord1", id).Int("init_amount", 10);
        r.Int("private_action", 1);
        r.Decimal("price", 8000000 + FRng() % 100000, 5).Decimal("deal_price", 0, 5);
        const cg_time_t t{2024, 3, 5, 10, 20, static_cast<std::uint8_t>(FRng() % 60), 0, 250};
        r.Time("moment", t).Time("init_moment", t);
        r.Text("client_code", Ascii(7)).Text("user_code", Ascii(5)).Text("login_from", Ascii(20));
        r.Text("broker_to", Ascii(7)).Text("broker_to_rts", Ascii(7)).Text("date_exp", "20250321");
        r.Text("broker_from_rts", Ascii(7)).Text("short_isin", Ascii(25)).Text("isin", Ascii(25));
        // One comment in ten is Cyrillic (code page 1251): its text differs from its bytes.
        r.Text("comment", FRng() % 10 == 0 ? "\xCA\xEE\xEC\xEC\xE5\xED\xF2 \xE7\xE0\xFF\xE2\xEA\xE8"
                                           : Ascii(20));
        std::memcpy(Model(id), r.Bytes.data(), FSize);
        std::memcpy(msg, r.Bytes.data(), FSize);
    }

    void Update(std::uint8_t* msg) {
        const std::int64_t id = FLive[FRng() % FLive.size()];
        std::uint8_t* row = Model(id);
        const std::int64_t rev = ++FRev;
        std::memcpy(row + 8, &rev, 8);
        const auto rest = static_cast<std::int32_t>(FRng() % 100);
        std::memcpy(row + FRest->offset, &rest, 4);
        const std::int64_t xstatus = FRng();
        std::memcpy(row + FXStatus->offset, &xstatus, 8);
        const std::int32_t status = 1 + static_cast<std::int32_t>(FRng() % 3);
        std::memcpy(row + FStatus->offset, &status, 4);
        row[FMoment->offset + 8] = static_cast<std::uint8_t>(FRng() % 250); // milliseconds
        std::memcpy(msg, row, FSize);
    }

    void Delete(std::uint8_t* msg) {
        const std::size_t at = FRng() % FLive.size();
        const std::int64_t id = FLive[at];
        FLive[at] = FLive.back();
        FLive.pop_back();
        std::memcpy(msg, Model(id), FSize);
        const std::int64_t rev = ++FRev, act = 1;
        std::memcpy(msg + 8, &rev, 8);
        std::memcpy(msg + 16, &act, 8);
    }

    test::TRowBytes FRow;
    std::size_t FSize;
    const cg_field_desc_t *FStatus, *FRest, *FXStatus, *FMoment;
    std::mt19937_64 FRng{20240305};
    std::int64_t FLastId = 0;
    std::int64_t FRev = 0;
    std::vector<std::int64_t> FLive;
    std::vector<std::uint8_t> FModel;
};

// Order-book levels: kAggrRows of them inserted first, then only their volume, time and
// revision change.
constexpr std::size_t kAggrRows = 5'000;

class TAggrFeed {
public:
    explicit TAggrFeed(const test::TTestScheme& scheme) : FRow(scheme, "orders_aggr") {
        FSize = FRow.Bytes.size();
        FVolume = &FRow.Field("volume");
        FMoment = &FRow.Field("moment");
        FStamp = &FRow.Field("timestamp");
    }
    std::size_t Size() const { return FSize; }

    void Next(std::vector<std::uint8_t>& out, std::size_t count) {
        out.resize(count * FSize);
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t* msg = out.data() + i * FSize;
            if (FModel.size() < kAggrRows * FSize)
                Insert(msg);
            else
                Update(msg);
        }
    }

private:
    void Insert(std::uint8_t* msg) {
        const auto id = static_cast<std::int64_t>(FModel.size() / FSize + 1);
        test::TRowBytes& r = FRow;
        std::fill(r.Bytes.begin(), r.Bytes.end(), 0);
        r.Key(id, ++FRev, 0).Int("isin_id", 100 + id % 50).Int("sess_id", 5123);
        r.Decimal("price", 8000000 + (id % 100) * 10, 5).Int("volume", 1 + FRng() % 500);
        r.Int("dir", 1 + id % 2).Int("moment_ns", FRng()).Int("timestamp", FRng());
        r.Time("moment", cg_time_t{2024, 3, 5, 10, 20, 30, 0, 250});
        FModel.insert(FModel.end(), r.Bytes.begin(), r.Bytes.end());
        std::memcpy(msg, r.Bytes.data(), FSize);
    }

    void Update(std::uint8_t* msg) {
        std::uint8_t* row = FModel.data() + FRng() % kAggrRows * FSize;
        const std::int64_t rev = ++FRev;
        std::memcpy(row + 8, &rev, 8);
        const std::int64_t volume = 1 + static_cast<std::int64_t>(FRng() % 500);
        std::memcpy(row + FVolume->offset, &volume, 8);
        const std::uint64_t stamp = FRng();
        std::memcpy(row + FStamp->offset, &stamp, 8);
        row[FMoment->offset + 8] = static_cast<std::uint8_t>(FRng() % 250);
        std::memcpy(msg, row, FSize);
    }

    test::TRowBytes FRow;
    std::size_t FSize;
    const cg_field_desc_t *FVolume, *FMoment, *FStamp;
    std::mt19937_64 FRng{20240306};
    std::int64_t FRev = 0;
    std::vector<std::uint8_t> FModel;
};

// The baseline: the message's bytes copied into the slot of its replication id in an
// open-addressing (linear probing) map; a deletion leaves a tombstone.
class TCopyMap {
public:
    // Room for `rows` records is allocated here, before anything is timed.
    TCopyMap(std::size_t recordSize, std::size_t rows) : FRecord(recordSize) {
        Rehash(1 << 18);
        FArena.resize(rows * FRecord);
    }

    void Apply(const std::uint8_t* data, std::size_t size) {
        if (size < FRecord)
            return;
        std::int64_t id, act;
        std::memcpy(&id, data, 8);
        std::memcpy(&act, data + 16, 8);
        std::size_t i = Hash(id) & FMask, grave = SIZE_MAX;
        for (; FSlots[i].State != kEmpty; i = (i + 1) & FMask) {
            if (FSlots[i].State == kFull && FSlots[i].Id == id)
                break;
            if (FSlots[i].State == kGrave && grave == SIZE_MAX)
                grave = i;
        }
        TSlot& found = FSlots[i];
        if (act != 0) {
            if (found.State == kFull) {
                found.State = kGrave;
                FFree.push_back(found.Rec);
                --FLive;
                ++FGraves;
            }
            return;
        }
        if (found.State == kFull) {
            std::memcpy(&FArena[found.Rec * FRecord], data, FRecord);
            return;
        }
        TSlot& slot = grave != SIZE_MAX ? FSlots[grave] : found;
        if (slot.State == kGrave)
            --FGraves;
        slot = {id, NewRecord(), kFull};
        std::memcpy(&FArena[slot.Rec * FRecord], data, FRecord);
        if (++FLive + FGraves > FSlots.size() / 2)
            Rehash(FLive * 4 > FSlots.size() ? FSlots.size() * 2 : FSlots.size());
    }
    std::size_t Live() const { return FLive; }

private:
    enum : std::uint32_t { kEmpty, kFull, kGrave };
    struct TSlot {
        std::int64_t Id;
        std::uint32_t Rec;
        std::uint32_t State;
    };
    static std::size_t Hash(std::int64_t id) {
        auto x = static_cast<std::uint64_t>(id) * 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(x ^ (x >> 29));
    }
    std::uint32_t NewRecord() {
        if (!FFree.empty()) {
            const std::uint32_t r = FFree.back();
            FFree.pop_back();
            return r;
        }
        if ((FUsed + 1) * FRecord > FArena.size())
            FArena.resize(FArena.size() * 2 + FRecord);
        return static_cast<std::uint32_t>(FUsed++);
    }
    void Rehash(std::size_t capacity) {
        std::vector<TSlot> old(capacity, TSlot{0, 0, kEmpty});
        old.swap(FSlots);
        FMask = capacity - 1;
        FGraves = 0;
        for (const TSlot& s : old) {
            if (s.State != kFull)
                continue;
            std::size_t i = Hash(s.Id) & FMask;
            while (FSlots[i].State != kEmpty)
                i = (i + 1) & FMask;
            FSlots[i] = s;
        }
    }

    std::size_t FRecord;
    std::vector<TSlot> FSlots;
    std::size_t FMask = 0;
    std::size_t FLive = 0;
    std::size_t FGraves = 0;
    std::vector<std::uint8_t> FArena;
    std::size_t FUsed = 0;
    std::vector<std::uint32_t> FFree;
};

const test::TTestScheme& Scheme() {
    static const test::TTestScheme scheme = [] {
        test::TTestScheme s;
        s.Table("orders_log", OrdersLog()).Table("orders_aggr", OrdersAggr());
        return s;
    }();
    return scheme;
}

// The store as the market-data connection feeds it, with the grid updater's events attached.
struct TStoreSide {
    TStoreSide() {
        store.SetStreams({"FORTS_TRADE_REPL"});
        std::array<TEvent, kKeyTableCount> events;
        for (unsigned i = 0; i < kKeyTableCount; ++i)
            events[i] = grid.Event(i);
        store.SetGridEvents(events);
        lsn.sName = "FORTS_TRADE_REPL";
        store.SetTblsDesc(0, lsn, Scheme().Desc());
    }
    void Apply(const std::uint8_t* data, std::size_t size) {
        cg_msg_streamdata_t msg{};
        msg.type = CG_MSG_STREAM_CHANGED;
        msg.msg_index = size == Scheme().Message(0).size ? 0 : 1;
        msg.data = const_cast<std::uint8_t*>(data);
        msg.data_size = size;
        batch.UpdStrMsg(msg, lsn);
    }
    // The end of what one cg_conn_process call delivered.
    void Done() { batch.Release(); }
    TEventSet grid{kKeyTableCount};
    TCGStorage store;
    TStreamData lsn;
    // Messages share a hold of the lock as the market-data connection's do.
    TCGStorage::TBatch batch{store};
};

template <class TSide>
void Feed(TSide& side, const std::vector<std::uint8_t>& batch, std::size_t size) {
    for (std::size_t at = 0; at < batch.size(); at += size)
        side.Apply(batch.data() + at, size);
    if constexpr (requires { side.Done(); })
        side.Done();
}

// Preloads the rows untimed, then times the 2,000,000 messages; batches are generated untimed.
template <class TSide, class TFeedOf, class... Args>
void Run(benchmark::State& state, std::size_t preload, Args... args) {
    for (auto _ : state) {
        state.PauseTiming();
        TFeedOf feed(Scheme());
        std::vector<std::uint8_t> batch;
        auto side = std::make_unique<TSide>(args...);
        feed.Next(batch, preload);
        Feed(*side, batch, feed.Size());
        for (std::size_t done = 0; done < kMessages; done += kBatch) {
            feed.Next(batch, std::min(kBatch, kMessages - done));
            state.ResumeTiming();
            Feed(*side, batch, feed.Size());
            state.PauseTiming();
        }
        side.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kMessages));
}

void BM_Store(benchmark::State& state) {
    Run<TStoreSide, TFeed>(state, kPreload);
}
void BM_Baseline(benchmark::State& state) {
    // Every row the feed ever inserts fits the arena allocated up front.
    Run<TCopyMap, TFeed>(state, kPreload, Scheme().Message(0).size, kPreload + kMessages / 5);
}
void BM_StoreAggr(benchmark::State& state) {
    Run<TStoreSide, TAggrFeed>(state, kAggrRows);
}
void BM_BaselineAggr(benchmark::State& state) {
    Run<TCopyMap, TAggrFeed>(state, kAggrRows, Scheme().Message(1).size, kAggrRows);
}
BENCHMARK(BM_Baseline)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_Store)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_BaselineAggr)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_StoreAggr)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

// Resident memory: the store's big chunks come straight from the system and never show in the
// allocator's figures.
std::size_t HeapInUse() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0, resident = 0;
    if (f != nullptr) {
        if (std::fscanf(f, "%lu %lu", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Memory the store holds per live row: only the store's own calls are inside the measured
// spans, so the feed's model and batches do not count.
double BytesPerRow() {
    TFeed feed(Scheme());
    std::vector<std::uint8_t> batch;
    std::size_t held = 0;
    const std::size_t before = HeapInUse();
    auto side = std::make_unique<TStoreSide>();
    held += HeapInUse() - before;
    for (std::size_t done = 0; done < kPreload + kMessages;) {
        const std::size_t n = done == 0 ? kPreload : std::min(kBatch, kPreload + kMessages - done);
        feed.Next(batch, n);
        const std::size_t start = HeapInUse();
        Feed(*side, batch, feed.Size());
        held += HeapInUse() - start;
        done += n;
    }
    TMarketData md;
    side->store.GetData(md);
    const std::size_t rows = md.Streams[0].Tables[0].Values->Size();
    return static_cast<double>(held) / static_cast<double>(rows);
}

struct TClearFigures {
    double LockMs = 0;
    double GivenBack = 0;
};

// A table of 1,000,000 rows cleared as on a new life number. Another thread takes and drops the
// store's lock all the while; its longest wait is how long the clear kept readers out.
TClearFigures LifeNumberClear() {
    constexpr std::size_t kRows = 1'000'000;
    TFeed feed(Scheme());
    std::vector<std::uint8_t> batch;
    auto side = std::make_unique<TStoreSide>();
    std::size_t held = 0;
    for (std::size_t done = 0; done < kRows; done += kBatch) {
        feed.Next(batch, std::min(kBatch, kRows - done));
        const std::size_t start = HeapInUse();
        Feed(*side, batch, feed.Size());
        held += HeapInUse() - start;
    }
    const std::size_t full = HeapInUse();
    std::atomic<bool> stop{false}, started{false};
    double longest = 0;
    std::thread reader([&] {
        using Clock = std::chrono::steady_clock;
        while (!stop) {
            const auto t0 = Clock::now();
            {
                const TCGStorage::TAccess access(side->store);
                started = true;
            }
            longest = std::max(
                longest, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            std::this_thread::yield();
        }
    });
    while (!started)
        std::this_thread::yield();
    side->store.LNClearTables(0);
    stop = true;
    reader.join();
    const std::size_t after = HeapInUse();
    TClearFigures f;
    f.LockMs = longest;
    f.GivenBack = held > 0 && full > after
                      ? static_cast<double>(full - after) / static_cast<double>(held)
                      : 0;
    return f;
}

} // namespace
} // namespace vorlen

namespace {
int RunAll(int argc, char** argv) {
    vorlen::CG().cg_bcd_get = vorlen::test::TestBcdGet;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    vorlen::bench::TFastestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& times = reporter.Times;
    for (const char* name : {"BM_Store", "BM_Baseline", "BM_StoreAggr", "BM_BaselineAggr"}) {
        if (!times.contains(name) || times.at(name) <= 0) {
            std::fprintf(stderr, "store_vs_baseline: every benchmark must run\n");
            return 1;
        }
    }
    const double bytes = vorlen::BytesPerRow();
    const vorlen::TClearFigures clear = vorlen::LifeNumberClear();
    std::fflush(stdout);
    std::printf("ln_clear_lock_ms: %.1f\n", clear.LockMs);
    std::printf("ln_clear_memory_given_back: %.2f\n", clear.GivenBack);
    std::printf("store_aggr_vs_baseline: %.2f\n",
                times.at("BM_StoreAggr") / times.at("BM_BaselineAggr"));
    std::printf("store_vs_baseline: %.2f\n", times.at("BM_Store") / times.at("BM_Baseline"));
    std::printf("store_bytes_per_row: %.0f\n", bytes);
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    try {
        return RunAll(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_store: %s\n", e.what());
        return 1;
    }
}
