#include "orders/KillSwitch.h"

#include <algorithm>

namespace vorlen::orders {

void TKillSwitch::Trip(std::int64_t nowMs, std::int64_t floorMs, std::int32_t perSecond) {
    FPhase = TKillPhase::Cancelling;
    FStartMs = nowMs;
    FFloorMs = floorMs;
    FPerSecond = perSecond;
    FHeldUntilMs = 0;
    // What is still outstanding from an earlier trip is this trip's to get through too.
    FCounted = Outstanding();
    for (auto& [id, c] : FCancels) {
        if (c.TrId == 0) {
            c.DueMs = nowMs;
        }
    }
}

void TKillSwitch::AwaitCancel(const TKillTarget& target) {
    if (FGone.count(target.OrderId) != 0) {
        return;
    }
    if (FCancels.try_emplace(target.OrderId, TCancel{target, 0, FStartMs}).second) {
        ++FCounted;
    }
}

void TKillSwitch::AwaitAdd(std::uint32_t trId) {
    if (FAdds.insert(trId).second) {
        ++FCounted;
    }
}

std::vector<TKillTarget> TKillSwitch::Due(std::int64_t nowMs, std::size_t room) const {
    // Longest due first: the cancels not sent yet were due at the trip and go before any second
    // try, so retries of the first orders never hold up the last ones' first cancels.
    std::vector<const TCancel*> due;
    if (nowMs < FHeldUntilMs) {
        return {};
    }
    for (const auto& [id, c] : FCancels) {
        if (c.DueMs <= nowMs) {
            due.push_back(&c);
        }
    }
    const auto n = static_cast<std::ptrdiff_t>(std::min(room, due.size()));
    std::partial_sort(due.begin(), due.begin() + n, due.end(),
                      [](const TCancel* a, const TCancel* b) { return a->DueMs < b->DueMs; });
    std::vector<TKillTarget> out;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        out.push_back(due[static_cast<std::size_t>(i)]->Target);
    }
    return out;
}

void TKillSwitch::Sent(std::int64_t orderId, std::uint32_t trId, std::int64_t nowMs) {
    if (const auto it = FCancels.find(orderId); it != FCancels.end()) {
        it->second.TrId = trId;
        it->second.DueMs = nowMs + kRetryMs;
    }
}

void TKillSwitch::NotSent(std::int64_t orderId, std::int64_t nowMs) {
    if (const auto it = FCancels.find(orderId); it != FCancels.end()) {
        it->second.DueMs = nowMs + kPauseMs;
    }
    FHeldUntilMs = nowMs + kPauseMs;
}

bool TKillSwitch::OnCancelReply(std::int64_t orderId, std::uint32_t trId, std::int32_t code,
                                std::int64_t nowMs) {
    const auto it = FCancels.find(orderId);
    if (it == FCancels.end()) {
        return FGone.count(orderId) != 0;
    }
    if (code == 0 || code == 14) {
        FCancels.erase(it);
        FGone.insert(orderId);
    } else if (it->second.TrId == trId) {
        // An error to an earlier cancel says nothing of the one now on its way.
        it->second.TrId = 0;
        it->second.DueMs = nowMs + kPauseMs;
    }
    return true;
}

std::int64_t TKillSwitch::DeadlineMs() const {
    // Hundreds of orders take their time under the terminal's cap: every cancel may have to go
    // twice (once again after an error or a lost reply), at the cap's pace, and the last ones
    // still need their answers, which the floor leaves time for.
    const std::int64_t paced =
        FPerSecond > 0 ? static_cast<std::int64_t>(FCounted) * 2 * 1000 / FPerSecond : 0;
    return FStartMs + FFloorMs + paced;
}

std::optional<TKillReport> TKillSwitch::Poll(std::int64_t nowMs) {
    if (FPhase != TKillPhase::Cancelling) {
        return std::nullopt;
    }
    if (Outstanding() == 0) {
        FPhase = TKillPhase::Halted;
        return TKillReport{true, 0, {}, {}};
    }
    if (nowMs < DeadlineMs()) {
        return std::nullopt;
    }
    FPhase = TKillPhase::Halted;
    TKillReport report{false, Outstanding(), {}, {FAdds.begin(), FAdds.end()}};
    for (const auto& [id, c] : FCancels) {
        report.Orders.push_back(id);
    }
    return report;
}

bool TKillSwitch::Rearm(bool confirmed) {
    if (!confirmed || FPhase != TKillPhase::Halted) {
        return false;
    }
    FPhase = TKillPhase::Armed;
    FCancels.clear();
    FGone.clear();
    FAdds.clear();
    FCounted = 0;
    return true;
}

} // namespace vorlen::orders
