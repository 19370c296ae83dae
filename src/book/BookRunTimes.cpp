#include "book/BookRunTimes.h"

#include <algorithm>
#include <limits>

namespace vorlen::book_detail {

void TRunTimes::Note(std::int64_t rev, TClock::time_point at) {
    if (!FMarks.empty()) {
        TMark& last = FMarks.back();
        if (rev <= last.Rev)
            return;
        // Within the newest mark's millisecond its runs make one: the mark's time is its last
        // run's end, never more than a grain after any of them.
        if (at < FOpened + kGrain) {
            last = {rev, at};
            return;
        }
    }
    if (FMarks.size() >= kRoom) {
        // Of each pair in the older half the later mark stays: it covers both runs' rows.
        std::size_t to = 0;
        for (std::size_t i = 1; i < kRoom / 2; i += 2)
            FMarks[to++] = FMarks[i];
        for (std::size_t i = kRoom / 2; i < FMarks.size(); ++i)
            FMarks[to++] = FMarks[i];
        FMarks.resize(to);
    }
    FMarks.push_back({rev, at});
    FOpened = at;
}

std::optional<TRunTimes::TClock::time_point> TRunTimes::When(std::int64_t rev) const {
    const auto it = std::lower_bound(FMarks.begin(), FMarks.end(), rev,
                                     [](const TMark& m, std::int64_t r) { return m.Rev < r; });
    if (it == FMarks.end())
        return std::nullopt;
    return it->At;
}

std::int64_t TRunTimes::Highest() const {
    return FMarks.empty() ? std::numeric_limits<std::int64_t>::min() : FMarks.back().Rev;
}

} // namespace vorlen::book_detail
