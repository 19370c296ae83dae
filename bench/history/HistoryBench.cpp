// What recording the market costs.
//
//   record_on_vs_off: the market-data thread's cost per stream-data message with the recorder
//     on, against the recorder off, each around the same plain copy of the message's bytes
//     (what the store's hot path does anyway). Per message, over 400,000 messages.
//   record_vs_zstd: the recorder's throughput end to end (handing the messages over, frames
//     compressed, written and synced, the index beside them) against compressing the very same
//     record bytes in 1 MiB pieces with zstd alone at the same level, in the same run: above 1
//     is what the recorder adds to the compression it cannot avoid.
//   record_bytes_per_msg: the day file's size over the messages it holds.
//
// The messages are aggregated order-book rows of 200 instruments, 70 bytes each, whose prices
// and volumes move a little from one to the next, as they do on the exchange.

#include "FastestRunReporter.h"
#include "history/Reader.h"
#include "history/Recorder.h"
#include "store/TestScheme.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>
#include <zstd.h>

namespace vorlen {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMessages = 400'000;
const char* const kDay = "2026-12-10";

struct TFeed {
    test::TTestScheme Scheme;
    std::vector<std::vector<std::uint8_t>> Rows;
    std::vector<cg_msg_streamdata_t> Msgs;

    TFeed() {
        Scheme.Table("orders_aggr", test::ReplFields({{"isin_id", "i4", 4},
                                                      {"price", "d16.5", 9},
                                                      {"volume", "i8", 8},
                                                      {"moment", "t", 10},
                                                      {"dir", "i1", 1},
                                                      {"sess_id", "i4", 4},
                                                      {"moment_ns", "u8", 8}}));
        std::mt19937_64 random(11);
        Rows.reserve(kMessages);
        std::int64_t rev = 1;
        for (std::size_t i = 0; i < kMessages; ++i) {
            test::TRowBytes row(Scheme, "orders_aggr");
            const auto isin = static_cast<std::int64_t>(random() % 200);
            const std::int64_t level = static_cast<std::int64_t>(random() % 40);
            row.Key(isin * 100 + level, ++rev)
                .Int("isin_id", 100000 + isin)
                .Decimal("price", 1'000'000 + isin * 500 + level * 5, 2)
                .Int("volume", static_cast<std::int64_t>(random() % 500))
                .Int("dir", level < 20 ? 1 : 2)
                .Int("sess_id", 6120)
                .Int("moment_ns",
                     1'700'000'000'000'000'000LL + static_cast<std::int64_t>(i) * 7919);
            Rows.push_back(row.Bytes);
        }
        Msgs.reserve(kMessages);
        for (const auto& bytes : Rows) {
            cg_msg_streamdata_t m{};
            m.type = CG_MSG_STREAM_CHANGED;
            m.data = const_cast<std::uint8_t*>(bytes.data());
            m.data_size = bytes.size();
            m.rev = 1;
            Msgs.push_back(m);
        }
    }
};

const TFeed& Feed() {
    static const TFeed feed;
    return feed;
}

struct TScratch {
    TScratch() {
        std::string pattern = (fs::temp_directory_path() / "vorlen-histbench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        Dir = pattern;
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    fs::path Dir;
};

history::TRecorderOptions Options(const fs::path& dir) {
    history::TRecorderOptions o;
    o.Folder = dir;
    // Room for the whole run, so no message of the measurement is dropped for the thread
    // being late on a busy machine.
    o.BufferBytes = 64u << 20;
    return o;
}

// The store's copy of a row, standing for the hot path around the recorder.
std::vector<std::uint8_t>& Sink() {
    static std::vector<std::uint8_t> sink(256);
    return sink;
}

template <bool On>
void ProducerRun(benchmark::State& state) {
    const TFeed& feed = Feed();
    std::vector<std::uint8_t>& sink = Sink();
    for (auto _ : state) {
        state.PauseTiming();
        TScratch scratch;
        history::TRecorder recorder(Options(scratch.Dir), nullptr);
        if (On)
            recorder.Start(kDay);
        state.ResumeTiming();
        for (const cg_msg_streamdata_t& m : feed.Msgs) {
            std::memcpy(sink.data(), m.data, m.data_size);
            benchmark::DoNotOptimize(sink.data());
            recorder.StreamData(0, m);
        }
        state.PauseTiming();
        recorder.Stop();
        if (recorder.Lost() != 0)
            state.SkipWithError("messages were dropped");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kMessages));
}

void BM_RecordOff(benchmark::State& state) {
    ProducerRun<false>(state);
}
void BM_RecordOn(benchmark::State& state) {
    ProducerRun<true>(state);
}

double gBytesPerMessage = 0;
// Wall time, fastest run, in seconds: the recorder's work is on its own thread, which the CPU
// time of the benchmark's thread would leave out.
double gRecorderWall = 0;
double gZstdWall = 0;

void KeepFastest(double& best, std::chrono::steady_clock::time_point since) {
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
    if (best == 0 || s < best)
        best = s;
}

void BM_Recorder(benchmark::State& state) {
    const TFeed& feed = Feed();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        TScratch scratch;
        const auto start = std::chrono::steady_clock::now();
        {
            history::TRecorder recorder(Options(scratch.Dir), nullptr);
            recorder.Start(kDay);
            for (const cg_msg_streamdata_t& m : feed.Msgs)
                recorder.StreamData(0, m);
            recorder.Stop();
            if (recorder.Lost() != 0)
                state.SkipWithError("messages were dropped");
        }
        KeepFastest(gRecorderWall, start);
        state.PauseTiming();
        gBytesPerMessage =
            static_cast<double>(fs::file_size(history::DayFilePath(scratch.Dir, kDay))) /
            static_cast<double>(kMessages);
        state.ResumeTiming();
    }
}

// The same records the recorder writes, compressed by zstd alone in frames of the same size.
void BM_ZstdAlone(benchmark::State& state) {
    const TFeed& feed = Feed();
    std::string raw;
    for (std::size_t i = 0; i < feed.Msgs.size(); ++i) {
        const cg_msg_streamdata_t& m = feed.Msgs[i];
        char head[history::kRecordHeaderSize + 8];
        history::PutRecordHeader(head, history::TRecordKind::StreamData, 0, 0,
                                 static_cast<std::int64_t>(i) * 1000,
                                 static_cast<std::uint32_t>(8 + m.data_size));
        std::memcpy(head + history::kRecordHeaderSize, &m.rev, 8);
        raw.append(head, sizeof head);
        raw.append(static_cast<const char*>(m.data), m.data_size);
    }
    ZSTD_CCtx* ctx = ZSTD_createCCtx();
    std::string packed(ZSTD_compressBound(1u << 20), '\0');
    const int level = history::TRecorderOptions{}.Level;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        const auto start = std::chrono::steady_clock::now();
        std::size_t total = 0;
        for (std::size_t at = 0; at < raw.size(); at += 1u << 20) {
            const std::size_t n = std::min<std::size_t>(1u << 20, raw.size() - at);
            total +=
                ZSTD_compressCCtx(ctx, packed.data(), packed.size(), raw.data() + at, n, level);
        }
        benchmark::DoNotOptimize(total);
        KeepFastest(gZstdWall, start);
    }
    ZSTD_freeCCtx(ctx);
}

BENCHMARK(BM_RecordOff)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_RecordOn)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_Recorder)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->UseRealTime();
BENCHMARK(BM_ZstdAlone)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime();

} // namespace
} // namespace vorlen

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    vorlen::bench::TFastestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto& t = reporter.Times;
    for (const char* name : {"BM_RecordOff", "BM_RecordOn", "BM_Recorder", "BM_ZstdAlone"}) {
        if (!t.contains(name)) {
            std::fprintf(stderr, "history bench: %s must run\n", name);
            return 1;
        }
    }
    const double perMessage = 1e6 / static_cast<double>(vorlen::kMessages); // ms -> ns
    std::fflush(stdout);
    std::printf("producer ns/msg: off %.1f, on %.1f\n", t.at("BM_RecordOff") * perMessage,
                t.at("BM_RecordOn") * perMessage);
    std::printf("record_on_vs_off: %.2f\n", t.at("BM_RecordOn") / t.at("BM_RecordOff"));
    std::printf("record_vs_zstd: %.2f\n", vorlen::gRecorderWall / vorlen::gZstdWall);
    std::printf("record_bytes_per_msg: %.1f\n", vorlen::gBytesPerMessage);
    return 0;
}
