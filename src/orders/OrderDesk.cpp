#include "orders/OrderDesk.h"

#include "connections/ErrorCode.h"
#include "platform/FormatSettings.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vorlen::orders {

namespace {

constexpr std::int32_t kAlreadyGone = 14;

std::int64_t WallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Milliseconds since local midnight, from the real clock: the day the per-day limit counts.
std::int64_t SinceMidnightMs() {
    const auto now = std::chrono::system_clock::now();
    const std::tm t = LocalTm(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    return ((t.tm_hour * 60 + t.tm_min) * 60 + t.tm_sec) * 1000LL + ms;
}

template <std::size_t N>
void Put(char (&dst)[N], const std::string& src) {
    std::memset(dst, 0, N);
    std::memcpy(dst, src.data(), std::min(src.size(), N - 1));
}

// The account table's code is the broker's four characters and the client's own three.
std::string BrokerPart(const std::string& client) {
    return client.substr(0, std::min<std::size_t>(4, client.size()));
}
std::string ClientPart(const std::string& client) {
    return client.size() > 4 ? client.substr(4) : std::string();
}

std::string ReplyWords(std::int32_t code) {
    const std::string_view text = GetReplyText(code);
    return "код " + std::to_string(code) + (text.empty() ? "" : " (" + std::string(text) + ")");
}

} // namespace

std::string DescribeOrder(const TOrderRequest& o) {
    return std::string(o.Side == TSide::Buy ? "покупка " : "продажа ") + o.Isin + " " +
           std::to_string(o.Qty) + " по " + FormatPrice(o.Price) + ", клиент " + o.Client;
}

TOrderDesk::TOrderDesk(IOrderTransport& transport, TLimitsBook limits, TDeskInputs inputs,
                       TJournalFn journal, TOrderLogFile* log)
    : FTransport(transport), FLimits(std::move(limits)), FIn(std::move(inputs)),
      FJournal(std::move(journal)), FLog(log),
      FExtBase(static_cast<std::int32_t>((WallMs() / 1000) % 2'000'000 * 1000)) {}

std::int64_t TOrderDesk::Now() const {
    return FIn.NowMs ? FIn.NowMs() : WallMs();
}

void TOrderDesk::Emit(TLines& lines) {
    for (const std::string& text : lines) {
        if (FLog != nullptr && !FLog->Append(JournalLine(text)) && !FLogWarned) {
            FLogWarned = true;
            if (FJournal) {
                FJournal("Ошибка: журнал заявок не записан.");
            }
        }
        if (FJournal) {
            FJournal(text);
        }
    }
    lines.clear();
}

std::vector<TOwnOrder> TOrderDesk::LiveOrders(const TStoreFacts& facts) const {
    std::vector<TOwnOrder> live;
    for (const TOwnOrder& o : facts.Own) {
        if (o.Active()) {
            live.push_back(o);
        }
    }
    for (const auto& [id, o] : FAccepted) {
        // Until the orders log shows it (by the ext_id this desk gave it), the reply is all
        // there is to know of it.
        if (!facts.HasExtId(o.ExtId)) {
            live.push_back(o);
        }
    }
    return live;
}

std::vector<std::uint32_t> TOrderDesk::UnseenAdds(const TStoreFacts& facts) const {
    std::vector<std::uint32_t> out;
    for (const auto& [trId, p] : FPending) {
        if (!p.IsCancel && !facts.HasExtId(p.ExtId)) {
            out.push_back(trId);
        }
    }
    return out;
}

const TStoreFacts& TOrderDesk::Facts() {
    if (!FHaveFacts || !FIn.FactsChanged || FIn.FactsChanged()) {
        FFacts = FIn.Facts ? FIn.Facts() : TStoreFacts{};
        FHaveFacts = true;
        ++FFactsSerial;
    }
    return FFacts;
}

const TGateView& TOrderDesk::PlaceView(const TStoreFacts& facts, const TOrderRequest& order) {
    TGateView& v = FView;
    v.NowMs = Now();
    // Local midnight, found again once the day it was found for is over.
    if (v.NowMs - FDayStartMs >= 86'400'000 || FDayStartMs == 0) {
        FDayStartMs = v.NowMs - SinceMidnightMs();
        FSentToday.clear();
    }
    v.Transactions = FTransport.Health();
    v.MarketData = FIn.MarketData ? FIn.MarketData() : TLinkHealth::Offline;
    v.Halted = FKill.Latched();
    static const TRefFacts kNoRef;
    const TRefFacts& ref = facts.Ref ? *facts.Ref : kNoRef;
    if (!FViewBuilt || FViewFacts != FFactsSerial || FViewLive != FLiveSerial) {
        v.KnownClients = ref.Clients;
        v.Live.clear();
        for (const TOwnOrder& o : LiveOrders(facts)) {
            const auto isin = ref.IsinById.find(o.IsinId);
            v.Live.push_back({o.Client, isin != ref.IsinById.end() ? isin->second : std::string(),
                              o.Side, o.Rest});
        }
        for (const std::uint32_t trId : UnseenAdds(facts)) {
            const TOrderRequest& o = FPending.at(trId).Order;
            v.Live.push_back({o.Client, o.Isin, o.Side, o.Qty});
        }
        FViewBuilt = true;
        FViewFacts = FFactsSerial;
        FViewLive = FLiveSerial;
    }
    const auto today = FSentToday.find(order.Client);
    v.SentToday = today != FSentToday.end() ? today->second : 0;
    v.Instrument.reset();
    v.Position = 0;
    if (const auto ins = ref.Instruments.find(order.Isin); ins != ref.Instruments.end()) {
        v.Instrument = ins->second;
        const auto pos = facts.Positions.find({order.Client, ins->second.IsinId});
        v.Position = pos != facts.Positions.end() ? pos->second : 0;
    }
    v.BestOpposite.reset();
    if (FIn.BestOpposite) {
        v.BestOpposite = FIn.BestOpposite(order.Isin, order.Side);
    }
    return v;
}

TPlaceResult TOrderDesk::Place(const TOrderRequest& order) {
    TLines lines;
    TPlaceResult r;
    {
        std::lock_guard lock(FLock);
        r = PlaceLocked(order, lines);
    }
    Emit(lines);
    return r;
}

TPlaceResult TOrderDesk::PlaceLocked(const TOrderRequest& order, TLines& lines) {
    lines.push_back("Заявка: " + DescribeOrder(order) + ".");
    const TStoreFacts& facts = Facts();
    if (std::erase_if(FAccepted, [&](const auto& a) { return facts.HasExtId(a.second.ExtId); }) !=
        0) {
        ++FLiveSerial;
    }
    const TGateView& view = PlaceView(facts, order);
    const TGateDecision d = CheckOrder(order, FLimits.For(order.Client, order.Isin), view);
    if (!d.Allowed) {
        ++FRefused;
        lines.push_back("Заявка отклонена: " + d.Reason);
        return {TPlaceStatus::Refused, 0, d.Reason};
    }
    TAddOrderParams p{};
    Put(p.broker_code, BrokerPart(order.Client));
    Put(p.client_code, ClientPart(order.Client));
    p.isin_id = view.Instrument->IsinId;
    p.dir = static_cast<std::int32_t>(order.Side);
    p.atype = 1; // a limit order that rests until traded or cancelled
    p.amount = static_cast<std::int32_t>(order.Qty);
    Put(p.price, FormatPrice(order.Price));
    Put(p.comment, "vorlen");
    const std::uint32_t trId = FTransport.NextId();
    p.ext_id = FExtBase + static_cast<std::int32_t>(trId % 1000);
    if (!FTransport.PostAdd(trId, p.isin_id, p)) {
        ++FFailed;
        const std::string reason = "соединение Трансакций не приняло сообщение.";
        lines.push_back("Заявка не отправлена: " + reason);
        return {TPlaceStatus::Failed, 0, reason};
    }
    // Counted once posted: what the exchange saw is what the rate rules are about. The gate
    // counts only the last minute's, so older ones are dropped only now and then.
    const std::int64_t now = view.NowMs;
    std::vector<TSentOrder>& sent = FView.Sent;
    if (!sent.empty() && sent.front().AtMs <= now - 60'000) {
        std::erase_if(sent, [&](const TSentOrder& s) { return s.AtMs <= now - 60'000; });
    }
    sent.push_back({now, order.Client, order.Isin, order.Side, order.Price, order.Qty});
    ++FSentToday[order.Client];
    FPending[trId] = {false, 0, order, p.isin_id, std::nullopt, false, p.ext_id};
    // The view's live orders gain this one, as a rebuild would give them.
    const bool current = FViewBuilt && FViewFacts == FFactsSerial && FViewLive == FLiveSerial;
    ++FLiveSerial;
    if (current) {
        if (!facts.HasExtId(p.ext_id)) {
            FView.Live.push_back({order.Client, order.Isin, order.Side, order.Qty});
        }
        FViewLive = FLiveSerial;
    }
    lines.push_back("Заявка отправлена, транзакция " + std::to_string(trId) + ".");
    return {TPlaceStatus::Posted, trId, {}};
}

bool TOrderDesk::Cancel(std::int64_t orderId) {
    TLines lines;
    bool ok = false;
    {
        std::lock_guard lock(FLock);
        const TStoreFacts& facts = Facts();
        ok = CancelLocked(orderId, facts, lines);
    }
    Emit(lines);
    return ok;
}

bool TOrderDesk::Modify(std::int64_t orderId, const TOrderRequest& replacement) {
    TLines lines;
    bool ok = false;
    {
        std::lock_guard lock(FLock);
        const TStoreFacts& facts = Facts();
        ok = CancelLocked(orderId, facts, lines, replacement);
    }
    Emit(lines);
    return ok;
}

bool TOrderDesk::CancelLocked(std::int64_t orderId, const TStoreFacts& facts, TLines& lines,
                              std::optional<TOrderRequest> replacement) {
    lines.push_back("Снятие заявки " + std::to_string(orderId) + ".");
    std::optional<TOwnOrder> target;
    for (const TOwnOrder& o : LiveOrders(facts)) {
        if (o.OrderId == orderId) {
            target = o;
        }
    }
    if (!target) {
        ++FRefused;
        lines.push_back("Снятие отклонено: активной заявки " + std::to_string(orderId) + " нет.");
        return false;
    }
    TGateView cancelView;
    cancelView.Transactions = FTransport.Health();
    const TGateDecision d = CheckCancel(cancelView);
    if (!d.Allowed) {
        ++FRefused;
        lines.push_back("Снятие отклонено: " + d.Reason);
        return false;
    }
    TDelOrderParams p{};
    Put(p.broker_code, BrokerPart(target->Client));
    Put(p.client_code, ClientPart(target->Client));
    p.order_id = orderId;
    p.isin_id = target->IsinId;
    const std::uint32_t trId = FTransport.NextId();
    if (!FTransport.PostCancel(trId, p.isin_id, p)) {
        ++FFailed;
        lines.push_back("Снятие заявки " + std::to_string(orderId) +
                        " не отправлено: соединение Трансакций не приняло сообщение.");
        return false;
    }
    FPending[trId] = {true, orderId, {}, p.isin_id, std::move(replacement)};
    lines.push_back("Снятие заявки " + std::to_string(orderId) + " отправлено, транзакция " +
                    std::to_string(trId) + ".");
    return true;
}

void TOrderDesk::OnReply(std::uint32_t trId, const TPendingPost& post, const TReply& reply,
                         TLines& lines, std::vector<TOrderRequest>& replacements) {
    const std::string tr = "транзакция " + std::to_string(trId);
    if (post.IsCancel) {
        lines.push_back("Ответ на снятие заявки " + std::to_string(post.OrderId) + " (" + tr +
                        "): " + ReplyWords(reply.Code) + ".");
        FKill.OnCancelReply(post.OrderId, reply.Code);
        if (reply.Code == 0 || reply.Code == kAlreadyGone) {
            FAccepted.erase(post.OrderId);
        } else {
            ++FFailed;
        }
        // Code 14 means the order is gone by another way (traded, most likely): the
        // replacement would double what the trader meant, so it is not placed.
        if (reply.Code == 0 && post.Replacement) {
            replacements.push_back(*post.Replacement);
        } else if (post.Replacement) {
            lines.push_back("Замена заявки " + std::to_string(post.OrderId) + " не выставлена.");
        }
        return;
    }
    FAnswers[trId] = reply;
    if (FAnswers.size() > kAnswersKept) {
        FAnswers.erase(FAnswers.begin());
    }
    lines.push_back("Ответ на заявку (" + tr + "): " + ReplyWords(reply.Code) +
                    (reply.Code == 0 ? ", номер заявки " + std::to_string(reply.OrderId) : "") +
                    ".");
    if (reply.Code != 0 || reply.OrderId == 0) {
        ++FFailed;
        FKill.OnAddReply(trId);
        return;
    }
    TOwnOrder o;
    o.OrderId = reply.OrderId;
    o.IsinId = post.IsinId;
    o.Client = post.Order.Client;
    o.Side = post.Order.Side;
    o.Price = post.Order.Price;
    o.Amount = o.Rest = post.Order.Qty;
    o.ExtId = post.ExtId;
    FAccepted[o.OrderId] = o;
    if (FKill.AwaitsAdd(trId)) {
        FKill.OnAddReply(trId);
        // Accepted after the kill switch was thrown: it goes the way of the others.
        const TStoreFacts& facts = Facts();
        CancelLocked(o.OrderId, facts, lines);
        FKill.AwaitCancel(o.OrderId);
    }
}

void TOrderDesk::Collect() {
    TLines lines;
    std::vector<TOrderRequest> replacements;
    {
        std::lock_guard lock(FLock);
        for (auto it = FPending.begin(); it != FPending.end();) {
            TReply reply;
            if (!FTransport.TakeReply(it->first, reply)) {
                ++it;
                continue;
            }
            const TPendingPost post = std::move(it->second);
            const std::uint32_t trId = it->first;
            it = FPending.erase(it);
            ++FLiveSerial;
            OnReply(trId, post, reply, lines, replacements);
        }
        for (const TOrderRequest& r : replacements) {
            PlaceLocked(r, lines);
        }
        if (FKill.Phase() == TKillPhase::Cancelling) {
            CancelSeenAdds(lines);
        }
        PollKill(lines);
    }
    Emit(lines);
}

std::size_t TOrderDesk::Pending() const {
    std::lock_guard lock(FLock);
    return static_cast<std::size_t>(std::count_if(FPending.begin(), FPending.end(),
                                                  [](const auto& p) { return !p.second.Expired; }));
}

void TOrderDesk::ExpirePending() {
    TLines lines;
    {
        std::lock_guard lock(FLock);
        for (auto& [trId, post] : FPending) {
            if (post.Expired) {
                continue;
            }
            post.Expired = true;
            ++FFailed;
            lines.push_back(
                "Нет ответа, транзакция " + std::to_string(trId) +
                (post.IsCancel ? ": снятие заявки " + std::to_string(post.OrderId) : ": заявка") +
                " может оставаться активной.");
        }
    }
    Emit(lines);
}

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
        for (const TOwnOrder& o : facts.Own) {
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

void TOrderDesk::SetLimits(TLimitsBook limits) {
    std::lock_guard lock(FLock);
    FLimits = std::move(limits);
}

std::vector<TOwnOrder> TOrderDesk::ActiveOrders() {
    std::lock_guard lock(FLock);
    const TStoreFacts& facts = Facts();
    return LiveOrders(facts);
}

std::optional<TReply> TOrderDesk::Answer(std::uint32_t trId) const {
    std::lock_guard lock(FLock);
    const auto it = FAnswers.find(trId);
    return it != FAnswers.end() ? std::optional<TReply>(it->second) : std::nullopt;
}

std::size_t TOrderDesk::Refused() const {
    std::lock_guard lock(FLock);
    return FRefused;
}

std::size_t TOrderDesk::Failed() const {
    std::lock_guard lock(FLock);
    return FFailed;
}

} // namespace vorlen::orders
