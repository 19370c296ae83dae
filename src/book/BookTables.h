#pragma once

// The tables the books follow, and what they keep of each: the aggregated rows (BookLadders.h)
// and, for the books' headers, the trader's resting orders, positions, variation margin, the
// instruments' price steps and last deal prices, each reduced to a few figures per row.

#include "book/BookFields.h"
#include "book/BookLadders.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vorlen::book_detail {

enum class TKind { Aggr, OrdersLog, Position, Vm, Reference, Common, Deal };

// Which tables the books follow, by stream and table name; `depth` for an aggregated stream.
bool Classify(std::string_view stream, std::string_view table, TKind& kind, int& depth);

// A row of the header tables, reduced to what the header needs.
struct THeaderRow {
    std::int32_t Isin = 0;
    std::int64_t Rev = 0;
    std::string Client;
    // The table's one money figure: a resting order's price (orders log), a position's average
    // price, a variation margin, the instrument's step of price (reference) or its last deal's
    // price (common).
    double Price = 0;
    double StepPrice = 0;    // the money one step of price is worth (reference)
    std::int64_t Volume = 0; // a position, or an order's resting volume (orders log)
    int Dir = 0;             // an order's side (orders log)
    // The orders log's replication id: which of two actions on an order is the later.
    std::int64_t ReplId = 0;
};

// One followed table.
struct TFollowedTable {
    // The fields a header table is read by, resolved once per description.
    enum TRole : std::size_t {
        kRev,
        kIsin,
        kPrice,
        kVolume,
        kDir,
        kClient,
        kOrderId,
        kStepPrice,
        kRoleCount
    };

    TFollowedTable(TKind kind, int depth) : Kind(kind), Depth(depth) {}
    // Resolves the kind's fields from the table's description; `rows` are the store's.
    void Describe(const cg_message_desc_t& desc, std::shared_ptr<const TRows> rows);

    const TKind Kind;
    const int Depth;
    std::array<TFieldRef, kRoleCount> F;
    TLadders Ladders; // the aggregated table's rows

    // Keyed by replication id, except the orders log: by order id, the latest action only; and
    // the deals: by isin_id, the latest deal only.
    std::unordered_map<std::int64_t, THeaderRow> Recs;
    // Reference rows and last prices, one per instrument: isin_id -> key in Recs, so a
    // snapshot does not walk tens of thousands of option series under the store's lock.
    std::unordered_map<std::int32_t, std::int64_t> ByIsin;
    bool Indexed() const {
        return Kind == TKind::Reference || Kind == TKind::Common || Kind == TKind::Deal;
    }
    const THeaderRow* ForIsin(std::int32_t isin) const;

    // A header table's row; `touch` is told each instrument whose header changed.
    void ApplyRec(std::int64_t replId, const void* data, std::size_t size, bool deleted,
                  const std::function<void(std::int32_t)>& touch);
    // Rows whose revision is below `belowRev` leave; with `all`, every row.
    void DropRows(std::int64_t belowRev, bool all);
};

} // namespace vorlen::book_detail
