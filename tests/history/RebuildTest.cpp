// history.db made again from the day files equals the one the recorder wrote live, deal for deal
// and candle for candle; a folder it cannot rebuild from leaves the old database as it was.

#include "history/Rebuild.h"

#include "gateway/Cgate.h"
#include "history/HistorySupport.h"
#include "store/TestScheme.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sqlite3.h>

namespace vorlen::test {
namespace {

// Every row of a table as text, in key order: two databases are equal when these are.
std::vector<std::string> Rows(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    std::vector<std::string> rows;
    if (sqlite3_open_v2(file.string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        while (s != nullptr && sqlite3_step(s) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(s); ++i) {
                const unsigned char* t = sqlite3_column_text(s, i);
                row += (t != nullptr ? reinterpret_cast<const char*>(t) : "NULL");
                row += '|';
            }
            rows.push_back(row);
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return rows;
}

struct TTables {
    std::vector<std::string> Deals, Candles, Instruments;
    explicit TTables(const fs::path& file)
        : Deals(Rows(file, "SELECT * FROM deal ORDER BY sess_id, id_deal")),
          Candles(Rows(file, "SELECT * FROM candle_1m ORDER BY isin_id, start")),
          Instruments(Rows(file, "SELECT * FROM instrument ORDER BY isin_id")) {}
};

// Two days of deals of two instruments in the order a busy feed gives them: ids mostly rising,
// some late, a resend of the whole stream after a new life number, the trader's own deals, rows
// the exchange deletes; the evening of the first day belongs to the next session.
void RecordTwoDays(const fs::path& folder) {
    TTestScheme deals;
    deals.Table("deal", ReplFields({{"sess_id", "i4", 4},
                                    {"isin_id", "i4", 4},
                                    {"id_deal", "i8", 8},
                                    {"xamount", "i8", 8},
                                    {"price", "d16.5", 9},
                                    {"moment", "t", 10}}));
    TTestScheme trade;
    trade.Table("user_deal", ReplFields({{"sess_id", "i4", 4},
                                         {"isin_id", "i4", 4},
                                         {"id_deal", "i8", 8},
                                         {"amount", "i8", 8},
                                         {"price", "d16.5", 9},
                                         {"moment", "t", 10}}));
    TTestScheme ref;
    ref.Table("fut_sess_contents",
              ReplFields({{"isin_id", "i4", 4}, {"isin", "c25", 25}, {"short_isin", "c25", 25}}));
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> coin(0, 99);
    std::atomic<std::int64_t> clock{1000};
    TLines journal;
    history::TRecorder recorder(TestOptions(folder, clock), journal.Sink());
    recorder.Start("2026-03-02");
    recorder.StreamOpen(0, "FORTS_DEALS_REPL", deals.Desc());
    recorder.StreamOpen(1, "FORTS_TRADE_REPL", trade.Desc());
    recorder.StreamOpen(2, "FORTS_REFDATA_REPL", ref.Desc());
    for (const auto& [id, isin, code] :
         {std::tuple{101, "Si-3.26", "SiH6"}, std::tuple{202, "RTS-3.26", "RIH6"}}) {
        TRowBytes r(ref, "fut_sess_contents");
        r.Key(id).Int("isin_id", id).Text("isin", isin).Text("short_isin", code);
        recorder.StreamData(2, r.Msg());
    }
    std::vector<TRowBytes> sent;
    std::int64_t id = 5000;
    for (std::uint8_t day = 2; day <= 3; ++day) {
        if (day == 3)
            recorder.SwitchDay("2026-03-03");
        for (int i = 0; i < 400; ++i) {
            const auto hour = static_cast<std::uint8_t>(10 + i * 13 / 400);
            const auto minute = static_cast<std::uint8_t>(coin(rng) % 60);
            const bool own = coin(rng) < 10;
            const TTestScheme& s = own ? trade : deals;
            TRowBytes r(s, own ? "user_deal" : "deal");
            const std::int64_t dealId = coin(rng) < 5 ? id - 7 : ++id; // some arrive late
            r.Key(dealId).Int("sess_id", 7000 + day + (hour >= 19 ? 1 : 0));
            r.Int("isin_id", coin(rng) < 60 ? 101 : 202).Int("id_deal", dealId);
            r.Int(own ? "amount" : "xamount", 1 + coin(rng) % 9);
            r.Decimal("price", 1000000 + coin(rng) * 50, 2);
            r.Time("moment", {2026, 3, day, hour, minute, static_cast<std::uint8_t>(coin(rng) % 60),
                              0, static_cast<std::uint16_t>(coin(rng) * 10)});
            if (!own && coin(rng) < 3)
                r.Int("replAct", 1);
            recorder.StreamData(own ? 1 : 0, r.Msg());
            clock += 1'000'000;
            if (!own)
                sent.push_back(r);
        }
        const std::uint32_t lifeNum[2] = {day, 0};
        recorder.LifeNum(0, lifeNum, sizeof lifeNum);
        for (const TRowBytes& r : sent)
            recorder.StreamData(0, r.Msg());
    }
    recorder.Stop();
    EXPECT_TRUE(journal.Take().empty());
}

TEST(Rebuild, GivesTheDatabaseTheRecorderWroteLive) {
    const TCGateEntryPoints saved = CG();
    CG().cg_bcd_get = TestBcdGet;
    TScratch scratch;
    RecordTwoDays(scratch.Dir);
    const TTables live(scratch.Dir / "history.db");
    ASSERT_GT(live.Deals.size(), 600u);
    ASSERT_GT(live.Candles.size(), 100u);
    ASSERT_EQ(live.Instruments.size(), 2u);

    // Lost, then rebuilt; and rebuilt once more over a database that is there.
    fs::remove(scratch.Dir / "history.db");
    for (int round = 0; round < 2; ++round) {
        std::vector<history::TRebuildStep> steps;
        std::string error;
        ASSERT_TRUE(history::RebuildHistoryDb(
            scratch.Dir, [&](const history::TRebuildStep& s) { steps.push_back(s); }, error))
            << error;
        ASSERT_EQ(steps.size(), 2u);
        EXPECT_EQ(steps[0].File.filename(), "2026-03-02.vrec");
        EXPECT_EQ(steps[1].Index, 2u);
        EXPECT_GT(steps[1].Records, 400u);
        const TTables rebuilt(scratch.Dir / "history.db");
        EXPECT_EQ(rebuilt.Deals, live.Deals);
        EXPECT_EQ(rebuilt.Candles, live.Candles);
        EXPECT_EQ(rebuilt.Instruments, live.Instruments);
        EXPECT_FALSE(fs::exists(scratch.Dir / "history.db.rebuild"));
    }
    CG() = saved;
}

TEST(Rebuild, RefusesWhatItCannotReadAndKeepsTheOldDatabase) {
    struct TCase {
        const char* Name;
        std::vector<std::pair<const char*, const char*>> Files; // name, content
        const char* Error;
    };
    const std::vector<TCase> cases = {
        {"missing folder", {}, "не найдена"},
        {"no day files", {{"notes.txt", "x"}}, "нет файлов дней"},
        {"a day file that is not one",
         {{"2026-03-02.vrec", "not a recording at all"}},
         "2026-03-02.vrec: "},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScratch scratch;
        fs::path folder = scratch.Dir / "history";
        if (std::string(c.Name) != "missing folder") {
            fs::create_directories(folder);
            history::THistoryDb old;
            ASSERT_TRUE(old.Open(folder / "history.db"));
            ASSERT_TRUE(old.Add({7001, 1, 101, 1000.5, 3, 1'772'000'000'000, false}));
            ASSERT_TRUE(old.Commit());
        }
        for (const auto& [name, content] : c.Files)
            std::ofstream(folder / name, std::ios::binary) << content;
        std::string error;
        EXPECT_FALSE(history::RebuildHistoryDb(folder, {}, error));
        EXPECT_NE(error.find(c.Error), std::string::npos) << error;
        if (fs::exists(folder)) {
            EXPECT_EQ(Rows(folder / "history.db", "SELECT id_deal FROM deal"),
                      std::vector<std::string>{"1|"});
        }
        EXPECT_FALSE(fs::exists(folder / "history.db.rebuild"));
    }
}

} // namespace
} // namespace vorlen::test
