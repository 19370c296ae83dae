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
// The marks are kept at several grains, each ten times the last: a millisecond, ten, a hundred,
// a second... Each grain keeps its latest few hundred marks. A row is looked up at the finest
// grain that still reaches back to it, so the time found is never before the row came and is
// late by less than a twentieth of the row's age; the room stays fixed however long the session.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vorlen::book_detail {

class TRunTimes {
public:
    static constexpr std::size_t kGrains = 7;
    static constexpr std::size_t kMarks = 256; // per grain
    static constexpr std::chrono::milliseconds kFinest{1};

    // A run that ended at `at` took the table's highest revision to `rev`.
    void Note(std::int64_t rev, std::chrono::system_clock::time_point at);
    // When the row of revision `rev` came; none when no run has reached it.
    std::optional<std::chrono::system_clock::time_point> When(std::int64_t rev) const;
    // The highest revision noted; the lowest possible before any.
    std::int64_t Highest() const;
    void Clear() { FGrains = {}; }

private:
    struct TMark {
        std::int64_t Rev = 0;
        std::chrono::system_clock::time_point At;
    };
    // The latest marks at one grain, oldest first from First, in a ring.
    struct TGrain {
        std::array<TMark, kMarks> Marks;
        std::size_t First = 0, Count = 0;
        bool Dropped = false; // marks older than the oldest here were let go
        std::chrono::system_clock::time_point Opened; // when the newest mark was first set
        const TMark& At(std::size_t i) const { return Marks[(First + i) % kMarks]; }
        TMark& At(std::size_t i) { return Marks[(First + i) % kMarks]; }
    };
    std::array<TGrain, kGrains> FGrains;
};

} // namespace vorlen::book_detail
