#include "strategies/DeskPorts.h"

#include "book/BookKeeper.h"
#include "connections/ErrorCode.h"
#include "orders/StoreView.h"

#include <algorithm>
#include <memory>

namespace vorlen {

namespace {

std::string ExchangeRefusal(std::int32_t code) {
    const std::string_view text = GetReplyText(code);
    return "биржа отклонила заявку: " +
           (text.empty() ? "код " + std::to_string(code) : std::string(text));
}

} // namespace

TDeskOrders::TDeskOrders(orders::TOrderDesk& desk, TOrdersLogFn ordersLog,
                         std::chrono::milliseconds replyWait)
    : FDesk(desk), FOrdersLog(std::move(ordersLog)), FReplyWait(replyWait) {}

std::string TDeskOrders::HaltReason() {
    return FDesk.KillPhase() != orders::TKillPhase::Armed ? std::string(orders::kHaltedRefusal)
                                                          : std::string();
}

TOrderResult TDeskOrders::Place(const orders::TOrderRequest& order) {
    // The order's isin field holds 25 characters of printable ASCII.
    if (FIsin.empty() || FIsin.size() > 25 ||
        !std::all_of(FIsin.begin(), FIsin.end(), [](char c) { return c > ' ' && c < 0x7F; }))
        return {0, "неверный код инструмента"};
    orders::TOrderRequest request = order;
    request.Isin = FIsin;
    request.RepeatConfirmed = false;
    request.FromStrategy = true;
    const orders::TPlaceResult posted = FDesk.Place(request);
    if (posted.Status != orders::TPlaceStatus::Posted)
        return {0, posted.Reason};
    const auto from = std::chrono::steady_clock::now();
    const auto until = from + FReplyWait;
    for (;;) {
        FDesk.Collect();
        if (const std::optional<orders::TReply> a = FDesk.Answer(posted.TrId)) {
            const auto waited = std::chrono::steady_clock::now() - from;
            if (a->Code != 0 || a->OrderId == 0)
                return {0, ExchangeRefusal(a->Code), waited};
            FMine[a->OrderId] = order.Qty;
            return {a->OrderId, {}, waited};
        }
        if (std::chrono::steady_clock::now() >= until)
            break;
        FDesk.Transport().WaitReply(5);
    }
    // Should it rest after all, the strategy hears of it in on_order and sees it in orders().
    FUnanswered.insert(posted.TrId);
    return {0, "нет ответа биржи: заявка может оказаться активной",
            std::chrono::steady_clock::now() - from};
}

std::string TDeskOrders::Cancel(std::int64_t id) {
    TakeLateAnswers();
    if (FMine.count(id) == 0)
        return "заявка " + std::to_string(id) + " выставлена не этой стратегией";
    return FDesk.Cancel(id) ? std::string()
                            : "снятие заявки " + std::to_string(id) + " не отправлено";
}

std::vector<orders::TOwnOrder> TDeskOrders::ActiveOrders() {
    TakeLateAnswers();
    std::vector<orders::TOwnOrder> out;
    if (FMine.empty())
        return out;
    for (const orders::TOwnOrder& o : FDesk.ActiveOrders()) {
        if (FMine.count(o.OrderId) != 0)
            out.push_back(o);
    }
    return out;
}

void TDeskOrders::TakeLateAnswers() {
    for (auto it = FUnanswered.begin(); it != FUnanswered.end();) {
        const std::optional<orders::TReply> a = FDesk.Answer(*it);
        if (!a) {
            ++it;
            continue;
        }
        // A refused order never had an id the script could know: nothing to tell.
        if (a->Code == 0 && a->OrderId != 0 && FMine.count(a->OrderId) == 0) {
            FMine[a->OrderId] = -1; // its first sight in Poll tells the script of it
        }
        it = FUnanswered.erase(it);
    }
}

void TDeskOrders::Poll() {
    if (!FUnanswered.empty())
        FDesk.Collect();
    TakeLateAnswers();
    if (FMine.empty())
        return;
    std::map<std::int64_t, orders::TOwnOrder> live;
    for (orders::TOwnOrder& o : FDesk.ActiveOrders()) {
        if (FMine.count(o.OrderId) != 0)
            live.emplace(o.OrderId, std::move(o));
    }
    for (auto it = FMine.begin(); it != FMine.end();) {
        const std::int64_t id = it->first;
        if (const auto l = live.find(id); l != live.end()) {
            const orders::TOwnOrder& o = l->second;
            if (o.Rest != it->second) {
                const bool partly = o.State == orders::TOrderState::PartlyFilled;
                FEvents.push_back({id, partly ? "partly_filled" : "active", 0, {}, o.Rest});
                it->second = o.Rest;
            }
            ++it;
            continue;
        }
        orders::TOwnOrder logged;
        // Gone from the desk's active orders before the orders log shows how it ended: wait
        // for the log.
        if (!FOrdersLog || !FOrdersLog(id, logged) || logged.Active()) {
            ++it;
            continue;
        }
        const bool filled = logged.State == orders::TOrderState::Filled;
        FEvents.push_back({id, filled ? "filled" : "cancelled", 0, {}, logged.Rest});
        it = FMine.erase(it);
    }
}

bool TDeskOrders::NextOrderEvent(TOrderEvent& out) {
    // One look at the orders per run of calls: the caller asks until told there is nothing.
    if (FEvents.empty() && !FPolled) {
        Poll();
        FPolled = true;
    }
    if (FEvents.empty()) {
        FPolled = false;
        return false;
    }
    out = std::move(FEvents.front());
    FEvents.pop_front();
    return true;
}

TDeskOrders::TOrdersLogFn OrdersLogOf(TCGStorage& store) {
    auto reader = std::make_shared<orders::TStoreReader>(store);
    return [reader](std::int64_t orderId, orders::TOwnOrder& out) {
        // Only the rows new since the last read are decoded; no list of the orders is made.
        const orders::TStoreFacts facts = reader->Read(false, false);
        return facts.Tracker != nullptr && facts.Tracker->Find(orderId, out);
    };
}

bool TKeeperBook::Refresh(std::int32_t isinId) {
    FKeeper.Snapshot(isinId, FLast);
    return FLast.IsinId == isinId && FLast.Status == TBookStatus::Live;
}

bool TKeeperBook::Snapshot(std::int32_t isinId, TBookSnapshot& out) {
    if (!Refresh(isinId))
        return false;
    out = FLast;
    return true;
}

std::uint64_t TKeeperBook::Version(std::int32_t isinId) {
    return Refresh(isinId) ? FLast.Version : 0;
}

} // namespace vorlen
