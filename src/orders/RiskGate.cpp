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

[[gnu::hot]] TGateDecision CheckOrder(const TOrderRequest& o, const TRiskLimits& l,
                                      const TGateView& v, const TOrderTally& t) {
    if (v.Halted) {
        return Refuse(kHaltedRefusal);
    }
    if (v.Transactions != TLinkHealth::Online) {
        return Refuse("Соединение Трансакций не в рабочем состоянии: заявка не отправлена.");
    }
    if (v.MarketData != TLinkHealth::Online) {
        return Refuse("Рыночные данные не актуальны: заявка не отправлена.");
    }
    if (std::find(v.KnownClients.begin(), v.KnownClients.end(), o.Client) == v.KnownClients.end()) {
        return Refuse("Код клиента \"" + o.Client + "\" отсутствует в таблице счетов.");
    }
    if (o.Qty <= 0) {
        return Refuse("Количество должно быть больше нуля.");
    }
    if (o.Qty > l.MaxOrderQty) {
        return Refuse("Количество " + N(o.Qty) + " больше допустимого в одной заявке (" +
                      N(l.MaxOrderQty) + ").");
    }
    if (!v.Instrument || v.Instrument->Isin != o.Isin) {
        return Refuse("Инструмент \"" + o.Isin + "\" не найден в справочнике.");
    }
    const TInstrumentRef& ins = *v.Instrument;
    if (o.Price <= 0 || ins.MinStep <= 0 || o.Price % ins.MinStep != 0) {
        return Refuse("Цена " + FormatPrice(o.Price) + " не кратна шагу цены " +
                      FormatPrice(ins.MinStep) + ".");
    }
    if (ins.Limited && (o.Price < ins.LimitDown || o.Price > ins.LimitUp)) {
        return Refuse("Цена " + FormatPrice(o.Price) + " вне дневных лимитов (" +
                      FormatPrice(ins.LimitDown) + " - " + FormatPrice(ins.LimitUp) + ").");
    }
    if (v.BestOpposite && *v.BestOpposite > 0) {
        const std::int64_t best = *v.BestOpposite;
        const std::int64_t diff = o.Price > best ? o.Price - best : best - o.Price;
        // diff / best > bp / 10000, in integers (prices stay far below 2^63 / 10^4).
        if (diff * 10'000 > l.MaxDistanceBp * best) {
            return Refuse("Цена " + FormatPrice(o.Price) + " дальше " + Percent(l.MaxDistanceBp) +
                          "% от лучшей встречной цены " + FormatPrice(best) + ".");
        }
    }

    if (t.Active >= l.MaxActive) {
        return Refuse("Активных заявок уже " + N(t.Active) + " (допустимо " + N(l.MaxActive) +
                      ").");
    }
    if (t.LastMinute >= l.MaxPerMinute) {
        return Refuse("Превышено число заявок в минуту (" + N(l.MaxPerMinute) + ").");
    }
    if (v.SentToday >= l.MaxPerDay) {
        return Refuse("Превышено число заявок за день (" + N(l.MaxPerDay) + ").");
    }

    const std::int64_t sign = o.Side == TSide::Buy ? 1 : -1;
    const std::int64_t after = v.Position + sign * (t.PendingSameSide + o.Qty);
    const std::int64_t absAfter = after < 0 ? -after : after;
    const std::int64_t absNow = v.Position < 0 ? -v.Position : v.Position;
    // An order that brings a position already over the limit back towards it is let through:
    // refusing it would keep the trader stuck with the very risk the limit is about.
    if (absAfter > l.MaxPosition && absAfter >= absNow) {
        return Refuse("Позиция с учётом активных заявок составит " + N(absAfter) + " (допустимо " +
                      N(l.MaxPosition) + ").");
    }
    if (t.Repeat && !o.RepeatConfirmed) {
        return Refuse("Такая же заявка отправлена меньше секунды назад; повторите с "
                      "подтверждением.");
    }
    return {true, {}};
}

} // namespace vorlen::orders
