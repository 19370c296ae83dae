#pragma once

// Candles of one instrument read from the history database. A candle is stamped with the start
// of its interval in exchange time (Moscow, UTC+3 all year), given as UTC milliseconds; an
// interval without deals has no candle. A day candle is one trading session (sess_id), stamped
// with the midnight of the day of its last deal: the evening session that opens a trading day
// belongs to that day's candle. A tick candle is one deal.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace vorlen::history {

enum class TInterval { Tick, Minute1, Minute5, Minute15, Hour1, Day1 };

// "tick", "1m", "5m", "15m", "1h", "1d".
std::optional<TInterval> ParseInterval(std::string_view text);
// The interval's length in milliseconds; 0 for ticks and days, which are not of fixed length.
std::int64_t IntervalMs(TInterval interval);

struct TCandle {
    std::int64_t StartMs = 0;
    double Open = 0;
    double High = 0;
    double Low = 0;
    double Close = 0;
    std::int64_t Volume = 0;
    bool operator==(const TCandle&) const = default;
};

// The candles whose stamps lie in [fromMs, toMs), oldest first. False with `error` set when the
// database cannot be read.
bool QueryCandles(sqlite3* db, std::int32_t isinId, TInterval interval, std::int64_t fromMs,
                  std::int64_t toMs, std::vector<TCandle>& out, std::string& error);

// The instrument's id by its code (isin or short_isin) as the exchange's reference data named it,
// or the number itself when `text` is one.
std::optional<std::int32_t> FindInstrument(sqlite3* db, const std::string& text);

// "YYYY-MM-DD HH:MM[:SS]" in exchange time to UTC milliseconds, and back ("YYYY-MM-DD HH:MM:SS").
std::optional<std::int64_t> ParseExchangeTime(std::string_view text);
std::string FormatExchangeTime(std::int64_t utcMs);

} // namespace vorlen::history
