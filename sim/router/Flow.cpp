#include "Flow.h"

#include <algorithm>
#include <cmath>

namespace vsim {

namespace {

// Regimes are counted in events, not seconds, so that they do not depend on how busy the machine
// is: at the default 200 events a second a quiet stretch lasts about half a minute and a busy one
// about seven seconds, long enough to show in minute candles.
constexpr double kToBusy = 1.0 / 6000;
constexpr double kToQuiet = 1.0 / 1500;
constexpr double kDealChance[2] = {0.025, 0.30}; // quiet, busy
constexpr double kWalkChance[2] = {0.015, 0.04};
// Each deal raises the futures' own deal chance, and the rise fades over its next events; the
// sum of the rises a deal causes stays below one deal, so activity flares up and dies down
// instead of running away.
constexpr double kHeatJump = 0.08;
constexpr double kHeatFade = 0.85;
constexpr double kMaxDealChance = 0.9;
constexpr double kDriftChange = 1.0 / 500;
constexpr double kDrifts[] = {-0.15, -0.08, 0, 0, 0.08, 0.15};

// Two uniform numbers in [0, 1) from the halves of one draw.
double Low(std::uint64_t r) {
    return static_cast<double>(r & 0xFFFFFFFFu) * 0x1p-32;
}
double High(std::uint64_t r) {
    return static_cast<double>(r >> 32) * 0x1p-32;
}

// Mostly a few contracts, now and then tens, rarely hundreds or more: the large ones are what
// walks through several levels of the book.
std::int64_t Amount(std::uint64_t r, bool busy) {
    const double u = Low(r);
    const auto v = static_cast<std::int64_t>(r >> 32);
    const double large = busy ? 0.95 : 0.975;
    if (u < 0.6) {
        return 1 + v % 5;
    }
    if (u < 0.88) {
        return 6 + v % 35;
    }
    if (u < large) {
        return 41 + v % 210;
    }
    return 251 + v % 1250;
}

} // namespace

void Flow::Add(std::int64_t anchor, std::int64_t step, std::int64_t lower, std::int64_t upper) {
    Futures f;
    f.anchor = anchor;
    f.step = std::max<std::int64_t>(step, 1);
    // A third of the way to the nearer limit, but never so little that the market cannot move.
    const std::int64_t room = std::min(upper - anchor, anchor - lower) / f.step;
    f.band = std::max(30.0, static_cast<double>(room) / 3);
    // Contracts whose step is a tiny part of the price (Si: 1 rouble in 92000) would hardly move
    // a step at a time; a move is about half a basis point of the price, at least a step.
    f.unit = std::max<std::int64_t>(
        1, std::llround(static_cast<double>(anchor) * 5e-5 / static_cast<double>(f.step)));
    futures_.push_back(f);
}

double Flow::UpChance(const Futures& f, std::int64_t mid) {
    const double away = static_cast<double>(mid - f.anchor) / static_cast<double>(f.step) / f.band;
    return std::clamp(0.5 + f.drift - 0.4 * away, 0.1, 0.9);
}

FlowStep Flow::Next(std::size_t k, std::int64_t mid, std::mt19937_64& rng) {
    Futures& f = futures_[k];
    FlowStep step;
    const std::uint64_t a = rng();
    if (Low(a) < (busy_ ? kToQuiet : kToBusy)) {
        busy_ = !busy_;
    }
    const int regime = busy_ ? 1 : 0;
    const double dealChance = std::min(kDealChance[regime] + f.heat, kMaxDealChance);
    f.heat *= kHeatFade;

    const std::uint64_t b = rng();
    const double up = UpChance(f, mid);
    if (Low(b) < kDriftChange) {
        f.drift = kDrifts[(b >> 40) % (sizeof kDrifts / sizeof kDrifts[0])];
    }
    if (High(a) < dealChance) {
        step.deal = true;
        step.dir = High(b) < up ? 1 : 2;
        step.amount = Amount(rng(), busy_);
        return step;
    }
    // Quotes move between deals too; when the deal stream has nobody watching, this is all
    // the movement there is.
    if (High(b) < kWalkChance[regime]) {
        const auto size = static_cast<int>((busy_ && ((b >> 8) & 3) == 0 ? 2 : 1) * f.unit);
        step.walk = Low(rng()) < up ? size : -size;
    }
    return step;
}

void Flow::Dealt(std::size_t k) {
    futures_[k].heat += kHeatJump;
}

} // namespace vsim
