#include "options/Board.h"

#include "options/ExpiryClock.h"

#include <gtest/gtest.h>

namespace vorlen::options {
namespace {

// 0.2 years before the expiry.
std::chrono::system_clock::time_point Now() {
    return std::chrono::system_clock::time_point(std::chrono::seconds(1797609000 - 86400 * 73));
}
double Expiry() {
    return ExchangeDays(2026, 12, 18, 18, 50);
}

TSeriesInput Series(std::int32_t id, double strike, TRight right, double vol, double forward,
                    std::int64_t pos = 0) {
    TSeriesInput s;
    s.IsinId = id;
    s.Isin = "S" + std::to_string(id);
    s.Strike = strike;
    s.Right = right;
    s.ExpiryDays = Expiry();
    const double theo = Black76Price(right, forward, strike, 0.2, vol);
    s.Bid = theo - 1;
    s.Ask = theo + 1;
    s.Position = pos;
    return s;
}

TEST(Board, SolvesEverySideSortsByStrikeAndSumsTheTradersRisk) {
    TBoardInput in;
    in.Underlying = {1, "Si-12.26", 91990, 92010, 91000, -3};
    in.Series.push_back(Series(5, 93000, TRight::Put, 0.2, 92000, 2));
    in.Series.push_back(Series(4, 92000, TRight::Call, 0.2, 92000, 10));
    in.Series.push_back(Series(3, 91000, TRight::Call, 0.22, 92000));
    TSeriesInput noQuote = Series(6, 94000, TRight::Call, 0.2, 92000, 1);
    noQuote.Bid.reset();
    noQuote.Ask.reset();
    in.Series.push_back(noQuote);
    TSeriesInput exchangeOnly = noQuote;
    exchangeOnly.IsinId = 7;
    exchangeOnly.Right = TRight::Put;
    exchangeOnly.ExchangeVolat = 25.0;
    in.Series.push_back(exchangeOnly);

    const TBoard b = ComputeBoard(in, Now());
    ASSERT_EQ(b.Source, TPriceSource::Mid);
    EXPECT_EQ(*b.Forward, 92000);
    ASSERT_EQ(b.Rows.size(), 5u);
    EXPECT_EQ(b.Rows[0].In.IsinId, 3);
    EXPECT_EQ(b.Rows[3].In.IsinId, 6); // call before put at one strike
    EXPECT_EQ(b.Rows[4].In.IsinId, 7);
    EXPECT_EQ(b.Expiries.size(), 1u);
    EXPECT_EQ(*AtmStrike(b, Expiry()), 92000);

    const TSeriesRow& atm = b.Rows[1];
    EXPECT_NEAR(atm.Years, 0.2, 1e-9);
    ASSERT_TRUE(atm.IvMid.Vol && atm.IvBid.Vol && atm.IvAsk.Vol);
    EXPECT_NEAR(*atm.IvMid.Vol, 0.2, 1e-9);
    EXPECT_LT(*atm.IvBid.Vol, *atm.IvMid.Vol);
    EXPECT_GT(*atm.IvAsk.Vol, *atm.IvMid.Vol);
    // No quote: no volatility of ours, and without the exchange's none to take greeks at.
    EXPECT_EQ(b.Rows[3].IvMid.Failure, TIvFailure::BadInput);
    EXPECT_FALSE(b.Rows[3].GreeksVol);
    ASSERT_TRUE(b.Rows[4].GreeksVol);
    EXPECT_DOUBLE_EQ(*b.Rows[4].GreeksVol, 0.25);

    const TGreeks c = Black76Greeks(TRight::Call, 92000, 92000, 0.2, 0.2);
    const TGreeks p = Black76Greeks(TRight::Put, 92000, 93000, 0.2, 0.2);
    // The put held at the exchange's volatility counts; the unquoted call cannot.
    const TGreeks x = Black76Greeks(TRight::Put, 92000, 94000, 0.2, 0.25);
    EXPECT_NEAR(b.Risk.Delta, -3 + 10 * c.Delta + 2 * p.Delta + x.Delta, 1e-6);
    EXPECT_NEAR(b.Risk.Gamma, 10 * c.Gamma + 2 * p.Gamma + x.Gamma, 1e-9);
    EXPECT_NEAR(b.Risk.Vega, (10 * c.Vega + 2 * p.Vega + x.Vega) / 100, 1e-4);
    EXPECT_NEAR(b.Risk.Theta, 10 * c.Theta + 2 * p.Theta + x.Theta, 1e-4);
    EXPECT_EQ(b.Risk.Unpriced, 1); // the unquoted call's lot
}

TEST(Board, FallsBackToTheLastDealAndPricesNothingWithoutOne) {
    TBoardInput in;
    in.Underlying = {1, "Si-12.26", std::nullopt, 92010, 92000, 0};
    in.Series.push_back(Series(4, 92000, TRight::Call, 0.2, 92000));
    TBoard b = ComputeBoard(in, Now());
    EXPECT_EQ(b.Source, TPriceSource::Last);
    ASSERT_TRUE(b.Rows[0].IvMid.Vol);

    in.Underlying.Last.reset();
    b = ComputeBoard(in, Now());
    EXPECT_EQ(b.Source, TPriceSource::None);
    EXPECT_FALSE(b.Rows[0].IvMid.Vol);
    EXPECT_FALSE(AtmStrike(b, Expiry()));
}

} // namespace
} // namespace vorlen::options
