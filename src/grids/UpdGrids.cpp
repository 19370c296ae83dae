#include "grids/UpdGrids.h"

#include "store/Storage.h"

#include <optional>

namespace vorlen {

TUpdateGrids::TUpdateGrids(TCGStorage& storage, const std::int32_t& orders,
                           const std::int32_t& mlOrders)
    : FStorage(storage), FOrders(orders), FMLOrders(mlOrders) {
    for (int g = 0; g < kGridCount; ++g)
        FPasses[static_cast<std::size_t>(g)] = std::make_unique<TGridPass>(GridLayout(g));
    std::array<TEvent, kKeyTableCount> events;
    for (unsigned i = 0; i < kKeyTableCount; ++i)
        events[i] = FEvents.Event(i);
    FStorage.SetGridEvents(events);
}

TUpdateGrids::~TUpdateGrids() {
    Stop();
    // Under the store's lock: once this returns, no market-data thread is still signalling.
    FStorage.SetGridEvents({});
}

void TUpdateGrids::SetGrid(int grid, TGridSink* sink) {
    if (grid >= 0 && grid < kGridCount)
        FGrids[static_cast<std::size_t>(grid)] = sink;
}

void TUpdateGrids::Stop() {
    if (!Started() || Finished())
        return;
    FEvents.Signal(kExitEvent);
    Terminate();
    WaitFor();
}

void TUpdateGrids::Execute() {
    while (!Terminated()) {
        const unsigned index = FEvents.WaitAny();
        if (index == kExitEvent)
            break;
        if (index >= kEventCount)
            continue;
        // A table not handed over must not leave the previous pass's table in FTable, where the
        // next pass would show it in the wrong grid.
        FTable = TTable{};
        if (FStorage.GetTable(static_cast<std::int32_t>(index), FTable) && FTable.Values)
            Synchronize([this, index] { RunPass(index); });
    }
}

void TUpdateGrids::RunPass(unsigned index) {
    switch (index) {
    case kAccGrid:
        UpdAccGrid();
        break;
    case kOrdersGrid:
        UpdOrdersGrid();
        break;
    case kMLOrdersGrid:
        UpdMLOrdersGrid();
        break;
    case kDealsGrid:
        UpdDealsGrid();
        break;
    case kMLDealsGrid:
        UpdMLDealsGrid();
        break;
    case kPositionsGrid:
        UpdPosGrid();
        break;
    case kMessEvent:
        UpdJournal();
        break;
    default:
        break;
    }
}

void TUpdateGrids::GridPass(int grid) {
    TGridSink* sink = FGrids[static_cast<std::size_t>(grid)];
    if (sink == nullptr)
        return;
    std::optional<std::int32_t> filter;
    switch (GridLayout(grid).Filter) {
    case TGridFilter::Orders:
        filter = FOrders;
        break;
    case TGridFilter::MLOrders:
        filter = FMLOrders;
        break;
    case TGridFilter::None:
        break;
    }
    FPasses[static_cast<std::size_t>(grid)]->Run(FStorage, FTable, *sink, filter);
}

void TUpdateGrids::UpdJournal() {
    JournalSysMessages(FStorage, FTable, FMemo, FormatSettings(), &FSeen);
}

} // namespace vorlen
