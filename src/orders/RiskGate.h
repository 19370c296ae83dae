#pragma once

// The one gate every order passes before it is posted: pure functions of the order, the limits
// that apply to it and a read-only view of what the terminal knows at that moment. The caller
// fills the view; nothing here reads the store, the clock or a connection.

#include "orders/RiskLimits.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlen::orders {

enum class TSide { Buy = 1, Sell = 2 };

// How a link looks to the gate. Only Online lets an order through.
enum class TLinkHealth { Online, Stale, Offline };

struct TOrderRequest {
    std::string Isin;
    TSide Side = TSide::Buy;
    std::int64_t Qty = 0;
    std::int64_t Price = 0; // 1e-5 units
    std::string Client;     // as the account table shows it, e.g. FZ00001
    // The trader has confirmed that an order equal to one sent a moment ago is meant.
    bool RepeatConfirmed = false;
    // Placed by a strategy: nobody is there to confirm a repeat, and its refusal says what the
    // strategy did rather than ask for a confirmation.
    bool FromStrategy = false;
};

// The instrument's reference row.
struct TInstrumentRef {
    std::int32_t IsinId = 0;
    std::string Isin;
    std::int64_t MinStep = 0; // 1e-5 units
    std::int64_t LimitDown = 0;
    std::int64_t LimitUp = 0;
    bool Limited = true; // false: the session sets no price limits
    // An option series (its own reference table): its distance from the market is counted in
    // steps, and its limits are the series' own, not its futures'.
    bool Option = false;
    bool operator==(const TInstrumentRef&) const = default;
};

// An own order that may still trade: resting, partly filled, or posted without a reply yet.
struct TLiveOrder {
    std::string Client;
    std::string Isin;
    TSide Side = TSide::Buy;
    std::int64_t Rest = 0;
};

// An order this terminal posted (whatever became of it): what the rate rules count.
struct TSentOrder {
    std::int64_t AtMs = 0;
    std::string Client;
    std::string Isin;
    TSide Side = TSide::Buy;
    std::int64_t Price = 0;
    std::int64_t Qty = 0;
};

struct TGateView {
    std::int64_t NowMs = 0;
    TLinkHealth Transactions = TLinkHealth::Offline;
    TLinkHealth MarketData = TLinkHealth::Offline;
    bool Halted = false;
    std::vector<std::string> KnownClients;
    std::optional<TInstrumentRef> Instrument; // the order's instrument, if the reference has it
    std::int64_t Position = 0;                // held on the order's client code and instrument
    std::vector<TLiveOrder> Live;
    std::vector<TSentOrder> Sent; // at least the last minute's
    std::int64_t SentToday = 0;   // orders posted today on the order's client code
    // The best price on the side the order would trade against; nothing without a book.
    std::optional<std::int64_t> BestOpposite;
};

// A strategy's refusal for an order equal to one it sent less than a second ago.
inline constexpr const char* kStrategyRepeatRefusal =
    "Стратегия: повтор той же заявки в течение секунды.";

// Every order's refusal while the kill switch is latched.
inline constexpr const char* kHaltedRefusal =
    "Торговля остановлена: заявки не принимаются до повторного разрешения.";

struct TGateDecision {
    bool Allowed = false;
    std::string Reason; // Russian; empty when allowed
};

// What the counting rules need of the live and sent orders: those of the order's own client.
struct TOrderTally {
    std::int64_t Active = 0;          // its live orders
    std::int64_t PendingSameSide = 0; // their rest on the order's instrument and side
    std::int64_t LastMinute = 0;      // its orders posted in the last minute
    bool Repeat = false;              // an equal order of its was posted less than a second ago
};

// The tally from the view's Live and Sent lists.
TOrderTally TallyOf(const TOrderRequest& order, const TGateView& view);

TGateDecision CheckOrder(const TOrderRequest& order, const TRiskLimits& limits,
                         const TGateView& view);
// The same with the tally given: the view's Live and Sent are not looked at. For a caller that
// keeps the counts as orders come and go instead of listing them for every order.
TGateDecision CheckOrder(const TOrderRequest& order, const TRiskLimits& limits,
                         const TGateView& view, const TOrderTally& tally);
// Cancels are what stop losses: only a transaction link that is not there refuses them.
TGateDecision CheckCancel(const TGateView& view);

// "1 сообщение", "3 сообщения", "30 сообщений": the terminal's cap on posts a second as its
// refusals word it.
std::string MessagesText(std::int32_t n);

} // namespace vorlen::orders
