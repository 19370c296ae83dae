#pragma once

// The terminal as a strategy on an expert sees it: the expert's field map and snapshot, the
// store's positions and instrument steps, the expert's journal, and two parts that other work
// provides — the order book and the risk gate. Without a gate every order is refused.

#include "strategies/StrategyWorld.h"

#include <optional>

namespace vorlen {

class TCGStorage;
class TExpert;

// The risk gate and the own-order state: the only way a strategy's order leaves the terminal.
class TStrategyOrders {
public:
    virtual ~TStrategyOrders() = default;
    virtual std::string HaltReason() = 0;
    virtual TOrderResult Place(const orders::TOrderRequest& order) = 0;
    virtual std::string Cancel(std::int64_t id) = 0;
    virtual std::vector<orders::TOwnOrder> ActiveOrders() = 0;
    virtual bool NextOrderEvent(TOrderEvent& out) = 0;
};

// The instrument's book.
class TStrategyBook {
public:
    virtual ~TStrategyBook() = default;
    virtual bool Snapshot(std::int32_t isinId, TBookSnapshot& out) = 0;
    virtual std::uint64_t Version(std::int32_t isinId) = 0;
};

// Why a strategy's order is refused while no gate is wired in.
inline constexpr const char* kNoGateRefusal = "торговля недоступна: нет проверки рисков";

class TExpertWorld final : public TStrategyWorld {
public:
    // `orders` and `book` may be null; all must outlive the world. Used on the expert's thread.
    TExpertWorld(TExpert& expert, TCGStorage& store, TStrategyOrders* orders, TStrategyBook* book);

    TField GetField(const std::string& name) override;
    std::optional<TDecimal> PriceStep() override;
    bool Book(TBookSnapshot& out) override;
    std::uint64_t BookVersion() override;
    bool Position(const std::string& client, TPositionInfo& out) override;
    std::string HaltReason() override;
    std::string OrderPathRefusal() override;
    TOrderResult Place(const orders::TOrderRequest& order) override;
    std::string Cancel(std::int64_t id) override;
    std::vector<orders::TOwnOrder> ActiveOrders() override;
    bool NextOrderEvent(TOrderEvent& out) override;
    void Log(const std::string& text) override;
    double Now() override;

private:
    TExpert& FExpert;
    TCGStorage& FStore;
    TStrategyOrders* FOrders;
    TStrategyBook* FBook;
    std::optional<TDecimal> FStep; // a session's step does not change: looked up once
};

} // namespace vorlen
