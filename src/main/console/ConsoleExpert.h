#pragma once

// An expert window without a window: the expert thread bound to one futures, its journal going
// to the console's output with the window's caption in front of every line.

#include "experts/Chooser.h"
#include "experts/ExpertHost.h"
#include "main/MainController.h"
#include "platform/Journal.h"

#include <memory>
#include <string>
#include <string_view>

namespace vorlen {

class TCGStorage;
class TCGTRConnection;
class TConsoleDesk;

// Each line goes on to `target` as `prefix`, a blank, and the line.
class TPrefixedJournal final : public TJournalSink {
public:
    TPrefixedJournal(TJournalSink& target, std::string prefix)
        : FTarget(target), FPrefix(std::move(prefix)) {}
    void AppendLine(const std::string& line) override;

private:
    TJournalSink& FTarget;
    std::string FPrefix;
};

// The text an expert window's journal shows before anything writes to it.
inline constexpr std::string_view kExpertMemoInitialText = "Memo1";

class TConsoleExpertWindow final : public TExpertWindowPort {
public:
    // Creates the suspended expert over `store` (none without a store) and shows the journal's
    // initial text, as the window does when it opens. `transactions` may be null; so may
    // `desk`, and the strategy's orders are refused then.
    TConsoleExpertWindow(std::string caption, TJournalSink& out, TCGStorage* store,
                         TCGTRConnection* transactions, TConsoleDesk* desk = nullptr);
    ~TConsoleExpertWindow() override;

    std::string Caption() const override { return FCaption; }
    void SetupExpert(std::int32_t isin_id, const std::string& futName,
                     const std::string& futIsin) override;
    bool RegisterAndStart() override;
    void StopExpert() override;
    // Stops a running strategy (its on_stop runs) while the connections are still there, and
    // waits for the exchange's answers to what it posted on the way out.
    void StopStrategy() { FHost.FinishStrategy(); }

    bool Running() const { return FRunning; }
    TExpert* Expert() { return FHost.Expert(); }
#if VORLEN_STRATEGIES
    // The expert's strategy; null without an expert. Its changes wake the console's UI wait.
    TStrategyRunner* Strategy() {
        return FHost.Strategy();
    }
#endif

private:
    std::string FCaption;
    TPrefixedJournal FMemo;
    TExpertHost FHost;
    bool FRunning = false;
};

// What the user does in the chooser when told the futures code: the controller has already
// preselected, and picking the futures runs the same change handler as the dialog. False, with
// the chooser left as it was, when no futures has this code.
bool ChooseFuturesByIsin(TChooser& chooser, std::string_view isin);

} // namespace vorlen
