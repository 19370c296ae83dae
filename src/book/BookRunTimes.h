#pragma once

// When the rows of an aggregated table came, by their revision.
//
// A row a message changes in place, without moving it to another instrument, is not told to the
// books at all: that is most of the messages they follow. Yet a book shows when it last changed.
// The exchange gives a row it stores a revision above every revision the table had, so the run
// of messages that first took the table's highest revision to a row's revision or beyond is the
// run that stored it. The books note, once a run, the table's highest revision and the time the
// run ended, and look a book's newest row up here when a reader copies the book.
//
// At most one mark a millisecond is kept. When the marks fill their room, the older half is
// thinned to every other mark: old times grow coarser while recent ones stay sharp, the room
// never grows however long the session, and a time found is never before the row came.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vorlen::book_detail {

class TRunTimes {
public:
    using TClock = std::chrono::system_clock;
    static constexpr std::size_t kRoom = 1024;
    static constexpr std::chrono::milliseconds kGrain{1};

    // A run that ended at `at` took the table's highest revision to `rev`.
    void Note(std::int64_t rev, TClock::time_point at);
    // When the row of revision `rev` came; none when no run has reached it.
    std::optional<TClock::time_point> When(std::int64_t rev) const;
    // The highest revision noted; the lowest possible before any.
    std::int64_t Highest() const;
    std::size_t Marks() const { return FMarks.size(); }
    void Clear() { FMarks.clear(); }

private:
    struct TMark {
        std::int64_t Rev;
        TClock::time_point At;
    };
    std::vector<TMark> FMarks;
    TClock::time_point FOpened; // when the newest mark was first set
};

} // namespace vorlen::book_detail
