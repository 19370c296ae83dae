// Seeks in a full trading day whose orders log grows to millions of rows: restoring the replica
// costs the same at the day's end as at its start, within a second, and the keyframes that make
// it so hold memory of the order of the replica, not of the replica times the keyframes.
//
// The day is written by the test: 10:00 to 18:45, the whole market's orders log appended row by
// row (VORLEN_SEEK_ROWS rows, 400 000 unless set) and an aggregated book level changed every
// eighth record. With VORLEN_SEEK_ROWS=4000000 it is the measurement docs/replay.md reports.

#include "Replay.h"
#include "ReplayDay.h"
#include "Row.h"
#include "history/DayWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
namespace hist = vorlen::history;

constexpr std::int64_t kSecond = 1'000'000'000;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// A sanitizer's allocator pads every block and keeps freed ones back for a while: what is
// resident says little of what the replay holds (the replica alone measured 91 or 160 MiB).
constexpr bool kMemoryMeasured = false;
#else
constexpr bool kMemoryMeasured = true;
#endif
constexpr int kDayFrom = 10 * 3600, kDayTo = 18 * 3600 + 45 * 60;

std::int64_t Moment(int secondsOfDay) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 10;
    t.tm_hour = secondsOfDay / 3600;
    t.tm_min = secondsOfDay / 60 % 60;
    t.tm_sec = secondsOfDay % 60;
    t.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&t)) * kSecond;
}

std::uint64_t Rows() {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any thread of the test runs
    const char* s = std::getenv("VORLEN_SEEK_ROWS");
    const long long n = s != nullptr ? std::atoll(s) : 0;
    return n > 0 ? static_cast<std::uint64_t>(n) : 400'000;
}

// The process's resident memory, MiB.
double ResidentMiB() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

// Writes the day, a frame of records at a time; its path.
fs::path WriteBusyDay(const fs::path& dir, std::uint64_t rows) {
    const auto& cat = vsim::Catalogue::Get();
    const vsim::StreamDef& ordlog = *cat.Stream("FORTS_ORDLOG_REPL");
    const vsim::StreamDef& book = *cat.Stream("FORTS_AGGR20_REPL");
    const vsim::TableDef& log = *ordlog.tables[static_cast<std::size_t>(ordlog.Find("orders_log"))];
    const vsim::TableDef& level = *book.tables[static_cast<std::size_t>(book.Find("orders_aggr"))];
    const std::int64_t from = Moment(kDayFrom), span = Moment(kDayTo) - from;
    hist::TDayWriter writer(1);
    EXPECT_TRUE(writer.Open(dir, "2026-12-10", from, {})) << writer.Fault();
    std::string raw;
    std::uint32_t count = 0;
    std::int64_t first = 0, now = from, rev = 0;
    const auto add = [&](hist::TRecordKind kind, std::uint16_t pos, std::uint32_t table,
                         const std::string& payload) {
        const std::size_t at = raw.size();
        raw.resize(at + hist::kRecordHeaderSize);
        hist::PutRecordHeader(&raw[at], kind, pos, table, now,
                              static_cast<std::uint32_t>(payload.size()));
        raw += payload;
        first = count++ == 0 ? now : first;
        if (count == 50'000) {
            EXPECT_TRUE(writer.WriteFrame(raw, count, first, now));
            raw.clear();
            count = 0;
        }
    };
    const auto row = [&](std::uint16_t pos, const vsim::StreamDef& s, const vsim::TableDef& t,
                         std::int64_t id, std::int64_t price) {
        std::string data(t.size, '\0');
        ++rev;
        std::memcpy(&data[t.fields[0].offset], &id, 8);
        std::memcpy(&data[t.fields[1].offset], &rev, 8);
        vsim::PutInt(data.data(), *t.Field("isin_id"), 100);
        vsim::PutDecimal(&data[t.Field("price")->offset], price * 100000, std::int8_t{5});
        std::string payload(8, '\0');
        std::memcpy(payload.data(), &rev, 8);
        add(hist::TRecordKind::StreamData, pos, static_cast<std::uint32_t>(s.Find(t.name)),
            payload + data);
    };
    add(hist::TRecordKind::StreamOpen, 0, hist::kNoTable, vsim::test::OpenPayload(ordlog));
    add(hist::TRecordKind::Online, 0, hist::kNoTable, {});
    add(hist::TRecordKind::StreamOpen, 1, hist::kNoTable, vsim::test::OpenPayload(book));
    add(hist::TRecordKind::Online, 1, hist::kNoTable, {});
    const std::uint64_t records = rows + rows / 7;
    std::uint64_t logged = 0;
    for (std::uint64_t i = 0; i < records; ++i) {
        now = from + static_cast<std::int64_t>(static_cast<double>(span) * static_cast<double>(i) /
                                               static_cast<double>(records));
        if (i % 8 == 7) {
            row(1, book, level, static_cast<std::int64_t>(i % 40) + 1,
                1000 + static_cast<std::int64_t>(i % 13));
        } else {
            row(0, ordlog, log, static_cast<std::int64_t>(++logged), 1000);
        }
    }
    if (count > 0) {
        EXPECT_TRUE(writer.WriteFrame(raw, count, first, now));
    }
    writer.Close();
    return writer.Path();
}

TEST(ReplaySeek, AnywhereInABusyDayWithinASecondWhateverTheReplicasSize) {
    const fs::path dir =
        fs::temp_directory_path() / ("vorlen-replay-seek-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::uint64_t rows = Rows();
    const fs::path file = WriteBusyDay(dir, rows);
    const double before = ResidentMiB();
    vsim::Replay replay;
    std::string error;
    const auto opening = std::chrono::steady_clock::now();
    ASSERT_TRUE(replay.Open(file.string(), error)) << error;
    const double openS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - opening).count();
    const double heldMiB = ResidentMiB() - before;
    // The same day with only its start as a keyframe: what the replica takes by itself.
    double replicaMiB = 0;
    {
        const double bare = ResidentMiB();
        vsim::Replay single;
        single.SetKeyframeEvery(~std::uint64_t{0});
        ASSERT_TRUE(single.Open(file.string(), error)) << error;
        replicaMiB = ResidentMiB() - bare;
    }
    std::printf("rows=%llu open_s=%.2f replay_MiB=%.0f replica_alone_MiB=%.0f\n",
                static_cast<unsigned long long>(rows), openS, heldMiB, replicaMiB);
    RecordProperty("open_s", std::to_string(openS));
    RecordProperty("replay_MiB", std::to_string(heldMiB));
    RecordProperty("replica_alone_MiB", std::to_string(replicaMiB));
    // Keyframes every 100 000 records of a day of millions, sharing what did not change: a
    // fraction over the replica, where copies of it would be several times its size.
    if (kMemoryMeasured) {
        EXPECT_LE(heldMiB, replicaMiB * 1.5 + 64);
    }
    // Back and forth, the day's end last: the largest replica and the furthest from its start.
    double worst = 0;
    for (const double part : {0.5, 0.1, 0.9, 0.3, 0.999}) {
        const int at = kDayFrom + static_cast<int>((kDayTo - kDayFrom) * part);
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(replay.Seek(at, error)) << error;
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("seek %.3f of the day: %.3f s\n", part, took);
        worst = std::max(worst, took);
    }
    RecordProperty("worst_seek_s", std::to_string(worst));
    EXPECT_LE(worst, 1.0);
    // Not bounded: a terminal subscribed to the orders log is handed all of it after a seek.
    vsim::Client client;
    std::vector<std::string> tables;
    for (const vsim::TableDef* t : vsim::Catalogue::Get().Stream("FORTS_ORDLOG_REPL")->tables)
        tables.push_back(t->name);
    ASSERT_TRUE(replay.Subscribe(client, 1, "FORTS_ORDLOG_REPL", tables, false, error)) << error;
    client.out.clear();
    const auto handing = std::chrono::steady_clock::now();
    ASSERT_TRUE(replay.Seek(kDayTo - 60, error)) << error;
    const double handS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - handing).count();
    std::printf("seek with the orders log subscribed, near the day's end: %.3f s, %.0f MiB sent\n",
                handS, static_cast<double>(client.out.size()) / (1 << 20));
    RecordProperty("handover_s", std::to_string(handS));
    EXPECT_GT(client.out.size(), rows * 100) << "every row of the orders log is handed over";
    fs::remove_all(dir);
}

} // namespace
