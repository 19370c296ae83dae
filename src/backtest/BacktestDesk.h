#pragma once

// The exchange a backtest trades on, and the terminal's order path in front of it: every order
// of the strategy passes the one risk gate with the limits the live terminal would apply, on
// counts kept in the market's time (per minute, per day, the repeat rule, the terminal's cap on
// posts a second); what passes reaches the fill models after the order latency. Nothing here
// reads a clock, a file or the live day's order log, counts or halt.

#include "backtest/BacktestResult.h"
#include "fills/FillModel.h"
#include "orders/RiskGate.h"
#include "strategies/StrategyWorld.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vorlen::backtest {

struct TDeskSetup {
    std::string Isin;
    orders::TLimitsBook Limits;
    fills::TFillModel Fill = fills::TFillModel::Touch;
    std::int64_t LatencyNs = 0;
    // Posts (orders and cancels) in any 1000 ms; 0: no cap.
    std::int32_t PostsPerSecond = 0;
};

// What the desk needs of the market at the moment an order is checked.
struct TDeskMarket {
    std::optional<orders::TInstrumentRef> Instrument;
    std::vector<std::string> Clients;
    std::optional<std::int64_t> BestBid, BestAsk; // of the others, 1e-5 units
    double FeePerLot = 0;                         // money
    double MoneyPerUnit = 0;                      // what one 1e-5 price unit of one lot is worth
};

class TBacktestDesk {
public:
    TBacktestDesk(TDeskSetup setup, TBacktestResult& out);

    // The market's clock: set before each step; never goes back.
    void SetNow(std::int64_t ns) { FNowNs = ns; }
    std::int64_t Now() const { return FNowNs; }
    TDeskMarket& Market() { return FMarket; }
    fills::TFillEngine& Engine() { return FEngine; }

    // Lots of the instrument the account held, by client, when the run began: the strategy and
    // the gate count them in its position, the run's results do not.
    void SetOpening(std::map<std::string, std::int64_t> lots) { FOpening = std::move(lots); }

    TOrderResult Place(const orders::TOrderRequest& order);
    std::string Cancel(std::int64_t id);
    std::vector<orders::TOwnOrder> ActiveOrders() const;
    bool NextOrderEvent(TOrderEvent& out);
    bool Position(const std::string& client, TPositionInfo& out) const;

    // Orders and cancels whose latency has passed reach the exchange.
    void Deliver();
    // The fills the recorded market made since the last call, booked.
    void TakeMarketFills();
    // The trading day is over: what rests is cancelled, the day's counts start again.
    void EndDay();
    // Realized P&L so far plus the open position at `markUnits` (1e-5 units), in money.
    double Equity(std::optional<std::int64_t> markUnits) const;
    std::int64_t NetPosition() const;
    double Fees() const { return FFees; }
    // The volume of the strategy's own resting orders at a price of a side, for its book.
    std::int64_t OwnResting(orders::TSide side, std::int64_t price) const;
    bool HasResting() const { return FResting > 0; }
    // Grows whenever the strategy's resting orders change (its book shows them).
    std::uint64_t OwnSerial() const { return FOwnSerial; }
    // Time of the next order or cancel still on its way; none when none is.
    std::optional<std::int64_t> NextDue() const;

private:
    struct TSimOrder {
        orders::TSide Side = orders::TSide::Buy;
        std::int64_t Price = 0;
        std::int64_t Qty = 0;
        std::int64_t Rest = 0;
        std::string Client;
        bool Live = true;     // on its way or resting
        bool Arrived = false; // reached the exchange
        std::size_t Row = 0;  // in the result's orders
    };
    struct TInFlight {
        std::int64_t DueNs = 0;
        bool Cancel = false;
        std::int64_t Id = 0;
    };
    struct TBookedPosition {
        std::int64_t Net = 0;
        double AvgUnits = 0; // average price of the open lots, 1e-5 units
    };

    std::int64_t NowMs() const { return FNowNs / 1'000'000; }
    // The terminal's cap on posts: false when this post would pass it.
    bool AdmitPost();
    void Arrive(const TInFlight& f);
    void Book(const fills::TFill& fill);
    void Finish(std::int64_t id, TSimOrder& o, const char* state);

    TDeskSetup FSetup;
    TBacktestResult& FOut;
    fills::TFillEngine FEngine;
    TDeskMarket FMarket;
    std::int64_t FNowNs = 0;
    std::int64_t FNextId = 1;
    std::map<std::int64_t, TSimOrder> FOrders; // live ones only
    std::deque<TInFlight> FInFlight;
    std::deque<TOrderEvent> FEvents;
    std::vector<orders::TSentOrder> FSent; // the last minute's
    std::map<std::string, std::int64_t> FSentToday;
    std::deque<std::int64_t> FPosts; // ms of the posts of the last second
    std::map<std::string, TBookedPosition> FPositions;
    std::map<std::string, std::int64_t> FOpening;
    std::int64_t FResting = 0;
    std::uint64_t FOwnSerial = 0;
    double FRealized = 0;
    double FFees = 0;
};

} // namespace vorlen::backtest
