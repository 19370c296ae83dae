#pragma once

// The grid updater: a thread that sleeps until the store reports a change in one of the seven
// key tables, then has the user-interface thread rebuild that table's grid (or, for the system
// messages, append them to the journal). It never polls and never touches a grid itself.
//
// A grid that shows rows by reference (TGridSink::WantsRowRefs) costs the user-interface thread
// only the swap of the new row list: which rows pass is found here, on this thread.

#include "grids/ChangeFeed.h"
#include "grids/GridLayouts.h"
#include "grids/GridPass.h"
#include "grids/GridSink.h"
#include "grids/RowRefs.h"
#include "platform/Events.h"
#include "platform/Journal.h"
#include "platform/Thread.h"
#include "store/KeyTables.h"
#include "store/StoreRecords.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace vorlen {

class TCGStorage;

class TUpdateGrids : public TThread {
public:
    // Wait-list positions: the six grid tables, the system messages, and the exit event last,
    // so a pending pass runs before the thread ends. Positions 0..6 are also GetTable numbers.
    static constexpr unsigned kMessEvent = kKeyTableSysMessages;
    static constexpr unsigned kExitEvent = 7;
    static constexpr unsigned kEventCount = 8;

    // Created suspended: set the journal and the grids, then Start. The store receives the seven
    // table events at once and must outlive the updater. The two filters are the connector's
    // (1 active, 2 done, 4 all); they are read on the user-interface thread, where the menus
    // write them.
    TUpdateGrids(TCGStorage& storage, const std::int32_t& orders, const std::int32_t& mlOrders);
    // Stops the thread if its owner has not, takes the events back from the store so that it
    // never signals freed ones, and detaches the rows by reference from the grids (on the
    // thread that owns them), so that no grid reads the store after this.
    ~TUpdateGrids() override;

    // Not owned; null leaves that grid (or the journal) alone. Set before Start.
    void SetMemo(TJournalSink* memo) { FMemo = memo; }
    void SetGrid(int grid, TGridSink* sink);
    // Lets the passes of the grids that show rows by reference look only at what changed: the
    // updater follows the store in place of `next` (the store's follower so far, which it
    // hands every call on to) until it is destroyed, when `next` follows it again. Call before
    // Start and before the streams are named; destroy the updater only once the market-data
    // connection has stopped.
    void FollowChanges(TStoreObserver* next);

    // Signals the exit event, asks the thread to terminate and waits for it; a pass under way
    // finishes first. Does nothing for a thread that never started or has ended.
    void Stop();

    TEvent Event(unsigned index) { return FEvents.Event(index); }

    // The passes, run on the user-interface thread over FTable.
    void UpdAccGrid() { GridPass(kAccGrid); }
    void UpdOrdersGrid() { GridPass(kOrdersGrid); }
    void UpdMLOrdersGrid() { GridPass(kMLOrdersGrid); }
    void UpdDealsGrid() { GridPass(kDealsGrid); }
    void UpdMLDealsGrid() { GridPass(kMLDealsGrid); }
    void UpdPosGrid() { GridPass(kPositionsGrid); }
    void UpdJournal();

    // Filled by GetTable before each pass.
    TTable FTable;

protected:
    void Execute() override;

private:
    void GridPass(int grid);
    void RunPass(unsigned index);
    // The pass of a grid that shows rows by reference.
    void RefPass(int grid);
    // The menus' filter of a grid; read on the user-interface thread.
    std::optional<std::int32_t> FilterOf(int grid) const;

    TCGStorage& FStorage;
    const std::int32_t& FOrders;
    const std::int32_t& FMLOrders;
    TEventSet FEvents{kEventCount};
    TJournalSink* FMemo = nullptr;
    // The updater lives as long as the connector, so this is the run's memory of messages shown.
    TSeenMessages FSeen;
    std::array<TGridSink*, kGridCount> FGrids{};
    std::array<bool, kGridCount> FByRef{};
    std::array<std::unique_ptr<TGridPass>, kGridCount> FPasses;
    std::unique_ptr<TGridChangeFeed> FFeed;
    std::array<std::unique_ptr<TRowCollector>, kGridCount> FCollectors;
};

} // namespace vorlen
