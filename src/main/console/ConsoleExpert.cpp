#include "main/console/ConsoleExpert.h"

#include "main/console/ConsoleDesk.h"

namespace vorlen {

void TPrefixedJournal::AppendLine(const std::string& line) {
    FTarget.AppendLine(FPrefix + " " + line);
}

TConsoleExpertWindow::TConsoleExpertWindow(std::string caption, TJournalSink& out,
                                           TCGStorage* store, TCGTRConnection* transactions,
                                           TConsoleDesk* desk)
    : FCaption(std::move(caption)), FMemo(out, FCaption),
      FHost(FMemo, store, transactions, desk != nullptr ? &desk->Desk() : nullptr,
            desk != nullptr ? desk->Books() : nullptr) {
    FMemo.AppendLine(std::string(kExpertMemoInitialText));
}

TConsoleExpertWindow::~TConsoleExpertWindow() {
    StopExpert();
}

void TConsoleExpertWindow::SetupExpert(std::int32_t isin_id, const std::string& futName,
                                       const std::string& futIsin) {
    FHost.SetupExpert(isin_id, futName, futIsin);
}

bool TConsoleExpertWindow::RegisterAndStart() {
    FRunning = FHost.RegisterAndStart();
    return FRunning;
}

void TConsoleExpertWindow::StopExpert() {
    FHost.StopExpert();
    FRunning = false;
}

bool ChooseFuturesByIsin(TChooser& chooser, std::string_view isin) {
    return chooser.ChooseFutures(isin);
}

} // namespace vorlen
