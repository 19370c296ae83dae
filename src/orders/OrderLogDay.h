#pragma once

// What the day's order log file tells a terminal that starts again on the same day: the orders
// it sent (when, for which client code), the order numbers the exchange gave them, and whether
// trading was left stopped. The file may end in a torn line (the process was killed while it
// wrote) or hold garbage: what cannot be read is counted, never guessed away, and an order whose
// outcome the file does not tell counts as sent.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen::orders {

struct TLoggedPost {
    std::int64_t AtMs = 0; // wall-clock milliseconds
    std::string Client;    // empty: the line that named it could not be read
};

struct TLoggedDay {
    std::vector<TLoggedPost> Posts;
    // Order numbers of the exchange's answers: the orders log shows these orders too.
    std::set<std::int64_t> OrderIds;
    // The last word on trading: the kill switch stopped it (1), the trader allowed it again
    // (0), or neither was written (-1).
    int Halted = -1;
    std::int64_t HaltedAtMs = 0; // when that word was written
    std::size_t Damaged = 0;     // lines that could not be read
};

// Reads one file's text; `dayMs` is the local midnight of the file's date (the lines carry only
// the time of day in a fixed form, their date in the user's format). Several files of one day
// are read into the same record in date order.
void ReadOrderLogText(std::string_view text, std::int64_t dayMs, TLoggedDay& day);

// The local midnight of the date `ms` falls on, as wall-clock milliseconds.
std::int64_t LocalMidnightMs(std::int64_t ms);

// The journal texts the file is read by; the kill switch and the desk write them.
inline constexpr std::string_view kHaltText =
    "Снять все заявки и остановить торговлю: торговля остановлена";
inline constexpr std::string_view kRearmText = "Торговля снова разрешена.";

} // namespace vorlen::orders
