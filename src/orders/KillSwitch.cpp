#include "orders/KillSwitch.h"

namespace vorlen::orders {

void TKillSwitch::Trip(std::int64_t nowMs, std::int64_t timeoutMs) {
    FPhase = TKillPhase::Cancelling;
    FDeadlineMs = nowMs + timeoutMs;
}

void TKillSwitch::OnCancelReply(std::int64_t orderId, std::int32_t code) {
    if (code == 0 || code == 14) {
        FCancels.erase(orderId);
    }
}

std::optional<TKillReport> TKillSwitch::Poll(std::int64_t nowMs) {
    if (FPhase != TKillPhase::Cancelling) {
        return std::nullopt;
    }
    if (Outstanding() == 0) {
        FPhase = TKillPhase::Halted;
        return TKillReport{true, 0};
    }
    if (nowMs >= FDeadlineMs) {
        FPhase = TKillPhase::Halted;
        return TKillReport{false, Outstanding()};
    }
    return std::nullopt;
}

bool TKillSwitch::Rearm(bool confirmed) {
    if (!confirmed || FPhase != TKillPhase::Halted) {
        return false;
    }
    FPhase = TKillPhase::Armed;
    FCancels.clear();
    FAdds.clear();
    return true;
}

} // namespace vorlen::orders
