// The kill switch's side of the desk: cancel everything at the pace the terminal's cap on posts
// allows, post again what was not sent, not answered or refused, report once the exchange has
// confirmed every cancel or the wait is over, and trade again only when the trader re-arms.
// Also how the desk words the cap's refusals: a flood of them is one line a second.

#include "orders/OrderDesk.h"

#include <algorithm>

namespace vorlen::orders {

namespace {

// Order numbers the journal's report names; the order log gets them all.
constexpr std::size_t kNamedInJournal = 10;

std::string Numbers(const auto& ids, std::size_t most) {
    std::string out;
    std::size_t n = 0;
    for (const auto id : ids) {
        if (n++ == most) {
            break;
        }
        out += (out.empty() ? "" : ", ") + std::to_string(id);
    }
    return out;
}

// The journal's line for `ids`, and the order log's with every one of them (after `logOnly`).
void NameThem(const std::string& head, const auto& ids, char logOnly,
              std::vector<std::string>& lines) {
    if (ids.empty()) {
        return;
    }
    if (ids.size() <= kNamedInJournal) {
        lines.push_back(head + Numbers(ids, kNamedInJournal) + ".");
        return;
    }
    lines.push_back(head + Numbers(ids, kNamedInJournal) + " и ещё " +
                    std::to_string(ids.size() - kNamedInJournal) +
                    " (все номера в журнале заявок).");
    lines.push_back(std::string(1, logOnly) + head + Numbers(ids, ids.size()) + ".");
}

} // namespace

void TOrderDesk::KillSwitch() {
    // Strategies first, so none of them places a new order while the old ones are cancelled.
    if (FIn.StopStrategies) {
        FIn.StopStrategies();
    }
    TLines lines;
    {
        std::lock_guard lock(FLock);
        FKill.Trip(Now(), FIn.KillTimeoutMs, FTransport.PostsPerSecond());
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
            FKill.AwaitCancel({o.OrderId, o.IsinId, o.Client});
        }
        PumpKill(lines);
        PollKill(lines);
    }
    Emit(lines);
}

void TOrderDesk::CancelSeenAdds() {
    // An order the kill switch waits for may show in the orders log before its reply comes.
    // Only noted here: the cancels go with the others, so the pending list is not added to
    // while it is walked.
    const TStoreFacts& facts = Facts();
    std::vector<std::int64_t> seen;
    for (const auto& [trId, post] : FPending) {
        if (!post.IsCancel && FKill.AwaitsAdd(trId) && facts.HasExtId(post.ExtId)) {
            FKill.OnAddReply(trId);
            seen.push_back(post.ExtId);
        }
    }
    if (seen.empty()) {
        return;
    }
    for (const TOwnOrder& o : OwnActive(facts)) {
        if (o.Active() && std::find(seen.begin(), seen.end(), o.ExtId) != seen.end()) {
            FKill.AwaitCancel({o.OrderId, o.IsinId, o.Client});
        }
    }
}

void TOrderDesk::PumpKill(TLines& lines) {
    if (FKill.Phase() != TKillPhase::Cancelling) {
        return;
    }
    // Nothing can go while the link is down: the cancels wait for it, and the deadline runs.
    TGateView link;
    link.Transactions = FTransport.Health();
    if (!CheckCancel(link).Allowed) {
        return;
    }
    const std::int64_t now = Now();
    const std::size_t room = FTransport.Room();
    if (room == 0) {
        return;
    }
    const std::vector<TKillTarget> due = FKill.Due(now, room);
    for (const TKillTarget& target : due) {
        std::uint32_t trId = 0;
        const std::string id = std::to_string(target.OrderId);
        lines.push_back("Снятие заявки " + id + ".");
        const TPosted posted = PostCancel(target, {}, trId, lines);
        if (posted == TPosted::Posted) {
            FKill.Sent(target.OrderId, trId, now);
            continue;
        }
        // Tried again on a later tick, until the deadline: each cancel that does not go is
        // one line, and the rest of this round waits with it.
        FKill.NotSent(target.OrderId, now);
        if (posted == TPosted::Throttled) {
            lines.pop_back();
            if (NoteThrottled(lines)) {
                lines.push_back("Снятие заявки " + id + " не отправлено: " + ThrottleReason());
            }
        } else if (posted == TPosted::NotTaken) {
            lines.back() = "Снятие заявки " + id +
                           " не отправлено: соединение Трансакций не приняло сообщение.";
        }
        break;
    }
}

void TOrderDesk::PollKill(TLines& lines) {
    const auto report = FKill.Poll(Now());
    if (!report) {
        return;
    }
    FKillReport = report;
    if (report->AllGone) {
        lines.push_back("Все заявки сняты, торговля остановлена.");
        return;
    }
    lines.push_back("Снятие не подтверждено для заявок: " + std::to_string(report->Unconfirmed) +
                    ". Торговля остановлена.");
    NameThem("Снятие не подтверждено, заявки: ", report->Orders, kLogOnly, lines);
    NameThem("Нет ответа биржи на заявки, транзакции: ", report->Adds, kLogOnly, lines);
}

std::string TOrderDesk::ThrottleReason() {
    return "превышен лимит терминала: " + MessagesText(FTransport.PostsPerSecond()) + " в секунду.";
}

bool TOrderDesk::NoteThrottled(TLines& lines) {
    FlushThrottled(lines);
    if (FThrottled++ == 0) {
        FThrottledSinceMs = Now();
        return true;
    }
    return false;
}

void TOrderDesk::FlushThrottled(TLines& lines) {
    if (FThrottled == 0 || Now() - FThrottledSinceMs < 1'000) {
        return;
    }
    if (FThrottled > 1) {
        lines.push_back("За секунду не отправлено заявок и снятий: " + std::to_string(FThrottled) +
                        " (превышен лимит терминала: " + MessagesText(FTransport.PostsPerSecond()) +
                        " в секунду).");
    }
    FThrottled = 0;
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
