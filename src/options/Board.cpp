#include "options/Board.h"

#include "options/ExpiryClock.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace vorlen::options {

namespace {

TIvResult Solve(const TSeriesInput& s, std::optional<double> forward, double years,
                std::optional<double> price) {
    if (!forward || !price) {
        TIvResult r;
        r.Failure = TIvFailure::BadInput;
        return r;
    }
    return ImpliedVol(s.Right, *forward, s.Strike, years, *price);
}

} // namespace

TBoard ComputeBoard(const TBoardInput& in, std::chrono::system_clock::time_point now) {
    TBoard b;
    const TUnderlyingInput& u = in.Underlying;
    if (u.Bid && u.Ask && *u.Bid > 0 && *u.Ask >= *u.Bid) {
        b.Forward = (*u.Bid + *u.Ask) / 2;
        b.Source = TPriceSource::Mid;
    } else if (u.Last && *u.Last > 0) {
        b.Forward = *u.Last;
        b.Source = TPriceSource::Last;
    }
    b.Risk.Delta = static_cast<double>(u.Position);
    b.Rows.reserve(in.Series.size());
    for (const TSeriesInput& s : in.Series) {
        TSeriesRow r;
        r.In = s;
        r.Years = YearsUntil(s.ExpiryDays, now);
        r.IvBid = Solve(s, b.Forward, r.Years, s.Bid);
        r.IvAsk = Solve(s, b.Forward, r.Years, s.Ask);
        std::optional<double> mid;
        if (s.Bid && s.Ask && *s.Ask >= *s.Bid) {
            mid = (*s.Bid + *s.Ask) / 2;
        }
        r.IvMid = Solve(s, b.Forward, r.Years, mid);
        if (r.IvMid.Vol) {
            r.GreeksVol = r.IvMid.Vol;
        } else if (s.ExchangeVolat && *s.ExchangeVolat > 0) {
            r.GreeksVol = *s.ExchangeVolat / 100.0;
        }
        if (b.Forward && (r.GreeksVol || r.Years <= 0)) {
            r.Greeks =
                Black76Greeks(s.Right, *b.Forward, s.Strike, r.Years, r.GreeksVol.value_or(0));
            // Once expired the value is exercise alone and has a delta even without a volatility.
            if (!r.GreeksVol) {
                r.GreeksVol = 0.0;
            }
        }
        if (s.Position != 0) {
            if (r.GreeksVol) {
                const auto pos = static_cast<double>(s.Position);
                b.Risk.Delta += pos * r.Greeks.Delta;
                b.Risk.Gamma += pos * r.Greeks.Gamma;
                b.Risk.Vega += pos * r.Greeks.Vega / 100.0;
                b.Risk.Theta += pos * r.Greeks.Theta;
            } else {
                ++b.Risk.Unpriced;
            }
        }
        b.Rows.push_back(std::move(r));
    }
    std::sort(b.Rows.begin(), b.Rows.end(), [](const TSeriesRow& x, const TSeriesRow& y) {
        return std::tuple(x.In.ExpiryDays, x.In.Strike, x.In.Right == TRight::Put, x.In.IsinId) <
               std::tuple(y.In.ExpiryDays, y.In.Strike, y.In.Right == TRight::Put, y.In.IsinId);
    });
    for (const TSeriesRow& r : b.Rows) {
        if (b.Expiries.empty() || b.Expiries.back() != r.In.ExpiryDays) {
            b.Expiries.push_back(r.In.ExpiryDays);
        }
    }
    return b;
}

std::optional<double> AtmStrike(const TBoard& board, double expiryDays) {
    if (!board.Forward) {
        return std::nullopt;
    }
    std::optional<double> best;
    for (const TSeriesRow& r : board.Rows) {
        if (r.In.ExpiryDays != expiryDays) {
            continue;
        }
        if (!best || std::fabs(r.In.Strike - *board.Forward) < std::fabs(*best - *board.Forward)) {
            best = r.In.Strike;
        }
    }
    return best;
}

} // namespace vorlen::options
