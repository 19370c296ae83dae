#pragma once

// The order books of every instrument, kept from the aggregated order-book rows as the store
// applies them, with what the books' headers show: the trader's resting orders (from the orders
// log), positions, variation margin, the instruments' price steps and the last deal price.
//
// The keeper follows the store (TStoreObserver): it is told of each row on the market-data thread
// inside the store's apply step, under the store's lock, so it needs no lock of its own and no
// pass over any table. Readers copy one instrument's book under that same lock (Snapshot), only
// when its version moved: the levels of the depth, and the instrument's positions and own volume
// found by one walk each of the position and orders-log records, which the market-data thread
// waits for at worst.

#include "book/Book.h"
#include "platform/Mutex.h"
#include "store/StoreObserver.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vorlen {

class TBookKeeper final : public TStoreObserver {
public:
    // `storeLock` is the lock of the store this keeper follows.
    explicit TBookKeeper(TMutex& storeLock);
    ~TBookKeeper() override;
    TBookKeeper(const TBookKeeper&) = delete;
    TBookKeeper& operator=(const TBookKeeper&) = delete;

    // Copies the instrument's book into `out` under the store's lock. When `out` already holds
    // this instrument at the current version, nothing is copied and the result is false, so a
    // window that repaints on a timer pays for a copy only when something changed.
    bool Snapshot(std::int32_t isin_id, TBookSnapshot& out) const;
    // The best price of one side, as a snapshot's BestAsk or BestBid would give it, without
    // copying the book: the gate asks for it before every order.
    std::optional<double> BestPrice(std::int32_t isin_id, bool asks) const;

    // TStoreObserver: called with the store's lock held.
    void OnStreams(const std::vector<std::string>& names) override;
    TFollow OnTableDescribed(std::int32_t stream, std::int32_t table, const cg_message_desc_t& desc,
                             const std::shared_ptr<const TRows>& rows) override;
    void OnRow(std::int32_t stream, std::int32_t table, const TRowChange& change) override;
    void OnRowsStored(std::int32_t stream, std::int32_t table, std::span<const TStoredRow> rows,
                      TRowView latest) override;
    void OnRunApplied() noexcept override;
    void OnStreamCleared(std::int32_t stream) override;
    void OnDeletedCleared(std::int32_t stream, std::int32_t table, std::int64_t rev) override;

private:
    struct Impl;
    TMutex& FLock;
    std::unique_ptr<Impl> FImpl;
};

} // namespace vorlen
