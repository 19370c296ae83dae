#pragma once

// The kill switch's bookkeeping: once tripped it stays latched, follows every cancel it has to
// get through and every order still on its way, tells the desk which cancels are due (first
// sends, and again those not sent, not answered in time or answered with an error), and says
// "done" only when the exchange has confirmed that none of them can trade any more. No clock
// and no I/O: the desk feeds it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vorlen::orders {

enum class TKillPhase {
    Armed,      // trading allowed
    Cancelling, // latched; cancels outstanding
    Halted      // latched; reported
};

struct TKillReport {
    bool AllGone = false;        // every order confirmed gone
    std::size_t Unconfirmed = 0; // orders that may still be live (after the time-out)
    // Which: the orders whose cancel was not confirmed, and the adds that never had a reply
    // (by transaction id: they have no order number).
    std::vector<std::int64_t> Orders;
    std::vector<std::uint32_t> Adds;
};

// What a cancel of one order needs.
struct TKillTarget {
    std::int64_t OrderId = 0;
    std::int32_t IsinId = 0;
    std::string Client;
};

class TKillSwitch {
public:
    // A cancel posted and not answered for this long is posted again (a second cancel of a gone
    // order is answered "not found", which confirms it as well).
    static constexpr std::int64_t kRetryMs = 3'000;
    // After an error reply, or a post the connection did not take, the order waits this long.
    static constexpr std::int64_t kPauseMs = 500;

    TKillPhase Phase() const { return FPhase; }
    bool Latched() const { return FPhase != TKillPhase::Armed; }

    // Latches and starts the wait; the caller then reports each order to cancel and each order
    // posted without a reply yet. Tripping an already latched switch restarts the wait; what is
    // confirmed stays so. `floorMs`: the shortest wait; `perSecond`: the terminal's cap on posts
    // (0: none), which sets how long hundreds of cancels take.
    void Trip(std::int64_t nowMs, std::int64_t floorMs, std::int32_t perSecond);
    // An order to cancel; nothing when its cancel is already followed or confirmed.
    void AwaitCancel(const TKillTarget& target);
    // An order posted before the trip whose reply has not come: it may rest on the book.
    void AwaitAdd(std::uint32_t trId);
    // The reply to an awaited order came; when it was accepted the caller reports it with
    // AwaitCancel.
    void OnAddReply(std::uint32_t trId) { FAdds.erase(trId); }
    bool AwaitsAdd(std::uint32_t trId) const { return FAdds.count(trId) != 0; }

    // The cancels to post now, at most `room` of them.
    std::vector<TKillTarget> Due(std::int64_t nowMs, std::size_t room) const;
    void Sent(std::int64_t orderId, std::uint32_t trId, std::int64_t nowMs);
    // The cancel could not be posted: it is due again after kPauseMs, and no other goes before
    // then (what refused it would most likely refuse them too, a journal line each).
    void NotSent(std::int64_t orderId, std::int64_t nowMs);
    // The exchange answered cancel trId: 0 (removed) and 14 (not found: already gone) confirm
    // the order gone; another code makes it due again, unless a later cancel of it is on its
    // way. False when the switch does not follow the order.
    bool OnCancelReply(std::int64_t orderId, std::uint32_t trId, std::int32_t code,
                       std::int64_t nowMs);

    std::size_t Outstanding() const { return FCancels.size() + FAdds.size(); }
    // When the wait of this trip ends.
    std::int64_t DeadlineMs() const;
    // Once per trip: the report when nothing is outstanding, or when the deadline has passed.
    std::optional<TKillReport> Poll(std::int64_t nowMs);
    // Latched and reported from the start, with nothing to wait for: trading was left stopped
    // earlier the same day.
    void Latch() { FPhase = TKillPhase::Halted; }
    // Only a confirmed request after the report opens trading again.
    bool Rearm(bool confirmed);

private:
    struct TCancel {
        TKillTarget Target;
        std::uint32_t TrId = 0; // the cancel on its way; 0 for none
        std::int64_t DueMs = 0;
    };

    TKillPhase FPhase = TKillPhase::Armed;
    std::int64_t FStartMs = 0;
    std::int64_t FHeldUntilMs = 0;
    std::int64_t FFloorMs = 0;
    std::int32_t FPerSecond = 0;
    std::size_t FCounted = 0; // orders this trip has to get through
    std::map<std::int64_t, TCancel> FCancels;
    std::set<std::int64_t> FGone;
    std::set<std::uint32_t> FAdds;
};

} // namespace vorlen::orders
