#include "orders/OrderDesk.h"

#include "connections/ErrorCode.h"
#include "platform/FormatSettings.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

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

const TRefFacts& RefOf(const TStoreFacts& facts) {
    static const TRefFacts kNoRef;
    return facts.Ref ? *facts.Ref : kNoRef;
}

std::string ReplyWords(std::int32_t code) {
    const std::string_view text = GetReplyText(code);
    return "код " + std::to_string(code) + (text.empty() ? "" : " (" + std::string(text) + ")");
}

// DescribeOrder's words with the price already written out, appended in place: an order's
// lines are written on every attempt, so they take no more allocations than they must.
void AppendOrder(std::string& out, const TOrderRequest& o, const std::string& price) {
    out += o.Side == TSide::Buy ? "покупка " : "продажа ";
    out += o.Isin;
    out += ' ';
    out += std::to_string(o.Qty);
    out += " по ";
    out += price;
    out += ", клиент ";
    out += o.Client;
}

} // namespace

std::string DescribeOrder(const TOrderRequest& o) {
    std::string out;
    AppendOrder(out, o, FormatPrice(o.Price));
    return out;
}

TOrderDesk::TOrderDesk(IOrderTransport& transport, TLimitsBook limits, TDeskInputs inputs,
                       TJournalFn journal, TOrderLogFile* log)
    : FTransport(transport), FLimits(std::move(limits)), FIn(std::move(inputs)),
      FJournal(std::move(journal)), FLog(log),
      FNextExtId(static_cast<std::int32_t>((WallMs() / 1000) % 2'000'000 * 1000 + 1)) {}

std::int32_t TOrderDesk::NextExtId(const TStoreFacts& facts) {
    constexpr std::int32_t kLast = std::numeric_limits<std::int32_t>::max();
    std::int32_t id = FNextExtId;
    while (facts.HasExtId(id))
        id = id == kLast ? 1 : id + 1;
    FNextExtId = id == kLast ? 1 : id + 1;
    return id;
}

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

const std::vector<TOwnOrder>& TOrderDesk::OwnActive(const TStoreFacts& facts) const {
    if (facts.Tracker == nullptr || !facts.Own.empty()) {
        return facts.Own;
    }
    if (FOwnListSerial != FFactsSerial) {
        FOwnList = facts.Tracker->Orders(true);
        FOwnListSerial = FFactsSerial;
    }
    return FOwnList;
}

std::vector<TOwnOrder> TOrderDesk::LiveOrders(const TStoreFacts& facts) const {
    std::vector<TOwnOrder> live;
    for (const TOwnOrder& o : OwnActive(facts)) {
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
        FollowFacts();
    }
    return FFacts;
}

void TOrderDesk::FollowFacts() {
    const TStoreFacts& f = FFacts;
    // Accepted orders the log shows are its to tell from now on.
    std::erase_if(FAccepted, [&](const auto& a) { return f.HasExtId(a.second.ExtId); });
    if (f.Tracker == nullptr) {
        FOwnCounts.clear();
        for (const TOwnOrder& o : f.Own) {
            if (o.Active()) {
                CountActive(FOwnCounts, o, 1);
            }
        }
    }
    const std::vector<std::int64_t>* order = f.Tracker ? &f.Tracker->ExtIdOrder() : nullptr;
    if (order != nullptr && f.Tracker == FExtTracker && f.Tracker->Clears() == FExtClears &&
        FExtSeen <= order->size()) {
        // The log only grows: only the ext_ids new since the last read can make an order seen.
        for (std::size_t i = FExtSeen; i < order->size(); ++i) {
            std::erase_if(FUnseen, [&](const TUnseen& u) { return u.ExtId == (*order)[i]; });
        }
    } else {
        FUnseen.clear();
        for (const auto& [trId, p] : FPending) {
            if (!p.IsCancel && !f.HasExtId(p.ExtId)) {
                SetUnseen({{false, trId},
                           p.ExtId,
                           p.Order.Client,
                           p.Order.Isin,
                           p.IsinId,
                           p.Order.Side,
                           p.Order.Qty});
            }
        }
        for (const auto& [id, o] : FAccepted) {
            SetUnseen({{true, id}, o.ExtId, o.Client, {}, o.IsinId, o.Side, o.Rest});
        }
    }
    FExtTracker = f.Tracker;
    FExtClears = f.Tracker ? f.Tracker->Clears() : 0;
    FExtSeen = order ? order->size() : 0;
}

const TGateView& TOrderDesk::PlaceView(const TStoreFacts& facts, const TOrderRequest& order) {
    TGateView& v = FView;
    v.NowMs = Now();
    // Local midnight, found again once the day it was found for is over.
    if (v.NowMs - FDayStartMs >= 86'400'000 || FDayStartMs == 0) {
        FDayStartMs = v.NowMs - SinceMidnightMs();
        for (auto& [client, sent] : FSent) {
            sent.Today = 0;
        }
    }
    v.Transactions = FTransport.Health();
    v.MarketData = FIn.MarketData ? FIn.MarketData() : TLinkHealth::Offline;
    v.Halted = FKill.Latched();
    const TRefFacts& ref = RefOf(facts);
    // Held, so a new read's rows can never be taken for these at the same address.
    if (FViewRef != facts.Ref || FViewRef == nullptr) {
        v.KnownClients = ref.Clients;
        FViewRef = facts.Ref;
    }
    const auto sent = FSent.find(order.Client);
    v.SentToday = sent != FSent.end() ? sent->second.Today : 0;
    // Looked up again only for another instrument or client, or new facts: orders come in runs.
    if (FLookedUp != FFactsSerial || FLookedIsin != order.Isin || FLookedClient != order.Client) {
        v.Instrument.reset();
        v.Position = 0;
        if (const auto ins = ref.Instruments.find(order.Isin); ins != ref.Instruments.end()) {
            v.Instrument = ins->second;
            const auto pos = facts.Positions.find({order.Client, ins->second.IsinId});
            v.Position = pos != facts.Positions.end() ? pos->second : 0;
        }
        FLookedLimits = FLimits.For(order.Client, order.Isin);
        FLookedUp = FFactsSerial;
        FLookedIsin = order.Isin;
        FLookedClient = order.Client;
    }
    v.BestOpposite.reset();
    if (FIn.BestOpposite) {
        v.BestOpposite = FIn.BestOpposite(order.Isin, order.Side);
    }
    return v;
}

void TOrderDesk::SetUnseen(TUnseen entry) {
    const auto it = std::find_if(FUnseen.begin(), FUnseen.end(),
                                 [&](const TUnseen& u) { return u.Key == entry.Key; });
    if (it != FUnseen.end()) {
        *it = std::move(entry);
    } else {
        FUnseen.push_back(std::move(entry));
    }
}

bool TOrderDesk::DropUnseen(std::pair<bool, std::int64_t> key) {
    const auto it = std::find_if(FUnseen.begin(), FUnseen.end(),
                                 [&](const TUnseen& u) { return u.Key == key; });
    if (it == FUnseen.end()) {
        return false;
    }
    if (it != FUnseen.end() - 1) {
        *it = std::move(FUnseen.back());
    }
    FUnseen.pop_back();
    return true;
}

std::size_t TOrderDesk::TRepeatHash::operator()(const TRepeatKey& k) const {
    std::size_t h = static_cast<std::size_t>(k.IsinId);
    for (const std::int64_t v : {static_cast<std::int64_t>(k.Side), k.Price, k.Qty})
        h = (h ^ static_cast<std::size_t>(v)) * 0x100000001b3ull;
    return h;
}

TOrderTally TOrderDesk::Tally(const TOrderRequest& order, const TRefFacts& ref,
                              const std::optional<TInstrumentRef>& instrument,
                              std::int64_t nowMs) const {
    TOrderTally t;
    // An order's instrument is known to the gate by the isin its reference row gives its id.
    const auto sameIsin = [&](std::int32_t isinId) {
        if (instrument)
            return isinId == instrument->IsinId;
        const auto isin = ref.IsinById.find(isinId);
        return isin != ref.IsinById.end() ? isin->second == order.Isin : order.Isin.empty();
    };
    const TActiveByClient& logged = FFacts.Tracker ? FFacts.Tracker->Active() : FOwnCounts;
    if (const auto c = logged.find(order.Client); c != logged.end()) {
        t.Active += c->second.Count;
        for (const auto& [key, rest] : c->second.Rest) {
            if (key.second == order.Side && sameIsin(key.first)) {
                t.PendingSameSide += rest;
            }
        }
    }
    for (const TUnseen& u : FUnseen) {
        if (u.Client != order.Client) {
            continue;
        }
        ++t.Active;
        // An add still without its answer goes by the isin it was placed with.
        if (u.Side == order.Side && (u.Key.first ? sameIsin(u.IsinId) : u.Isin == order.Isin)) {
            t.PendingSameSide += u.Qty;
        }
    }
    const auto sent = FSent.find(order.Client);
    if (sent == FSent.end()) {
        return t;
    }
    const std::deque<std::int64_t>& times = sent->second.RecentMs;
    t.LastMinute = times.end() - std::upper_bound(times.begin(), times.end(), nowMs - 60'000);
    // An order for an instrument the reference does not know is refused before this counts.
    if (instrument) {
        const auto& last = sent->second.LastSameMs;
        const auto same = last.find({instrument->IsinId, order.Side, order.Price, order.Qty});
        t.Repeat = same != last.end() && same->second > nowMs - 1'000;
    }
    return t;
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
    const std::string price = FormatPrice(order.Price);
    // The attempt's line comes first, but is written out once the order is on its way (or
    // refused), and only when there is a journal or an order log to take it.
    const bool writes = FJournal || FLog != nullptr;
    const std::size_t attemptAt = lines.size();
    if (writes) {
        lines.emplace_back();
    }
    const auto attempt = [&] {
        if (writes) {
            std::string& line = lines[attemptAt];
            line.reserve(96);
            line += "Заявка: ";
            AppendOrder(line, order, price);
            line += '.';
        }
    };
    const TStoreFacts& facts = Facts();
    const TGateView& view = PlaceView(facts, order);
    const TGateDecision d = CheckOrder(order, FLookedLimits, view,
                                       Tally(order, RefOf(facts), view.Instrument, view.NowMs));
    if (!d.Allowed) {
        ++FRefused;
        attempt();
        if (writes) {
            lines.push_back("Заявка отклонена: " + d.Reason);
        }
        return {TPlaceStatus::Refused, 0, d.Reason};
    }
    TAddOrderParams p{};
    Put(p.broker_code, BrokerPart(order.Client));
    Put(p.client_code, ClientPart(order.Client));
    p.isin_id = view.Instrument->IsinId;
    p.dir = static_cast<std::int32_t>(order.Side);
    p.atype = 1; // a limit order that rests until traded or cancelled
    p.amount = static_cast<std::int32_t>(order.Qty);
    Put(p.price, price);
    Put(p.comment, "vorlen");
    const std::uint32_t trId = FTransport.NextId();
    p.ext_id = NextExtId(facts);
    if (!FTransport.PostAdd(trId, p.isin_id, p)) {
        ++FFailed;
        const std::string reason = "соединение Трансакций не приняло сообщение.";
        attempt();
        if (writes) {
            lines.push_back("Заявка не отправлена: " + reason);
        }
        return {TPlaceStatus::Failed, 0, reason};
    }
    attempt();
    // Counted once posted: what the exchange saw is what the rate rules are about. The gate
    // counts only the last minute's, so older ones are dropped only now and then.
    const std::int64_t now = view.NowMs;
    TClientSent& byClient = FSent[order.Client];
    std::deque<std::int64_t>& times = byClient.RecentMs;
    if (!times.empty() && times.front() <= now - 60'000) {
        // What the last minute no longer holds, nor the last second.
        times.erase(times.begin(), std::upper_bound(times.begin(), times.end(), now - 60'000));
        std::erase_if(byClient.LastSameMs, [&](const auto& e) { return e.second <= now - 1'000; });
    }
    // In time order, as the tally's search needs; behind the others unless the clock went back.
    times.insert(std::upper_bound(times.begin(), times.end(), now), now);
    byClient.LastSameMs[{p.isin_id, order.Side, order.Price, order.Qty}] = now;
    ++byClient.Today;
    FPending[trId] = {false, 0, order, p.isin_id, std::nullopt, false, p.ext_id};
    // NextExtId gave an ext_id the log does not hold: the order is unseen until it does.
    SetUnseen(
        {{false, trId}, p.ext_id, order.Client, order.Isin, p.isin_id, order.Side, order.Qty});
    if (writes) {
        lines.push_back("Заявка отправлена, транзакция " + std::to_string(trId) + ".");
    }
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
            DropUnseen({true, post.OrderId});
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
    // Accepted or not, it is no longer an add without an answer.
    const bool wasUnseen = DropUnseen({false, trId});
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
    if (wasUnseen) {
        SetUnseen({{true, o.OrderId}, o.ExtId, o.Client, {}, o.IsinId, o.Side, o.Rest});
    }
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
        // Between orders (Collect runs on a timer) the rows the replica took since the last
        // read are taken in here, so the next order finds them read.
        Facts();
        for (auto it = FPending.begin(); it != FPending.end();) {
            TReply reply;
            if (!FTransport.TakeReply(it->first, reply)) {
                ++it;
                continue;
            }
            const TPendingPost post = std::move(it->second);
            const std::uint32_t trId = it->first;
            it = FPending.erase(it);
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

void TOrderDesk::SetLimits(TLimitsBook limits) {
    std::lock_guard lock(FLock);
    FLimits = std::move(limits);
    FLookedUp = 0;
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
