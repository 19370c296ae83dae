#include "main/console/ConsoleExpert.h"

#include "connections/TrConnection.h"
#include "platform/Thread.h"

#include <algorithm>

namespace vorlen {

void TPrefixedJournal::AppendLine(const std::string& line) {
    FTarget.AppendLine(FPrefix + " " + line);
}

TConsoleExpertWindow::TConsoleExpertWindow(std::string caption, TJournalSink& out,
                                           TCGStorage* store, TCGTRConnection* transactions)
    : FCaption(std::move(caption)), FMemo(out, FCaption) {
    FMemo.AppendLine(std::string(kExpertMemoInitialText));
    if (store == nullptr)
        return;
    if (transactions != nullptr)
        FReplies = std::make_unique<TTrReplies>(*transactions);
    FExpert = std::make_unique<TExpert>(*store, FReplies.get());
    FExpert->Memo = &FMemo;
#if VORLEN_STRATEGIES
    // No risk gate yet: the runner's orders are refused with the reason.
    FRunner = std::make_unique<TStrategyRunner>(*FExpert, *store, nullptr, nullptr);
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

bool ChooseFuturesByIsin(TChooser& chooser, std::string_view isin) {
    return chooser.ChooseFutures(isin);
}

} // namespace vorlen
