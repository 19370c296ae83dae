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
    if (FFeed)
        FStorage.SetObserver(FFeed->Next());
    for (int g = 0; g < kGridCount; ++g)
        if (FByRef[static_cast<std::size_t>(g)])
            FGrids[static_cast<std::size_t>(g)]->AttachRowRefs(nullptr);
}

void TUpdateGrids::SetGrid(int grid, TGridSink* sink) {
    if (grid < 0 || grid >= kGridCount)
        return;
    const auto g = static_cast<std::size_t>(grid);
    if (FByRef[g])
        FGrids[g]->AttachRowRefs(nullptr);
    FGrids[g] = sink;
    FByRef[g] = sink != nullptr && sink->WantsRowRefs();
    if (FByRef[g])
        sink->AttachRowRefs(std::make_shared<TRowRefs>(FStorage, GridLayout(grid)));
}

void TUpdateGrids::FollowChanges(TStoreObserver* next) {
    FFeed = std::make_unique<TGridChangeFeed>(next);
    FStorage.SetObserver(FFeed.get());
    for (auto& collector : FCollectors)
        collector.reset();
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
        FStorage.GetTable(static_cast<std::int32_t>(index), FTable);
        if (!FTable.Values)
            continue;
        if (index < kGridCount && FByRef[index])
            RefPass(static_cast<int>(index));
        else
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

std::optional<std::int32_t> TUpdateGrids::FilterOf(int grid) const {
    switch (GridLayout(grid).Filter) {
    case TGridFilter::Orders:
        return FOrders;
    case TGridFilter::MLOrders:
        return FMLOrders;
    case TGridFilter::None:
        break;
    }
    return std::nullopt;
}

void TUpdateGrids::GridPass(int grid) {
    TGridSink* sink = FGrids[static_cast<std::size_t>(grid)];
    if (sink == nullptr)
        return;
    FPasses[static_cast<std::size_t>(grid)]->Run(FStorage, FTable, *sink, FilterOf(grid));
}

void TUpdateGrids::RefPass(int grid) {
    TGridSink* sink = FGrids[static_cast<std::size_t>(grid)];
    std::optional<std::int32_t> filter;
    Synchronize([&] { filter = FilterOf(grid); });
    auto& collector = FCollectors[static_cast<std::size_t>(grid)];
    if (!collector)
        collector = std::make_unique<TRowCollector>(FStorage, GridLayout(grid), grid, FFeed.get());
    TRowRefList list = collector->Pass(FTable, filter);
    Synchronize([&] { sink->ShowRowRefs(std::move(list)); });
}

void TUpdateGrids::UpdJournal() {
    JournalSysMessages(FStorage, FTable, FMemo, FSeen);
}

} // namespace vorlen
