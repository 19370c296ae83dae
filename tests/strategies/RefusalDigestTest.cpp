#include "strategies/RefusalDigest.h"

#include <gtest/gtest.h>

namespace vorlen {
namespace {

TEST(RefusalDigestTest, AfterAFewRefusalsTheRestOfTheSecondIsCountedAndToldOnce) {
    using namespace std::chrono_literals;
    TRefusalDigest d;
    const auto t0 = TRefusalDigest::TClock::time_point{} + 100s;
    std::string refusal;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(d.Admit(t0 + i * 10ms, refusal));
        d.Refused(t0 + i * 10ms, "причина " + std::to_string(i));
    }
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(d.Admit(t0 + 500ms, refusal));
    EXPECT_NE(refusal.find("последняя причина: причина 2"), std::string::npos) << refusal;
    EXPECT_EQ(d.TakeLine(t0 + 999ms, "s.lua"), "");
    // Once the second is over, orders reach the gate again and the count is told.
    EXPECT_TRUE(d.Admit(t0 + 1s, refusal));
    EXPECT_EQ(d.TakeLine(t0 + 1s, "s.lua"),
              "Стратегия s.lua: отклонено заявок стратегии: 5, последняя причина: причина 2.");
    EXPECT_EQ(d.TakeLine(t0 + 5s, "s.lua"), "");
    // A new second starts with the next refusal; what is left is told at the end.
    d.Refused(t0 + 2s, "другая");
    EXPECT_TRUE(d.Admit(t0 + 2s, refusal));
    d.Refused(t0 + 2s, "другая");
    d.Refused(t0 + 2s, "другая");
    EXPECT_FALSE(d.Admit(t0 + 2s, refusal));
    EXPECT_EQ(d.TakeLine(t0 + 2s, "s.lua", true),
              "Стратегия s.lua: отклонено заявок стратегии: 1, последняя причина: другая.");
}

} // namespace
} // namespace vorlen
