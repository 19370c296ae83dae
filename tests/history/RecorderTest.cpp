// The recorder under pressure: a full buffer becomes a gap record, and a disk or folder that
// fails stops recording with one journal line while the producers go on.

#include "history/Recorder.h"

#include "history/HistorySupport.h"
#include "history/Reader.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <future>
#include <gtest/gtest.h>
#include <random>
#include <string_view>
#include <sys/resource.h>
#include <thread>

namespace vorlen::test {
namespace {

using history::TRecorder;
using history::TRecordingReader;
using history::TRecordKind;

constexpr const char* kDay = "2026-12-10";
constexpr const char* kStopped = "Внимание: запись истории остановлена: ";
constexpr std::string_view kLagging = "Внимание: запись истории не успевает за потоком данных";

bool WaitUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(Recorder, AFullBufferDropsCountsPerStreamAndLeavesAGapRecord) {
    TScratch scratch;
    TLines journal;
    std::atomic<std::int64_t> clock{1000};
    // The recorder's thread reads the clock when it opens the day's file; held there, it takes
    // nothing from the buffer until the test lets it go.
    const std::thread::id producer = std::this_thread::get_id();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> held{false};
    auto options = TestOptions(scratch.Dir, clock);
    constexpr std::size_t kPayload = 100;
    constexpr std::size_t kRoom = 10;
    options.BufferBytes = kRoom * (history::kRecordHeaderSize + kPayload);
    options.Clock = [&] {
        if (std::this_thread::get_id() != producer) {
            held = true;
            released.wait();
        }
        return clock.load();
    };
    TRecorder recorder(options, journal.Sink());
    recorder.Start(kDay);
    ASSERT_TRUE(WaitUntil([&] { return held.load(); }));

    const std::string bytes(kPayload, 'm');
    for (int i = 0; i < 30; ++i) {
        recorder.ReplState(static_cast<std::uint16_t>(i % 3), bytes.data(), bytes.size());
        ++clock;
    }
    EXPECT_EQ(recorder.Lost(), 20u);
    release.set_value();
    // A later round has room again.
    ASSERT_TRUE(WaitUntil([&] { return !journal.Take().empty(); }));
    recorder.Online(1);
    recorder.Stop();

    const auto lines = journal.Take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("пропущено 20 сообщ."), std::string::npos) << lines[0];

    TRecordingReader reader;
    ASSERT_TRUE(reader.Open(history::DayFilePath(scratch.Dir, kDay)));
    const auto records = ReadAll(reader);
    ASSERT_EQ(records.size(), kRoom + 2);
    for (std::size_t i = 0; i < kRoom; ++i) {
        EXPECT_EQ(records[i].Kind, TRecordKind::ReplState);
        EXPECT_EQ(records[i].Stream, i % 3);
        EXPECT_EQ(records[i].TimeNs, 1000 + static_cast<std::int64_t>(i));
    }
    const TReadRecord& gap = records[kRoom];
    EXPECT_EQ(gap.Kind, TRecordKind::Gap);
    // The gap stands where the first message was lost.
    EXPECT_EQ(gap.TimeNs, 1000 + static_cast<std::int64_t>(kRoom));
    const auto lost = history::DecodeGap(gap.Payload);
    ASSERT_TRUE(lost);
    // Messages 10..29 went, round robin over three streams, starting with stream 1.
    EXPECT_EQ(*lost, (std::vector<history::TGapEntry>{{1, 7}, {2, 7}, {0, 6}}));
    EXPECT_EQ(records.back().Kind, TRecordKind::Online);
}

// Starts recording into `folder`, lets `spoil` break something, then feeds messages until
// recording stops. Returns the journal's lines but those saying the writer fell behind, which
// a loaded machine may add before the fault; the producer's calls after the fault must all
// return (a producer that waited for the disk would hang the test).
std::vector<std::string> RecordUntilStopped(const fs::path& folder, std::size_t messageBytes,
                                            const std::function<void()>& spoil) {
    TLines journal;
    std::atomic<std::int64_t> clock{1};
    TRecorder recorder(TestOptions(folder, clock), journal.Sink());
    recorder.Start(kDay);
    spoil();
    std::mt19937_64 random(7);
    std::string bytes(messageBytes, '\0');
    const bool stopped = WaitUntil([&] {
        // Noise does not compress: every message reaches the disk at its full size.
        for (char& b : bytes)
            b = static_cast<char>(random());
        for (int i = 0; i < 16; ++i)
            recorder.ReplState(0, bytes.data(), bytes.size());
        clock += 1'000'000;
        return !recorder.Recording();
    });
    for (int i = 0; i < 100000; ++i)
        recorder.ReplState(0, bytes.data(), bytes.size());
    recorder.Stop();
    EXPECT_TRUE(stopped);
    std::vector<std::string> lines = journal.Take();
    std::erase_if(lines, [](const std::string& l) { return l.starts_with(kLagging); });
    return lines;
}

struct TFaultCase {
    const char* Name;
    const char* Says; // what the one journal line names
};

class RecorderFault : public ::testing::TestWithParam<TFaultCase> {};

TEST_P(RecorderFault, StopsRecordingWithOneJournalLine) {
    const TFaultCase& c = GetParam();
    TScratch scratch;
    std::vector<std::string> lines;
    const std::string name = c.Name;
    if (name == "FolderIsAFile") {
        std::ofstream(scratch.Dir / "data") << "not a folder";
        lines = RecordUntilStopped(scratch.Dir / "data" / "history", 64, [] {});
    } else if (name == "FileVanishes") {
        const fs::path file = history::DayFilePath(scratch.Dir, kDay);
        lines = RecordUntilStopped(scratch.Dir, 64, [&] {
            ASSERT_TRUE(WaitUntil([&] { return fs::exists(file); }));
            fs::remove(file);
        });
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(kStopped, 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(c.Says), std::string::npos) << lines[0];
}

INSTANTIATE_TEST_SUITE_P(Cases, RecorderFault,
                         ::testing::Values(TFaultCase{"FolderIsAFile", "не удалось создать папку"},
                                           TFaultCase{"FileVanishes", "удалён или подменён"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A full disk, as a file-size limit of the process: the limit is set in a child of its own so
// the test program itself is not held to it. Exits 0 when one journal line says so.
[[noreturn]] void FullDiskChild(const fs::path& folder) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{rlim_t{256} << 10, rlim_t{256} << 10};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const auto lines = RecordUntilStopped(folder, 4096, [] {});
    for (const std::string& line : lines)
        std::fprintf(stderr, "[%s]\n", line.c_str());
    const bool one = lines.size() == 1 && lines[0].rfind(kStopped, 0) == 0;
    std::fflush(stderr);
    std::_Exit(one ? 0 : 1);
}

TEST(RecorderFaultDeathTest, AFullDiskStopsRecordingWithOneJournalLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TScratch scratch;
    EXPECT_EXIT(FullDiskChild(scratch.Dir), ::testing::ExitedWithCode(0),
                "достиг предельного размера");
}

} // namespace
} // namespace vorlen::test
