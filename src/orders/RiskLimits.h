#pragma once

// The limits the risk gate holds every order to: conservative built-in defaults, replaced per
// client code and, under a client code, per instrument.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vorlen::orders {

// Prices travel in 1e-5 units, the finest step the exchange's prices carry.
inline constexpr std::int64_t kPriceScale = 100000;
inline constexpr int kPriceDecimals = 5;

// What one order can carry to the exchange: the add message's amount is a 32-bit integer, and the
// exchange's prices hold 16 digits, 5 of them decimals (so that the price's text also fits the
// message's 17 characters).
inline constexpr std::int64_t kMaxOrderAmount = 2'147'483'647;
inline constexpr std::int64_t kMaxOrderPrice = 9'999'999'999'999'999;

// The largest values the limits file takes: beyond them a value is a slip of the keyboard, not a
// limit, and the gate's arithmetic stays inside 64 bits for every value it may be given.
inline constexpr std::int64_t kMaxLimitCount = 1'000'000'000;
inline constexpr std::int64_t kMaxDistanceBp = 100'000; // 1000 %
inline constexpr std::int64_t kMaxDistanceSteps = 1'000'000;

// Decimal text ("92000", "1.25", "0,5") in 1e-5 units; nothing for text that is not a price or
// has non-zero digits beyond the fifth decimal place.
std::optional<std::int64_t> ParsePrice(const std::string& text);
std::string FormatPrice(std::int64_t units);
// The same with `decimalSeparator` for its point: what a window shows the trader.
std::string FormatPrice(std::int64_t units, char decimalSeparator);
// FormatPrice's text written at `out`, which has room for 32 characters; returns its end.
char* WritePrice(std::int64_t units, char* out);

struct TRiskLimits {
    std::int64_t MaxOrderQty = 10;
    std::int64_t MaxPosition = 50;
    std::int64_t MaxActive = 20;
    std::int64_t MaxPerMinute = 60;
    std::int64_t MaxPerDay = 500;
    // Furthest distance from the best opposite price, in hundredths of a percent (500 = 5 %).
    std::int64_t MaxDistanceBp = 500;
    // The same for an option series, in its price steps: a premium is a small fraction of the
    // futures, so a percentage of it is either far too tight near the money or meaningless in
    // the wings, while a step is what the series is actually quoted in.
    std::int64_t MaxOptionDistanceSteps = 20;
    bool operator==(const TRiskLimits&) const = default;
};

// One line of the limits file may set any subset of the fields; the rest are inherited.
struct TLimitsPatch {
    std::optional<std::int64_t> MaxOrderQty, MaxPosition, MaxActive, MaxPerMinute, MaxPerDay,
        MaxDistanceBp, MaxOptionDistanceSteps;
    void ApplyTo(TRiskLimits& limits) const;
    bool operator==(const TLimitsPatch&) const = default;
};

// The file, one rule a line, '#' starts a comment:
//
//   *              max_qty=10 max_pos=50 max_active=20 per_minute=60 per_day=500 distance_pct=5
//   *              opt_distance_steps=20
//   FZ00001        max_qty=5
//   FZ00001 Si-3.27 max_pos=20
//   FZ00001 Si-3.27M190327CA92000 max_pos=10 opt_distance_steps=5
//
// The first word is "*" (every client code), a client code (seven capital Latin letters or digits,
// as the account table shows it), or a client code followed by an instrument's isin; then key=value
// pairs. The built-in defaults apply first, then "*", then the client code's line, then its
// instrument's line. distance_pct takes up to two decimals and holds futures; option series are
// held to opt_distance_steps instead, whole price steps of the series. A file is taken whole or not
// at all: a line that says the same scope again, a key said twice, a value out of range or any byte
// that is not text makes it a damaged file, never a looser one.
class TLimitsBook {
public:
    TRiskLimits For(const std::string& client, const std::string& isin) const;

    void SetAll(const TLimitsPatch& p) { FAll = p; }
    void SetClient(const std::string& client, const TLimitsPatch& p) { FClients[client] = p; }
    void SetInstrument(const std::string& client, const std::string& isin, const TLimitsPatch& p) {
        FInstruments[{client, isin}] = p;
    }

    // False with `error` (naming the line; bytes that are not printable text escaped as \xNN)
    // when the text is not a limits file; the book is then left unchanged, so a damaged file
    // never loosens a limit. A UTF-8 byte-order mark before the first line is allowed.
    bool Parse(const std::string& text, std::string& error);
    std::string Format() const;
    // The rules that stop trading where they apply ("* per_minute=0", "FZ00001 max_qty=0"): a
    // zero count lets no order through (max_pos=0 only those that close a position).
    std::vector<std::string> Stopping() const;

    const TLimitsPatch& All() const { return FAll; }
    const std::map<std::string, TLimitsPatch>& Clients() const { return FClients; }
    const std::map<std::pair<std::string, std::string>, TLimitsPatch>& Instruments() const {
        return FInstruments;
    }

private:
    TLimitsPatch FAll;
    std::map<std::string, TLimitsPatch> FClients;
    std::map<std::pair<std::string, std::string>, TLimitsPatch> FInstruments;
};

// The limits file as the limits form's table shows it: a row per rule, a column per key, the
// values as the file writes them (with `decimalSeparator` for the point) and "" where the rule
// inherits. Client "*" is every client code.
inline constexpr std::size_t kLimitKeyCount = 7;
struct TLimitsRow {
    std::string Client, Isin;
    std::array<std::string, kLimitKeyCount> Values;
    bool operator==(const TLimitsRow&) const = default;
};
// The keys' columns in the form: "Лотов в заявке", "Позиция", ...
const std::array<const char*, kLimitKeyCount>& LimitKeyCaptions();
// What each key limits, in a sentence: the columns' tool tips.
const std::array<const char*, kLimitKeyCount>& LimitKeyHints();
// "*" first (always there), then client codes, then their instruments.
std::vector<TLimitsRow> LimitsRows(const TLimitsBook& book, char decimalSeparator = '.');
// The file's text for the rows, one line per row, so that what TLimitsBook::Parse says of a
// line it says of that row; a row with nothing in it is an empty line.
std::string LimitsRowsText(const std::vector<TLimitsRow>& rows);

inline constexpr const char* kLimitsFileName = "risk_limits.txt";

} // namespace vorlen::orders
