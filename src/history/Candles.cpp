#include "history/Candles.h"

#include "history/HistoryDb.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <map>
#include <sqlite3.h>

namespace vorlen::history {

namespace {

constexpr std::int64_t kMinuteMs = 60'000;
constexpr std::int64_t kDayMs = 86'400'000;
// A session opens on the evening before its day, and the one after a weekend on the Friday
// before: a week either side of the asked range holds every deal of its sessions.
constexpr std::int64_t kSessionReachMs = 7 * kDayMs;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

// The start of the interval of length `len` holding `ms`, intervals counted in exchange time.
std::int64_t Bucket(std::int64_t ms, std::int64_t len) {
    return FloorDiv(ms + kExchangeOffsetMs, len) * len - kExchangeOffsetMs;
}

// The first interval start at or after `ms`.
std::int64_t BucketCeil(std::int64_t ms, std::int64_t len) {
    const std::int64_t b = Bucket(ms, len);
    return b == ms ? b : b + len;
}

class TStatement {
public:
    TStatement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &FStmt, nullptr) != SQLITE_OK)
            FStmt = nullptr;
    }
    ~TStatement() { sqlite3_finalize(FStmt); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;
    sqlite3_stmt* operator*() const { return FStmt; }
    explicit operator bool() const { return FStmt != nullptr; }

private:
    sqlite3_stmt* FStmt = nullptr;
};

void Merge(std::vector<TCandle>& out, std::int64_t start, double open, double high, double low,
           double close, std::int64_t volume) {
    if (out.empty() || out.back().StartMs != start) {
        out.push_back({start, open, high, low, close, volume});
        return;
    }
    TCandle& c = out.back();
    c.High = std::max(c.High, high);
    c.Low = std::min(c.Low, low);
    c.Close = close;
    c.Volume += volume;
}

bool Fail(sqlite3* db, std::string& error) {
    error = std::string("база истории не читается: ") + sqlite3_errmsg(db);
    return false;
}

} // namespace

std::optional<TInterval> ParseInterval(std::string_view text) {
    static constexpr std::pair<std::string_view, TInterval> kNames[] = {
        {"tick", TInterval::Tick},    {"1m", TInterval::Minute1}, {"5m", TInterval::Minute5},
        {"15m", TInterval::Minute15}, {"1h", TInterval::Hour1},   {"1d", TInterval::Day1}};
    for (const auto& [name, interval] : kNames)
        if (name == text)
            return interval;
    return std::nullopt;
}

std::int64_t IntervalMs(TInterval interval) {
    switch (interval) {
    case TInterval::Minute1:
        return kMinuteMs;
    case TInterval::Minute5:
        return 5 * kMinuteMs;
    case TInterval::Minute15:
        return 15 * kMinuteMs;
    case TInterval::Hour1:
        return 60 * kMinuteMs;
    default:
        return 0;
    }
}

bool QueryCandles(sqlite3* db, std::int32_t isinId, TInterval interval, std::int64_t fromMs,
                  std::int64_t toMs, std::vector<TCandle>& out, std::string& error) {
    out.clear();
    if (fromMs >= toMs)
        return true;
    if (const std::int64_t len = IntervalMs(interval); len != 0) {
        // Fixed intervals are whole minutes: they gather the stored minute candles.
        TStatement q(db, "SELECT start, open, high, low, close, volume FROM candle_1m "
                         "WHERE isin_id = ?1 AND start >= ?2 AND start < ?3 ORDER BY start");
        if (!q)
            return Fail(db, error);
        sqlite3_bind_int(*q, 1, isinId);
        sqlite3_bind_int64(*q, 2, BucketCeil(fromMs, len));
        sqlite3_bind_int64(*q, 3, BucketCeil(toMs, len));
        int rc = 0;
        while ((rc = sqlite3_step(*q)) == SQLITE_ROW)
            Merge(out, Bucket(sqlite3_column_int64(*q, 0), len), sqlite3_column_double(*q, 1),
                  sqlite3_column_double(*q, 2), sqlite3_column_double(*q, 3),
                  sqlite3_column_double(*q, 4), sqlite3_column_int64(*q, 5));
        return rc == SQLITE_DONE || Fail(db, error);
    }
    const bool day = interval == TInterval::Day1;
    TStatement q(db,
                 "SELECT sess_id, moment, price, amount FROM deal "
                 "WHERE isin_id = ?1 AND moment >= ?2 AND moment < ?3 ORDER BY moment, id_deal");
    if (!q)
        return Fail(db, error);
    sqlite3_bind_int(*q, 1, isinId);
    sqlite3_bind_int64(*q, 2, day ? fromMs - kSessionReachMs : fromMs);
    sqlite3_bind_int64(*q, 3, day ? toMs + kSessionReachMs : toMs);
    std::map<std::int32_t, TCandle> sessions;
    int rc = 0;
    while ((rc = sqlite3_step(*q)) == SQLITE_ROW) {
        const std::int64_t moment = sqlite3_column_int64(*q, 1);
        const double price = sqlite3_column_double(*q, 2);
        const std::int64_t amount = sqlite3_column_int64(*q, 3);
        if (!day) {
            out.push_back({moment, price, price, price, price, amount});
            continue;
        }
        const auto [it, fresh] = sessions.try_emplace(sqlite3_column_int(*q, 0));
        TCandle& c = it->second;
        if (fresh) {
            c = {0, price, price, price, price, 0};
        }
        c.StartMs = Bucket(moment, kDayMs);
        c.High = std::max(c.High, price);
        c.Low = std::min(c.Low, price);
        c.Close = price;
        c.Volume += amount;
    }
    if (rc != SQLITE_DONE)
        return Fail(db, error);
    for (const auto& [sess, c] : sessions)
        if (c.StartMs >= fromMs && c.StartMs < toMs)
            out.push_back(c);
    std::stable_sort(out.begin(), out.end(),
                     [](const TCandle& a, const TCandle& b) { return a.StartMs < b.StartMs; });
    return true;
}

std::optional<std::int32_t> FindInstrument(sqlite3* db, const std::string& text) {
    std::int32_t id = 0;
    const char* end = text.data() + text.size();
    if (const auto r = std::from_chars(text.data(), end, id); r.ec == std::errc() && r.ptr == end)
        return id;
    TStatement q(db, "SELECT isin_id FROM instrument WHERE isin = ?1 OR short_isin = ?1 "
                     "ORDER BY isin = ?1 DESC LIMIT 1");
    if (!q)
        return std::nullopt;
    sqlite3_bind_text(*q, 1, text.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(*q) != SQLITE_ROW)
        return std::nullopt;
    return sqlite3_column_int(*q, 0);
}

std::optional<std::int64_t> ParseExchangeTime(std::string_view text) {
    int y = 0;
    unsigned mo = 0;
    unsigned d = 0;
    unsigned h = 0;
    unsigned mi = 0;
    unsigned s = 0;
    const std::string copy(text);
    char tail = 0;
    const int n = std::sscanf(copy.c_str(), "%d-%u-%u %u:%u:%u%c", &y, &mo, &d, &h, &mi, &s, &tail);
    if ((n != 5 && n != 6) || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(y), std::chrono::month(mo),
                                           std::chrono::day(d)};
    if (!date.ok())
        return std::nullopt;
    const std::int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
    return days * kDayMs + ((h * 60 + mi) * 60 + s) * 1000LL - kExchangeOffsetMs;
}

std::string FormatExchangeTime(std::int64_t utcMs) {
    const std::int64_t local = utcMs + kExchangeOffsetMs;
    const std::int64_t days = FloorDiv(local, kDayMs);
    const std::int64_t inDay = (local - days * kDayMs) / 1000;
    const std::chrono::year_month_day date{
        std::chrono::sys_days(std::chrono::days(static_cast<int>(days)))};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                  static_cast<int>(inDay % 60));
    return text;
}

} // namespace vorlen::history
