#include "book/BookRunTimes.h"

#include <limits>

namespace vorlen::book_detail {

void TRunTimes::Note(std::int64_t rev, std::chrono::system_clock::time_point at) {
    std::chrono::system_clock::duration grain = kFinest;
    for (TGrain& g : FGrains) {
        const std::chrono::system_clock::duration width = grain;
        grain *= 10;
        if (g.Count > 0) {
            TMark& last = g.At(g.Count - 1);
            if (rev <= last.Rev)
                return; // nothing new, at this grain or any coarser one
            // Within the newest mark's grain its runs make one: the mark's time is its last
            // run's end, never more than a grain after any of them.
            if (at < g.Opened + width) {
                last = {rev, at};
                continue;
            }
        }
        if (g.Count == kMarks) {
            g.First = (g.First + 1) % kMarks;
            --g.Count;
            g.Dropped = true;
        }
        g.At(g.Count++) = {rev, at};
        g.Opened = at;
    }
}

std::optional<std::chrono::system_clock::time_point> TRunTimes::When(std::int64_t rev) const {
    for (const TGrain& g : FGrains) {
        if (g.Count == 0)
            return std::nullopt;
        // A grain that let older marks go answers only for rows after its oldest mark.
        if (g.Dropped && rev <= g.At(0).Rev && &g != &FGrains.back())
            continue;
        std::size_t lo = 0, hi = g.Count;
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (g.At(mid).Rev < rev)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo == g.Count)
            return std::nullopt;
        return g.At(lo).At;
    }
    return std::nullopt;
}

std::int64_t TRunTimes::Highest() const {
    const TGrain& g = FGrains.front();
    return g.Count == 0 ? std::numeric_limits<std::int64_t>::min() : g.At(g.Count - 1).Rev;
}

} // namespace vorlen::book_detail
