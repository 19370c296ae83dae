// What recording the market costs.
//
//   record_overhead_vs_off: the market-data thread's CPU per stream-data message with the
//     recorder on, against the recorder off, around the work that thread does for every message
//     anyway (the row applied to the replica). Off and on runs alternate, and the ratio is of
//     their medians, so a slow stretch of a shared machine weighs on both alike.
//   record_vs_zstd: the recorder's throughput end to end (the messages handed over, records
//     framed, compressed, checksummed, written and synced with their index), in messages per CPU
//     second of the whole process, against compressing the very same record bytes in 1 MiB
//     pieces with zstd alone at the same level, in the same run: 1 would be a recorder that
//     costs nothing beyond the compression it cannot avoid. record_msgs_per_s beside it is
//     the recorder's rate in wall time, from the first message to the files closed.
//   record_bytes_per_msg: the day file's size over the messages it holds.
//   replay_file_vs_memory: a recording read into a fresh replica against the same messages
//     applied from memory, in messages per second (replay_file_msgs_per_s beside it).
//
// The messages are aggregated order-book rows of 200 instruments, 70 bytes each, whose prices
// and volumes move a little from one to the next, as they do on the exchange.

#include "connections/ReplicaFeed.h"
#include "history/Reader.h"
#include "history/Recorder.h"
#include "history/Replay.h"
#include "store/TestScheme.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zstd.h>

namespace vorlen {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMessages = 400'000;
const char* const kDay = "2026-12-10";
const char* const kStream = "FORTS_AGGR20_REPL";

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

double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ProcessCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A replica with the feed's stream described, as the connection leaves it when the stream opens.
struct TReplica {
    TCGStorage Store;
    TCGStorage::TBatch Batch{Store};
    TListeners Listeners{1};

    explicit TReplica(const cg_scheme_desc_t& scheme) {
        Store.SetStreams({kStream});
        Listeners[0].LsnParams.StrName = kStream;
        Listeners[0].StreamData.sName = kStream;
        const cg_msg_t open{CG_MSG_OPEN, 0, nullptr};
        ApplyToReplica(Store, Batch, 0, Listeners[0], open, &scheme);
    }
    void Apply(const cg_msg_streamdata_t& m) {
        ApplyToReplica(Store, Batch, 0, Listeners[0], reinterpret_cast<const cg_msg_t&>(m),
                       nullptr);
    }
};

constexpr std::size_t kBurst = 1000;
constexpr auto kPause = std::chrono::microseconds(500);

// Thread CPU seconds of the market-data thread's part: every message recorded (when a recorder
// is given) and then applied, as the connection does.
double HotPathRun(const TFeed& feed, history::TRecorder* recorder) {
    TReplica replica(feed.Scheme.Desc());
    double cpu = 0;
    for (std::size_t at = 0; at < feed.Msgs.size(); at += kBurst) {
        const double start = ThreadCpuSeconds();
        for (std::size_t i = at; i < std::min(at + kBurst, feed.Msgs.size()); ++i) {
            const cg_msg_streamdata_t& m = feed.Msgs[i];
            if (recorder != nullptr)
                recorder->StreamData(0, m);
            replica.Apply(m);
        }
        replica.Batch.Release();
        cpu += ThreadCpuSeconds() - start;
        // The market comes in bursts, and no faster than the recorder keeps up with: a thread
        // that outran it for long would only be dropping messages.
        std::this_thread::sleep_for(kPause);
    }
    return cpu;
}

double gHotOff = 0;
double gHotOn = 0;

void BM_HotPathPairs(benchmark::State& state) {
    const TFeed& feed = Feed();
    std::vector<double> off;
    std::vector<double> on;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        for (int pair = 0; pair < 7; ++pair) {
            off.push_back(HotPathRun(feed, nullptr));
            TScratch scratch;
            history::TRecorder recorder(Options(scratch.Dir), nullptr);
            recorder.Start(kDay);
            on.push_back(HotPathRun(feed, &recorder));
            recorder.Stop();
            if (recorder.Lost() != 0)
                state.SkipWithError("messages were dropped");
        }
    }
    gHotOff = Median(off);
    gHotOn = Median(on);
}

double gBytesPerMessage = 0;
// Fastest run of each, in seconds.
double gRecorderCpu = 0;
double gRecorderWall = 0;
double gZstdCpu = 0;

void KeepFastest(double& best, double s) {
    if (best == 0 || s < best)
        best = s;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void BM_Recorder(benchmark::State& state) {
    const TFeed& feed = Feed();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        TScratch scratch;
        history::TRecorder recorder(Options(scratch.Dir), nullptr);
        recorder.Start(kDay);
        // Opening the day file and the database is once a day, not throughput: the clock starts
        // when both are there.
        const fs::path db = scratch.Dir / "history.db";
        while (!fs::exists(db) || fs::file_size(db) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double cpu = ProcessCpuSeconds();
        const double wall = WallSeconds();
        for (const cg_msg_streamdata_t& m : feed.Msgs)
            recorder.StreamData(0, m);
        recorder.Stop();
        KeepFastest(gRecorderCpu, ProcessCpuSeconds() - cpu);
        KeepFastest(gRecorderWall, WallSeconds() - wall);
        if (recorder.Lost() != 0)
            state.SkipWithError("messages were dropped");
        gBytesPerMessage =
            static_cast<double>(fs::file_size(history::DayFilePath(scratch.Dir, kDay))) /
            static_cast<double>(kMessages);
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
        const double start = ProcessCpuSeconds();
        std::size_t total = 0;
        for (std::size_t at = 0; at < raw.size(); at += 1u << 20) {
            const std::size_t n = std::min<std::size_t>(1u << 20, raw.size() - at);
            total +=
                ZSTD_compressCCtx(ctx, packed.data(), packed.size(), raw.data() + at, n, level);
        }
        benchmark::DoNotOptimize(total);
        KeepFastest(gZstdCpu, ProcessCpuSeconds() - start);
    }
    ZSTD_freeCCtx(ctx);
}

// A recording of the feed, made once: the stream's opening, then every message.
const fs::path& Recording() {
    static const TScratch scratch;
    static const fs::path file = [] {
        const TFeed& feed = Feed();
        history::TRecorder recorder(Options(scratch.Dir), nullptr);
        recorder.Start(kDay);
        recorder.StreamOpen(0, kStream, feed.Scheme.Desc());
        for (const cg_msg_streamdata_t& m : feed.Msgs)
            recorder.StreamData(0, m);
        recorder.Stop();
        return history::DayFilePath(scratch.Dir, kDay);
    }();
    return file;
}

double gReplayFile = 0;
double gReplayMemory = 0;

void BM_ReplayFile(benchmark::State& state) {
    const fs::path& file = Recording();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        const double start = ThreadCpuSeconds();
        {
            history::TReplay replay;
            std::string error;
            if (!replay.Run(file, error) || replay.Stats().Records != kMessages + 1)
                state.SkipWithError("the recording did not replay whole");
        }
        KeepFastest(gReplayFile, ThreadCpuSeconds() - start);
    }
}

void BM_ReplayMemory(benchmark::State& state) {
    const TFeed& feed = Feed();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        const double start = ThreadCpuSeconds();
        {
            TReplica replica(feed.Scheme.Desc());
            for (const cg_msg_streamdata_t& m : feed.Msgs)
                replica.Apply(m);
            replica.Batch.Release();
        }
        KeepFastest(gReplayMemory, ThreadCpuSeconds() - start);
    }
}

BENCHMARK(BM_HotPathPairs)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Recorder)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->UseRealTime();
BENCHMARK(BM_ZstdAlone)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_ReplayFile)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_ReplayMemory)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

} // namespace
} // namespace vorlen

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::ConsoleReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    using namespace vorlen;
    // A filter may run some of them; each figure is printed when its runs were made.
    const auto messages = static_cast<double>(kMessages);
    std::fflush(stdout);
    bool any = false;
    if (gHotOff > 0 && gHotOn > 0) {
        any = true;
        std::printf("market-data thread ns/msg: off %.1f, on %.1f\n", gHotOff / messages * 1e9,
                    gHotOn / messages * 1e9);
        std::printf("record_overhead_vs_off: %.3f\n", gHotOn / gHotOff);
    }
    if (gRecorderCpu > 0) {
        any = true;
        if (gZstdCpu > 0)
            std::printf("record_vs_zstd: %.2f\n", gZstdCpu / gRecorderCpu);
        std::printf("record_msgs_per_s: %.0f\n", messages / gRecorderWall);
        std::printf("record_bytes_per_msg: %.1f\n", gBytesPerMessage);
    }
    if (gReplayFile > 0) {
        any = true;
        if (gReplayMemory > 0)
            std::printf("replay_file_vs_memory: %.2f\n", gReplayMemory / gReplayFile);
        std::printf("replay_file_msgs_per_s: %.0f\n", messages / gReplayFile);
    }
    if (!any) {
        std::fprintf(stderr, "history bench: nothing was measured\n");
        return 1;
    }
    return 0;
}
