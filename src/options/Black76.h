#pragma once

// Options on futures as the exchange margins them: the premium is not paid up front, so the
// Black-76 value carries no discount factor. Volatilities are fractions per year (0.25 is 25 %),
// times are years of 365 days.

#include <optional>
#include <string_view>

namespace vorlen::options {

enum class TRight { Call, Put };

struct TGreeks {
    double Price = 0;
    double Delta = 0; // per unit of the futures' price
    double Gamma = 0;
    double Vega = 0;  // per 1.00 of volatility (divide by 100 for one point)
    double Theta = 0; // per calendar day, negative for a long option
};

// Value of one option; at or past expiry, or at zero volatility, its intrinsic value.
double Black76Price(TRight right, double forward, double strike, double years, double vol);

// Value and sensitivities. At or past expiry the delta is the exercise indicator and the rest
// are zero.
TGreeks Black76Greeks(TRight right, double forward, double strike, double years, double vol);

// Why a price has no implied volatility.
enum class TIvFailure {
    None,
    BadInput,        // a non-positive or non-finite forward, strike or price
    Expired,         // no time value left to explain
    BelowIntrinsic,  // cheaper than exercising at once
    AtUpperBound,    // a call at or above the futures' price, a put at or above the strike
    OutsideVolRange, // the price needs a volatility beyond what the solver searches
};

struct TIvResult {
    std::optional<double> Vol;
    TIvFailure Failure = TIvFailure::None;
    int Iterations = 0;
};

// The volatility range searched: wide enough for any listed series, narrow enough that a price
// that needs more is worth a reason rather than a number.
inline constexpr double kMinVol = 1e-4;
inline constexpr double kMaxVol = 10.0;

// Implied volatility of a price: bracketed Newton steps that fall back to bisection, so it
// either converges (price error below 1e-12 of the forward) or reports why it cannot.
TIvResult ImpliedVol(TRight right, double forward, double strike, double years, double price);

// The reason as the board shows it on hover.
std::string_view IvFailureText(TIvFailure f);

} // namespace vorlen::options
