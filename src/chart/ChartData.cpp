#include "chart/ChartData.h"

#include <algorithm>
#include <sqlite3.h>

namespace vorlen::chart {

namespace {

// One prepared statement, finalized however the read ends.
class TQuery {
public:
    TQuery(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &FStmt, nullptr) != SQLITE_OK)
            FStmt = nullptr;
    }
    ~TQuery() { sqlite3_finalize(FStmt); }
    TQuery(const TQuery&) = delete;
    TQuery& operator=(const TQuery&) = delete;
    sqlite3_stmt* operator*() const { return FStmt; }
    explicit operator bool() const { return FStmt != nullptr; }

private:
    sqlite3_stmt* FStmt = nullptr;
};

// Ends the read transaction that keeps the reads of one Read on one snapshot.
struct TSnapshot {
    explicit TSnapshot(sqlite3* db) : Db(db) {
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    }
    ~TSnapshot() { sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr); }
    TSnapshot(const TSnapshot&) = delete;
    TSnapshot& operator=(const TSnapshot&) = delete;
    sqlite3* Db;
};

} // namespace

TDbHistory::~TDbHistory() {
    sqlite3_close(FDb);
}

bool TDbHistory::Open(const std::filesystem::path& file, std::string& error) {
    sqlite3_close(FDb);
    FDb = nullptr;
    std::error_code ec;
    // Opening read-only never creates the file; an absent one is said so plainly.
    if (!std::filesystem::is_regular_file(file, ec)) {
        error = "нет файла " + file.string();
        return false;
    }
    if (sqlite3_open_v2(file.string().c_str(), &FDb, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        error = "база истории не открывается: " +
                std::string(FDb != nullptr ? sqlite3_errmsg(FDb) : file.string());
        sqlite3_close(FDb);
        FDb = nullptr;
        return false;
    }
    sqlite3_busy_timeout(FDb, 2000);
    return true;
}

std::optional<std::int32_t> TDbHistory::FindInstrument(const std::string& text) {
    return FDb != nullptr ? history::FindInstrument(FDb, text) : std::nullopt;
}

bool TDbHistory::Read(std::int32_t isinId, TInterval interval, std::int64_t fromMs,
                      std::int64_t toMs, THistory& out, std::string& error) {
    out = {};
    if (FDb == nullptr) {
        error = "база истории не открыта";
        return false;
    }
    const TSnapshot snapshot(FDb);
    if (!history::QueryCandles(FDb, isinId, interval, fromMs, toMs, out.Candles, error))
        return false;
    TQuery last(FDb, "SELECT sess_id, moment FROM deal WHERE isin_id = ?1 "
                     "ORDER BY moment DESC, id_deal DESC LIMIT 1");
    TQuery counted(FDb, "SELECT id_deal FROM deal WHERE isin_id = ?1 AND moment >= ?2");
    TQuery own(FDb, "SELECT id_deal, moment, price, amount FROM deal "
                    "WHERE isin_id = ?1 AND own = 1 AND moment >= ?2 AND moment < ?3 "
                    "ORDER BY moment, id_deal");
    if (!last || !counted || !own) {
        error = std::string("база истории не читается: ") + sqlite3_errmsg(FDb);
        return false;
    }
    sqlite3_bind_int(*last, 1, isinId);
    out.Nothing = sqlite3_step(*last) != SQLITE_ROW;
    if (out.Nothing)
        return true;
    out.LastSession = sqlite3_column_int(*last, 0);
    // The stream holds the current session only: deals older than a session before the last
    // one recorded cannot come again.
    sqlite3_bind_int(*counted, 1, isinId);
    sqlite3_bind_int64(*counted, 2, sqlite3_column_int64(*last, 1) - kCountedReachMs);
    while (sqlite3_step(*counted) == SQLITE_ROW)
        out.Counted.push_back(sqlite3_column_int64(*counted, 0));
    sqlite3_bind_int(*own, 1, isinId);
    sqlite3_bind_int64(*own, 2, fromMs);
    sqlite3_bind_int64(*own, 3, toMs);
    while (sqlite3_step(*own) == SQLITE_ROW)
        out.Fills.push_back({sqlite3_column_int64(*own, 0), sqlite3_column_int64(*own, 1),
                             sqlite3_column_double(*own, 2), sqlite3_column_int64(*own, 3),
                             TFillSide::Unknown});
    return true;
}

TChartData::TChartData(THistorySource* source, std::int32_t isinId, std::int64_t fromMs,
                       std::int64_t toMs)
    : FSource(source), FIsinId(isinId), FFrom(fromMs), FTo(toMs) {}

bool TChartData::Load(TInterval interval) {
    FCache = TCandleCache(interval);
    FError.clear();
    THistory h;
    bool read = true;
    if (FSource != nullptr) {
        read = FSource->Read(FIsinId, interval, FFrom, FTo, h, FError);
        FNothing = read && h.Nothing;
    } else {
        FNothing = true;
    }
    FCache.SetHistory(std::move(h.Candles), h.LastSession);
    FCache.AddCounted(h.Counted);
    AddFills(h.Fills);
    for (const TLiveDeal& d : FLive)
        if (d.MomentMs >= FFrom && d.MomentMs < FTo)
            FCache.Add(d);
    return read;
}

void TChartData::AddLive(std::span<const TLiveDeal> deals) {
    for (const TLiveDeal& d : deals) {
        if (!FLiveIds.try_emplace(d.IdDeal, FLive.size()).second)
            continue;
        FLive.push_back(d);
        if (d.MomentMs >= FFrom && d.MomentMs < FTo)
            FCache.Add(d);
    }
}

void TChartData::AddFills(std::span<const TOwnFill> fills) {
    for (const TOwnFill& f : fills) {
        if (f.MomentMs < FFrom || f.MomentMs >= FTo)
            continue;
        const auto [it, fresh] = FFillIds.try_emplace(f.IdDeal, FFills.size());
        if (fresh) {
            FFills.push_back(f);
        } else if (f.Side != TFillSide::Unknown) {
            FFills[it->second].Side = f.Side;
        } else {
            continue;
        }
        ++FFillsVersion;
    }
}

} // namespace vorlen::chart
