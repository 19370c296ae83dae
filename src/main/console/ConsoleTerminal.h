#pragma once

// The terminal without windows: the main window's controller driven by a view that writes the
// journal to standard output and message boxes to standard error, keeps the six grids as plain
// tables, runs at most the one expert named on the command line, and has a settings dialog that
// is "applied" at once with the values it was given.

#include "main/Dialogs.h"
#include "main/MainController.h"
#include "main/console/ConsoleDesk.h"
#include "main/console/ConsoleExpert.h"
#include "main/console/ConsoleGrids.h"
#include "main/console/ConsoleOptions.h"
#include "platform/Journal.h"

#include <atomic>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vorlen {

// Journal lines as they are written, one per output line, flushed at once so that a reader of a
// pipe sees them in time.
class TConsoleJournal final : public TJournalSink {
public:
    explicit TConsoleJournal(std::ostream& out) : FOut(out) {}
    void AppendLine(const std::string& line) override;
    // "Инструменты добавлены." has been written.
    bool Online() const { return FOnline.load(); }

private:
    std::ostream& FOut;
    std::atomic<bool> FOnline{false};
};

// Message boxes as "CAPTION: text" lines on standard error; questions are answered OK.
class TConsoleDialogs final : public TDialogs {
public:
    explicit TConsoleDialogs(std::ostream& err) : FErr(err) {}
    void ShowError(const std::string& text) override;
    void ShowInfo(const std::string& text) override;
    bool AskConfirm(const std::string& text) override;
    int Errors() const { return FErrors; }

private:
    std::ostream& FErr;
    int FErrors = 0;
};

class TConsoleView final : public TMainView {
public:
    // `settings`: what the settings dialog holds when it is applied (the first time it opens;
    // later openings count as cancelled).
    // `expertIsin`: the futures the chooser picks when it is shown; empty: it is cancelled.
    TConsoleView(std::ostream& out, std::unique_ptr<TSettingsModel> settings,
                 std::string expertIsin = {});

    TJournalSink& Journal() override { return FJournal; }
    void ClearJournal() override {}
    void SetupGrids() override { FGrids.Setup(); }
    std::array<TGridSink*, kGridCount> Grids() override { return FGrids.Sinks(); }
    void ArmTimer() override { FTimerArmed = true; }
    void DisarmTimer() override { FTimerArmed = false; }
    void ShowControls(const TMainControls& controls) override { FControls = controls; }
    std::unique_ptr<TSettingsModel> RunSettingsDialog() override { return std::move(FSettings); }
    bool RunChooser(TChooser& chooser) override;
    std::vector<TExpertWindowPort*> ExpertWindows() override;
    TExpertWindowPort* OpenExpertWindow(const std::string& caption) override;

    // Where new experts read and post; set once the connector exists.
    void SetPort(TTerminalPort* port) { FPort = port; }
    // The desk a new expert's strategy orders through; none: its orders are refused.
    void SetDesk(TConsoleDesk* desk) { FDesk = desk; }

    bool TimerArmed() const { return FTimerArmed; }
    const TMainControls& Controls() const { return FControls; }
    bool Online() const { return FJournal.Online(); }
    const TConsoleGrids& GridTables() const { return FGrids; }
    TConsoleGrids& GridTables() { return FGrids; }
    // The chooser was shown and no futures had the code it was given.
    bool ExpertUnknown() const { return FExpertUnknown; }
    const std::vector<std::unique_ptr<TConsoleExpertWindow>>& ExpertWindowList() const {
        return FWindows;
    }

private:
    TConsoleJournal FJournal;
    std::unique_ptr<TSettingsModel> FSettings;
    std::string FExpertIsin;
    bool FExpertUnknown = false;
    bool FTimerArmed = false;
    TMainControls FControls;
    TConsoleGrids FGrids;
    TTerminalPort* FPort = nullptr;
    TConsoleDesk* FDesk = nullptr;
    std::vector<std::unique_ptr<TConsoleExpertWindow>> FWindows;
};

// The whole run. The calling thread becomes the UI thread. Call TStopWatcher::PrepareProcess
// first, before any other thread exists.
int RunConsole(const TConsoleOptions& options, std::ostream& out, std::ostream& err);

} // namespace vorlen
