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

TGateDecision CheckOrder(const TOrderRequest& o, const TRiskLimits& l, const TGateView& v) {
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

    std::int64_t active = 0;
    std::int64_t pendingSameSide = 0;
    for (const TLiveOrder& lo : v.Live) {
        if (lo.Client != o.Client) {
            continue;
        }
        ++active;
        if (lo.Isin == o.Isin && lo.Side == o.Side) {
            pendingSameSide += lo.Rest;
        }
    }
    if (active >= l.MaxActive) {
        return Refuse("Активных заявок уже " + N(active) + " (допустимо " + N(l.MaxActive) + ").");
    }

    std::int64_t lastMinute = 0;
    bool repeat = false;
    for (const TSentOrder& s : v.Sent) {
        if (s.Client != o.Client) {
            continue;
        }
        lastMinute += s.AtMs > v.NowMs - kMinuteMs ? 1 : 0;
        repeat = repeat || (s.AtMs > v.NowMs - kRepeatMs && s.Isin == o.Isin && s.Side == o.Side &&
                            s.Price == o.Price && s.Qty == o.Qty);
    }
    if (lastMinute >= l.MaxPerMinute) {
        return Refuse("Превышено число заявок в минуту (" + N(l.MaxPerMinute) + ").");
    }
    if (v.SentToday >= l.MaxPerDay) {
        return Refuse("Превышено число заявок за день (" + N(l.MaxPerDay) + ").");
    }

    const std::int64_t sign = o.Side == TSide::Buy ? 1 : -1;
    const std::int64_t after = v.Position + sign * (pendingSameSide + o.Qty);
    const std::int64_t absAfter = after < 0 ? -after : after;
    const std::int64_t absNow = v.Position < 0 ? -v.Position : v.Position;
    // An order that brings a position already over the limit back towards it is let through:
    // refusing it would keep the trader stuck with the very risk the limit is about.
    if (absAfter > l.MaxPosition && absAfter >= absNow) {
        return Refuse("Позиция с учётом активных заявок составит " + N(absAfter) + " (допустимо " +
                      N(l.MaxPosition) + ").");
    }
    if (repeat && !o.RepeatConfirmed) {
        return Refuse("Такая же заявка отправлена меньше секунды назад; повторите с "
                      "подтверждением.");
    }
    return {true, {}};
}

} // namespace vorlen::orders
