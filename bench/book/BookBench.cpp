// What the order books cost and how often a book window repaints.
//
//   book_overhead_vs_store: the store applying aggregated order-book messages with the books
//     following it, against the store alone. 200 instruments with 20 price levels a side are
//     loaded first, then 2,000,000 messages arrive: 80% volume changes of a live level, 10%
//     levels removed, 10% levels added at a new price. Both sides get the very same messages.
//     The sides run in pairs, one right after the other and which first alternating; the ratio
//     is the median of the pairs' own ratios. On a shared two-core machine a whole run of the
//     bench can be a fifth slower than the next, and a ratio of the sides' fastest runs, taken
//     seconds apart, moved by as much as that.
//   book_repaints_per_s: (when built with the windows) a book window on the offline exchange
//     running at its maximum rate; the ladder's repaints per second over a few seconds.

#include "FastestRunReporter.h"
#include "book/BookKeeper.h"
#include "gateway/Cgate.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

#if defined(VORLEN_BOOK_REPAINTS)
double RepaintsPerSecond(int argc, char** argv);
#endif

namespace vorlen {
namespace {

constexpr std::int32_t kInstruments = 200;
constexpr int kLevels = 20;
constexpr std::size_t kMessages = 2'000'000;
constexpr std::size_t kBatch = 65'536;

const test::TTestScheme& Scheme() {
    static const test::TTestScheme scheme = [] {
        test::TTestScheme s;
        s.Table("orders_aggr", test::ReplFields({{"isin_id", "i4", 4},
                                                 {"price", "d16.5", 9},
                                                 {"volume", "i8", 8},
                                                 {"moment", "t", 10},
                                                 {"moment_ns", "u8", 8},
                                                 {"dir", "i1", 1},
                                                 {"timestamp", "u8", 8},
                                                 {"sess_id", "i4", 4}}));
        return s;
    }();
    return scheme;
}

// A seeded stream of aggregated-book messages over a model of the live levels.
class TFeed {
public:
    TFeed() : FRow(Scheme(), "orders_aggr") {
        for (std::size_t i = 0; i < kFields.size(); ++i)
            FField[i] = &FRow.Field(kFields[i]);
    }
    std::size_t Size() const { return FRow.Bytes.size(); }

    void Preload(std::vector<std::uint8_t>& out) {
        out.clear();
        for (std::int32_t isin = 1; isin <= kInstruments; ++isin)
            for (int side = 0; side < 2; ++side)
                for (int level = 0; level < kLevels; ++level)
                    Add(out, isin, side, 100000 + (side == 0 ? -1 : 1) * (level + 1));
    }

    void Next(std::vector<std::uint8_t>& out, std::size_t count) {
        out.clear();
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned dice = static_cast<unsigned>(FRng() % 100);
            const std::size_t at = FRng() % FLive.size();
            const TLevel l = FLive[at];
            if (dice < 80) {
                Put(out, l, Volume(), 0);
            } else if (dice < 90) {
                FLive[at] = FLive.back();
                FLive.pop_back();
                Put(out, l, 0, 1);
            } else {
                Add(out, l.Isin, l.Side,
                    100000 + (l.Side == 0 ? -1 : 1) * static_cast<std::int64_t>(1 + FRng() % 60));
            }
        }
    }

private:
    struct TLevel {
        std::int64_t Id;
        std::int32_t Isin;
        int Side;
        std::int64_t Price;
    };

    std::int64_t Volume() { return 1 + static_cast<std::int64_t>(FRng() % 500); }

    void Add(std::vector<std::uint8_t>& out, std::int32_t isin, int side, std::int64_t price) {
        FLive.push_back({++FLastId, isin, side, price});
        Put(out, FLive.back(), Volume(), 0);
    }

    // Two million messages a run: the fields are found by name once, not for every message.
    void Put(std::vector<std::uint8_t>& out, const TLevel& l, std::int64_t volume,
             std::int64_t act) {
        ++FRev;
        const std::int64_t values[] = {l.Id,   FRev,       act,  l.Isin, l.Price,
                                       volume, l.Side + 1, FRev, 7};
        static_assert(std::size(values) == kFields.size());
        for (std::size_t i = 0; i < kFields.size(); ++i) {
            const cg_field_desc_t& f = *FField[i];
            // At most eight bytes: the price's ninth, its decimal scale, stays 0.
            std::memcpy(FRow.Bytes.data() + f.offset, &values[i], std::min<std::size_t>(f.size, 8));
        }
        out.insert(out.end(), FRow.Bytes.begin(), FRow.Bytes.end());
    }

    static constexpr std::array<const char*, 9> kFields = {"replID",  "replRev",   "replAct",
                                                           "isin_id", "price",     "volume",
                                                           "dir",     "moment_ns", "sess_id"};
    test::TRowBytes FRow;
    std::array<const cg_field_desc_t*, kFields.size()> FField{};
    std::mt19937_64 FRng{20261209};
    std::int64_t FLastId = 0;
    std::int64_t FRev = 0;
    std::vector<TLevel> FLive;
};

struct TSide {
    explicit TSide(bool books) {
        if (books) {
            keeper = std::make_unique<TBookKeeper>(store.Mutex());
            store.SetObserver(keeper.get());
        }
        store.SetStreams({"FORTS_AGGR20_REPL"});
        lsn.sName = "FORTS_AGGR20_REPL";
        store.SetTblsDesc(0, lsn, Scheme().Desc());
    }
    ~TSide() { store.SetObserver(nullptr); }
    // The messages share holds of the store's lock, as the market-data connection's do.
    void Feed(const std::vector<std::uint8_t>& batch, std::size_t size) {
        cg_msg_streamdata_t msg{};
        msg.type = CG_MSG_STREAM_CHANGED;
        msg.data_size = size;
        TCGStorage::TBatch run(store);
        for (std::size_t at = 0; at < batch.size(); at += size) {
            msg.data = const_cast<std::uint8_t*>(batch.data() + at);
            run.UpdStrMsg(msg, lsn);
        }
        run.Release();
    }
    TCGStorage store;
    std::unique_ptr<TBookKeeper> keeper;
    TStreamData lsn;
};

void Run(benchmark::State& state, bool books) {
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        state.PauseTiming();
        TFeed feed;
        std::vector<std::uint8_t> batch;
        auto side = std::make_unique<TSide>(books);
        feed.Preload(batch);
        side->Feed(batch, feed.Size());
        for (std::size_t done = 0; done < kMessages; done += kBatch) {
            feed.Next(batch, std::min(kBatch, kMessages - done));
            state.ResumeTiming();
            side->Feed(batch, feed.Size());
            state.PauseTiming();
        }
        if (books) {
            TBookSnapshot probe;
            side->keeper->Snapshot(1, probe);
            if (probe.Bids.empty() && probe.Asks.empty())
                state.SkipWithError("the books did not follow the store");
        }
        side.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kMessages));
}

constexpr int kPairs = 7;

void Register() {
    const auto side = [](const char* name, bool books) {
        benchmark::RegisterBenchmark(name, [books](benchmark::State& s) { Run(s, books); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    };
    for (int i = 0; i < kPairs; ++i) {
        if (i % 2 == 0) {
            side("BM_Store", false);
            side("BM_StoreAndBooks", true);
        } else {
            side("BM_StoreAndBooks", true);
            side("BM_Store", false);
        }
    }
}

// The median of the pairs' ratios; 0 when no pair ran whole.
double PairRatio(const std::vector<double>& store, const std::vector<double>& books) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < store.size() && i < books.size(); ++i)
        if (store[i] > 0)
            ratios.push_back(books[i] / store[i]);
    if (ratios.empty())
        return 0;
    std::sort(ratios.begin(), ratios.end());
    return ratios[ratios.size() / 2];
}

} // namespace
} // namespace vorlen

int main(int argc, char** argv) {
    vorlen::CG().cg_bcd_get = vorlen::test::TestBcdGet;
    vorlen::Register();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    vorlen::bench::TFastestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double ratio =
        vorlen::PairRatio(reporter.All["BM_Store"], reporter.All["BM_StoreAndBooks"]);
    if (ratio <= 0) {
        std::fprintf(stderr, "book_overhead_vs_store: both benchmarks must run\n");
        return 1;
    }
    const auto& fastest = reporter.Times;
    std::fflush(stdout);
    std::printf("ratio of the sides' fastest runs: %.2f\n",
                fastest.at("BM_StoreAndBooks") / fastest.at("BM_Store"));
    std::printf("book_overhead_vs_store: %.2f\n", ratio);
#if defined(VORLEN_BOOK_REPAINTS)
    std::fflush(stdout);
    const double repaints = RepaintsPerSecond(argc, argv);
    std::printf("book_repaints_per_s: %.1f\n", repaints);
#endif
    return 0;
}
