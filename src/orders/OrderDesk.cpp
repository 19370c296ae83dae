// Placing orders and cancels past the gate, and taking the exchange's answers to them.

#include "orders/OrderDesk.h"

#include "connections/ErrorCode.h"
#include "platform/Clock.h"
#include "platform/FormatSettings.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace vorlen::orders {

namespace {

constexpr std::int32_t kAlreadyGone = 14;

// The rules count seconds and minutes: the clock's tick is precise enough, and reading it costs
// a tenth of what the precise clock's read does.
std::int64_t WallMs() {
    return platform::CoarseWallMs();
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

std::string DescribeOrder(const TOrderRequest& o, char decimalSeparator) {
    std::string out;
    AppendOrder(out, o, FormatPrice(o.Price, decimalSeparator));
    return out;
}

TOrderDesk::TOrderDesk(IOrderTransport& transport, TLimitsBook limits, TDeskInputs inputs,
                       TJournalFn journal, TOrderLogFile* log)
    : FTransport(transport), FIn(std::move(inputs)), FJournal(std::move(journal)), FLog(log),
      FNextExtId(static_cast<std::int32_t>((WallMs() / 1000) % 2'000'000 * 1000 + 1)),
      FLimits(std::move(limits)) {
    RestoreHalt();
}

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
    for (std::string& text : lines) {
        const bool logOnly = !text.empty() && text[0] == kLogOnly;
        if (logOnly) {
            text.erase(0, 1);
        }
        if (FLog != nullptr && !FLog->Append(JournalLine(text)) && !FLogWarned) {
            FLogWarned = true;
            if (FJournal) {
                FJournal("Ошибка: журнал заявок не записан.");
            }
        }
        if (FJournal && !logOnly) {
            FJournal(text);
        }
    }
    lines.clear();
}

TPlaceResult TOrderDesk::Place(const TOrderRequest& order) {
    TLines lines;
    TPlaceResult r;
    {
        std::lock_guard lock(FLock);
        r = PlaceLocked(order, lines);
    }
    if (!lines.empty()) {
        Emit(lines);
    }
    return r;
}

TPlaceResult TOrderDesk::PlaceLocked(const TOrderRequest& order, TLines& lines) {
    if (!FBlocked.empty() || !FBlockedUntilLimits.empty()) {
        ++FRefused;
        return NotPosted(
            order, {TPlaceStatus::Refused, 0, FBlocked.empty() ? FBlockedUntilLimits : FBlocked},
            "Заявка отклонена: ", lines);
    }
    const TStoreFacts& facts = Facts();
    std::int64_t now = 0;
    const TGateDecision d = Decide(facts, order, lines, now);
    if (!d.Allowed) {
        ++FRefused;
        return NotPosted(order, {TPlaceStatus::Refused, 0, d.Reason}, "Заявка отклонена: ", lines);
    }
    TAddOrderParams p = FLookedParams;
    p.dir = static_cast<std::int32_t>(order.Side);
    p.amount = static_cast<std::int32_t>(order.Qty);
    char price[32];
    const char* priceEnd = WritePrice(order.Price, price);
    // The record's price field is zero beyond what is written: it came so from LookUp.
    std::memcpy(p.price, price,
                std::min(static_cast<std::size_t>(priceEnd - price), sizeof p.price - 1));
    const std::uint32_t trId = FTransport.NextId();
    p.ext_id = NextExtId(facts);
    const std::int64_t lastSame = CountPosted(order, p, trId, now);
    bool posted = false;
    try {
        posted = FTransport.PostAdd(trId, p.isin_id, p);
    } catch (...) {
        Uncount(order, p, trId, now, lastSame);
        throw;
    }
    if (!posted) {
        Uncount(order, p, trId, now, lastSame);
        ++FFailed;
        if (FTransport.Throttled()) {
            TPlaceResult r{TPlaceStatus::Failed, 0, ThrottleReason()};
            return NoteThrottled(lines)
                       ? NotPosted(order, std::move(r), "Заявка не отправлена: ", lines)
                       : r;
        }
        return NotPosted(order,
                         {TPlaceStatus::Failed, 0, "соединение Трансакций не приняло сообщение."},
                         "Заявка не отправлена: ", lines);
    }
    if (FJournal || FLog != nullptr) {
        PostedLines(order, trId, lines);
    }
    return {TPlaceStatus::Posted, trId, {}};
}

TGateDecision TOrderDesk::Decide(const TStoreFacts& facts, const TOrderRequest& order,
                                 TLines& lines, std::int64_t& nowMs) {
    if (FSeeded && DayOver(facts)) {
        ForgetDay();
    }
    if (!FSeeded) {
        SeedDay(facts, lines);
    }
    const TGateView& view = PlaceView(facts, order);
    nowMs = view.NowMs;
    return CheckOrder(order, FLookedLimits, view, Tally(order, view.NowMs));
}

TGateDecision TOrderDesk::Check(const TOrderRequest& order) {
    TLines lines; // only what seeding the day's counts says: the check itself leaves no trace
    TGateDecision d;
    {
        std::lock_guard lock(FLock);
        if (!FBlocked.empty() || !FBlockedUntilLimits.empty()) {
            d = {false, FBlocked.empty() ? FBlockedUntilLimits : FBlocked};
        } else {
            std::int64_t now = 0;
            d = Decide(Facts(), order, lines, now);
        }
    }
    if (!lines.empty()) {
        Emit(lines);
    }
    return d;
}

std::string TOrderDesk::AttemptLine(const TOrderRequest& order) {
    std::string line;
    line.reserve(96);
    line += "Заявка: ";
    AppendOrder(line, order, FormatPrice(order.Price));
    line += '.';
    return line;
}

void TOrderDesk::PostedLines(const TOrderRequest& order, std::uint32_t trId, TLines& lines) {
    lines.push_back(AttemptLine(order));
    lines.push_back("Заявка отправлена, транзакция " + std::to_string(trId) + ".");
}

TPlaceResult TOrderDesk::NotPosted(const TOrderRequest& order, TPlaceResult result,
                                   const char* prefix, TLines& lines) {
    if (FJournal || FLog != nullptr) {
        lines.push_back(AttemptLine(order));
        lines.push_back(prefix + result.Reason);
    }
    return result;
}

std::int64_t TOrderDesk::CountPosted(const TOrderRequest& order, const TAddOrderParams& p,
                                     std::uint32_t trId, std::int64_t now) {
    // Only what is posted counts (what the exchange saw is what the rate rules are about): an
    // add that fails to go is taken back (Uncount).
    if (FLookedSent == nullptr) {
        FLookedSent = &FSent[order.Client];
    }
    TClientSent& byClient = *FLookedSent;
    // In time order, as pruning from the front needs; at the back unless the clock went back.
    std::deque<std::int64_t>& times = byClient.RecentMs;
    if (times.empty() || times.back() <= now) {
        times.push_back(now);
    } else {
        InsertLate(times, now);
    }
    auto& same = byClient.LastSameMs;
    std::int64_t lastSame = -1;
    if (const auto [at, added] =
            same.try_emplace({p.isin_id, order.Side, order.Price, order.Qty}, now);
        !added) {
        lastSame = std::exchange(at->second, now);
    }
    if (same.size() >= byClient.SweepAt) {
        Sweep(byClient, now);
    }
    ++byClient.Today;
    // NextExtId gave an ext_id the log does not hold: the order is unseen until it does.
    const TUnseen unseen{{false, trId},   p.ext_id,      order.Qty, p.isin_id,
                         FLookedClientNo, FLookedIsinNo, order.Side};
    if (AddPending(trId, {.Side = order.Side,
                          .Client = FLookedClientNo,
                          .Isin = FLookedIsinNo,
                          .IsinId = p.isin_id,
                          .ExtId = p.ext_id,
                          .Qty = order.Qty,
                          .Price = order.Price})) {
        FUnseen.push_back(unseen); // unseen adds are pending ones: none has this id yet
        // An add of the pair looked up: the tally of the unseen grows by it, without a walk.
        if (FUnseenTally.Gen == FUnseenGen) {
            ++FUnseenTally.Active;
            FUnseenTally.Rest[order.Side == TSide::Buy ? 0 : 1] += order.Qty;
        }
    } else {
        SetUnseen(unseen);
    }
    return lastSame;
}

void TOrderDesk::Uncount(const TOrderRequest& order, const TAddOrderParams& p, std::uint32_t trId,
                         std::int64_t now, std::int64_t lastSame) {
    TClientSent& byClient = *FLookedSent;
    std::deque<std::int64_t>& times = byClient.RecentMs;
    if (const auto at = std::find(times.rbegin(), times.rend(), now); at != times.rend()) {
        times.erase(std::next(at).base());
    }
    const TRepeatKey key{p.isin_id, order.Side, order.Price, order.Qty};
    if (lastSame < 0) {
        byClient.LastSameMs.erase(key);
    } else {
        byClient.LastSameMs[key] = lastSame;
    }
    --byClient.Today;
    const auto pending = std::find_if(FPending.begin(), FPending.end(),
                                      [&](const auto& e) { return e.first == trId; });
    if (pending != FPending.end()) {
        FPending.erase(pending);
    }
    DropUnseen({false, trId});
    // The kept tally may hold the add: the next order walks the unseen ones again.
    ++FUnseenGen;
}

void TOrderDesk::InsertLate(std::deque<std::int64_t>& times, std::int64_t now) {
    times.insert(std::upper_bound(times.begin(), times.end(), now), now);
}

void TOrderDesk::Sweep(TClientSent& sent, std::int64_t now) {
    auto& same = sent.LastSameMs;
    for (auto it = same.begin(); it != same.end();) {
        if (it->second <= now - 1'000) {
            same.erase(it++);
        } else {
            ++it;
        }
    }
    sent.SweepAt = std::max<std::size_t>(64, same.size() * 2);
}

void TOrderDesk::LookUp(const TStoreFacts& facts, const std::string& isin,
                        const std::string& client) {
    TGateView& v = FView;
    v.Instrument.reset();
    v.Position = 0;
    const TRefFacts& ref = RefOf(facts);
    if (const auto ins = ref.Instruments.find(isin); ins != ref.Instruments.end()) {
        v.Instrument = ins->second;
        const auto pos = facts.Positions.find({client, ins->second.IsinId});
        v.Position = pos != facts.Positions.end() ? pos->second : 0;
    }
    FLookedLimits = FLimits.For(client, isin);
    FLookedUp = FFactsSerial;
    ++FUnseenGen; // the tally of the unseen is of another pair
    FLookedIsin = isin;
    FLookedClient = client;
    FLookedIsinNo = NameNo(isin);
    FLookedClientNo = NameNo(client);
    const auto sent = FSent.find(client);
    FLookedSent = sent != FSent.end() ? &sent->second : nullptr;
    // The log's part of the tally changes only with a new read of the facts.
    FLoggedActive = 0;
    FLoggedRest = {};
    // With the user order book's orders the log does not tell of.
    const TActiveByClient* const sources[] = {
        facts.Tracker ? &facts.Tracker->Active() : &FOwnCounts, &FBookCounts};
    for (const TActiveByClient* logged : sources) {
        if (const auto c = logged->find(client); c != logged->end()) {
            FLoggedActive += c->second.Count;
            for (const auto& [key, rest] : c->second.Rest) {
                if (SameIsin(key.first, isin)) {
                    FLoggedRest[key.second == TSide::Buy ? 0 : 1] += rest;
                }
            }
        }
    }
    TAddOrderParams& p = FLookedParams;
    p = {};
    Put(p.broker_code, BrokerPart(client));
    Put(p.client_code, ClientPart(client));
    p.isin_id = v.Instrument ? v.Instrument->IsinId : 0;
    p.atype = 1; // a limit order that rests until traded or cancelled
    Put(p.comment, "vorlen");
}

bool TOrderDesk::AddPending(std::uint32_t trId, TPendingPost post) {
    if (FPending.empty() || FPending.back().first < trId) {
        FPending.emplace_back(trId, std::move(post));
        return true;
    }
    return InsertPending(trId, std::move(post));
}

bool TOrderDesk::InsertPending(std::uint32_t trId, TPendingPost post) {
    const auto at = std::lower_bound(FPending.begin(), FPending.end(), trId,
                                     [](const auto& e, std::uint32_t id) { return e.first < id; });
    if (at != FPending.end() && at->first == trId) {
        at->second = std::move(post);
    } else {
        FPending.emplace(at, trId, std::move(post));
    }
    return false;
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
    const std::size_t first = lines.size();
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
    std::uint32_t trId = 0;
    switch (PostCancel({orderId, target->IsinId, target->Client}, std::move(replacement), trId,
                       lines)) {
    case TPosted::Posted:
        return true;
    case TPosted::Refused:
        ++FRefused;
        return false;
    case TPosted::Throttled:
        ++FFailed;
        if (NoteThrottled(lines)) {
            lines.push_back("Снятие заявки " + std::to_string(orderId) +
                            " не отправлено: " + ThrottleReason());
        } else {
            lines.resize(first); // counted for the second's summary
        }
        return false;
    case TPosted::NotTaken:
        break;
    }
    ++FFailed;
    lines.push_back("Снятие заявки " + std::to_string(orderId) +
                    " не отправлено: соединение Трансакций не приняло сообщение.");
    return false;
}

TOrderDesk::TPosted TOrderDesk::PostCancel(const TKillTarget& target,
                                           std::optional<TOrderRequest> replacement,
                                           std::uint32_t& trId, TLines& lines) {
    const std::int64_t orderId = target.OrderId;
    TGateView cancelView;
    cancelView.Transactions = FTransport.Health();
    const TGateDecision d = CheckCancel(cancelView);
    if (!d.Allowed) {
        lines.push_back("Снятие отклонено: " + d.Reason);
        return TPosted::Refused;
    }
    TDelOrderParams p{};
    Put(p.broker_code, BrokerPart(target.Client));
    Put(p.client_code, ClientPart(target.Client));
    p.order_id = orderId;
    p.isin_id = target.IsinId;
    trId = FTransport.NextId();
    if (!FTransport.PostCancel(trId, p.isin_id, p)) {
        return FTransport.Throttled() ? TPosted::Throttled : TPosted::NotTaken;
    }
    TPendingPost post{.IsCancel = true, .IsinId = p.isin_id, .OrderId = orderId};
    if (replacement) {
        post.Replacement = std::make_unique<const TOrderRequest>(std::move(*replacement));
    }
    AddPending(trId, std::move(post));
    lines.push_back("Снятие заявки " + std::to_string(orderId) + " отправлено, транзакция " +
                    std::to_string(trId) + ".");
    return TPosted::Posted;
}

void TOrderDesk::OnReply(std::uint32_t trId, const TPendingPost& post, const TReply& reply,
                         TLines& lines, std::vector<TOrderRequest>& replacements) {
    const std::string tr = "транзакция " + std::to_string(trId);
    if (post.IsCancel) {
        lines.push_back("Ответ на снятие заявки " + std::to_string(post.OrderId) + " (" + tr +
                        "): " + ReplyWords(reply.Code) + ".");
        // The kill switch's cancels are posted again after an error: its report tells.
        const bool killing = FKill.OnCancelReply(post.OrderId, trId, reply.Code, Now());
        if (reply.Code == 0 || reply.Code == kAlreadyGone) {
            FAccepted.erase(post.OrderId);
            DropUnseen({true, post.OrderId});
        } else if (!killing) {
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
    o.Client = FNames[post.Client];
    o.Side = post.Side;
    o.Price = post.Price;
    o.Amount = o.Rest = post.Qty;
    o.ExtId = post.ExtId;
    FAccepted[o.OrderId] = o;
    if (wasUnseen) {
        SetUnseen(Unseen({true, o.OrderId}, o.ExtId, o.Client, {}, o.IsinId, o.Side, o.Rest));
    }
    if (FKill.AwaitsAdd(trId)) {
        FKill.OnAddReply(trId);
        // Accepted after the kill switch was thrown: it goes the way of the others.
        FKill.AwaitCancel({o.OrderId, o.IsinId, o.Client});
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
        // Taken out first: an answer may post a cancel, which adds to the list.
        struct TTaken {
            std::uint32_t TrId;
            TPendingPost Post;
            TReply Reply;
        };
        std::vector<TTaken> taken;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < FPending.size(); ++i) {
            TReply reply;
            if (FTransport.TakeReply(FPending[i].first, reply)) {
                taken.push_back({FPending[i].first, std::move(FPending[i].second), reply});
            } else if (kept++ != i) {
                FPending[kept - 1] = std::move(FPending[i]);
            }
        }
        FPending.erase(FPending.begin() + static_cast<std::ptrdiff_t>(kept), FPending.end());
        for (const TTaken& t : taken) {
            OnReply(t.TrId, t.Post, t.Reply, lines, replacements);
        }
        for (const TOrderRequest& r : replacements) {
            PlaceLocked(r, lines);
        }
        if (FKill.Phase() == TKillPhase::Cancelling) {
            CancelSeenAdds();
            PumpKill(lines);
        }
        PollKill(lines);
        FlushThrottled(lines);
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

void TOrderDesk::SetLimits(TLimitsBook limits) {
    std::lock_guard lock(FLock);
    FLimits = std::move(limits);
    FLookedUp = 0;
    FBlockedUntilLimits.clear();
}

void TOrderDesk::BlockUntilLimits(std::string reason) {
    std::lock_guard lock(FLock);
    FBlockedUntilLimits = std::move(reason);
}

void TOrderDesk::Block(std::string reason) {
    std::lock_guard lock(FLock);
    FBlocked = std::move(reason);
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
