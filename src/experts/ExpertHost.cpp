#include "experts/ExpertHost.h"

#include "connections/TrConnection.h"
#include "platform/Thread.h"

#if VORLEN_STRATEGIES
#include "orders/OrderDesk.h"
#endif

namespace vorlen {

TExpertHost::TExpertHost(TJournalSink& memo, TCGStorage* store, TCGTRConnection* transactions,
                         orders::TOrderDesk* desk, [[maybe_unused]] TBookKeeper* books)
    : FMemo(memo), FDesk(desk) {
    if (store == nullptr)
        return;
    if (transactions != nullptr)
        FReplies = std::make_unique<TTrReplies>(*transactions);
    FExpert = std::make_unique<TExpert>(*store, FReplies.get());
    FExpert->Memo = &FMemo;
#if VORLEN_STRATEGIES
    if (desk != nullptr)
        FOrders = std::make_unique<TDeskOrders>(*desk, OrdersLogOf(*store));
    if (books != nullptr)
        FBook = std::make_unique<TKeeperBook>(*books);
    FRunner = std::make_unique<TStrategyRunner>(*FExpert, *store, FOrders.get(), FBook.get());
    FRunner->SetOnChange([this] {
        if (FOnChange)
            FOnChange();
        ui::WakeUiWaiter(); // FinishStrategy may be waiting
    });
#endif
}

TExpertHost::~TExpertHost() {
    StopExpert();
}

void TExpertHost::SetupExpert(std::int32_t isin_id, const std::string& futName,
                              const std::string& futIsin) {
    if (FExpert == nullptr)
        return;
    FExpert->isin_id = isin_id;
    FExpert->Futname = futName;
    FExpert->Futisin = futIsin;
    FExpert->Memo = &FMemo;
#if VORLEN_STRATEGIES
    if (FOrders != nullptr)
        FOrders->SetIsin(futIsin);
#endif
}

bool TExpertHost::RegisterAndStart() {
    return FExpert != nullptr && FExpert->RegisterAndStart();
}

void TExpertHost::StopExpert() {
    if (FExpert == nullptr)
        return;
#if VORLEN_STRATEGIES
    FRunner.reset();
#endif
    FExpert->Stop();
    FExpert.reset();
}

void TExpertHost::StopStrategy() {
#if VORLEN_STRATEGIES
    if (FRunner != nullptr)
        FRunner->Stop();
#endif
}

void TExpertHost::FinishStrategy() {
#if VORLEN_STRATEGIES
    if (!StrategyRunning())
        return;
    const std::uint64_t serial = FRunner->Status().Serial;
    FRunner->Stop();
    // Serves the expert thread's journal lines while it runs on_stop.
    ui::WaitAndDrainFor([&] { return FRunner->Status().Serial > serial; }, kStopWait);
    if (FDesk == nullptr)
        return;
    const auto until = std::chrono::steady_clock::now() + kAnswersWait;
    for (;;) {
        // The transaction thread writes its journal lines through this thread.
        ui::DrainUiQueue();
        FDesk->Collect();
        if (FDesk->Pending() == 0 || std::chrono::steady_clock::now() >= until)
            return;
        FDesk->Transport().WaitReply(5);
    }
#endif
}

bool TExpertHost::StrategyRunning() const {
#if VORLEN_STRATEGIES
    return FRunner != nullptr && FRunner->Status().State == TStrategy::TState::Running;
#else
    return false;
#endif
}

void TExpertHost::SetOnStrategyChange(std::function<void()> onChange) {
    FOnChange = std::move(onChange);
}

std::string TExpertHost::HaltReason() {
#if VORLEN_STRATEGIES
    if (FOrders != nullptr)
        return FOrders->HaltReason();
#endif
    return {};
}

} // namespace vorlen
