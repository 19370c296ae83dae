#pragma once

// A console run with a connection, as a list of phases: each reads and sets what the run has
// come to (TConsoleSession) and keeps anything else to itself. An option that needs a step of
// its own adds a phase to the list where it belongs.

#include "main/console/ConsoleDesk.h"
#include "main/console/ConsoleOptions.h"
#include "orders/RiskLimits.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vorlen {

class TConnectorPort;
class TConsoleDialogs;
class TConsoleView;
class TMainController;
class TStopWatcher;

// The strategy's script, read before connecting so that a wrong path ends the run at once.
struct TStrategySource {
    std::string Name; // the file's name, as the expert's journal calls the strategy
    std::string Text;
};

// What a run has read and decided before it connects.
struct TRunPlan {
    std::string DumpDir; // absolute: loading the gateway changes the current directory
    std::filesystem::path DataDir;
    std::filesystem::path HistoryDir;
    TStrategySource Strategy;
    bool Ordering = false; // --order lines or --cancel-all
    // Read when the run may order (its own lines or a strategy); the desk takes them.
    std::optional<orders::TLimitsBook> Limits;
};

// What the phases of one connected run share.
struct TConsoleSession {
    const TConsoleOptions& Options;
    TRunPlan& Plan;
    std::ostream& Err;
    TStopWatcher& Watcher;
    const TConsoleDialogs& Dialogs;
    TConsoleView& View;
    TMainController& Controller;
    // Owned by the run, declared before the view: the expert's strategy orders through it until
    // its window goes.
    std::unique_ptr<TConsoleDesk>& Desk;
    TConnectorPort*& Port; // null until the controller has created the connector

    int Code = 0;      // the run's exit code; the first phase that fails sets it
    int OrderCode = 0; // what the --order lines came to: the exit code when nothing else failed
    bool Connected = false; // the gateway environment is open: the end phases have a replica
    bool Over = false;      // stopped, or nothing will come on-line: only the end phases run
    std::vector<std::pair<std::string, std::int32_t>> Books; // --book, once found
    std::optional<std::uint16_t> ReplayPort; // --replay: the router's control channel
};

struct TRunPhase {
    enum class TWhen {
        Going,     // while nothing failed and the run is not over
        Connected, // whenever the connection came up, however the run went after it
    };
    TWhen When;
    void (*Run)(TConsoleSession& session);
};

// The phases of a connected run, in order.
std::span<const TRunPhase> ConnectedRunPhases();
// Runs them; the session's Code is the run's exit code afterwards.
void RunPhases(TConsoleSession& session, std::span<const TRunPhase> phases);

} // namespace vorlen
