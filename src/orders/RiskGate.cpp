#include "orders/RiskGate.h"

#include <algorithm>

namespace vorlen::orders {

namespace {

constexpr std::int64_t kMinuteMs = 60'000;
constexpr std::int64_t kRepeatMs = 1'000;

TGateDecision Refuse(std::string reason) {
    return {false, std::move(reason)};
}

std::string N(std::int64_t v) {
    return std::to_string(v);
}

std::string Percent(std::int64_t bp) {
    return FormatPrice(bp * (kPriceScale / 100));
}

// The limits file never gives more; limits built in code are held to the same range.
std::int64_t DistanceBp(const TRiskLimits& l) {
    return std::clamp<std::int64_t>(l.MaxDistanceBp, 0, kMaxDistanceBp);
}

std::int64_t OptionSteps(const TRiskLimits& l) {
    return std::clamp<std::int64_t>(l.MaxOptionDistanceSteps, 0, kMaxDistanceSteps);
}

} // namespace

TGateDecision CheckCancel(const TGateView& view) {
    if (view.Transactions == TLinkHealth::Offline) {
        return Refuse("Нет соединения Трансакций: снятие заявки не отправлено.");
    }
    return {true, {}};
}

TOrderTally TallyOf(const TOrderRequest& o, const TGateView& v) {
    TOrderTally t;
    for (const TLiveOrder& lo : v.Live) {
        if (lo.Client != o.Client) {
            continue;
        }
        ++t.Active;
        if (lo.Isin == o.Isin && lo.Side == o.Side) {
            t.PendingSameSide += lo.Rest;
        }
    }
    for (const TSentOrder& s : v.Sent) {
        if (s.Client != o.Client) {
            continue;
        }
        t.LastMinute += s.AtMs > v.NowMs - kMinuteMs ? 1 : 0;
        t.Repeat = t.Repeat || (s.AtMs > v.NowMs - kRepeatMs && s.Isin == o.Isin &&
                                s.Side == o.Side && s.Price == o.Price && s.Qty == o.Qty);
    }
    return t;
}

TGateDecision CheckOrder(const TOrderRequest& o, const TRiskLimits& l, const TGateView& v) {
    return CheckOrder(o, l, v, TallyOf(o, v));
}

namespace {

// The rules in the order they are checked: an order is refused for the first it breaks.
enum class TBreach {
    None,
    Halted,
    Transactions,
    MarketData,
    UnknownClient,
    NoQty,
    OverQty,
    BadPrice,
    UnknownIsin,
    OffStep,
    OutsideLimits,
    FarFromBest,
    FarFromBestSteps,
    Active,
    PerMinute,
    PerDay,
    Position,
    Repeat
};

// The absolute position if the order and the client's other orders on its side all traded.
std::int64_t AbsAfter(const TOrderRequest& o, const TGateView& v, const TOrderTally& t) {
    const std::int64_t sign = o.Side == TSide::Buy ? 1 : -1;
    const std::int64_t after = v.Position + sign * (t.PendingSameSide + o.Qty);
    return after < 0 ? -after : after;
}

// Decides only; the reason is worded apart (Explain), so that what every order runs stays a
// few cache lines of code rather than pages of string building it almost never needs.
TBreach FirstBreach(const TOrderRequest& o, const TRiskLimits& l, const TGateView& v,
                    const TOrderTally& t) {
    if (v.Halted)
        return TBreach::Halted;
    if (v.Transactions != TLinkHealth::Online)
        return TBreach::Transactions;
    if (v.MarketData != TLinkHealth::Online)
        return TBreach::MarketData;
    if (std::find(v.KnownClients.begin(), v.KnownClients.end(), o.Client) == v.KnownClients.end())
        return TBreach::UnknownClient;
    if (o.Qty <= 0)
        return TBreach::NoQty;
    // What the add message cannot carry exactly is refused here, not cut down on the way.
    if (o.Qty > l.MaxOrderQty || o.Qty > kMaxOrderAmount)
        return TBreach::OverQty;
    if (o.Price <= 0 || o.Price > kMaxOrderPrice)
        return TBreach::BadPrice;
    if (!v.Instrument || v.Instrument->Isin != o.Isin)
        return TBreach::UnknownIsin;
    const TInstrumentRef& ins = *v.Instrument;
    if (ins.MinStep <= 0 || o.Price % ins.MinStep != 0)
        return TBreach::OffStep;
    if (ins.Limited && (o.Price < ins.LimitDown || o.Price > ins.LimitUp))
        return TBreach::OutsideLimits;
    if (ins.Option && v.BestOpposite && *v.BestOpposite > 0) {
        const std::int64_t best = *v.BestOpposite;
        const std::int64_t diff = o.Price > best ? o.Price - best : best - o.Price;
        // Whole steps: a price on the step is exactly that many steps away. Both factors are
        // bounded (steps by the limits file, the step by the price range) well inside 64 bits
        // only after the division, so divide rather than multiply.
        if (best > kMaxOrderPrice || diff / ins.MinStep > OptionSteps(l))
            return TBreach::FarFromBestSteps;
    } else if (v.BestOpposite && *v.BestOpposite > 0) {
        const std::int64_t best = *v.BestOpposite;
        const std::int64_t bp = DistanceBp(l);
        const std::int64_t diff = o.Price > best ? o.Price - best : best - o.Price;
        // diff / best > bp / 10^4, that is diff * 10^4 > bp * best; neither product fits 64 bits
        // for prices near kMaxOrderPrice, so best is split at 10^4 and the comparison divided
        // through by it (exact: diff is whole). A book price beyond what the exchange's prices
        // hold is no price to trade near.
        if (best > kMaxOrderPrice || diff > bp * (best / 10'000) + bp * (best % 10'000) / 10'000)
            return TBreach::FarFromBest;
    }
    if (t.Active >= l.MaxActive)
        return TBreach::Active;
    if (t.LastMinute >= l.MaxPerMinute)
        return TBreach::PerMinute;
    if (v.SentToday >= l.MaxPerDay)
        return TBreach::PerDay;
    const std::int64_t absNow = v.Position < 0 ? -v.Position : v.Position;
    const std::int64_t absAfter = AbsAfter(o, v, t);
    // An order that brings a position already over the limit back towards it is let through:
    // refusing it would keep the trader stuck with the very risk the limit is about.
    if (absAfter > l.MaxPosition && absAfter >= absNow)
        return TBreach::Position;
    if (t.Repeat && (!o.RepeatConfirmed || o.FromStrategy))
        return TBreach::Repeat;
    return TBreach::None;
}

std::string Explain(TBreach b, const TOrderRequest& o, const TRiskLimits& l, const TGateView& v,
                    const TOrderTally& t) {
    switch (b) {
    case TBreach::None:
        break;
    case TBreach::Halted:
        return kHaltedRefusal;
    case TBreach::Transactions:
        return "Соединение Трансакций не в рабочем состоянии: заявка не отправлена.";
    case TBreach::MarketData:
        return "Рыночные данные не актуальны: заявка не отправлена.";
    case TBreach::UnknownClient:
        return "Код клиента \"" + o.Client + "\" отсутствует в таблице счетов.";
    case TBreach::NoQty:
        return "Количество должно быть больше нуля.";
    case TBreach::OverQty:
        if (o.Qty > kMaxOrderAmount && kMaxOrderAmount < l.MaxOrderQty) {
            return "Количество " + N(o.Qty) + " больше, чем вмещает заявка биржи (" +
                   N(kMaxOrderAmount) + ").";
        }
        return "Количество " + N(o.Qty) + " больше допустимого в одной заявке (" +
               N(l.MaxOrderQty) + ").";
    case TBreach::BadPrice:
        if (o.Price <= 0) {
            return "Цена должна быть больше нуля.";
        }
        return "Цена " + FormatPrice(o.Price) + " больше, чем вмещает заявка биржи (" +
               FormatPrice(kMaxOrderPrice) + ").";
    case TBreach::UnknownIsin:
        return "Инструмент \"" + o.Isin + "\" не найден в справочнике.";
    case TBreach::OffStep:
        return "Цена " + FormatPrice(o.Price) + " не кратна шагу цены " +
               FormatPrice(v.Instrument->MinStep) + ".";
    case TBreach::OutsideLimits:
        return "Цена " + FormatPrice(o.Price) + " вне дневных лимитов (" +
               FormatPrice(v.Instrument->LimitDown) + " - " + FormatPrice(v.Instrument->LimitUp) +
               ").";
    case TBreach::FarFromBest:
        return "Цена " + FormatPrice(o.Price) + " дальше " + Percent(DistanceBp(l)) +
               "% от лучшей встречной цены " + FormatPrice(*v.BestOpposite) + ".";
    case TBreach::FarFromBestSteps:
        return "Цена " + FormatPrice(o.Price) + " дальше от лучшей встречной цены " +
               FormatPrice(*v.BestOpposite) +
               ", чем допустимо для опциона (шагов цены: " + N(OptionSteps(l)) + ", шаг " +
               FormatPrice(v.Instrument->MinStep) + ").";
    case TBreach::Active:
        return "Активных заявок уже " + N(t.Active) + " (допустимо " + N(l.MaxActive) + ").";
    case TBreach::PerMinute:
        return "Превышено число заявок в минуту (" + N(l.MaxPerMinute) + ").";
    case TBreach::PerDay:
        return "Превышено число заявок за день (" + N(l.MaxPerDay) + ").";
    case TBreach::Position:
        return "Позиция с учётом активных заявок составит " + N(AbsAfter(o, v, t)) +
               " (допустимо " + N(l.MaxPosition) + ").";
    case TBreach::Repeat:
        if (o.FromStrategy) {
            return kStrategyRepeatRefusal;
        }
        return "Такая же заявка отправлена меньше секунды назад; повторите с подтверждением.";
    }
    return {};
}

} // namespace

TGateDecision CheckOrder(const TOrderRequest& o, const TRiskLimits& l, const TGateView& v,
                         const TOrderTally& t) {
    const TBreach b = FirstBreach(o, l, v, t);
    if (b == TBreach::None)
        return {true, {}};
    return Refuse(Explain(b, o, l, v, t));
}

std::string MessagesText(std::int32_t n) {
    const std::int32_t tens = n % 100, ones = n % 10;
    const char* word = tens >= 11 && tens <= 14 ? "сообщений"
                       : ones == 1              ? "сообщение"
                       : ones >= 2 && ones <= 4 ? "сообщения"
                                                : "сообщений";
    return std::to_string(n) + " " + word;
}

} // namespace vorlen::orders
