#pragma once

// What a strategy may reach of the terminal, as the host sees it. The Lua side never touches the
// store, the book or the order path directly: each call of its API comes here, on the expert's
// own thread, so the whole surface can be replaced by a fake in a test and is wired to the book
// and the risk gate by the terminal.

#include "book/Book.h"
#include "orders/Decimal.h"
#include "orders/OwnOrders.h"
#include "orders/RiskGate.h"
#include "store/StoreRecords.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlen {

struct TPositionInfo {
    std::int64_t Net = 0;
    double AvgPrice = 0;
};

// An order id on success, the refusal's text otherwise.
struct TOrderResult {
    std::int64_t Id = 0;
    std::string Refusal;
    // How long of the call was spent waiting for the exchange's answer.
    std::chrono::steady_clock::duration ReplyWait{};
    bool Ok() const { return Refusal.empty(); }
};

// An own order's reply or change of state.
struct TOrderEvent {
    std::int64_t Id = 0;
    std::string State; // "active", "filled", "cancelled", "rejected", …
    std::int32_t Code = 0;
    std::string Text;
    std::int64_t Rest = 0;
};

class TStrategyWorld {
public:
    virtual ~TStrategyWorld() = default;

    // The expert's field map (TDataBase::GetField): a null FType when there is no such field.
    virtual TField GetField(const std::string& name) = 0;
    // The instrument's step of price; none while it is not known.
    virtual std::optional<TDecimal> PriceStep() = 0;
    // False when there is no book for the instrument.
    virtual bool Book(TBookSnapshot& out) = 0;
    // A number that changes whenever the instrument's book does; 0 without a book.
    virtual std::uint64_t BookVersion() = 0;
    // An empty client means every client code of the account together. False: no position.
    virtual bool Position(const std::string& client, TPositionInfo& out) = 0;

    // Trading is stopped for everyone (the kill switch): the reason, else empty.
    virtual std::string HaltReason() = 0;
    // Why no order can be placed at all right now (halted, or no order path), else empty.
    virtual std::string OrderPathRefusal() = 0;
    // The order's price is already on the instrument's step; it comes marked FromStrategy.
    virtual TOrderResult Place(const orders::TOrderRequest& order) = 0;
    // Empty on success, else the refusal's text.
    virtual std::string Cancel(std::int64_t id) = 0;
    // The strategy's own orders that may still trade.
    virtual std::vector<orders::TOwnOrder> ActiveOrders() = 0;
    // The next reply or state change of an own order since the last call; false when none.
    virtual bool NextOrderEvent(TOrderEvent& out) = 0;

    // One line in the expert's journal (the text only; the line's date and time are added there).
    virtual void Log(const std::string& text) = 0;
    // Seconds since 1970-01-01 UTC.
    virtual double Now() = 0;
    // What the per-second allowances of a script (its refused orders, its journal lines) count
    // by: the machine's clock live, the market's time in a backtest, where a fast run must not
    // be held to a wall second it passes through in a blink.
    virtual std::chrono::steady_clock::time_point RuleClock() {
        return std::chrono::steady_clock::now();
    }
};

} // namespace vorlen
