#pragma once

// What changed in the grids' tables since each grid's last pass, so that a pass looks at those
// rows only.
//
// The feed follows the store (it is the store's observer and hands every call on to the
// follower it replaced, the order books), so all of it runs under the store's lock: the
// market-data thread records, the grid updater takes what was recorded while it holds the lock
// for its pass. A grid's table is watched from the first pass that names it; until then, and
// after anything the feed cannot follow row by row (a clear, a new description, a clearing of
// deleted rows, more changes than are worth keeping), it says so and the pass looks at the
// whole table again.

#include "grids/GridLayouts.h"
#include "store/StoreObserver.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vorlen {

class TGridChangeFeed final : public TStoreObserver {
public:
    // Ids kept per grid between passes; beyond this a whole pass is cheaper than the list.
    static constexpr std::size_t kMaxIds = 1 << 16;

    explicit TGridChangeFeed(TStoreObserver* next) : FNext(next) {}
    TStoreObserver* Next() const { return FNext; }

    struct TChanges {
        bool All = true;                   // look at every row
        std::vector<std::int64_t> Stored;  // rows inserted or changed since the last Take
        std::vector<std::int64_t> Removed; // rows removed since the last Take
    };
    // Under the store's lock. Watches table `table` (its number within its stream) of key
    // stream `stream` for grid `grid` from now on and hands over what was recorded for it.
    TChanges Take(int grid, std::string_view stream, std::int64_t table);

    void OnStreams(const std::vector<std::string>& names) override;
    TFollow OnTableDescribed(std::int32_t stream, std::int32_t table, const cg_message_desc_t& desc,
                             const std::shared_ptr<const TRows>& rows) override;
    void OnRow(std::int32_t stream, std::int32_t table, const TRowChange& change) override;
    void OnRowsStored(std::int32_t stream, std::int32_t table, std::span<const TStoredRow> rows,
                      TRowView latest) override;
    void OnRunApplied() noexcept override {
        if (FNext != nullptr)
            FNext->OnRunApplied();
    }
    void OnStreamCleared(std::int32_t stream) override;
    void OnDeletedCleared(std::int32_t stream, std::int32_t table, std::int64_t rev) override;

private:
    struct TWatch {
        std::int32_t Stream = -1;
        std::int64_t Table = -1;
        TChanges Changes;
    };
    void Lose(std::int32_t stream, std::int64_t table);
    void Note(std::int32_t stream, std::int32_t table, std::int64_t id, bool removed);

    TStoreObserver* FNext;
    std::vector<std::string> FStreams;
    std::array<TWatch, kGridCount> FWatch;
};

} // namespace vorlen
