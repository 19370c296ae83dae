#include "backtest/BacktestMarket.h"

#include "orders/RiskLimits.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"

#include <cmath>
#include <variant>

namespace vorlen::backtest {

namespace {

std::int64_t Units(double price) {
    return std::llround(price * static_cast<double>(orders::kPriceScale));
}

double Number(const TValue& v) {
    return std::visit(
        [](const auto& x) -> double {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>)
                return static_cast<double>(x);
            else
                return 0;
        },
        v);
}

// The others' volume at each level: the book's less the live run's own resting orders.
void Others(const std::vector<TBookLevel>& levels, TLevels& out) {
    out.clear();
    for (const TBookLevel& l : levels)
        if (l.Volume > l.Own)
            out.emplace_back(Units(l.Price), l.Volume - l.Own);
}

} // namespace

TDayMarket::TDayMarket() : FReplay(std::make_unique<history::TReplay>()) {
    FKeeper = std::make_unique<TBookKeeper>(FReplay->Store().Mutex());
    FReplay->Store().SetObserver(FKeeper.get());
}

TDayMarket::~TDayMarket() {
    FReplay->Flush();
    FReplay->Store().SetObserver(nullptr);
}

bool TDayMarket::Open(const std::filesystem::path& file, std::string& error) {
    return FReplay->Open(file, error);
}

void TDayMarket::Describe() {
    FReplay->Flush();
    TMarketData data;
    Store().GetData(data);
    FRoles.assign(data.Streams.size(), {});
    FHeld.clear();
    for (std::size_t s = 0; s < data.Streams.size(); ++s) {
        const TStream& stream = data.Streams[s];
        for (const TTable& table : stream.Tables) {
            if (table.tIdx < 0 || table.Values == nullptr || table.Values->Layout() == nullptr)
                continue;
            auto& roles = FRoles[s];
            const auto t = static_cast<std::size_t>(table.tIdx);
            if (roles.size() <= t)
                roles.resize(t + 1);
            TTableRole& role = roles[t];
            role.Layout = table.Values->Layout();
            FHeld.push_back(table.Values);
            const TRowLayout& l = *role.Layout;
            if (stream.sName == "FORTS_DEALS_REPL" && table.tName == "deal") {
                role.Kind = TTableRole::TKind::Deal;
                role.Price = l.IndexOf("price");
                role.Amount =
                    l.IndexOf("xamount") >= 0 ? l.IndexOf("xamount") : l.IndexOf("amount");
                role.IdBuy = l.IndexOf("public_order_id_buy");
                role.IdSell = l.IndexOf("public_order_id_sell");
                if (role.Price < 0 || role.Amount < 0)
                    role.Kind = TTableRole::TKind::Other;
            } else if (stream.sName == "FORTS_TRADE_REPL" && table.tName == "orders_log") {
                role.OrderId = l.IndexOf("public_order_id");
                if (role.OrderId >= 0)
                    role.Kind = TTableRole::TKind::OwnLog;
            }
        }
    }
}

bool TDayMarket::Apply(const history::TRecordView& record) {
    FReplay->Apply(record);
    if (record.Kind == history::TRecordKind::StreamOpen) {
        Describe();
        return false;
    }
    if (record.Kind != history::TRecordKind::StreamData || record.Stream >= FRoles.size())
        return false;
    const auto& roles = FRoles[record.Stream];
    if (record.Table >= roles.size() || roles[record.Table].Layout == nullptr)
        return false;
    const TTableRole& role = roles[record.Table];
    const auto row = history::DecodeStreamData(record.Payload);
    if (!row)
        return false;
    const auto* data = reinterpret_cast<const std::uint8_t*>(row->Bytes.data());
    const std::size_t size = row->Bytes.size();
    const TRowLayout& l = *role.Layout;
    if (l.IsinId() < 0 || l.IsinOf(data, size, kNoInteger) != FIsinId)
        return false;
    if (role.Kind == TTableRole::TKind::OwnLog) {
        TValue id;
        l.Decode(static_cast<std::size_t>(role.OrderId), data, size, id);
        FOwnIds.insert(VarAsInt64(id));
    } else if (role.Kind == TTableRole::TKind::Deal && l.Keeps(data, size)) {
        OnDeal(role, data, size);
    }
    return true;
}

void TDayMarket::OnDeal(const TTableRole& role, const std::uint8_t* data, std::size_t size) {
    const TRowLayout& l = *role.Layout;
    TValue v;
    std::int64_t idBuy = 0, idSell = 0;
    if (role.IdBuy >= 0 && role.IdSell >= 0) {
        l.Decode(static_cast<std::size_t>(role.IdBuy), data, size, v);
        idBuy = VarAsInt64(v);
        l.Decode(static_cast<std::size_t>(role.IdSell), data, size, v);
        idSell = VarAsInt64(v);
    }
    if (FOwnIds.contains(idBuy) || FOwnIds.contains(idSell))
        return;
    TMarketDeal deal;
    l.Decode(static_cast<std::size_t>(role.Price), data, size, v);
    deal.Price = Units(Number(v));
    l.Decode(static_cast<std::size_t>(role.Amount), data, size, v);
    deal.Qty = static_cast<std::int64_t>(std::llround(std::abs(Number(v))));
    // Order ids grow: the earlier order is the one that stood in the book.
    if (idBuy > 0 && idSell > 0)
        deal.RestingBuy = idBuy < idSell;
    if (deal.Price > 0 && deal.Qty > 0)
        FDeals.push_back(deal);
}

std::vector<TMarketDeal> TDayMarket::TakeDeals() {
    std::vector<TMarketDeal> out;
    out.swap(FDeals);
    return out;
}

bool TDayMarket::SyncBook() {
    FReplay->Flush();
    if (!FKeeper->Snapshot(FIsinId, FSnap) || FSnap.Status != TBookStatus::Live)
        return false;
    TLevels bids, asks;
    Others(FSnap.Bids, bids);
    Others(FSnap.Asks, asks);
    if (bids == FBids && asks == FAsks)
        return false;
    FBids.swap(bids);
    FAsks.swap(asks);
    return true;
}

} // namespace vorlen::backtest
