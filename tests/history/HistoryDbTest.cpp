// The database of deals and candles: candles of every interval against a plain model of random
// deals, a resent deal stored once, and a database that survives its writer dying mid-batch.

#include "history/HistoryDb.h"

#include "gateway/Cgate.h"
#include "history/Candles.h"
#include "history/HistorySupport.h"
#include "history/Recorder.h"
#include "store/TestScheme.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sqlite3.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace vorlen::test {
namespace {

using history::TCandle;
using history::TDeal;
using history::THistoryDb;
using history::TInterval;

constexpr std::int64_t kMinute = 60'000;
constexpr std::int64_t kDay = 86'400'000;
constexpr std::int64_t kMsk = 3LL * 3'600'000;
// 2026-03-02 00:00 Moscow.
constexpr std::int64_t kMonday = 20'514 * kDay - kMsk;

class TDb {
public:
    explicit TDb(const fs::path& file) { sqlite3_open(file.string().c_str(), &Db); }
    ~TDb() { sqlite3_close(Db); }
    TDb(const TDb&) = delete;
    TDb& operator=(const TDb&) = delete;
    std::int64_t Number(const char* sql) const {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(Db, sql, -1, &s, nullptr);
        const std::int64_t n = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
        sqlite3_finalize(s);
        return n;
    }
    std::string Text(const char* sql) const {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(Db, sql, -1, &s, nullptr);
        std::string t;
        if (sqlite3_step(s) == SQLITE_ROW)
            t = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
        return t;
    }
    sqlite3* Db = nullptr;
};

// What a trader would compute by hand: deals in time order, grouped by the interval they fall
// in (or by session), first and last price, extremes, summed amount.
std::vector<TCandle> Model(std::vector<TDeal> deals, std::int32_t isin, TInterval interval,
                           std::int64_t from, std::int64_t to) {
    std::sort(deals.begin(), deals.end(), [](const TDeal& a, const TDeal& b) {
        return std::tie(a.MomentMs, a.IdDeal) < std::tie(b.MomentMs, b.IdDeal);
    });
    const std::int64_t len = history::IntervalMs(interval);
    std::map<std::int64_t, std::vector<TDeal>> groups;
    for (const TDeal& d : deals) {
        if (d.IsinId != isin)
            continue;
        const std::int64_t local = d.MomentMs + kMsk;
        std::int64_t key = d.MomentMs;
        if (interval == TInterval::Day1)
            key = d.SessId;
        else if (len != 0)
            key = local - ((local % len) + len) % len - kMsk;
        groups[interval == TInterval::Tick ? d.IdDeal : key].push_back(d);
    }
    std::vector<TCandle> out;
    for (const auto& [key, g] : groups) {
        TCandle c{key, g.front().Price, g.front().Price, g.front().Price, g.back().Price, 0};
        for (const TDeal& d : g) {
            c.High = std::max(c.High, d.Price);
            c.Low = std::min(c.Low, d.Price);
            c.Volume += d.Amount;
        }
        if (interval == TInterval::Tick)
            c.StartMs = g.front().MomentMs;
        if (interval == TInterval::Day1) {
            const std::int64_t local = g.back().MomentMs + kMsk;
            c.StartMs = local - local % kDay - kMsk;
        }
        if (c.StartMs >= from && c.StartMs < to)
            out.push_back(c);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const TCandle& a, const TCandle& b) { return a.StartMs < b.StartMs; });
    return out;
}

// Four days of two instruments; sessions turn at 19:00 Moscow, a good share of deals fall on
// whole minutes and hours, ids follow time as the exchange gives them.
std::vector<TDeal> RandomDeals(std::mt19937_64& rng, std::size_t count) {
    std::vector<TDeal> deals(count);
    std::uniform_int_distribution<std::int64_t> when(0, 4 * kDay - 1);
    std::uniform_int_distribution<int> coin(0, 9);
    for (TDeal& d : deals) {
        d.MomentMs = kMonday + when(rng);
        if (coin(rng) < 2)
            d.MomentMs -= d.MomentMs % kMinute;
        if (coin(rng) == 0)
            d.MomentMs -= (d.MomentMs + kMsk) % (60 * kMinute);
        d.IsinId = coin(rng) < 7 ? 101 : 202;
        d.Price = 1000 + static_cast<double>(coin(rng) * 7 + coin(rng)) * 0.5;
        d.Amount = 1 + coin(rng) * 3;
        const std::int64_t local = d.MomentMs + kMsk - 19LL * 3'600'000;
        d.SessId = 5000 + static_cast<std::int32_t>(local / kDay);
    }
    std::sort(deals.begin(), deals.end(),
              [](const TDeal& a, const TDeal& b) { return a.MomentMs < b.MomentMs; });
    for (std::size_t i = 0; i < deals.size(); ++i)
        deals[i].IdDeal = 900'000 + static_cast<std::int64_t>(i);
    return deals;
}

class CandlesOf : public ::testing::TestWithParam<TInterval> {};

TEST_P(CandlesOf, MatchAPlainModelOverRandomDealsArrivingOutOfOrder) {
    TScratch scratch;
    std::mt19937_64 rng(20260302);
    const std::vector<TDeal> deals = RandomDeals(rng, 6000);
    {
        THistoryDb db;
        ASSERT_TRUE(db.Open(scratch.Dir / "history.db")) << db.Error();
        std::vector<TDeal> arriving = deals;
        std::shuffle(arriving.begin(), arriving.end(), rng);
        // A reconnect sends a part again.
        arriving.insert(arriving.end(), deals.begin() + 100, deals.begin() + 900);
        for (std::size_t i = 0; i < arriving.size(); ++i) {
            ASSERT_TRUE(db.Add(arriving[i])) << db.Error();
            if (i % 700 == 0) {
                ASSERT_TRUE(db.Commit()) << db.Error();
            }
        }
    }
    TDb db(scratch.Dir / "history.db");
    std::uniform_int_distribution<std::int64_t> edge(-kDay, 5 * kDay);
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges = {
        {kMonday - kDay, kMonday + 6 * kDay}, // all
        {kMonday + kDay, kMonday + 2 * kDay}, // one Moscow day, on boundaries
    };
    for (int i = 0; i < 6; ++i) {
        const std::int64_t a = kMonday + edge(rng);
        const std::int64_t b = kMonday + edge(rng);
        ranges.emplace_back(std::min(a, b), std::max(a, b) + 1);
    }
    for (const std::int32_t isin : {101, 202})
        for (const auto& [from, to] : ranges) {
            std::vector<TCandle> got;
            std::string error;
            ASSERT_TRUE(history::QueryCandles(db.Db, isin, GetParam(), from, to, got, error))
                << error;
            const std::vector<TCandle> want = Model(deals, isin, GetParam(), from, to);
            ASSERT_EQ(got.size(), want.size()) << history::FormatExchangeTime(from);
            for (std::size_t k = 0; k < got.size(); ++k)
                ASSERT_EQ(got[k], want[k]) << "candle " << k << " of isin " << isin << " at "
                                           << history::FormatExchangeTime(want[k].StartMs);
        }
}

std::string IntervalName(const ::testing::TestParamInfo<TInterval>& info) {
    constexpr std::array<const char*, 6> kNames = {"Tick",     "Minute1", "Minute5",
                                                   "Minute15", "Hour1",   "Day1"};
    return kNames.at(static_cast<std::size_t>(info.param));
}

INSTANTIATE_TEST_SUITE_P(EveryInterval, CandlesOf,
                         ::testing::Values(TInterval::Tick, TInterval::Minute1, TInterval::Minute5,
                                           TInterval::Minute15, TInterval::Hour1, TInterval::Day1),
                         IntervalName);

TEST(HistoryDb, ExchangeTimeIsMoscowAllYear) {
    // Summer and winter alike: no daylight saving since 2014.
    for (const char* text : {"2026-01-15 10:00:00", "2026-07-15 10:00:00", "2024-02-29 23:59:59"}) {
        const auto ms = history::ParseExchangeTime(text);
        ASSERT_TRUE(ms);
        EXPECT_EQ(history::FormatExchangeTime(*ms), text);
        const auto midnight = history::ParseExchangeTime(std::string(text, 10) + " 00:00");
        ASSERT_TRUE(midnight);
        EXPECT_EQ((*midnight + kMsk) % kDay, 0);
    }
    EXPECT_EQ(history::ParseExchangeTime("2026-03-02 00:00"), kMonday);
    EXPECT_FALSE(history::ParseExchangeTime("2026-02-30 10:00"));
    EXPECT_FALSE(history::ParseExchangeTime("10:00"));
}

// The recorder fed as the connections feed it: the deal stream and the trader's own deals.
TEST(HistoryDb, ADealResentAfterANewLifeNumberIsStoredOnce) {
    const TCGateEntryPoints saved = CG();
    CG().cg_bcd_get = TestBcdGet;
    TScratch scratch;
    TLines journal;
    std::atomic<std::int64_t> clock{1000};
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
    const auto row = [](const TTestScheme& s, const char* table, std::int64_t id, std::int64_t qty,
                        std::int64_t priceMantissa, std::uint8_t minute) {
        TRowBytes r(s, table);
        r.Key(id).Int("sess_id", 7001).Int("isin_id", 101).Int("id_deal", id);
        r.Int(table == std::string("deal") ? "xamount" : "amount", qty);
        r.Decimal("price", priceMantissa, 1).Time("moment", {2026, 3, 2, 10, minute, 15, 0, 250});
        return r;
    };
    {
        history::TRecorder recorder(TestOptions(scratch.Dir, clock), journal.Sink());
        recorder.Start("2026-03-02");
        recorder.StreamOpen(0, "FORTS_DEALS_REPL", deals.Desc());
        recorder.StreamOpen(1, "FORTS_TRADE_REPL", trade.Desc());
        recorder.StreamOpen(2, "FORTS_REFDATA_REPL", ref.Desc());
        TRowBytes instrument(ref, "fut_sess_contents");
        instrument.Key(1).Int("isin_id", 101).Text("isin", "Si-3.26").Text("short_isin", "SiH6");
        recorder.StreamData(2, instrument.Msg());
        const TRowBytes first = row(deals, "deal", 1, 5, 10005, 30);
        const TRowBytes second = row(deals, "deal", 2, 3, 10020, 30);
        TRowBytes deleted = row(deals, "deal", 3, 100, 99990, 30);
        deleted.Int("replAct", 1);
        for (int life = 1; life <= 3; ++life) {
            const std::uint32_t lifeNum[2] = {static_cast<std::uint32_t>(life), 0};
            recorder.LifeNum(0, lifeNum, sizeof lifeNum);
            recorder.StreamData(0, first.Msg());
            recorder.StreamData(0, second.Msg());
            recorder.StreamData(0, deleted.Msg());
        }
        const TRowBytes own = row(trade, "user_deal", 2, 3, 10020, 30);
        recorder.StreamData(1, own.Msg());
        recorder.StreamData(1, own.Msg());
        recorder.Stop();
    }
    CG() = saved;
    EXPECT_TRUE(journal.Take().empty());
    TDb db(scratch.Dir / "history.db");
    EXPECT_EQ(db.Number("SELECT count(*) FROM deal"), 2);
    EXPECT_EQ(db.Number("SELECT own FROM deal WHERE id_deal = 2"), 1);
    EXPECT_EQ(db.Number("SELECT own FROM deal WHERE id_deal = 1"), 0);
    EXPECT_EQ(db.Number("SELECT moment FROM deal WHERE id_deal = 1"),
              *history::ParseExchangeTime("2026-03-02 10:30:15") + 250);
    const auto isin = history::FindInstrument(db.Db, "SiH6");
    ASSERT_EQ(isin, 101);
    std::vector<TCandle> candles;
    std::string error;
    ASSERT_TRUE(history::QueryCandles(db.Db, *isin, TInterval::Minute1, kMonday, kMonday + kDay,
                                      candles, error));
    const TCandle want{
        *history::ParseExchangeTime("2026-03-02 10:30"), 1000.5, 1002, 1000.5, 1002, 8};
    EXPECT_EQ(candles, std::vector<TCandle>{want});
    EXPECT_EQ(db.Text("PRAGMA journal_mode"), "wal");
}

// A writer killed with a batch open loses the batch, never the database; one destroyed in order
// keeps it. Deals and candles are in the same transactions, so they always agree.
TEST(HistoryDb, SurvivesItsWriterEndingMidBatch) {
    for (const bool killed : {true, false}) {
        SCOPED_TRACE(killed ? "killed" : "destroyed");
        TScratch scratch;
        std::mt19937_64 rng(7);
        const std::vector<TDeal> deals = RandomDeals(rng, 3000);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int code = 1;
            {
                THistoryDb db;
                if (db.Open(scratch.Dir / "history.db")) {
                    bool ok = true;
                    for (std::size_t i = 0; i < 2000 && ok; ++i)
                        ok = db.Add(deals[i]) && (i != 1199 || db.Commit());
                    if (ok && killed)
                        ::_exit(0); // no commit, no close: as a crash leaves it
                    code = ok ? 0 : 1;
                }
            }
            ::_exit(code);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        TDb db(scratch.Dir / "history.db");
        EXPECT_EQ(db.Text("PRAGMA integrity_check"), "ok");
        EXPECT_EQ(db.Number("SELECT count(*) FROM deal"), killed ? 1200 : 2000);
        EXPECT_EQ(db.Number("SELECT sum(volume) FROM candle_1m"),
                  db.Number("SELECT sum(amount) FROM deal"));
        // The database goes on being written after the crash.
        THistoryDb again;
        ASSERT_TRUE(again.Open(scratch.Dir / "history.db")) << again.Error();
        for (std::size_t i = 0; i < deals.size(); ++i)
            ASSERT_TRUE(again.Add(deals[i])) << again.Error();
        ASSERT_TRUE(again.Commit());
        EXPECT_EQ(db.Number("SELECT count(*) FROM deal"), 3000);
    }
}

} // namespace
} // namespace vorlen::test
