#pragma once

// The pace and direction of other traders' activity on the futures: when deals come, which side
// takes the book, how large they are, and how the quotes drift between deals. It only draws from
// the exchange's generator and keeps a few numbers per futures, so the same seed makes the same
// day, and an event costs a handful of arithmetic operations.

#include <cstdint>
#include <random>
#include <vector>

namespace vsim {

// What one background event on a futures does besides changing its book.
struct FlowStep {
    bool deal = false;
    int dir = 1;             // the side that takes liquidity: 1 buys at the asks, 2 sells at bids
    std::int64_t amount = 0; // contracts the taker wants
    int walk = 0;            // steps the quotes move on their own, signed
};

class Flow {
public:
    // Futures are added in the order the exchange picks them by: anchor is the price the market
    // returns to (the day's opening), lower and upper its price limits, all in 1e-5 units.
    void Add(std::int64_t anchor, std::int64_t step, std::int64_t lower, std::int64_t upper);
    std::size_t Size() const { return futures_.size(); }

    // The next event of futures k, whose middle price is now mid.
    FlowStep Next(std::size_t k, std::int64_t mid, std::mt19937_64& rng);
    // A deal was made on futures k: its traders answer with more for a while.
    void Dealt(std::size_t k);

    bool Busy() const { return busy_; }

private:
    struct Futures {
        std::int64_t anchor = 0;
        std::int64_t step = 1;
        double band = 1;       // steps from the anchor at which the pull back is strongest
        std::int64_t unit = 1; // steps of one move of the quotes
        double drift = 0;
        double heat = 0; // extra deal chance from the futures' own recent deals
    };

    // The chance that the market moves up next, from the drift and the pull to the anchor.
    static double UpChance(const Futures& f, std::int64_t mid);

    std::vector<Futures> futures_;
    bool busy_ = false; // the whole market: a stretch of news or a quiet one
};

} // namespace vsim
