#include "options/Black76.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace vorlen::options {

namespace {

// erfc keeps the far tails accurate, where 1 - N(x) would cancel to nothing.
double NormCdf(double x) {
    return 0.5 * std::erfc(-x / std::numbers::sqrt2);
}

double NormPdf(double x) {
    return std::exp(-0.5 * x * x) / std::sqrt(2.0 * std::numbers::pi);
}

double Intrinsic(TRight right, double forward, double strike) {
    return std::max(0.0, right == TRight::Call ? forward - strike : strike - forward);
}

bool Finite(double v) {
    return std::isfinite(v);
}

} // namespace

double Black76Price(TRight right, double forward, double strike, double years, double vol) {
    if (years <= 0 || vol <= 0) {
        return Intrinsic(right, forward, strike);
    }
    const double sd = vol * std::sqrt(years);
    const double d1 = std::log(forward / strike) / sd + 0.5 * sd;
    const double d2 = d1 - sd;
    const double value = right == TRight::Call ? forward * NormCdf(d1) - strike * NormCdf(d2)
                                               : strike * NormCdf(-d2) - forward * NormCdf(-d1);
    // Rounding can take a far in-the-money value a hair under exercise; no price is ever there.
    return std::max(value, Intrinsic(right, forward, strike));
}

TGreeks Black76Greeks(TRight right, double forward, double strike, double years, double vol) {
    TGreeks g;
    g.Price = Black76Price(right, forward, strike, years, vol);
    if (years <= 0 || vol <= 0) {
        const bool inTheMoney = right == TRight::Call ? forward > strike : forward < strike;
        g.Delta = inTheMoney ? (right == TRight::Call ? 1.0 : -1.0) : 0.0;
        return g;
    }
    const double root = std::sqrt(years);
    const double sd = vol * root;
    const double d1 = std::log(forward / strike) / sd + 0.5 * sd;
    const double density = NormPdf(d1);
    g.Delta = right == TRight::Call ? NormCdf(d1) : NormCdf(d1) - 1.0;
    g.Gamma = density / (forward * sd);
    g.Vega = forward * density * root;
    g.Theta = -forward * density * vol / (2.0 * root) / 365.0;
    return g;
}

TIvResult ImpliedVol(TRight right, double forward, double strike, double years, double price) {
    TIvResult r;
    if (!Finite(forward) || !Finite(strike) || !Finite(price) || !Finite(years) || forward <= 0 ||
        strike <= 0 || price <= 0) {
        r.Failure = TIvFailure::BadInput;
        return r;
    }
    if (years <= 0) {
        r.Failure = TIvFailure::Expired;
        return r;
    }
    const double upper = right == TRight::Call ? forward : strike;
    if (price >= upper) {
        r.Failure = TIvFailure::AtUpperBound;
        return r;
    }
    if (price <= Intrinsic(right, forward, strike)) {
        r.Failure = TIvFailure::BelowIntrinsic;
        return r;
    }
    auto excess = [&](double vol) {
        return Black76Price(right, forward, strike, years, vol) - price;
    };
    double lo = kMinVol;
    double hi = kMaxVol;
    if (excess(lo) > 0 || excess(hi) < 0) {
        r.Failure = TIvFailure::OutsideVolRange;
        return r;
    }
    // Prices near a large forward carry rounding of a few ulps of it; asking for less would
    // only spin.
    const double tolerance = 8 * std::numeric_limits<double>::epsilon() * std::max(forward, strike);
    // Start where an at-the-money option of this price would be; Newton from there is quick on
    // the smooth middle, and the bracket catches it on the flat wings.
    double vol = std::clamp(price / (0.4 * forward * std::sqrt(years)), lo, hi);
    const double moneyness = std::fabs(std::log(forward / strike));
    vol = std::max(vol, std::min(hi, std::sqrt(2.0 * moneyness / years)));
    for (r.Iterations = 1; r.Iterations <= 200; ++r.Iterations) {
        const TGreeks g = Black76Greeks(right, forward, strike, years, vol);
        const double diff = g.Price - price;
        if (std::fabs(diff) <= tolerance) {
            r.Vol = vol;
            return r;
        }
        (diff < 0 ? lo : hi) = vol;
        if (hi - lo <= 4 * std::numeric_limits<double>::epsilon() * hi) {
            r.Vol = vol;
            return r;
        }
        double next = g.Vega > 0 ? vol - diff / g.Vega : lo;
        if (!(next > lo && next < hi)) {
            // The range spans five decades: halve it in logarithm, not in value.
            next = std::sqrt(lo * hi);
        }
        vol = next;
    }
    r.Vol = vol;
    return r;
}

std::string_view IvFailureText(TIvFailure f) {
    switch (f) {
    case TIvFailure::None:
        return {};
    case TIvFailure::BadInput:
        return "нет цены, страйка или цены фьючерса";
    case TIvFailure::Expired:
        return "серия исполнена";
    case TIvFailure::BelowIntrinsic:
        return "цена не выше внутренней стоимости";
    case TIvFailure::AtUpperBound:
        return "цена не ниже предела (фьючерс для колла, страйк для пута)";
    case TIvFailure::OutsideVolRange:
        return "волатильность вне 0,01–1000 %";
    }
    return {};
}

} // namespace vorlen::options
