#include "book/BookTables.h"

#include "settings/Catalogue.h"

#include <utility>
#include <variant>

namespace vorlen::book_detail {

namespace {

// Field names per kind and role; empty where the kind does not read the role.
std::array<std::string_view, TFollowedTable::kRoleCount> RoleNames(TKind kind) {
    switch (kind) {
    case TKind::Aggr:
        return {"replRev", "isin_id", "price", "volume", "dir", "", "", ""};
    case TKind::OrdersLog:
        return {"replRev", "isin_id", "price",           "public_amount_rest",
                "dir",     "",        "public_order_id", ""};
    case TKind::Position:
        return {"replRev", "isin_id", "waprice", "xpos", "", "client_code", "", ""};
    case TKind::Vm:
        return {"replRev", "isin_id", "vm", "", "", "client_code", "", ""};
    case TKind::Reference:
        return {"replRev", "isin_id", "min_step", "", "", "", "", "step_price"};
    case TKind::Common:
    case TKind::Deal:
        return {"replRev", "isin_id", "price", "", "", "", "", ""};
    }
    return {};
}

} // namespace

bool Classify(std::string_view stream, std::string_view table, TKind& kind, int& depth) {
    for (std::size_t d = 0; d < kDepthStreams.size(); ++d) {
        if (stream == kDepthStreams[d]) {
            kind = TKind::Aggr;
            depth = kDepthValues[d];
            return table == "orders_aggr";
        }
    }
    if (stream == "FORTS_TRADE_REPL" && table == "orders_log")
        kind = TKind::OrdersLog;
    else if (stream == "FORTS_POS_REPL" && table == "position")
        kind = TKind::Position;
    else if (stream == "FORTS_VM_REPL" && (table == "fut_vm" || table == "opt_vm"))
        kind = TKind::Vm;
    else if (table == "fut_sess_contents" || table == "opt_sess_contents")
        kind = TKind::Reference;
    else if (stream == "FORTS_COMMON_REPL" && table == "common")
        kind = TKind::Common;
    else if (stream == "FORTS_DEALS_REPL" && table == "deal")
        kind = TKind::Deal;
    else
        return false;
    return true;
}

void TFollowedTable::Describe(const cg_message_desc_t& desc, std::shared_ptr<const TRows> rows) {
    const auto names = RoleNames(Kind);
    std::size_t n = 0;
    for (const cg_field_desc_t* f = desc.fields; f != nullptr && n < desc.num_fields;
         f = f->next, ++n) {
        if (f->name == nullptr)
            continue;
        for (std::size_t r = 0; r < kRoleCount; ++r)
            if (!names[r].empty() && names[r] == f->name)
                F[r].Resolve(*f);
    }
    if (Kind == TKind::Aggr)
        Ladders.Describe({F[kRev], F[kIsin], F[kPrice], F[kVolume], F[kDir]}, std::move(rows));
}

const THeaderRow* TFollowedTable::ForIsin(std::int32_t isin) const {
    const auto it = ByIsin.find(isin);
    if (it == ByIsin.end())
        return nullptr;
    const auto rec = Recs.find(it->second);
    return rec == Recs.end() ? nullptr : &rec->second;
}

void TFollowedTable::ApplyRec(std::int64_t replId, const void* data, std::size_t size, bool deleted,
                              const std::function<void(std::int32_t)>& touch) {
    if (Kind == TKind::OrdersLog) {
        // The log only grows; each row is one action on an order, and the latest says what rests.
        if (deleted)
            return;
        THeaderRow r;
        r.Rev = F[kRev].Int(data, size);
        r.Isin = static_cast<std::int32_t>(F[kIsin].Int(data, size));
        r.Price = F[kPrice].Number(data, size);
        r.Volume = F[kVolume].Int(data, size);
        r.Dir = static_cast<int>(F[kDir].Int(data, size));
        r.ReplId = replId;
        const std::int64_t order = F[kOrderId].Int(data, size);
        const auto it = Recs.find(order);
        if (it != Recs.end() && it->second.ReplId > r.ReplId)
            return; // an older action arriving late changes nothing
        if (r.Volume > 0)
            Recs[order] = r;
        else if (it != Recs.end())
            Recs.erase(it);
        touch(r.Isin);
        return;
    }
    if (Kind == TKind::Deal) {
        // A day's deals are many and only the last one's price is shown: one record per
        // instrument, not one per deal.
        if (deleted)
            return;
        THeaderRow r;
        r.Rev = F[kRev].Int(data, size);
        r.Isin = static_cast<std::int32_t>(F[kIsin].Int(data, size));
        r.Price = F[kPrice].Number(data, size);
        r.ReplId = replId;
        const auto it = Recs.find(r.Isin);
        if (it != Recs.end() && it->second.ReplId > r.ReplId)
            return;
        Recs[r.Isin] = r;
        ByIsin[r.Isin] = r.Isin;
        touch(r.Isin);
        return;
    }
    const auto it = Recs.find(replId);
    if (deleted) {
        if (it != Recs.end()) {
            touch(it->second.Isin);
            if (const auto at = ByIsin.find(it->second.Isin);
                at != ByIsin.end() && at->second == replId)
                ByIsin.erase(at);
            Recs.erase(it);
        }
        return;
    }
    THeaderRow r;
    r.Rev = F[kRev].Int(data, size);
    r.Isin = static_cast<std::int32_t>(F[kIsin].Int(data, size));
    r.Price = F[kPrice].Number(data, size);
    r.StepPrice = F[kStepPrice].Number(data, size);
    r.Volume = F[kVolume].Int(data, size);
    if (const TValue c = F[kClient].Read(data, size); std::holds_alternative<std::string>(c))
        r.Client = std::get<std::string>(c);
    if (it != Recs.end() && it->second.Isin != r.Isin)
        touch(it->second.Isin);
    const std::int32_t isin = r.Isin;
    Recs[replId] = std::move(r);
    if (Indexed())
        ByIsin[isin] = replId;
    touch(isin);
}

void TFollowedTable::DropRows(std::int64_t belowRev, bool all) {
    if (all) {
        Ladders.Clear();
        Recs.clear();
        ByIsin.clear();
        return;
    }
    // The ladders follow what the store removed, whatever it went by.
    if (Kind == TKind::Aggr) {
        Ladders.DropGone();
        return;
    }
    // The store keeps rows that have no revision field; so does the book.
    if (!F[kRev].Found())
        return;
    std::erase_if(Recs, [&](const auto& kv) { return kv.second.Rev < belowRev; });
    std::erase_if(ByIsin, [&](const auto& kv) { return !Recs.contains(kv.second); });
}

} // namespace vorlen::book_detail
