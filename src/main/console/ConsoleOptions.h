#pragma once

#include "orders/RiskGate.h"

#include <optional>
#include <string>
#include <vector>

namespace vorlen {

struct TConsoleOptions {
    // How long to run once connecting has begun; none: until a signal.
    std::optional<int> Seconds;
    // End as soon as the instrument lists are built.
    bool UntilOnline = false;
    // With Replay: end once the router has played it all and the terminal has taken it.
    bool UntilEnd = false;
    // Folder for the tables written at the end; empty: nothing is written.
    std::string DumpDir;
    // A saved-settings file applied instead of the dialog's defaults.
    std::string SettingsFile;
    // The futures (isin) of an expert started once connected; empty: no expert.
    std::string ExpertIsin;
    // A strategy script the expert runs, and its parameters as "name=value" (checked against
    // what the script declares once it is loaded).
    std::string StrategyFile;
    std::vector<std::string> StrategyParams;
    // Orders placed once on-line, in order, each "buy|sell ISIN QTY PRICE CLIENT"; checked for
    // their form here, for everything else by the risk gate.
    std::vector<std::string> Orders;
    // Throw the kill switch once the orders (if any) have their replies.
    bool CancelAll = false;
    // The risk limits file; empty: risk_limits.txt in the data folder, if there is one.
    std::string RiskFile;
    // The folder of the limits file and the order logs; empty: $VORLEN_DATA_DIR, else the
    // settings file's folder, else "saving" beside the program.
    std::string DataDir;
    // Instruments (isin) whose order books and positions --dump writes; each must be listed.
    std::vector<std::string> BookIsins;
    // A futures (isin) whose options board --dump writes: options_<isin>.tsv and
    // options_risk_<isin>.tsv.
    std::string OptionsIsin;
    // Record what the connections receive into the recording of the trading day, in HistoryDir
    // (empty: "history" in the data folder when one is named, else the user's data folder).
    bool Record = false;
    // Make history.db of the history folder again from its day files instead of connecting.
    bool RebuildHistory = false;
    std::string HistoryDir;
    // Rebuild the replica from this recording instead of connecting, up to AtTime ("HH:MM:SS"
    // local time on the recording's date; empty: its end), and dump it.
    std::string ReplayFile;
    std::string AtTime;
    // Have the router play this recording to the terminal instead of its simulated market, at
    // Speed (1, 2, 5, 10, 50, 100, 1000 or max; empty: max).
    std::string Replay;
    std::string Speed;
    // Write the candles of this instrument (isin, short isin or isin_id) from the history
    // database to OutFile instead of connecting: Interval ("tick", "1m", "5m", "15m", "1h",
    // "1d"; empty: "1m"), From and To ("YYYY-MM-DD HH:MM" exchange time; empty: open-ended).
    std::string CandlesIsin;
    std::string Interval;
    std::string From;
    std::string To;
    std::string OutFile;
    // Run the strategy (--expert, --strategy, --param) over this recording, or the recordings
    // of this folder, instead of connecting, and write the report into ReportDir. From and To
    // take "HH:MM" (the part of each day it trades) or "YYYY-MM-DD" (the days it runs).
    std::string BacktestPath;
    std::string ReportDir;
    std::string FillModel; // touch|through|queue; empty: touch
    int LatencyMs = 0;
    std::optional<double> FeePerLot; // where the recording has no fee table
    std::vector<std::string> Sweeps; // "name=a,b,c" each
    unsigned Workers = 0;            // sweep threads; 0: one per core
    std::optional<int> TrMax;        // posts a second; none: the settings' value
    bool Help = false;
};

// Exit codes beyond 0: a run that ended as asked.
inline constexpr int kExitUsage = 1;     // the command line could not be read
inline constexpr int kExitErrorBox = 2;  // an error box, no futures for --expert, an unknown --book
inline constexpr int kExitNotOnline = 3; // --until-online, but the time ran out first
inline constexpr int kExitNoEnvironment = 4; // the gateway environment did not open
inline constexpr int kExitDumpFailed = 5;    // the run went well, the tables could not be written
inline constexpr int kExitOrderRefused = 5;  // an order or cancel was refused or failed
inline constexpr int kExitBacktestFailed =
    6; // a backtest's strategy failed or its data could not be read
// A signal ends the run through the shutdown order with 128 + its number, as shells expect.

// False with `error` set when the arguments make no sense.
bool ParseConsoleOptions(const std::vector<std::string>& args, TConsoleOptions& out,
                         std::string& error);

std::string ConsoleUsage();

// "HH:MM:SS" as seconds since midnight; nothing when it is not a time of day.
std::optional<int> ParseTimeOfDay(const std::string& text);

// A backtest's --from or --to: "HH:MM", a minute of the exchange's day, or "YYYY-MM-DD", a
// trading date.
struct TBacktestBound {
    std::optional<int> Minute;
    std::string Date;
};
std::optional<TBacktestBound> ParseBacktestBound(const std::string& text);

// One --order value as an order; nothing (with `error`) when it is not of the form
// "buy|sell ISIN QTY PRICE CLIENT".
std::optional<orders::TOrderRequest> ParseOrderLine(const std::string& line, std::string& error);

} // namespace vorlen
