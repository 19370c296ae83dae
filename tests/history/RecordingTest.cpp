// A recording written by the recorder and read back: every kind of record, damage passed over,
// seeking to a moment, and the days kept.

#include "history/HistorySupport.h"
#include "history/Reader.h"
#include "history/Recorder.h"
#include "store/TestScheme.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>

namespace vorlen::test {
namespace {

using history::TRecorder;
using history::TRecordingReader;
using history::TRecordKind;

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr const char* kDay = "2026-12-10";

std::string Text(const void* p, std::size_t n) {
    return std::string(static_cast<const char*>(p), n);
}

struct TKindCase {
    const char* Name;
    TRecordKind Kind;
    std::uint16_t Stream;
    std::uint32_t Table;
    std::function<void(TRecorder&)> Feed;
    std::function<void(const std::string& payload)> Check;
};

TEST(Recording, EveryKindOfRecordComesBackAsItWasHandedOver) {
    TTestScheme scheme;
    scheme.Table("fut_sess_contents", ReplFields({{"isin_id", "i4", 4}, {"short_isin", "c25", 25}}))
        .Table("orders_aggr", ReplFields({{"price", "d16.5", 9}, {"volume", "i8", 8}}));
    TRowBytes row(scheme, "orders_aggr");
    row.Key(77, 12).Decimal("price", 1234567, 2).Int("volume", 40);
    cg_msg_streamdata_t data = row.Msg();
    data.rev = 12;
    const std::string replState = "lifenum=5;rev.orders_aggr=12";
    const cg_data_lifenum_t lifenum{5, 2};
    const cg_data_cleardeleted_t cleared{1, 9000000000LL, 0};
    const std::string replyBytes("\x01\x00\x00\x00\xFF\x7F", 6);
    cg_msg_data_t reply{};
    reply.type = CG_MSG_DATA;
    reply.data = const_cast<char*>(replyBytes.data());
    reply.data_size = replyBytes.size();
    reply.msg_index = 3;
    reply.msg_id = 101;
    reply.msg_name = "FORTS_MSG101";
    reply.user_id = 4242;

    const std::vector<TKindCase> cases = {
        {"stream open", TRecordKind::StreamOpen, 1, history::kNoTable,
         [&](TRecorder& r) { r.StreamOpen(1, "FORTS_FUTINFO_REPL", scheme.Desc()); },
         [&](const std::string& p) {
             const auto got = history::TRecordedScheme::Decode(p);
             ASSERT_TRUE(got);
             EXPECT_EQ(got->StreamName(), "FORTS_FUTINFO_REPL");
             EXPECT_EQ(got->Scheme().scheme_type, CG_SCHEME_BIN);
             ASSERT_EQ(got->Scheme().num_messages, scheme.Count());
             const cg_message_desc_t* m = got->Scheme().messages;
             for (std::size_t i = 0; i < scheme.Count(); ++i, m = m->next) {
                 const cg_message_desc_t& want = scheme.Message(i);
                 ASSERT_NE(m, nullptr);
                 EXPECT_STREQ(m->name, want.name);
                 EXPECT_EQ(m->size, want.size);
                 ASSERT_EQ(m->num_fields, want.num_fields);
                 const cg_field_desc_t* f = m->fields;
                 for (const cg_field_desc_t* w = want.fields; w != nullptr;
                      w = w->next, f = f->next) {
                     ASSERT_NE(f, nullptr);
                     EXPECT_STREQ(f->name, w->name);
                     EXPECT_STREQ(f->fild_type, w->fild_type);
                     EXPECT_EQ(f->size, w->size);
                     EXPECT_EQ(f->offset, w->offset);
                 }
                 EXPECT_EQ(f, nullptr);
             }
             EXPECT_EQ(m, nullptr);
         }},
        {"stream data", TRecordKind::StreamData, 2, 1, [&](TRecorder& r) { r.StreamData(2, data); },
         [&](const std::string& p) {
             const auto got = history::DecodeStreamData(p);
             ASSERT_TRUE(got);
             EXPECT_EQ(got->Rev, 12);
             EXPECT_EQ(got->Bytes, Text(row.Bytes.data(), row.Bytes.size()));
         }},
        {"replication state", TRecordKind::ReplState, 2, history::kNoTable,
         [&](TRecorder& r) { r.ReplState(2, replState.data(), replState.size()); },
         [&](const std::string& p) { EXPECT_EQ(p, replState); }},
        {"life number", TRecordKind::LifeNum, 3, history::kNoTable,
         [&](TRecorder& r) { r.LifeNum(3, &lifenum, sizeof lifenum); },
         [&](const std::string& p) { EXPECT_EQ(p, Text(&lifenum, sizeof lifenum)); }},
        {"clear deleted", TRecordKind::ClearDeleted, 3, 1,
         [&](TRecorder& r) { r.ClearDeleted(3, &cleared, sizeof cleared); },
         [&](const std::string& p) { EXPECT_EQ(p, Text(&cleared, sizeof cleared)); }},
        {"online", TRecordKind::Online, 4, history::kNoTable, [](TRecorder& r) { r.Online(4); },
         [](const std::string& p) { EXPECT_TRUE(p.empty()); }},
        {"offline", TRecordKind::Offline, 4, history::kNoTable, [](TRecorder& r) { r.Offline(4); },
         [](const std::string& p) { EXPECT_TRUE(p.empty()); }},
        {"transaction reply", TRecordKind::TransReply, 900, 3,
         [&](TRecorder& r) { r.TransReply(900, reply); },
         [&](const std::string& p) {
             const auto got = history::DecodeTransReply(p);
             ASSERT_TRUE(got);
             EXPECT_EQ(got->MsgIndex, 3u);
             EXPECT_EQ(got->MsgId, 101u);
             EXPECT_EQ(got->UserId, 4242u);
             EXPECT_EQ(got->MsgName, "FORTS_MSG101");
             EXPECT_EQ(got->Bytes, replyBytes);
         }},
    };

    TScratch scratch;
    std::atomic<std::int64_t> clock{5 * kSecond};
    {
        TRecorder recorder(TestOptions(scratch.Dir, clock), nullptr);
        recorder.Start(kDay);
        for (const TKindCase& c : cases) {
            c.Feed(recorder);
            clock += 1000;
        }
        recorder.Stop();
    }
    TRecordingReader reader;
    ASSERT_TRUE(reader.Open(history::DayFilePath(scratch.Dir, kDay))) << reader.Error();
    EXPECT_EQ(reader.Header().TradingDate, kDay);
    EXPECT_EQ(reader.Header().Version, history::kFormatVersion);
    const auto read = ReadAll(reader);
    ASSERT_EQ(read.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].Name);
        EXPECT_EQ(read[i].Kind, cases[i].Kind);
        EXPECT_EQ(read[i].Stream, cases[i].Stream);
        EXPECT_EQ(read[i].Table, cases[i].Table);
        EXPECT_EQ(read[i].TimeNs, 5 * kSecond + static_cast<std::int64_t>(i) * 1000);
        cases[i].Check(read[i].Payload);
    }
    EXPECT_EQ(reader.SkippedFrames(), 0u);
}

// Records of ids 0..n-1, one every 100 ms: ten to a frame.
void WriteNumbered(const fs::path& folder, std::atomic<std::int64_t>& clock, int from, int to) {
    TRecorder recorder(TestOptions(folder, clock), nullptr);
    recorder.Start(kDay);
    for (int id = from; id < to; ++id) {
        const std::string text = "id=" + std::to_string(id);
        recorder.ReplState(0, text.data(), text.size());
        clock += kSecond / 10;
    }
    recorder.Stop();
}

std::vector<int> Ids(const std::vector<TReadRecord>& records) {
    std::vector<int> ids;
    ids.reserve(records.size());
    for (const TReadRecord& r : records)
        ids.push_back(std::stoi(r.Payload.substr(3)));
    return ids;
}

std::vector<int> Range(int from, int to, int skipFrom = -1, int skipTo = -1) {
    std::vector<int> ids;
    for (int id = from; id < to; ++id)
        if (id < skipFrom || id >= skipTo)
            ids.push_back(id);
    return ids;
}

// The frames' checksum is the one of zlib and PNG, so any tool can check a frame; it is taken
// eight bytes a step, with the lengths that leave a tail, and in pieces as the frame header and
// the compressed bytes are.
TEST(Recording, TheFrameChecksumIsTheStandardCrc32WholeOrInPieces) {
    EXPECT_EQ(history::Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(history::Crc32("", 0), 0u);
    std::string bytes(1000, '\0');
    std::uint32_t seed = 7;
    for (char& c : bytes)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    const auto bitwise = [](const std::string& b, std::size_t n) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (std::size_t i = 0; i < n; ++i) {
            crc ^= static_cast<std::uint8_t>(b[i]);
            for (int k = 0; k < 8; ++k)
                crc = (crc & 1u) != 0 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        return ~crc;
    };
    for (const std::size_t n : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 999u, 1000u}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(history::Crc32(bytes.data(), n), bitwise(bytes, n));
        for (const std::size_t cut : {std::size_t{0}, n / 3, n - 1})
            EXPECT_EQ(
                history::Crc32(bytes.data() + cut, n - cut, history::Crc32(bytes.data(), cut)),
                bitwise(bytes, n));
    }
}

struct TDamageCase {
    const char* Name;
    bool Torn; // else: one byte of the third frame's compressed bytes flipped
    bool DropIndex;
};

class RecordingDamage : public ::testing::TestWithParam<TDamageCase> {};

TEST_P(RecordingDamage, ADamagedFrameIsSkippedAndCountedAndTheRestIsRead) {
    const TDamageCase& c = GetParam();
    TScratch scratch;
    std::atomic<std::int64_t> clock{100 * kSecond};
    WriteNumbered(scratch.Dir, clock, 0, 50);
    const fs::path file = history::DayFilePath(scratch.Dir, kDay);
    {
        TRecordingReader intact;
        ASSERT_TRUE(intact.Open(file));
        ASSERT_EQ(intact.Frames().size(), 5u);
        const std::uint64_t hit = c.Torn
                                      ? intact.Frames()[4].Offset + history::kFrameHeaderSize + 3
                                      : intact.Frames()[2].Offset + history::kFrameHeaderSize + 5;
        if (c.Torn) {
            fs::resize_file(file, hit);
        } else {
            std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
            f.seekg(static_cast<std::streamoff>(hit));
            const char b = static_cast<char>(f.get());
            f.seekp(static_cast<std::streamoff>(hit));
            f.put(static_cast<char>(b ^ 0x10));
        }
    }
    if (c.DropIndex)
        fs::remove(history::IndexPathFor(file));

    TRecordingReader reader;
    ASSERT_TRUE(reader.Open(file));
    EXPECT_EQ(Ids(ReadAll(reader)), c.Torn ? Range(0, 40) : Range(0, 50, 20, 30));
    EXPECT_EQ(reader.SkippedFrames(), 1u);
    EXPECT_EQ(reader.TornTail(), c.Torn);

    // The terminal restarts the same day: the file goes on after the damage, which stays put
    // and is still skipped.
    WriteNumbered(scratch.Dir, clock, 50, 60);
    TRecordingReader resumed;
    ASSERT_TRUE(resumed.Open(file));
    const auto after = Ids(ReadAll(resumed));
    EXPECT_EQ(after, c.Torn ? Range(0, 60, 40, 50) : Range(0, 60, 20, 30));
    EXPECT_EQ(resumed.SkippedFrames(), 1u);
    EXPECT_FALSE(resumed.TornTail());
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordingDamage,
                         ::testing::Values(TDamageCase{"TornTail", true, false},
                                           TDamageCase{"TornTailNoIndex", true, true},
                                           TDamageCase{"MiddleFrame", false, false},
                                           TDamageCase{"MiddleFrameNoIndex", false, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Recording, SeekFindsTheFirstRecordAtOrAfterAMoment) {
    TScratch scratch;
    const std::int64_t t0 = 100 * kSecond;
    std::atomic<std::int64_t> clock{t0};
    WriteNumbered(scratch.Dir, clock, 0, 50);
    for (const bool dropIndex : {false, true}) {
        if (dropIndex)
            fs::remove(history::IndexPathFor(history::DayFilePath(scratch.Dir, kDay)));
        TRecordingReader reader;
        ASSERT_TRUE(reader.Open(history::DayFilePath(scratch.Dir, kDay)));
        ASSERT_EQ(reader.Frames().size(), 5u);
        const struct {
            std::int64_t At;
            int First; // -1: nothing at or after it
        } cases[] = {
            {0, 0},                           // before the recording
            {t0, 0},                          // its first record
            {t0 + 1, 1},                      // just after it
            {t0 + 25 * kSecond / 10, 25},     // a record in the middle of a frame
            {t0 + 30 * kSecond / 10, 30},     // the first of a frame
            {t0 + 29 * kSecond / 10 + 1, 30}, // after the last of a frame
            {t0 + 49 * kSecond / 10, 49},     // the last record
            {t0 + 49 * kSecond / 10 + 1, -1},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "index dropped " << dropIndex << ", at " << c.At);
            EXPECT_EQ(reader.Seek(c.At), c.First >= 0);
            const auto ids = Ids(ReadAll(reader));
            EXPECT_EQ(ids, c.First >= 0 ? Range(c.First, 50) : std::vector<int>{});
        }
    }
}

struct TRetentionCase {
    const char* Name;
    unsigned KeepDays;
    std::uint64_t KeepBytes;
    std::vector<std::string> Left; // old days left beside today's
};

class RecordingRetention : public ::testing::TestWithParam<TRetentionCase> {};

TEST_P(RecordingRetention, OldestDaysGoFirstWhenADayOpens) {
    const TRetentionCase& c = GetParam();
    TScratch scratch;
    // Five earlier days of 1000 bytes each, listed out of order; a file of another kind stays.
    for (const char* day : {"2026-12-07", "2026-12-03", "2026-12-09", "2026-12-04", "2026-12-08"}) {
        std::ofstream(history::DayFilePath(scratch.Dir, day)) << std::string(1000, 'x');
        std::ofstream(history::IndexPathFor(history::DayFilePath(scratch.Dir, day))) << "ix";
    }
    std::ofstream(scratch.Dir / "history.db") << std::string(50000, 'y');
    std::atomic<std::int64_t> clock{kSecond};
    auto options = TestOptions(scratch.Dir, clock);
    options.Keep = {c.KeepDays, c.KeepBytes};
    TRecorder recorder(options, nullptr);
    recorder.Start(kDay);
    recorder.Online(0);
    recorder.Stop();

    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(scratch.Dir))
        if (e.path().extension() == ".vrec" && e.path().stem() != kDay) {
            left.push_back(e.path().stem().string());
            EXPECT_TRUE(fs::exists(history::IndexPathFor(e.path())));
        }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, c.Left);
    EXPECT_TRUE(fs::exists(history::DayFilePath(scratch.Dir, kDay)));
    EXPECT_TRUE(fs::exists(scratch.Dir / "history.db"));
    std::size_t indexes = 0;
    for (const auto& e : fs::directory_iterator(scratch.Dir))
        indexes += e.path().extension() == ".vidx" ? 1 : 0;
    EXPECT_EQ(indexes, c.Left.size() + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordingRetention,
    ::testing::Values(
        TRetentionCase{"AllFit",
                       30,
                       20ull << 30,
                       {"2026-12-03", "2026-12-04", "2026-12-07", "2026-12-08", "2026-12-09"}},
        TRetentionCase{"ByDays", 3, 20ull << 30, {"2026-12-08", "2026-12-09"}},
        // Today's file takes a little over 100 bytes: two old days and it fit in 2300.
        TRetentionCase{"ByBytes", 30, 2300, {"2026-12-08", "2026-12-09"}},
        TRetentionCase{"TodayAlone", 1, 20ull << 30, {}}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace vorlen::test
