#include "options/Black76.h"

#include "options/ExpiryClock.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace vorlen::options {
namespace {

struct TPoint {
    double Forward, Strike, Years, Vol;
};

// Strike over forward 0.5–2, one hour to two years, 5–200 % volatility.
std::vector<TPoint> Grid() {
    std::vector<TPoint> g;
    const double forward = 100;
    for (double m : {0.5, 0.7, 0.9, 0.97, 1.0, 1.03, 1.1, 1.4, 2.0}) {
        for (double t : {1.0 / (365 * 24), 1.0 / 365, 7.0 / 365, 0.1, 0.5, 1.0, 2.0}) {
            for (double v : {0.05, 0.15, 0.3, 0.6, 1.0, 2.0}) {
                g.push_back({forward, forward * m, t, v});
            }
        }
    }
    return g;
}

TEST(Black76, ParityAndGreeksMatchFiniteDifferences) {
    for (const TPoint& p : Grid()) {
        SCOPED_TRACE(testing::Message() << "K=" << p.Strike << " T=" << p.Years << " v=" << p.Vol);
        const TGreeks c = Black76Greeks(TRight::Call, p.Forward, p.Strike, p.Years, p.Vol);
        const TGreeks q = Black76Greeks(TRight::Put, p.Forward, p.Strike, p.Years, p.Vol);
        // Undiscounted: call minus put is the forward minus the strike, exactly.
        EXPECT_NEAR(c.Price - q.Price, p.Forward - p.Strike, 1e-11 * p.Forward);
        EXPECT_NEAR(c.Delta - q.Delta, 1.0, 1e-12);
        EXPECT_DOUBLE_EQ(c.Gamma, q.Gamma);

        for (TRight right : {TRight::Call, TRight::Put}) {
            const TGreeks& g = right == TRight::Call ? c : q;
            auto price = [&](double f, double t, double v) {
                return Black76Price(right, f, p.Strike, t, v);
            };
            // Steps scaled to the distribution's width: an hour's at-the-money gamma is sharp.
            const double hf = 3e-3 * p.Forward * p.Vol * std::sqrt(p.Years);
            const double delta =
                (price(p.Forward + hf, p.Years, p.Vol) - price(p.Forward - hf, p.Years, p.Vol)) /
                (2 * hf);
            const double gamma = (price(p.Forward + hf, p.Years, p.Vol) - 2 * g.Price +
                                  price(p.Forward - hf, p.Years, p.Vol)) /
                                 (hf * hf);
            const double hv = 1e-5;
            const double vega =
                (price(p.Forward, p.Years, p.Vol + hv) - price(p.Forward, p.Years, p.Vol - hv)) /
                (2 * hv);
            const double ht = p.Years * 1e-4;
            const double theta =
                -(price(p.Forward, p.Years + ht, p.Vol) - price(p.Forward, p.Years - ht, p.Vol)) /
                (2 * ht) / 365;
            EXPECT_NEAR(g.Delta, delta, 1e-5);
            EXPECT_NEAR(g.Gamma, gamma, 1e-4 * std::max(1.0, std::fabs(g.Gamma)));
            EXPECT_NEAR(g.Vega, vega, 1e-6 * p.Forward);
            EXPECT_NEAR(g.Theta, theta, 1e-6 * std::max(1.0, std::fabs(g.Theta)));
        }
    }
}

TEST(Black76, ImpliedVolRoundTripsOverTheGrid) {
    int solved = 0;
    for (const TPoint& p : Grid()) {
        for (TRight right : {TRight::Call, TRight::Put}) {
            SCOPED_TRACE(testing::Message() << (right == TRight::Call ? "C" : "P") << " K="
                                            << p.Strike << " T=" << p.Years << " v=" << p.Vol);
            const double price = Black76Price(right, p.Forward, p.Strike, p.Years, p.Vol);
            const double intrinsic =
                std::max(0.0, right == TRight::Call ? p.Forward - p.Strike : p.Strike - p.Forward);
            const TIvResult iv = ImpliedVol(right, p.Forward, p.Strike, p.Years, price);
            if (price <= intrinsic) {
                // So little time value that the double holding the price lost it: nothing to
                // solve, and the solver must say so rather than guess.
                EXPECT_FALSE(iv.Vol);
                EXPECT_NE(iv.Failure, TIvFailure::None);
                continue;
            }
            ASSERT_TRUE(iv.Vol) << IvFailureText(iv.Failure);
            EXPECT_LE(iv.Iterations, 100);
            EXPECT_NEAR(Black76Price(right, p.Forward, p.Strike, p.Years, *iv.Vol), price, 1e-10);
            // Where the price says anything about the volatility, it gives it back.
            const double vega = Black76Greeks(right, p.Forward, p.Strike, p.Years, p.Vol).Vega;
            if (vega > 1e-3) {
                EXPECT_NEAR(*iv.Vol, p.Vol, 1e-8);
            }
            ++solved;
        }
    }
    EXPECT_GT(solved, 600);
}

TEST(Black76, PricesWithoutAVolatilityAreRefusedWithTheirReason) {
    struct TCase {
        double Forward, Strike, Years, Price;
        TRight Right;
        TIvFailure Failure;
    } cases[] = {
        {100, 90, 0.25, 9.5, TRight::Call, TIvFailure::BelowIntrinsic},
        {100, 90, 0.25, 10.0, TRight::Call, TIvFailure::BelowIntrinsic},
        {100, 110, 0.25, 9.99, TRight::Put, TIvFailure::BelowIntrinsic},
        {100, 90, 0.25, 100.0, TRight::Call, TIvFailure::AtUpperBound},
        {100, 90, 0.25, 120.0, TRight::Call, TIvFailure::AtUpperBound},
        {100, 110, 0.25, 110.0, TRight::Put, TIvFailure::AtUpperBound},
        {100, 100, 0.0, 1.0, TRight::Call, TIvFailure::Expired},
        {100, 100, -0.01, 1.0, TRight::Put, TIvFailure::Expired},
        {100, 100, 0.25, 0.0, TRight::Call, TIvFailure::BadInput},
        {0, 100, 0.25, 1.0, TRight::Call, TIvFailure::BadInput},
        {100, 100, 0.25, NAN, TRight::Call, TIvFailure::BadInput},
        // 99.9 for an at-the-money call on 100 needs far more than 1000 % a year.
        {100, 100, 0.25, 99.9, TRight::Call, TIvFailure::OutsideVolRange},
        // Under what 0.01 % a year gives an at-the-money call.
        {100, 100, 0.25, 0.001, TRight::Call, TIvFailure::OutsideVolRange},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Strike << " " << c.Price);
        const TIvResult r = ImpliedVol(c.Right, c.Forward, c.Strike, c.Years, c.Price);
        EXPECT_FALSE(r.Vol);
        EXPECT_EQ(r.Failure, c.Failure);
        EXPECT_FALSE(IvFailureText(r.Failure).empty());
    }
}

TEST(Black76, ExpiryTodayStillSolvesAndExpiredSeriesAreWorthExercise) {
    // Trading's last hour: tiny time value, still a volatility.
    const double hour = 1.0 / (365 * 24);
    const double price = Black76Price(TRight::Put, 100, 100, hour, 0.3);
    const TIvResult iv = ImpliedVol(TRight::Put, 100, 100, hour, price);
    ASSERT_TRUE(iv.Vol);
    EXPECT_NEAR(*iv.Vol, 0.3, 1e-9);
    for (double years : {0.0, -1.0 / 365}) {
        const TGreeks c = Black76Greeks(TRight::Call, 100, 95, years, 0.3);
        EXPECT_EQ(c.Price, 5.0);
        EXPECT_EQ(c.Delta, 1.0);
        EXPECT_EQ(c.Gamma, 0.0);
        EXPECT_EQ(c.Vega, 0.0);
        const TGreeks p = Black76Greeks(TRight::Put, 100, 95, years, 0.3);
        EXPECT_EQ(p.Price, 0.0);
        EXPECT_EQ(p.Delta, 0.0);
    }
}

TEST(ExpiryClock, CountsActualDaysToMoscowTime) {
    // 18:50 Moscow on 18 December 2026 is 15:50 UTC.
    const double expiry = ExchangeDays(2026, 12, 18, 18, 50);
    EXPECT_DOUBLE_EQ(ExchangeDaysToUnixSeconds(expiry), 1797609000.0);
    const auto at = [](double unix) {
        return std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::duration<double>(unix)));
    };
    EXPECT_NEAR(YearsUntil(expiry, at(1797609000.0 - 365 * 86400.0)), 1.0, 1e-12);
    EXPECT_NEAR(YearsUntil(expiry, at(1797609000.0 - 3600)), 1.0 / (365 * 24), 1e-12);
    EXPECT_LT(YearsUntil(expiry, at(1797609000.0 + 1)), 0.0);
}

} // namespace
} // namespace vorlen::options
