#pragma once

// A strategy's world for tests: everything it is asked is answered from these fields, and
// everything it is told is recorded.

#include "orders/RiskLimits.h"
#include "strategies/StrategyWorld.h"

#include <chrono>
#include <deque>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace vorlen::test {

// An active own order of the strategy, its price as text.
inline orders::TOwnOrder OwnOrder(std::int64_t id, orders::TSide side, const char* price,
                                  std::int64_t amount, std::int64_t rest, const char* client) {
    orders::TOwnOrder o;
    o.OrderId = id;
    o.Side = side;
    o.Price = orders::ParsePrice(price).value_or(0);
    o.Amount = amount;
    o.Filled = amount - rest;
    o.Rest = rest;
    o.Client = client;
    return o;
}

class TFakeWorld final : public TStrategyWorld {
public:
    std::map<std::string, TValue> Fields;
    std::optional<TDecimal> Step = TDecimal{5, 2};
    std::optional<TBookSnapshot> BookNow;
    double Clock = 1700000000.25; // what Now() says, in seconds
    std::uint64_t BookRev = 0;
    std::map<std::string, TPositionInfo> Positions;
    std::string Halt;
    std::string Refusal;                     // the gate's answer to every order; empty: accepted
    std::chrono::milliseconds PlaceTakes{0}; // the gate's own time for each order
    int PlaceCalls = 0;
    std::vector<orders::TOrderRequest> Placed;
    std::vector<std::int64_t> Cancelled;
    std::vector<orders::TOwnOrder> Active;
    std::deque<TOrderEvent> Events;
    std::vector<std::string> Lines;

    TField GetField(const std::string& name) override {
        const auto it = Fields.find(name);
        return it == Fields.end() ? TField{} : TField{"c", it->second};
    }
    std::optional<TDecimal> PriceStep() override { return Step; }
    bool Book(TBookSnapshot& out) override {
        if (BookNow)
            out = *BookNow;
        return BookNow.has_value();
    }
    std::uint64_t BookVersion() override { return BookRev; }
    bool Position(const std::string& client, TPositionInfo& out) override {
        const auto it = Positions.find(client);
        if (it == Positions.end())
            return false;
        out = it->second;
        return true;
    }
    std::string HaltReason() override { return Halt; }
    std::string OrderPathRefusal() override { return Halt; }
    TOrderResult Place(const orders::TOrderRequest& order) override {
        ++PlaceCalls;
        if (PlaceTakes.count() > 0)
            std::this_thread::sleep_for(PlaceTakes);
        if (!Refusal.empty())
            return {0, Refusal};
        Placed.push_back(order);
        return {static_cast<std::int64_t>(100 + Placed.size()), {}};
    }
    std::string Cancel(std::int64_t id) override {
        Cancelled.push_back(id);
        return {};
    }
    std::vector<orders::TOwnOrder> ActiveOrders() override { return Active; }
    bool NextOrderEvent(TOrderEvent& out) override {
        if (Events.empty())
            return false;
        out = Events.front();
        Events.pop_front();
        return true;
    }
    void Log(const std::string& text) override { Lines.push_back(text); }
    double Now() override { return Clock; }

    std::string Joined() const {
        std::string all;
        for (const std::string& l : Lines)
            all += l + "\n";
        return all;
    }
};

} // namespace vorlen::test
