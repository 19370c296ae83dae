#include "orders/StoreView.h"

#include "store/FieldConversion.h"
#include "store/Storage.h"

#include <chrono>
#include <cmath>
#include <type_traits>
#include <variant>

namespace vorlen::orders {

namespace {

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
    TStoreReader reader(store);
    TStoreFacts f = reader.Read(true);
    f.ExtIds = *f.ExtIdsRef;
    f.ExtIdsRef = nullptr;
    return f;
}

void TStoreReader::Describe() {
    TMarketData data;
    FStore.GetData(data);
    const auto find = [&](const char* stream, const char* table, TTable& out) {
        for (const TStream& s : data.Streams) {
            for (const TTable& t : s.Tables) {
                if (s.sName == stream && t.tName == table && t.Values) {
                    out = t;
                    return true;
                }
            }
        }
        return false;
    };
    // Each table is there once its stream has been described; until all are, look again.
    // Every table is looked for, so those already there are taken even while one is missing.
    const bool log = find("FORTS_TRADE_REPL", "orders_log", FLog);
    const bool pos = find("FORTS_POS_REPL", "position", FPos);
    const bool part = find("FORTS_PART_REPL", "part", FPart);
    const bool ref = find("FORTS_REFDATA_REPL", "fut_sess_contents", FRef);
    FDescribed = log && pos && part && ref;
}

namespace {

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

bool TStoreReader::Changed() {
    if (!FRead || !FDescribed || FStore.KeyTableChanges() != FReadChanges ||
        SteadyMs() - FReadAtMs > 1000) {
        return true;
    }
    const TCGStorage::TAccess access(FStore);
    return access.Rows(FRef).Size() != FRefCount;
}

TStoreFacts TStoreReader::Read(bool allOrders) {
    if (!FDescribed) {
        Describe();
    }
    TStoreFacts f;
    const std::int64_t nowMs = SteadyMs();
    // Taken before the rows are read: a change while they are read shows as a change next time.
    FReadChanges = FStore.KeyTableChanges();
    FRead = true;
    const TCGStorage::TAccess access(FStore);
    const TRows& log = access.Rows(FLog);
    if (log.Size() < FSeen.size()) {
        FSeen.clear();
        FTracker.Clear();
    }
    // Orders-log rows are events, added and never changed: an unchanged count means nothing new.
    if (log.Size() != FSeen.size()) {
        for (const TRowView row : log) {
            if (!FSeen.insert(row.ReplId()).second) {
                continue;
            }
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
            FTracker.Add(r);
        }
    }
    f.Own = FTracker.Orders(!allOrders);
    f.ExtIdsRef = &FTracker.ExtIds();
    for (const TRowView row : access.Rows(FPos)) {
        f.Positions[{Text(row, "client_code"), static_cast<std::int32_t>(Int(row, "isin_id"))}] =
            Int(row, "xpos");
    }
    const TRows& ref = access.Rows(FRef);
    const TRows& part = access.Rows(FPart);
    if (ref.Size() != FRefCount || part.Size() != FPartCount || nowMs - FReadAtMs > 1000) {
        FReadAtMs = nowMs;
        FRefCount = ref.Size();
        FPartCount = part.Size();
        auto refFacts = std::make_shared<TRefFacts>();
        for (const TRowView row : part) {
            if (std::string c = Text(row, "client_code"); !c.empty()) {
                refFacts->Clients.push_back(std::move(c));
            }
        }
        for (const TRowView row : ref) {
            TInstrumentRef ins;
            ins.IsinId = static_cast<std::int32_t>(Int(row, "isin_id"));
            ins.Isin = Text(row, "isin");
            ins.MinStep = Price(row, "min_step");
            ins.LimitDown = Price(row, "limit_down");
            ins.LimitUp = Price(row, "limit_up");
            ins.Limited = !row.Has("is_limited") || Int(row, "is_limited") != 0;
            refFacts->IsinById[ins.IsinId] = ins.Isin;
            refFacts->Instruments[ins.Isin] = std::move(ins);
        }
        FRefFacts = std::move(refFacts);
    }
    f.Ref = FRefFacts;
    return f;
}

} // namespace vorlen::orders
