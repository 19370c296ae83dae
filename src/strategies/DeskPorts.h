#pragma once

// A strategy's two ports to the rest of the terminal: its orders go through the program's order
// desk (so past the risk gate, into the journal and the order log like any other order), and
// its book is the book keeper's. One pair per expert, used on that expert's thread only.

#include "book/Book.h"
#include "orders/OrderDesk.h"
#include "strategies/ExpertWorld.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vorlen {

class TBookKeeper;
class TCGStorage;

class TDeskOrders final : public TStrategyOrders {
public:
    // One own order as the orders log shows it, finished ones included (false while the log has
    // no row of it): how an order that is no longer active is told apart as filled or
    // cancelled. Asked by id, since the log holds every order of the day and a strategy's
    // tick must not pay for all of them.
    using TOrdersLogFn = std::function<bool(std::int64_t orderId, orders::TOwnOrder& out)>;

    // `replyWait`: how long Place waits for the exchange's answer before it says it has none.
    TDeskOrders(orders::TOrderDesk& desk, TOrdersLogFn ordersLog,
                std::chrono::milliseconds replyWait = std::chrono::seconds(1));

    // The expert's futures; set before its thread starts, and every order is for it.
    void SetIsin(std::string isin) { FIsin = std::move(isin); }

    std::string HaltReason() override;
    // Posts through the desk and waits for the exchange's answer, so that the script gets the
    // exchange's order id, or the gate's or the exchange's reason.
    TOrderResult Place(const orders::TOrderRequest& order) override;
    // Only the strategy's own orders can be cancelled through it.
    std::string Cancel(std::int64_t id) override;
    std::vector<orders::TOwnOrder> ActiveOrders() override;
    bool NextOrderEvent(TOrderEvent& out) override;

private:
    void TakeLateAnswers();
    void Poll();

    orders::TOrderDesk& FDesk;
    TOrdersLogFn FOrdersLog;
    std::chrono::milliseconds FReplyWait;
    std::string FIsin;
    // The strategy's orders not known to be finished, with the rest last told to it.
    std::map<std::int64_t, std::int64_t> FMine;
    // Posted, but the answer did not come while Place waited: the order may yet rest.
    std::set<std::uint32_t> FUnanswered;
    std::deque<TOrderEvent> FEvents;
    bool FPolled = false;
};

// The orders log of `store` as TDeskOrders reads it (one reader of its own).
TDeskOrders::TOrdersLogFn OrdersLogOf(TCGStorage& store);

class TKeeperBook final : public TStrategyBook {
public:
    explicit TKeeperBook(TBookKeeper& keeper) : FKeeper(keeper) {}
    bool Snapshot(std::int32_t isinId, TBookSnapshot& out) override;
    std::uint64_t Version(std::int32_t isinId) override;

private:
    // The keeper copies only what changed since this copy, so a tick pays for a book only when
    // it moved.
    bool Refresh(std::int32_t isinId);

    TBookKeeper& FKeeper;
    TBookSnapshot FLast;
};

} // namespace vorlen
