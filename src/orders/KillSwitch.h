#pragma once

// The kill switch's bookkeeping: once tripped it stays latched, follows every cancel it asked
// for and every order still on its way, and says "done" only when the exchange has confirmed
// that none of them can trade any more. No clock and no I/O: the desk feeds it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>

namespace vorlen::orders {

enum class TKillPhase {
    Armed,      // trading allowed
    Cancelling, // latched; cancels outstanding
    Halted      // latched; reported
};

struct TKillReport {
    bool AllGone = false;        // every order confirmed gone
    std::size_t Unconfirmed = 0; // orders that may still be live (after the time-out)
};

class TKillSwitch {
public:
    TKillPhase Phase() const { return FPhase; }
    bool Latched() const { return FPhase != TKillPhase::Armed; }

    // Latches and starts the wait; the caller then reports each cancel it sends and each order
    // posted without a reply yet. Tripping an already latched switch only restarts the wait.
    void Trip(std::int64_t nowMs, std::int64_t timeoutMs);
    // A cancel for this order was posted, or could not be (then the order stays unconfirmed).
    void AwaitCancel(std::int64_t orderId) { FCancels.insert(orderId); }
    // An order posted before the trip whose reply has not come: it may rest on the book.
    void AwaitAdd(std::uint32_t trId) { FAdds.insert(trId); }
    // The exchange answered a cancel; 0 (removed) and 14 (not found: already gone) confirm it,
    // any other code leaves the order counted as live.
    void OnCancelReply(std::int64_t orderId, std::int32_t code);
    // The reply to an awaited order came; when it was accepted the caller cancels it and calls
    // AwaitCancel for its id.
    void OnAddReply(std::uint32_t trId) { FAdds.erase(trId); }
    bool AwaitsAdd(std::uint32_t trId) const { return FAdds.count(trId) != 0; }

    std::size_t Outstanding() const { return FCancels.size() + FAdds.size(); }
    // Once per trip: the report when nothing is outstanding, or when the time-out has passed.
    std::optional<TKillReport> Poll(std::int64_t nowMs);
    // Latched and reported from the start, with nothing to wait for: trading was left stopped
    // earlier the same day.
    void Latch() { FPhase = TKillPhase::Halted; }
    // Only a confirmed request after the report opens trading again.
    bool Rearm(bool confirmed);

private:
    TKillPhase FPhase = TKillPhase::Armed;
    std::int64_t FDeadlineMs = 0;
    std::set<std::int64_t> FCancels;
    std::set<std::uint32_t> FAdds;
};

} // namespace vorlen::orders
