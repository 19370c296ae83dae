// The overflow checks: the builtins where the compiler has them, and the plain C++ that MSVC
// uses, must agree on every edge of the 64-bit range.

#include "platform/Compiler.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace vorlen::platform {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

struct TCase {
    std::int64_t A = 0, B = 0;
    bool Overflows = false;
    std::int64_t Result = 0; // when it does not overflow
};

using TCheck = bool (*)(std::int64_t, std::int64_t, std::int64_t&);

void Check(const char* what, TCheck check, const TCase& c) {
    std::int64_t out = 0;
    EXPECT_EQ(check(c.A, c.B, out), c.Overflows) << what << " " << c.A << ", " << c.B;
    if (!c.Overflows) {
        EXPECT_EQ(out, c.Result) << what << " " << c.A << ", " << c.B;
    }
}

TEST(CompilerOverflow, MultiplicationOverflowsExactlyPastTheRange) {
    const TCase cases[] = {
        {.A = 0, .B = kMin, .Result = 0},
        {.A = kMin, .B = 0, .Result = 0},
        {.A = 1, .B = kMin, .Result = kMin},
        {.A = -1, .B = kMax, .Result = -kMax},
        {.A = -1, .B = kMin, .Overflows = true},
        {.A = kMin, .B = -1, .Overflows = true},
        {.A = kMax / 2, .B = 2, .Result = kMax - 1},
        {.A = kMax / 2 + 1, .B = 2, .Overflows = true},
        {.A = kMin / 2, .B = 2, .Result = kMin},
        {.A = kMin / 2 - 1, .B = 2, .Overflows = true},
        {.A = 2, .B = kMin / 2, .Result = kMin},
        {.A = -2, .B = kMin / 2, .Overflows = true},
        {.A = -2, .B = -(kMax / 2), .Result = kMax - 1},
        {.A = -3'037'000'500, .B = -3'037'000'500, .Overflows = true},
        {.A = -3'037'000'499, .B = 3'037'000'499, .Result = -9'223'372'030'926'249'001},
        {.A = 999'999'999'999'999'999, .B = 10, .Overflows = true},
    };
    for (const TCase& c : cases) {
        Check("MulOverflow", MulOverflow, c);
        Check("MulOverflowPortable", compiler_detail::MulOverflowPortable, c);
    }
}

TEST(CompilerOverflow, AdditionOverflowsExactlyPastTheRange) {
    const TCase cases[] = {
        {.A = kMax, .B = 0, .Result = kMax},     {.A = kMax, .B = 1, .Overflows = true},
        {.A = kMin, .B = -1, .Overflows = true}, {.A = kMin, .B = kMax, .Result = -1},
        {.A = kMax, .B = kMin, .Result = -1},    {.A = -1, .B = kMin, .Overflows = true},
        {.A = kMax - 5, .B = 5, .Result = kMax},
    };
    for (const TCase& c : cases) {
        Check("AddOverflow", AddOverflow, c);
        Check("AddOverflowPortable", compiler_detail::AddOverflowPortable, c);
    }
}

} // namespace
} // namespace vorlen::platform
