// The kill switch's side of the desk: cancel everything, wait for the exchange to confirm,
// report, and trade again only when the trader re-arms.

#include "orders/OrderDesk.h"

namespace vorlen::orders {

void TOrderDesk::KillSwitch() {
    // Strategies first, so none of them places a new order while the old ones are cancelled.
    if (FIn.StopStrategies) {
        FIn.StopStrategies();
    }
    TLines lines;
    {
        std::lock_guard lock(FLock);
        FKill.Trip(Now(), FIn.KillTimeoutMs);
        FKillReport.reset();
        const TStoreFacts& facts = Facts();
        const std::vector<TOwnOrder> live = LiveOrders(facts);
        const std::vector<std::uint32_t> unseen = UnseenAdds(facts);
        for (const std::uint32_t trId : unseen) {
            FKill.AwaitAdd(trId);
        }
        const std::size_t adds = unseen.size();
        lines.push_back("Снять все заявки и остановить торговлю: торговля остановлена, снимается "
                        "заявок: " +
                        std::to_string(live.size()) +
                        ", без ответа биржи: " + std::to_string(adds) + ".");
        for (const TOwnOrder& o : live) {
            // A cancel that could not be posted leaves its order counted as live.
            CancelLocked(o.OrderId, facts, lines);
            FKill.AwaitCancel(o.OrderId);
        }
        PollKill(lines);
    }
    Emit(lines);
}

void TOrderDesk::CancelSeenAdds(TLines& lines) {
    // An order the kill switch waits for may show in the orders log before its reply comes.
    const TStoreFacts& facts = Facts();
    for (const auto& [trId, post] : FPending) {
        if (post.IsCancel || !FKill.AwaitsAdd(trId) || !facts.HasExtId(post.ExtId)) {
            continue;
        }
        FKill.OnAddReply(trId);
        for (const TOwnOrder& o : OwnActive(facts)) {
            if (o.ExtId == post.ExtId && o.Active()) {
                CancelLocked(o.OrderId, facts, lines);
                FKill.AwaitCancel(o.OrderId);
            }
        }
    }
}

void TOrderDesk::PollKill(TLines& lines) {
    if (const auto report = FKill.Poll(Now())) {
        FKillReport = report;
        lines.push_back(report->AllGone
                            ? "Все заявки сняты, торговля остановлена."
                            : "Снятие не подтверждено для заявок: " +
                                  std::to_string(report->Unconfirmed) + ". Торговля остановлена.");
    }
}

TKillPhase TOrderDesk::KillPhase() const {
    std::lock_guard lock(FLock);
    return FKill.Phase();
}

std::optional<TKillReport> TOrderDesk::LastKillReport() const {
    std::lock_guard lock(FLock);
    return FKillReport;
}

bool TOrderDesk::Rearm(bool confirmed) {
    TLines lines;
    bool ok = false;
    {
        std::lock_guard lock(FLock);
        ok = FKill.Rearm(confirmed);
        lines.push_back(ok ? "Торговля снова разрешена."
                           : "Торговля не разрешена: снятие заявок не завершено или не "
                             "подтверждено.");
    }
    Emit(lines);
    return ok;
}

} // namespace vorlen::orders
