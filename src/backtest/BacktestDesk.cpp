#include "backtest/BacktestDesk.h"

#include "orders/Decimal.h"
#include "orders/RiskLimits.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vorlen::backtest {

namespace {

constexpr std::int64_t kMinuteMs = 60'000;
constexpr std::int64_t kPostWindowMs = 1000;

// A price as the trader reads the instrument's quotes: with every decimal of its step.
std::string StepText(std::int64_t units, const std::optional<orders::TInstrumentRef>& instrument) {
    const int decimals =
        instrument ? Trimmed({instrument->MinStep, orders::kPriceDecimals}).Scale : 0;
    return DecimalToString(Trimmed({units, orders::kPriceDecimals}, decimals));
}

fills::TFillSide FillSide(orders::TSide side) {
    return side == orders::TSide::Buy ? fills::TFillSide::Buy : fills::TFillSide::Sell;
}

} // namespace

TBacktestDesk::TBacktestDesk(TDeskSetup setup, TBacktestResult& out)
    : FSetup(std::move(setup)), FOut(out), FEngine(FSetup.Fill) {}

bool TBacktestDesk::AdmitPost() {
    if (FSetup.PostsPerSecond <= 0)
        return true;
    const std::int64_t now = NowMs();
    // As the transaction connection counts: a post holds its place until more than 1000 ms
    // have passed since it.
    while (!FPosts.empty() && now - FPosts.front() > kPostWindowMs)
        FPosts.pop_front();
    if (FPosts.size() >= static_cast<std::size_t>(FSetup.PostsPerSecond))
        return false;
    FPosts.push_back(now);
    return true;
}

TOrderResult TBacktestDesk::Place(const orders::TOrderRequest& order) {
    TOrderRow row;
    row.AtNs = FNowNs;
    row.Buy = order.Side == orders::TSide::Buy;
    row.Qty = order.Qty;
    row.Price = StepText(order.Price, FMarket.Instrument);
    row.Client = order.Client;

    orders::TOrderRequest request = order;
    request.Isin = FSetup.Isin;
    request.RepeatConfirmed = false;
    request.FromStrategy = true;

    const std::int64_t now = NowMs();
    std::erase_if(FSent, [now](const orders::TSentOrder& s) { return s.AtMs <= now - kMinuteMs; });
    orders::TGateView view;
    view.NowMs = now;
    view.Transactions = orders::TLinkHealth::Online;
    view.MarketData = orders::TLinkHealth::Online;
    view.KnownClients = FMarket.Clients;
    view.Instrument = FMarket.Instrument;
    if (const auto p = FPositions.find(order.Client); p != FPositions.end())
        view.Position = p->second.Net;
    if (const auto o = FOpening.find(order.Client); o != FOpening.end())
        view.Position += o->second;
    for (const auto& [id, o] : FOrders)
        view.Live.push_back({o.Client, FSetup.Isin, o.Side, o.Arrived ? o.Rest : o.Qty});
    view.Sent = FSent;
    if (const auto t = FSentToday.find(order.Client); t != FSentToday.end())
        view.SentToday = t->second;
    view.BestOpposite = order.Side == orders::TSide::Buy ? FMarket.BestAsk : FMarket.BestBid;

    const orders::TGateDecision decision =
        orders::CheckOrder(request, FSetup.Limits.For(order.Client, FSetup.Isin), view);
    std::string refusal = decision.Reason;
    if (decision.Allowed && !AdmitPost())
        refusal = "превышен лимит терминала: " + orders::MessagesText(FSetup.PostsPerSecond) +
                  " в секунду.";
    if (!refusal.empty()) {
        row.State = "refused";
        row.Reason = refusal;
        FOut.Orders.push_back(std::move(row));
        return TOrderResult{0, refusal, {}};
    }

    const std::int64_t id = FNextId++;
    row.Id = id;
    row.State = "active";
    TSimOrder o;
    o.Side = order.Side;
    o.Price = request.Price;
    o.Qty = order.Qty;
    o.Rest = order.Qty;
    o.Client = order.Client;
    o.Row = FOut.Orders.size();
    FOut.Orders.push_back(std::move(row));
    FOrders.emplace(id, std::move(o));
    FSent.push_back({now, order.Client, FSetup.Isin, request.Side, request.Price, request.Qty});
    ++FSentToday[order.Client];
    FInFlight.push_back({FNowNs + FSetup.LatencyNs, false, id});
    Deliver();
    return TOrderResult{id, {}, {}};
}

std::string TBacktestDesk::Cancel(std::int64_t id) {
    if (FOrders.count(id) == 0)
        return "заявка " + std::to_string(id) + " выставлена не этой стратегией";
    if (!AdmitPost())
        return "снятие заявки " + std::to_string(id) + " не отправлено";
    FInFlight.push_back({FNowNs + FSetup.LatencyNs, true, id});
    Deliver();
    return {};
}

std::vector<orders::TOwnOrder> TBacktestDesk::ActiveOrders() const {
    std::vector<orders::TOwnOrder> out;
    out.reserve(FOrders.size());
    for (const auto& [id, o] : FOrders) {
        orders::TOwnOrder own;
        own.OrderId = id;
        own.Client = o.Client;
        own.Side = o.Side;
        own.Price = o.Price;
        own.Amount = o.Qty;
        own.Filled = o.Qty - o.Rest;
        own.Rest = o.Rest;
        own.State =
            own.Filled > 0 ? orders::TOrderState::PartlyFilled : orders::TOrderState::Placed;
        out.push_back(std::move(own));
    }
    return out;
}

bool TBacktestDesk::NextOrderEvent(TOrderEvent& out) {
    if (FEvents.empty())
        return false;
    out = std::move(FEvents.front());
    FEvents.pop_front();
    return true;
}

bool TBacktestDesk::Position(const std::string& client, TPositionInfo& out) const {
    out = TPositionInfo{};
    bool found = false, opening = false;
    std::int64_t gross = 0;
    double weighted = 0;
    std::map<std::string, TBookedPosition> held = FPositions;
    for (const auto& [code, lots] : FOpening)
        held[code];
    for (const auto& [code, p] : held) {
        if (!client.empty() && code != client)
            continue;
        found = true;
        const auto o = FOpening.find(code);
        const std::int64_t net = p.Net + (o != FOpening.end() ? o->second : 0);
        opening = opening || (o != FOpening.end() && o->second != 0);
        out.Net += net;
        gross += std::abs(net);
        weighted += p.AvgUnits * static_cast<double>(std::abs(p.Net));
    }
    // Clients on both sides do not average into one price, as live; nor do lots bought at
    // prices the run never saw.
    if (gross > 0 && gross == std::abs(out.Net) && !opening)
        out.AvgPrice = weighted / static_cast<double>(gross) / orders::kPriceScale;
    return found;
}

std::optional<std::int64_t> TBacktestDesk::NextDue() const {
    if (FInFlight.empty())
        return std::nullopt;
    return FInFlight.front().DueNs;
}

void TBacktestDesk::Deliver() {
    // Every post waits the same latency, so the queue is in the order of arrival.
    while (!FInFlight.empty() && FInFlight.front().DueNs <= FNowNs) {
        const TInFlight f = FInFlight.front();
        FInFlight.pop_front();
        Arrive(f);
    }
}

void TBacktestDesk::Arrive(const TInFlight& f) {
    const auto it = FOrders.find(f.Id);
    if (it == FOrders.end())
        return; // filled before its cancel arrived
    TSimOrder& o = it->second;
    if (f.Cancel) {
        if (FEngine.Cancel(f.Id)) {
            FResting -= o.Rest;
            Finish(f.Id, o, "cancelled");
        }
        return;
    }
    o.Arrived = true;
    FResting += o.Rest;
    ++FOwnSerial;
    for (const fills::TFill& fill : FEngine.Add(f.Id, FillSide(o.Side), o.Price, o.Qty))
        Book(fill);
}

void TBacktestDesk::TakeMarketFills() {
    for (const fills::TFill& fill : FEngine.TakeFills())
        Book(fill);
}

void TBacktestDesk::Book(const fills::TFill& fill) {
    const auto it = FOrders.find(fill.OrderId);
    if (it == FOrders.end())
        return;
    TSimOrder& o = it->second;
    const std::int64_t sign = o.Side == orders::TSide::Buy ? 1 : -1;
    TBookedPosition& p = FPositions[o.Client];
    TTradeRow t;
    t.AtNs = FNowNs;
    t.OrderId = fill.OrderId;
    t.Buy = o.Side == orders::TSide::Buy;
    t.Qty = fill.Qty;
    t.Price = fill.Price;
    t.Fee = static_cast<double>(fill.Qty) * FMarket.FeePerLot;
    // Lots against the position close it at the average price they were opened at; the rest
    // opens (or adds to) the position on the order's side.
    std::int64_t open = fill.Qty;
    if (p.Net * sign < 0) {
        const std::int64_t closing = std::min(fill.Qty, std::abs(p.Net));
        const double per =
            (static_cast<double>(fill.Price) - p.AvgUnits) * static_cast<double>(-sign);
        t.Realized = per * static_cast<double>(closing) * FMarket.MoneyPerUnit;
        t.Closing = true;
        p.Net += sign * closing;
        open -= closing;
        if (p.Net == 0)
            p.AvgUnits = 0;
    }
    if (open > 0) {
        const auto held = static_cast<double>(std::abs(p.Net));
        p.AvgUnits = (p.AvgUnits * held + static_cast<double>(fill.Price * open)) /
                     (held + static_cast<double>(open));
        p.Net += sign * open;
    }
    t.Position = NetPosition();
    FRealized += t.Realized;
    FFees += t.Fee;
    FOut.Trades.push_back(t);

    o.Rest = fill.Rest;
    FResting -= fill.Qty;
    ++FOwnSerial;
    TOrderRow& row = FOut.Orders[o.Row];
    row.Filled += fill.Qty;
    if (fill.Rest > 0) {
        row.State = "partly_filled";
        FEvents.push_back({fill.OrderId, "partly_filled", 0, {}, fill.Rest});
        return;
    }
    Finish(fill.OrderId, o, "filled");
}

void TBacktestDesk::Finish(std::int64_t id, TSimOrder& o, const char* state) {
    FOut.Orders[o.Row].State = state;
    ++FOwnSerial;
    FEvents.push_back({id, state, 0, {}, o.Rest});
    FOrders.erase(id);
}

void TBacktestDesk::EndDay() {
    // The session's end takes every resting order off; what was still on its way never
    // arrives.
    for (auto it = FOrders.begin(); it != FOrders.end();) {
        const std::int64_t id = it->first;
        TSimOrder& o = it->second;
        ++it;
        FEngine.Cancel(id);
        Finish(id, o, "cancelled");
    }
    FResting = 0;
    FInFlight.clear();
    FSent.clear();
    FSentToday.clear();
    FPosts.clear();
    FEngine.ClearBook();
}

std::int64_t TBacktestDesk::NetPosition() const {
    std::int64_t net = 0;
    for (const auto& [code, p] : FPositions)
        net += p.Net;
    return net;
}

double TBacktestDesk::Equity(std::optional<std::int64_t> markUnits) const {
    double open = 0;
    if (markUnits) {
        for (const auto& [code, p] : FPositions)
            open += (static_cast<double>(*markUnits) - p.AvgUnits) * static_cast<double>(p.Net);
    }
    return FRealized + open * FMarket.MoneyPerUnit - FFees;
}

std::int64_t TBacktestDesk::OwnResting(orders::TSide side, std::int64_t price) const {
    std::int64_t volume = 0;
    for (const auto& [id, o] : FOrders)
        if (o.Arrived && o.Side == side && o.Price == price)
            volume += o.Rest;
    return volume;
}

} // namespace vorlen::backtest
