#pragma once

// A strategy that keeps placing orders the gate refuses would write two lines per order into the
// journal and the day's order log, thousands a second. The first few refusals of each second
// reach the desk (and its lines) as they are; the orders after them in the same second are
// refused here, unchecked, and counted, and the count is written once the second is over.

#include <chrono>
#include <cstddef>
#include <string>

namespace vorlen {

class TRefusalDigest {
public:
    using TClock = std::chrono::steady_clock;
    // Refusals a second that still reach the desk one by one.
    static constexpr std::size_t kPassed = 3;
    static constexpr std::chrono::seconds kWindow{1};

    // Whether an order may go to the desk now. When not, it is counted and `refusal` is what
    // the script is told.
    bool Admit(TClock::time_point now, std::string& refusal);
    // The desk (or the exchange) refused an order that was admitted.
    void Refused(TClock::time_point now, const std::string& reason);
    // The summary line of the counted refusals once their second is over (or, with `all`, at
    // once); empty when there is nothing to tell.
    std::string TakeLine(TClock::time_point now, const std::string& strategy, bool all = false);

private:
    TClock::time_point FStart;
    std::size_t FRefused = 0; // in the window, admitted ones included
    std::size_t FCounted = 0; // refused here
    std::string FLast;
};

// A strategy that logs in a loop would bury the journal (tens of thousands of lines within one
// callback's budget): the first kLines of each second are written, the rest counted, and the
// count is written once the second is over.
class TLogAllowance {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr std::size_t kLines = 1000;

    // Whether a line may be written now; when not, it is counted.
    bool Admit(TClock::time_point now);
    // The line that tells how many were left out, once their second is over (or, with `all`, at
    // once); empty when none were. The caller takes it before it admits the next line.
    std::string TakeLine(TClock::time_point now, const std::string& strategy, bool all = false);

private:
    TClock::time_point FStart;
    std::size_t FLines = 0;
    std::size_t FDropped = 0;
};

} // namespace vorlen
