#include "book/BookKeeper.h"
#include "connections/Connection.h"
#include "health/HealthMonitor.h"
#include "main/ConnectorPort.h"
#include "main/console/BookDump.h"
#include "main/console/ConsoleOrders.h"
#include "main/console/ConsoleRun.h"
#include "main/console/ConsoleTerminal.h"
#include "main/console/OptionsDump.h"
#include "main/console/RouterReplay.h"
#include "main/console/StopWatcher.h"
#include "main/console/StoreDump.h"
#include "platform/Module.h"
#include "platform/ProcessStart.h"
#include "platform/Thread.h"
#include "platform/UserData.h"

#include <chrono>
#include <functional>

namespace vorlen {

namespace {

// "New expert" with the chooser answered by `isin`; 0 when the expert runs, kExitErrorBox with
// the reason on `err` otherwise.
int StartExpert(TMainController& controller, TConsoleView& view, const std::string& isin,
                std::ostream& err) {
    controller.FileNew1Execute();
    const auto& windows = view.ExpertWindowList();
    if (!windows.empty() && windows.back()->Running())
        return 0;
    if (view.ExpertUnknown()) {
        err << "vorlen-console: --expert: no futures with isin \"" << isin
            << "\" in the instrument lists\n";
    } else {
        err << "vorlen-console: --expert: the expert on \"" << isin << "\" did not start\n";
    }
    err << std::flush;
    return kExitErrorBox;
}

// Loads the script into the expert that has just started, checks the parameters against what
// it declares, and starts it; 0 when it runs.
int StartStrategy(TConsoleView& view, const TStrategySource& source,
                  const std::vector<std::string>& params, const TStopWatcher& watcher,
                  std::ostream& err) {
#if VORLEN_STRATEGIES
    TStrategyRunner* runner = view.ExpertWindowList().back()->Strategy();
    if (runner == nullptr)
        return kExitErrorBox;
    // Each command the expert's thread handles publishes one new status.
    const auto handled = [&](std::uint64_t serial) {
        ui::WaitAndDrainUntil(
            [&] { return watcher.StopRequested() || runner->Status().Serial >= serial; });
        return runner->Status();
    };
    const std::uint64_t first = runner->Status().Serial;
    runner->Load(source.Name, source.Text);
    const TStrategyStatus loaded = handled(first + 1);
    if (watcher.StopRequested())
        return 0;
    if (loaded.State != TStrategy::TState::Loaded) {
        err << "vorlen-console: --strategy: " << source.Name << ": " << loaded.Error << '\n';
        return kExitErrorBox;
    }
    std::vector<TParamOverride> overrides;
    for (const std::string& p : params) {
        overrides.emplace_back();
        SplitParamOverride(p, overrides.back());
    }
    TStrategyParams checked = loaded.Params;
    if (std::string error; !ApplyParamOverrides(checked, overrides, error)) {
        err << "vorlen-console: --param: " << error << '\n';
        return kExitUsage;
    }
    runner->SetParams(std::move(overrides));
    runner->Start();
    const TStrategyStatus started = handled(first + 3);
    if (!watcher.StopRequested() && started.State != TStrategy::TState::Running) {
        err << "vorlen-console: --strategy: " << source.Name << " did not start\n";
        return kExitErrorBox;
    }
    return 0;
#else
    (void)view;
    (void)source;
    (void)params;
    (void)watcher;
    err << "vorlen-console: --strategy: this build has no Lua strategies\n";
    return kExitErrorBox;
#endif
}

// A strategy started before both links are on-line would have its first orders refused for a
// reason that is only a matter of waiting; after a while it starts anyway and its refusals say
// why.
void WaitForTrading(TConsoleView& view, TConsoleDesk& desk, const TStopWatcher& watcher) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!watcher.StopRequested() && !(view.Online() && desk.Online()) &&
           std::chrono::steady_clock::now() < until)
        ui::WaitAndDrainFor([&] { return watcher.StopRequested(); }, std::chrono::milliseconds(50));
}

// The instruments of --book, looked up once the lists are built; kExitErrorBox with the reason on
// `err` for a code no list holds.
int FindBooks(TTerminalPort& port, const std::vector<std::string>& isins,
              std::vector<std::pair<std::string, std::int32_t>>& found, std::ostream& err) {
    THeaders fut, opt;
    TSHeaders spot;
    port.GetHeaders(fut, opt, spot);
    for (const std::string& isin : isins) {
        const auto id = FindInstrument(fut, opt, isin);
        if (!id) {
            err << "vorlen-console: --book: no futures or option with isin \"" << isin
                << "\" in the instrument lists\n"
                << std::flush;
            return kExitErrorBox;
        }
        found.emplace_back(isin, *id);
    }
    return 0;
}

// Orders and a kill switch the run was asked for and never got to: said in the journal (as the
// desk would say a refusal) and on standard error, so that the exit code is not the only trace.
void NotSent(const TConsoleOptions& options, const std::string& why, const char* whyInEnglish,
             TJournalSink& journal, std::ostream& err) {
    for (const std::string& line : options.Orders) {
        std::string error;
        if (const auto order = ParseOrderLine(line, error)) {
            journal.AppendLine(JournalLine("Заявка: " + orders::DescribeOrder(*order) + "."));
        }
        journal.AppendLine(JournalLine("Заявка не отправлена: " + why + "."));
    }
    if (options.CancelAll)
        journal.AppendLine(JournalLine("Снятие заявок не выполнено: " + why + "."));
    err << "vorlen-console: " << options.Orders.size() << " order(s)"
        << (options.CancelAll ? " and --cancel-all" : "") << " not sent: " << whyInEnglish << '\n'
        << std::flush;
}

// The router's ini file as the connector starts it: the installation folder (the router's,
// less "bin") and the ini file's name.
std::string RouterIniPath(const TConnectorSettings& s) {
    std::string dir = s.RoutPath;
    const std::string bin = std::string("bin") + platform::PathSeparator();
    if (const std::size_t at = dir.find(bin); at != std::string::npos)
        dir.erase(at, bin.size());
    return dir + s.RoutIniName;
}

// Market-data messages the terminal has taken, the exchange's heartbeats left out: a replay
// that has ended still sends those.
std::uint64_t MarketMessages(TConnectorPort& port) {
    const THealthFeed& feed = port.Connector().Health().Feed(THealthLink::MarketData);
    return feed.Data.load() - feed.Heartbeats.load();
}

// How a wait of the run ended.
enum class TAwaited { Reached, Stopped, Hopeless };

// Waits, serving the UI-call queue, until `reached`, a stop, or (with --until-online) the sure
// sign that nothing will come on-line: the market-data thread ends by itself only when its
// connection cannot be created (settings the gateway refuses); and, without a time limit, a
// router reported unreachable once no router this terminal started may still be on its way up.
TAwaited Await(TConsoleSession& s, const std::function<bool()>& reached) {
    const auto hopeless = [&]() -> const char* {
        if (!s.Options.UntilOnline || s.View.Online())
            return nullptr;
        const TCGConnection* md = s.Port->Connector().MarketData();
        if (md != nullptr && md->Finished())
            return "the market-data connection could not be created";
        const THealthSnapshot health = s.Port->Health();
        if (!s.Options.Seconds && health[THealthLink::MarketData].Unreachable &&
            !health.RouterStarting)
            return "the router does not answer";
        return nullptr;
    };
    const char* gaveUp = nullptr;
    ui::WaitAndDrainUntil([&] {
        gaveUp = hopeless();
        return s.Watcher.StopRequested() || gaveUp != nullptr || reached();
    });
    if (gaveUp != nullptr) {
        s.Err << "vorlen-console: --until-online: " << gaveUp << '\n' << std::flush;
        return TAwaited::Hopeless;
    }
    return s.Watcher.StopRequested() ? TAwaited::Stopped : TAwaited::Reached;
}

void Connect(TConsoleSession& s) {
    s.Controller.FormCreate();
    if (s.View.TimerArmed()) {
        // The window waits 50 ms for itself to be shown first; here there is nothing to show.
        s.Controller.Timer1Timer();
    }
    // From here on a second stop signal, which ends the process at once, still ends the router
    // this run started.
    if (s.Port != nullptr) {
        s.Watcher.SetRouter(platform::ProcessHandleValue(s.Port->Settings().ProcInfo));
        // A router started again after it ended is ended with the run, however the run ends.
        s.Port->Connector().SetOnRouterStarted(
            [w = &s.Watcher](std::uintptr_t router) { w->SetRouter(router); });
    }
    if (s.Dialogs.Errors() > 0 || s.Port == nullptr || !s.View.Controls().Connect1) {
        s.Code = kExitErrorBox;
        return;
    }
    if (!s.Options.Replay.empty()) {
        // A router that plays nothing the run asked for would only show its own market.
        s.Code =
            StartRouterReplay(s.Options, RouterIniPath(s.Port->Settings()), s.ReplayPort, s.Err);
        if (s.Code != 0)
            return;
    }
    s.Controller.Connect1Execute();
    if (s.Dialogs.Errors() > 0) {
        s.Code = kExitErrorBox;
    } else if (!s.Port->EnvOpen()) {
        // The window says nothing here and lets the user try again; a console has nobody to try
        // again, so it says why it ends.
        s.Err << "vorlen-console: the gateway environment did not open\n";
        s.Code = kExitNoEnvironment;
    } else {
        s.Connected = true;
    }
}

void OpenDesk(TConsoleSession& s) {
    if (!s.Plan.Limits)
        return;
    TCGConnector& conn = s.Port->Connector();
    if (conn.Transactions() && conn.Storage()) {
        s.Desk = std::make_unique<TConsoleDesk>(conn, std::move(*s.Plan.Limits), s.View.Journal(),
                                                s.Plan.DataDir);
        s.View.SetDesk(s.Desk.get());
    } else if (s.Plan.Ordering) {
        s.OrderCode = kExitOrderRefused;
        NotSent(s.Options, "нет соединения Трансакций", "no transaction connection",
                s.View.Journal(), s.Err);
    }
}

void SendOrders(TConsoleSession& s) {
    if (!s.Plan.Ordering || s.Desk == nullptr)
        return;
    // Orders only once every stream is on-line: the gate needs the account table, the positions
    // and the reference rows complete.
    ui::WaitAndDrainUntil([&] { return s.Watcher.StopRequested() || s.View.Online(); });
    if (s.View.Online()) {
        s.OrderCode = RunConsoleOrders(s.Options, *s.Desk, s.View.Journal(),
                                       [&] { return s.Watcher.StopRequested(); });
    } else {
        s.OrderCode = kExitOrderRefused;
        NotSent(s.Options, "терминал не вышел на связь, инструменты не получены",
                "the terminal never came on-line", s.View.Journal(), s.Err);
    }
}

// The expert and the books are asked for once the window would offer "New expert", that is, in
// the connected state.
void AwaitConnected(TConsoleSession& s) {
    if (s.Options.ExpertIsin.empty() && s.Options.BookIsins.empty())
        return;
    if (Await(s, [&] { return s.View.Controls().FileNew1Menu; }) != TAwaited::Reached)
        s.Over = true;
}

void LookUpBooks(TConsoleSession& s) {
    if (!s.Options.BookIsins.empty())
        s.Code = FindBooks(*s.Port, s.Options.BookIsins, s.Books, s.Err);
}

void OpenExpert(TConsoleSession& s) {
    if (s.Options.ExpertIsin.empty())
        return;
    s.Code = StartExpert(s.Controller, s.View, s.Options.ExpertIsin, s.Err);
    if (s.Code != 0 || s.Options.StrategyFile.empty())
        return;
    if (s.Desk != nullptr)
        WaitForTrading(s.View, *s.Desk, s.Watcher);
    s.Code = StartStrategy(s.View, s.Plan.Strategy, s.Options.StrategyParams, s.Watcher, s.Err);
}

// The run goes on until it is stopped (a signal or --seconds), with --until-online until it is
// on-line, with --until-end until the recording has been played.
void AwaitEnd(TConsoleSession& s) {
    if (s.Options.UntilEnd && s.ReplayPort) {
        // The router is asked now and then; nothing wakes this thread when it ends.
        TReplayEndWatch end(*s.ReplayPort);
        bool played = false;
        while (!played && !ui::WaitAndDrainFor([&] { return s.Watcher.StopRequested(); },
                                               std::chrono::milliseconds(200)))
            played = end.Ended(MarketMessages(*s.Port));
        if (!played)
            s.Over = true;
        return;
    }
    if (Await(s, [&] { return s.Options.UntilOnline && s.View.Online(); }) != TAwaited::Reached)
        s.Over = true;
}

void Verdict(TConsoleSession& s) {
    if (s.Watcher.Signal() != 0)
        s.Code = 128 + s.Watcher.Signal();
    else if (s.Code == 0 && s.Options.UntilOnline && !s.View.Online())
        s.Code = kExitNotOnline;
}

void Dump(TConsoleSession& s) {
    if (s.Plan.DumpDir.empty())
        return;
    TCGConnector& conn = s.Port->Connector();
    // The dump is one moment of the replica: the market-data thread ends first, so no table
    // changes between the first file and the last, the grids' last pass sees the rows dumped
    // beside them, and a recording ends where the dump does.
    if (TCGConnection* md = conn.MarketData()) {
        md->Terminate();
        md->WaitFor();
    }
    if (!conn.Storage())
        return;
    std::vector<TDumpFile> files = CollectReplicaDump(*conn.Storage(), s.View.GridTables(),
                                                      conn.OrdersFilter(), conn.MLOrdersFilter());
    if (s.Books.size() < s.Options.BookIsins.size() && s.Code == 0)
        s.Err << "vorlen-console: --book: the instrument lists were not built; no book is "
                 "written\n";
    for (const auto& [isin, id] : s.Books)
        for (TDumpFile& f : CollectBookDump(*conn.Books(), isin, id))
            files.push_back(std::move(f));
    if (!s.Options.OptionsIsin.empty()) {
        std::string why;
        std::vector<TDumpFile> board =
            CollectOptionsDump(*conn.Storage(), *conn.Books(), s.Options.OptionsIsin, why);
        if (!why.empty())
            s.Err << "vorlen-console: " << why << '\n';
        if (board.empty() && s.Code == 0)
            s.Code = kExitDumpFailed;
        for (TDumpFile& f : board)
            files.push_back(std::move(f));
    }
    if (std::string error; !WriteDump(PathFromUtf8(s.Plan.DumpDir), files, error)) {
        s.Err << "vorlen-console: " << error << '\n';
        if (s.Code == 0)
            s.Code = kExitDumpFailed;
    }
}

using enum TRunPhase::TWhen;
constexpr TRunPhase kConnectedRun[] = {
    {Going, Connect},        {Going, OpenDesk},    {Going, SendOrders},
    {Going, AwaitConnected}, {Going, LookUpBooks}, {Going, OpenExpert},
    {Going, AwaitEnd},       {Connected, Verdict}, {Connected, Dump},
};

} // namespace

std::span<const TRunPhase> ConnectedRunPhases() {
    return kConnectedRun;
}

void RunPhases(TConsoleSession& s, std::span<const TRunPhase> phases) {
    for (const TRunPhase& phase : phases) {
        const bool runs =
            phase.When == TRunPhase::TWhen::Going ? s.Code == 0 && !s.Over : s.Connected;
        if (runs)
            phase.Run(s);
    }
    if (s.Code == 0)
        s.Code = s.OrderCode;
}

} // namespace vorlen
