// Our compact Black-76 against QuantLib's over the whole grid the board meets: the formulas are
// short, but a sign or a missing factor in a greek would pass every test that only checks our
// own identities.

#include "options/Black76.h"

#include <cmath>
#include <gtest/gtest.h>
#include <ql/pricingengines/blackcalculator.hpp>
#include <ql/pricingengines/blackformula.hpp>

namespace vorlen::options {
namespace {

TEST(Black76QuantLib, PricesGreeksAndImpliedVolsAgree) {
    const double forward = 92000;
    int compared = 0;
    for (int mi = 0; mi <= 28; ++mi) {
        const double m = 0.5 * std::pow(1.05, mi);
        for (double hours :
             {1.0, 6.0, 24.0, 24.0 * 7, 24.0 * 30, 24.0 * 91, 24.0 * 365, 24.0 * 730}) {
            for (int vi = 0; vi <= 14; ++vi) {
                const double vol = 0.05 * std::pow(1.3, vi);
                const double strike = forward * m;
                const double years = hours / (24 * 365);
                const double sd = vol * std::sqrt(years);
                for (TRight right : {TRight::Call, TRight::Put}) {
                    SCOPED_TRACE(testing::Message()
                                 << (right == TRight::Call ? "C" : "P") << " K/F=" << m
                                 << " h=" << hours << " v=" << vol);
                    const auto type =
                        right == TRight::Call ? QuantLib::Option::Call : QuantLib::Option::Put;
                    const QuantLib::BlackCalculator ql(type, strike, forward, sd, 1.0);
                    const TGreeks g = Black76Greeks(right, forward, strike, years, vol);
                    const double scale = forward * 1e-12;
                    EXPECT_NEAR(g.Price, ql.value(), 10 * scale);
                    EXPECT_NEAR(g.Delta, ql.deltaForward(), 1e-12);
                    EXPECT_NEAR(g.Gamma, ql.gammaForward(), 1e-12 * std::max(1.0, g.Gamma));
                    EXPECT_NEAR(g.Vega, ql.vega(years), 1e-9 * std::max(1.0, g.Vega));
                    EXPECT_NEAR(g.Theta, ql.thetaPerDay(forward, years),
                                1e-9 * std::max(1.0, std::fabs(g.Theta)));
                    // QuantLib's solver is asked only where the price pins the volatility down.
                    if (g.Vega * sd > forward * 1e-6) {
                        const double qlVol = QuantLib::blackFormulaImpliedStdDev(
                                                 type, strike, forward, g.Price, 1.0, 0.0,
                                                 QuantLib::Null<QuantLib::Real>(), 1e-13, 200) /
                                             std::sqrt(years);
                        const TIvResult ours = ImpliedVol(right, forward, strike, years, g.Price);
                        ASSERT_TRUE(ours.Vol);
                        EXPECT_NEAR(*ours.Vol, qlVol, 1e-7);
                    }
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 3000);
}

} // namespace
} // namespace vorlen::options
