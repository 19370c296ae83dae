#include "main/console/ConsoleExpert.h"

#include "connections/TrConnection.h"
#include "main/console/ConsoleDesk.h"
#include "platform/Thread.h"

#include <algorithm>
#include <chrono>

namespace vorlen {

#if VORLEN_STRATEGIES
namespace {

constexpr auto kAnswersWait = std::chrono::seconds(3);

void WaitForAnswers(orders::TOrderDesk& desk) {
    const auto until = std::chrono::steady_clock::now() + kAnswersWait;
    for (;;) {
        // The transaction thread writes its journal lines through this thread.
        ui::DrainUiQueue();
        desk.Collect();
        if (desk.Pending() == 0 || std::chrono::steady_clock::now() >= until)
            return;
        desk.Transport().WaitReply(5);
    }
}

} // namespace
#endif

void TPrefixedJournal::AppendLine(const std::string& line) {
    FTarget.AppendLine(FPrefix + " " + line);
}

TConsoleExpertWindow::TConsoleExpertWindow(std::string caption, TJournalSink& out,
                                           TCGStorage* store, TCGTRConnection* transactions,
                                           [[maybe_unused]] TConsoleDesk* desk)
    : FCaption(std::move(caption)), FMemo(out, FCaption) {
    FMemo.AppendLine(std::string(kExpertMemoInitialText));
    if (store == nullptr)
        return;
    if (transactions != nullptr)
        FReplies = std::make_unique<TTrReplies>(*transactions);
    FExpert = std::make_unique<TExpert>(*store, FReplies.get());
    FExpert->Memo = &FMemo;
#if VORLEN_STRATEGIES
    FDesk = desk;
    if (desk != nullptr) {
        FOrders = std::make_unique<TDeskOrders>(desk->Desk(), OrdersLogOf(*store));
        if (desk->Books() != nullptr)
            FBook = std::make_unique<TKeeperBook>(*desk->Books());
    }
    FRunner = std::make_unique<TStrategyRunner>(*FExpert, *store, FOrders.get(), FBook.get());
    FRunner->SetOnChange([] { ui::WakeUiWaiter(); });
#endif
}

TConsoleExpertWindow::~TConsoleExpertWindow() {
    StopExpert();
}

void TConsoleExpertWindow::SetupExpert(std::int32_t isin_id, const std::string& futName,
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

bool TConsoleExpertWindow::RegisterAndStart() {
    FRunning = FExpert != nullptr && FExpert->RegisterAndStart();
    return FRunning;
}

void TConsoleExpertWindow::StopExpert() {
    if (FExpert == nullptr)
        return;
        // Stop returns at once for an expert that never started; the store registration goes
        // either way, before the store itself does.
#if VORLEN_STRATEGIES
    FRunner.reset();
#endif
    FExpert->Stop();
    FExpert.reset();
    FRunning = false;
}

void TConsoleExpertWindow::StopStrategy() {
#if VORLEN_STRATEGIES
    if (FRunner == nullptr || FRunner->Status().State != TStrategy::TState::Running)
        return;
    const std::uint64_t serial = FRunner->Status().Serial;
    FRunner->Stop();
    ui::WaitAndDrainFor([&] { return FRunner->Status().Serial > serial; }, kAnswersWait);
    // Its on_stop may have taken its orders off: the run does not end before the exchange has
    // answered, or a cancel could be lost with the connection.
    if (FDesk != nullptr)
        WaitForAnswers(FDesk->Desk());
#endif
}

bool ChooseFuturesByIsin(TChooser& chooser, std::string_view isin) {
    return chooser.ChooseFutures(isin);
}

} // namespace vorlen
