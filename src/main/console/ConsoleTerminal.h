#pragma once

// The terminal without windows: the main window's controller driven by a view that writes the
// journal to standard output and message boxes to standard error, with no grids, no experts and
// a settings dialog that is "applied" at once with the values it was given.

#include "main/Dialogs.h"
#include "main/MainController.h"
#include "main/console/ConsoleOptions.h"
#include "platform/Journal.h"

#include <atomic>
#include <memory>
#include <ostream>
#include <string>

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
    TConsoleView(std::ostream& out, std::unique_ptr<TSettingsModel> settings);

    TJournalSink& Journal() override { return FJournal; }
    void ClearJournal() override {}
    void SetupGrids() override {}
    std::array<TGridSink*, kGridCount> Grids() override { return {}; }
    void ArmTimer() override { FTimerArmed = true; }
    void DisarmTimer() override { FTimerArmed = false; }
    void ShowControls(const TMainControls& controls) override { FControls = controls; }
    std::unique_ptr<TSettingsModel> RunSettingsDialog() override { return std::move(FSettings); }
    bool RunChooser(TChooser&) override { return false; }
    std::vector<TExpertWindowPort*> ExpertWindows() override { return {}; }
    TExpertWindowPort* OpenExpertWindow(const std::string&) override { return nullptr; }

    bool TimerArmed() const { return FTimerArmed; }
    const TMainControls& Controls() const { return FControls; }
    bool Online() const { return FJournal.Online(); }

private:
    TConsoleJournal FJournal;
    std::unique_ptr<TSettingsModel> FSettings;
    bool FTimerArmed = false;
    TMainControls FControls;
};

// The whole run. The calling thread becomes the UI thread. Call TStopWatcher::PrepareProcess
// first, before any other thread exists.
int RunConsole(const TConsoleOptions& options, std::ostream& out, std::ostream& err);

} // namespace vorlen
