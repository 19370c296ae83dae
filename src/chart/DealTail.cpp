#include "chart/DealTail.h"

#include "history/HistoryDb.h"
#include "store/FieldConversion.h"
#include "store/KeyTables.h"
#include "store/Rows.h"
#include "store/Storage.h"

#include <cmath>
#include <cstdlib>
#include <type_traits>
#include <variant>

namespace vorlen::chart {

namespace {

constexpr double kUnixEpochDays = 25'569;
// Tables not described yet are looked for again this often (polls are 50 ms apart).
constexpr int kDescribeEvery = 20;

std::int64_t Int(const TRowView& row, int pos) {
    if (pos < 0)
        return 0;
    return std::visit(
        [](const auto& v) -> std::int64_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>)
                return static_cast<std::int64_t>(v);
            else
                return 0;
        },
        row.Value(pos));
}

double Number(const TRowView& row, int pos) {
    if (pos < 0)
        return NAN;
    const TValue v = row.Value(pos);
    if (const double* d = std::get_if<double>(&v))
        return *d;
    return static_cast<double>(Int(row, pos));
}

// The exchange's moment is Moscow wall time; the chart counts in UTC.
std::int64_t MomentMs(const TRowView& row, int pos) {
    if (pos < 0)
        return 0;
    const TValue v = row.Value(pos);
    const TDateTime* t = std::get_if<TDateTime>(&v);
    if (t == nullptr)
        return 0;
    return std::llround((t->Days - kUnixEpochDays) * 86'400'000.0) - history::kExchangeOffsetMs;
}

} // namespace

void TDealTail::TCursor::Resolve(const TRows& rows) {
    if (rows.Layout() == Layout && rows.Generation() == Generation)
        return;
    // A clear or a compaction moves the rows: read them again from the start; deals seen before
    // are known by their ids downstream.
    Layout = rows.Layout();
    Generation = rows.Generation();
    Next = 0;
    IsinId = rows.IndexOf("isin_id");
    IdDeal = rows.IndexOf("id_deal");
    Sess = rows.IndexOf("sess_id");
    Price = rows.IndexOf("price");
    Amount = rows.IndexOf("xamount") >= 0 ? rows.IndexOf("xamount") : rows.IndexOf("amount");
    Moment = rows.IndexOf("moment");
    BuyOrder = rows.IndexOf("private_order_id_buy");
    SellOrder = rows.IndexOf("private_order_id_sell");
}

void TDealTail::Describe() {
    TMarketData data;
    FStore.GetData(data);
    FSubscribed = false;
    for (const TStream& s : data.Streams) {
        if (s.sName == kDealStream)
            FSubscribed = true;
        for (const TTable& t : s.Tables) {
            if (!t.Values)
                continue;
            const auto take = [&](TCursor& c, std::string_view stream, std::string_view table) {
                if (!c.Found && s.sName == stream && t.tName == table) {
                    c.Table = t;
                    c.Found = true;
                }
            };
            take(FDeals, kDealStream, "deal");
            take(FOwn, kKeyTableRefs[kKeyTableDeals].Stream, kKeyTableRefs[kKeyTableDeals].Table);
            take(FPos, kKeyTableRefs[kKeyTablePositions].Stream,
                 kKeyTableRefs[kKeyTablePositions].Table);
        }
    }
}

template <class F>
void TDealTail::ReadNew(TCursor& c, const TRows& rows, F&& take) {
    c.Resolve(rows);
    if (c.IsinId < 0 || c.IdDeal < 0 || c.Price < 0 || c.Amount < 0 || c.Moment < 0)
        return;
    const std::size_t end = std::min(rows.Positions(), c.Next + kRowsPerPoll);
    for (; c.Next < end; ++c.Next) {
        const TRowView row = rows.AtPosition(c.Next);
        if (!row || row.Layout().AsInteger(static_cast<std::size_t>(c.IsinId), row.Data(),
                                           row.Size()) != FIsinId)
            continue;
        TLiveDeal d;
        d.IdDeal = Int(row, c.IdDeal);
        d.SessId = static_cast<std::int32_t>(Int(row, c.Sess));
        d.MomentMs = MomentMs(row, c.Moment);
        d.Price = Number(row, c.Price);
        d.Amount = Int(row, c.Amount);
        if (d.IdDeal != 0 && d.MomentMs != 0 && std::isfinite(d.Price))
            take(d, row);
    }
}

void TDealTail::Poll(TTailPoll& out) {
    out = {};
    if ((!FDeals.Found || !FOwn.Found || !FPos.Found) && FPolls++ % kDescribeEvery == 0)
        Describe();
    const std::uint64_t posChanges = FStore.TableChanges(kKeyTablePositions);
    {
        const TCGStorage::TAccess access(FStore);
        if (FDeals.Found)
            ReadNew(FDeals, access.Rows(FDeals.Table),
                    [&](const TLiveDeal& d, const TRowView&) { out.Deals.push_back(d); });
        if (FOwn.Found) {
            const TCursor& c = FOwn;
            ReadNew(FOwn, access.Rows(FOwn.Table), [&](const TLiveDeal& d, const TRowView& row) {
                TFillSide side = TFillSide::Unknown;
                if (Int(row, c.BuyOrder) != 0)
                    side = TFillSide::Buy;
                else if (Int(row, c.SellOrder) != 0)
                    side = TFillSide::Sell;
                out.Fills.push_back({d.IdDeal, d.MomentMs, d.Price, d.Amount, side});
            });
        }
        if (FPos.Found && posChanges != FPosChanges) {
            FPosChanges = posChanges;
            const TRows& rows = access.Rows(FPos.Table);
            const int isin = rows.IndexOf("isin_id");
            const int xpos = rows.IndexOf("xpos") >= 0 ? rows.IndexOf("xpos") : rows.IndexOf("pos");
            const int price = rows.IndexOf("waprice");
            // Positions on several client codes make one average, weighted by their sizes.
            std::int64_t total = 0;
            std::int64_t size = 0;
            double weighted = 0;
            for (const TRowView row : rows) {
                if (isin < 0 || Int(row, isin) != FIsinId)
                    continue;
                const std::int64_t q = Int(row, xpos);
                const double p = Number(row, price);
                total += q;
                if (q != 0 && std::isfinite(p) && p > 0) {
                    size += std::llabs(q);
                    weighted += p * static_cast<double>(std::llabs(q));
                }
            }
            FPosition = total;
            FAverage = total != 0 && size != 0 ? std::optional(weighted / static_cast<double>(size))
                                               : std::nullopt;
        }
    }
    out.Subscribed = FSubscribed;
    out.Position = FPosition;
    out.AveragePrice = FAverage;
}

} // namespace vorlen::chart
