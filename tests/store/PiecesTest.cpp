#include "store/Pieces.h"

#include <cstddef>
#include <gtest/gtest.h>
#include <vector>

namespace vorlen {
namespace {

// Appends and shrinks across the pieces' edges against a plain vector: every element stays
// where it was put, a shrink keeps exactly the first ones, and appending after a shrink goes on
// from there in the piece that was kept.
TEST(Pieces, KeepsEveryElementInPlaceAcrossPieceEdges) {
    constexpr std::size_t P = TPieces<std::size_t>::kPiece;
    struct TStep {
        std::size_t Append; // then
        std::size_t ShrinkTo;
    };
    const TStep steps[] = {
        {1, 5}, {P - 1, P - 1},     {1, P}, {1, P}, {2 * P + 3, P + 1}, {P - 1, 2 * P - 1}, {0, P},
        {0, 0}, {3 * P, 3 * P - 1}, {5, 1},
    };
    TPieces<std::size_t> pieces;
    std::vector<std::size_t> ref;
    std::size_t next = 1;
    const auto same = [&] {
        ASSERT_EQ(pieces.size(), ref.size());
        for (std::size_t i = 0; i < ref.size(); ++i)
            ASSERT_EQ(pieces[i], ref[i]) << "at " << i;
        std::size_t walked = 0;
        for (const std::size_t v : pieces)
            ASSERT_EQ(v, ref[walked++]);
        ASSERT_EQ(walked, ref.size());
    };
    for (const TStep& s : steps) {
        for (std::size_t i = 0; i < s.Append; ++i) {
            pieces.push_back(next);
            ref.push_back(next++);
        }
        same();
        pieces.shrink(s.ShrinkTo);
        if (s.ShrinkTo < ref.size())
            ref.resize(s.ShrinkTo);
        same();
        // Writing through the index reaches the element the walk then sees.
        if (!ref.empty()) {
            pieces[ref.size() - 1] = ref.back() = next++;
            same();
        }
    }
    TPieces<std::size_t> other;
    other.push_back(7);
    other.swap(pieces);
    EXPECT_EQ(pieces.size(), 1U);
    EXPECT_EQ(pieces[0], 7U);
    ASSERT_EQ(other.size(), ref.size());
    // A move leaves nothing behind to walk (a cleared table's garbage is moved about).
    TPieces<std::size_t> moved(std::move(other));
    // The moved-from state is what is checked here.
    // NOLINTBEGIN(bugprone-use-after-move)
    EXPECT_TRUE(other.empty());
    EXPECT_EQ(other.begin(), other.end());
    // NOLINTEND(bugprone-use-after-move)
    EXPECT_EQ(moved.size(), ref.size());
    moved.clear();
    EXPECT_TRUE(moved.empty());
}

} // namespace
} // namespace vorlen
