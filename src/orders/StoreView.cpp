#include "orders/StoreView.h"

#include "store/Functions.h"
#include "store/Storage.h"

#include <cmath>
#include <type_traits>
#include <variant>

namespace vorlen::orders {

namespace {

const TRows* FindRows(const TCGStorage::TAccess& access, const TMarketData& data,
                      const std::string& stream, const std::string& table) {
    for (const TStream& s : data.Streams) {
        if (s.sName != stream) {
            continue;
        }
        for (const TTable& t : s.Tables) {
            if (t.tName == table && t.Values) {
                return &access.Rows(t);
            }
        }
    }
    return nullptr;
}

// Any integer width the scheme gives the field; 0 for anything else.
std::int64_t Int(const TRowView& row, const char* name) {
    return std::visit(
        [](const auto& v) -> std::int64_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
                return static_cast<std::int64_t>(v);
            } else {
                return 0;
            }
        },
        row.Field(name).Data);
}

// Decimal fields arrive as doubles; prices are whole numbers of 1e-5 units.
std::int64_t Price(const TRowView& row, const char* name) {
    const TValue v = row.Field(name).Data;
    if (const double* d = std::get_if<double>(&v)) {
        return std::llround(*d * static_cast<double>(kPriceScale));
    }
    return Int(row, name) * kPriceScale;
}

std::string Text(const TRowView& row, const char* name) {
    const TValue v = row.Field(name).Data;
    if (const std::string* s = std::get_if<std::string>(&v)) {
        const std::size_t end = s->find_last_not_of(' ');
        return end == std::string::npos ? std::string() : s->substr(0, end + 1);
    }
    return {};
}

} // namespace

TStoreFacts ReadStoreFacts(TCGStorage& store) {
    TStoreFacts f;
    TMarketData data;
    store.GetData(data);
    const TCGStorage::TAccess access(store);
    if (const TRows* rows = FindRows(access, data, "FORTS_TRADE_REPL", "orders_log")) {
        for (const TRowView row : *rows) {
            TOrderLogRow r;
            r.OrderId = Int(row, "public_order_id");
            r.IsinId = static_cast<std::int32_t>(Int(row, "isin_id"));
            r.Client = Text(row, "client_code");
            r.Side = Int(row, "dir") == 2 ? TSide::Sell : TSide::Buy;
            r.Price = Price(row, "price");
            r.Action = static_cast<int>(Int(row, "public_action"));
            r.Amount = Int(row, "public_amount");
            r.Rest = Int(row, "public_amount_rest");
            r.DealId = Int(row, "id_deal");
            r.MomentNs = Int(row, "moment_ns");
            r.ExtId = Int(row, "ext_id");
            f.OrdersLog.push_back(std::move(r));
        }
    }
    if (const TRows* rows = FindRows(access, data, "FORTS_POS_REPL", "position")) {
        for (const TRowView row : *rows) {
            f.Positions[{Text(row, "client_code"),
                         static_cast<std::int32_t>(Int(row, "isin_id"))}] = Int(row, "xpos");
        }
    }
    if (const TRows* rows = FindRows(access, data, "FORTS_PART_REPL", "part")) {
        for (const TRowView row : *rows) {
            if (std::string c = Text(row, "client_code"); !c.empty()) {
                f.Clients.push_back(std::move(c));
            }
        }
    }
    if (const TRows* rows = FindRows(access, data, "FORTS_REFDATA_REPL", "fut_sess_contents")) {
        for (const TRowView row : *rows) {
            TInstrumentRef ins;
            ins.IsinId = static_cast<std::int32_t>(Int(row, "isin_id"));
            ins.Isin = Text(row, "isin");
            ins.MinStep = Price(row, "min_step");
            ins.LimitDown = Price(row, "limit_down");
            ins.LimitUp = Price(row, "limit_up");
            ins.Limited = !row.Has("is_limited") || Int(row, "is_limited") != 0;
            f.IsinById[ins.IsinId] = ins.Isin;
            f.Instruments[ins.Isin] = std::move(ins);
        }
    }
    return f;
}

} // namespace vorlen::orders
