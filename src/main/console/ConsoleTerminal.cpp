#include "main/console/ConsoleTerminal.h"

#include "book/BookKeeper.h"
#include "connections/Connection.h"
#include "main/ConnectorPort.h"
#include "main/console/BookDump.h"
#include "main/console/ConsoleOrders.h"
#include "main/console/OptionsDump.h"
#include "main/console/RouterReplay.h"
#if VORLEN_HISTORY
#include "main/console/ConsoleCandles.h"
#include "main/console/ConsoleReplay.h"
#endif
#include "health/HealthMonitor.h"
#include "main/console/StopWatcher.h"
#include "main/console/StoreDump.h"
#include "platform/FormatSettings.h"
#include "platform/Module.h"
#include "platform/ProcessStart.h"
#include "platform/Registry.h"
#include "platform/Thread.h"
#include "platform/UserData.h"
#include "settings/SavedSettings.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#ifdef __linux__
#include <unistd.h>
#endif

namespace vorlen {

namespace {

constexpr std::string_view kOnlineLineEnd = " --> Инструменты добавлены.";

// Names of the threads of this process other than the calling one; nothing where that cannot
// be told.
std::optional<std::vector<std::string>> OtherThreads() {
#ifdef __linux__
    std::vector<std::string> names;
    const std::string self = std::to_string(gettid());
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (it->path().filename() == self) {
            continue;
        }
        std::ifstream comm(it->path() / "comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    if (ec) {
        return std::nullopt;
    }
    return names;
#else
    return std::nullopt;
#endif
}

std::string Absolute(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    std::error_code ec;
    const std::filesystem::path abs = std::filesystem::absolute(PathFromUtf8(path), ec);
    return ec ? path : PathToUtf8(abs);
}

// --history, else "history" in a data folder the user named, else in the user's own data folder,
// where the desktop terminal records too.
std::filesystem::path HistoryDirFor(const TConsoleOptions& options,
                                    const std::filesystem::path& dataDir) {
    if (!options.HistoryDir.empty())
        return PathFromUtf8(Absolute(options.HistoryDir));
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any thread of ours starts.
    const char* named = std::getenv("VORLEN_DATA_DIR");
    if (!options.DataDir.empty() || (named != nullptr && *named != '\0'))
        return dataDir / "history";
    const std::filesystem::path user = platform::UserDataDir();
    return user.empty() ? dataDir / "history" : user / "history";
}

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

// The strategy's script, read before connecting so that a wrong path ends the run at once.
struct TStrategySource {
    std::string Name; // the file's name, as the expert's journal calls the strategy
    std::string Text;
};

bool ReadStrategy(const std::string& path, TStrategySource& out, std::ostream& err) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    if (!in || in.bad()) {
        err << "vorlen-console: --strategy: cannot read \"" << path << "\"\n" << std::flush;
        return false;
    }
    out.Name = PathToUtf8(PathFromUtf8(path).filename());
    out.Text = text.str();
    return true;
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

} // namespace

void TConsoleJournal::AppendLine(const std::string& line) {
    FOut << line << '\n' << std::flush;
    if (line.size() >= kOnlineLineEnd.size() &&
        line.compare(line.size() - kOnlineLineEnd.size(), kOnlineLineEnd.size(), kOnlineLineEnd) ==
            0) {
        FOnline = true;
    }
}

void TConsoleDialogs::ShowError(const std::string& text) {
    ++FErrors;
    FErr << kErrorCaption << ": " << text << '\n' << std::flush;
}

void TConsoleDialogs::ShowInfo(const std::string& text) {
    FErr << kInfoCaption << ": " << text << '\n' << std::flush;
}

bool TConsoleDialogs::AskConfirm(const std::string& text) {
    FErr << kConfirmCaption << ": " << text << " OK\n" << std::flush;
    return true;
}

TConsoleView::TConsoleView(std::ostream& out, std::unique_ptr<TSettingsModel> settings,
                           std::string expertIsin)
    : FJournal(out), FSettings(std::move(settings)), FExpertIsin(std::move(expertIsin)) {}

bool TConsoleView::RunChooser(TChooser& chooser) {
    if (FExpertIsin.empty())
        return false;
    if (!ChooseFuturesByIsin(chooser, FExpertIsin)) {
        FExpertUnknown = true;
        return false;
    }
    return true;
}

std::vector<TExpertWindowPort*> TConsoleView::ExpertWindows() {
    std::vector<TExpertWindowPort*> windows;
    for (const auto& w : FWindows)
        windows.push_back(w.get());
    return windows;
}

TExpertWindowPort* TConsoleView::OpenExpertWindow(const std::string& caption) {
    TCGStorage* store = FPort != nullptr ? FPort->Store() : nullptr;
    TCGTRConnection* transactions = FPort != nullptr ? FPort->Transactions() : nullptr;
    FWindows.push_back(
        std::make_unique<TConsoleExpertWindow>(caption, FJournal, store, transactions, FDesk));
    return FWindows.back().get();
}

int RunConsole(const TConsoleOptions& options, std::ostream& out, std::ostream& err) {
    using TClock = std::chrono::steady_clock;
    std::optional<TClock::time_point> deadline;
    if (options.Seconds) {
        deadline = TClock::now() + std::chrono::seconds(*options.Seconds);
    }
    // Loading the gateway makes its folder the current directory, so paths given relative to
    // where the console was started are fixed now.
    const std::string dumpDir = Absolute(options.DumpDir);
    const std::string settingsFile = Absolute(options.SettingsFile);
#if !VORLEN_HISTORY
    if (options.Record || !options.ReplayFile.empty() || !options.CandlesIsin.empty() ||
        options.RebuildHistory) {
        err << "vorlen-console: "
            << (options.Record                 ? "--record"
                : !options.CandlesIsin.empty() ? "--candles"
                : options.RebuildHistory       ? "--rebuild-history"
                                               : "--replay-file")
            << ": this build has no recordings\n"
            << std::flush;
        return kExitUsage;
    }
#endif
    TStrategySource strategy;
    if (!options.StrategyFile.empty() && !ReadStrategy(options.StrategyFile, strategy, err))
        return kExitErrorBox;
    const std::filesystem::path dataDir =
        !options.DataDir.empty()
            ? PathFromUtf8(Absolute(options.DataDir))
            : TradingDataDir(!settingsFile.empty()
                                 ? PathFromUtf8(settingsFile).parent_path()
                                 : PathFromUtf8(platform::ExecutableDir()) / "saving");
    const std::filesystem::path historyDir = HistoryDirFor(options, dataDir);
#if VORLEN_HISTORY
    if (!options.CandlesIsin.empty())
        return RunCandles(options, historyDir, err);
    if (options.RebuildHistory)
        return RunRebuildHistory(historyDir, err);
#endif
    // Read before connecting: a damaged file ends the run before any router is started.
    const bool ordering = !options.Orders.empty() || options.CancelAll;
    std::optional<orders::TLimitsBook> limits;
    if (ordering || !options.StrategyFile.empty()) {
        limits.emplace();
        if (!LoadRiskLimits(options, dataDir, *limits, err))
            return kExitUsage;
    }

#ifndef _WIN32
    // The installation is read from this file; one that is not a plain file of sane size would
    // hang the run or fill its memory long before any message could say why. Nothing in this
    // program writes the environment, so getenv has no writer to race.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    if (const char* reg = std::getenv("VORLEN_REGISTRY"); reg != nullptr && *reg != '\0') {
        if (const std::string problem = platform::RegistryFileProblem(reg); !problem.empty()) {
            err << "vorlen-console: VORLEN_REGISTRY: " << problem << '\n' << std::flush;
            return kExitErrorBox;
        }
    }
#endif

    // The console keeps the Russian formats whatever the environment's locale says: the journal
    // reads the same on every machine.
    SetFormatSettings(RussianFormatSettings());

    auto settings = std::make_unique<TSettingsModel>();
    if (!settingsFile.empty()) {
        const TLoadResult loaded = settings->Load(PathFromUtf8(settingsFile));
        if (loaded.Status != TLoadStatus::Loaded) {
            const std::string text = !loaded.Message.empty()
                                         ? loaded.Message
                                         : settingsFile + ": not a saved-settings file";
            err << (loaded.Kind == TMessageKind::Info ? kInfoCaption : kErrorCaption) << ": "
                << text << '\n';
            return kExitErrorBox;
        }
    }

#if VORLEN_HISTORY
    if (!options.ReplayFile.empty())
        return RunReplay(options, settings->Values, dumpDir, err);
#endif

    auto watcher = std::make_unique<TStopWatcher>(deadline);
    // Threads that are not ours are not counted at the end: a thread sanitizer, for one, starts a
    // thread of its own along with the first thread of the program, which the watcher is.
    std::optional<std::size_t> threadsBefore;
    if (const auto names = OtherThreads(); names && !names->empty()) {
        threadsBefore = names->size() - 1;
    }
    ui::MarkUiThread();
    TConsoleDialogs dialogs(err);
    TScopedDialogs scopedDialogs(dialogs);
    // Outlives the view: the expert's strategy orders through it until the window goes.
    std::unique_ptr<TConsoleDesk> desk;
    TConsoleView view(out, std::move(settings), options.ExpertIsin);
    TConnectorPort* port = nullptr;
    // Recording is off unless asked for: the market-data thread then pays one pointer test per
    // message.
    const TPortFactory makePort = ConnectorPortFactory(
        DefaultConnectorServices(), dataDir, options.Record ? historyDir : std::filesystem::path());
    TMainController controller(
        view,
        [&port, &makePort, &view](TJournalSink& memo,
                                  const std::array<TGridSink*, kGridCount>& grids) {
            std::unique_ptr<TTerminalPort> created = makePort(memo, grids);
            port = static_cast<TConnectorPort*>(created.get());
            port->LeaveDeskToCaller();
            view.SetPort(port);
            return created;
        },
        platform::ExecutableDir());

    int code = 0;
    controller.FormCreate();
    if (view.TimerArmed()) {
        // The window waits 50 ms for itself to be shown first; here there is nothing to show.
        controller.Timer1Timer();
    }
    // From here on a second stop signal, which ends the process at once, still ends the router
    // this run started.
    if (port != nullptr) {
        watcher->SetRouter(platform::ProcessHandleValue(port->Settings().ProcInfo));
    }
    std::optional<std::uint16_t> replayPort;
    if (dialogs.Errors() > 0 || port == nullptr || !view.Controls().Connect1) {
        code = kExitErrorBox;
    } else if (!options.Replay.empty() &&
               (code = StartRouterReplay(options, RouterIniPath(port->Settings()), replayPort,
                                         err)) != 0) {
        // The router plays nothing the run asked for: connecting would only show its own market.
    } else {
        controller.Connect1Execute();
        if (dialogs.Errors() > 0) {
            code = kExitErrorBox;
        } else if (!port->EnvOpen()) {
            // The window says nothing here and lets the user try again; a console has nobody
            // to try again, so it says why it ends.
            err << "vorlen-console: the gateway environment did not open\n";
            code = kExitNoEnvironment;
        }
    }

    int orderCode = 0;
    if (code == 0 && limits) {
        TCGConnector& conn = port->Connector();
        if (conn.Transactions() && conn.Storage()) {
            desk =
                std::make_unique<TConsoleDesk>(conn, std::move(*limits), view.Journal(), dataDir);
            view.SetDesk(desk.get());
        } else if (ordering) {
            orderCode = kExitOrderRefused;
            NotSent(options, "нет соединения Трансакций", "no transaction connection",
                    view.Journal(), err);
        }
    }
    if (code == 0 && ordering && desk != nullptr) {
        // Orders only once every stream is on-line: the gate needs the account table, the
        // positions and the reference rows complete.
        ui::WaitAndDrainUntil([&] { return watcher->StopRequested() || view.Online(); });
        if (view.Online()) {
            orderCode = RunConsoleOrders(options, *desk, view.Journal(),
                                         [&] { return watcher->StopRequested(); });
        } else {
            orderCode = kExitOrderRefused;
            NotSent(options, "терминал не вышел на связь, инструменты не получены",
                    "the terminal never came on-line", view.Journal(), err);
        }
    }

    std::vector<std::pair<std::string, std::int32_t>> books; // --book, once found
    if (code == 0) {
        // The expert is asked for once the window would offer "New expert", that is, in the
        // connected state; --until-online then waits for it to have started.
        bool expertPending = !options.ExpertIsin.empty();
        bool booksPending = !options.BookIsins.empty();
        const auto connected = [&] { return view.Controls().FileNew1Menu; };
        // The market-data thread ends by itself only when its connection cannot be created
        // (settings the gateway refuses): nothing will ever come on-line then.
        const auto hopeless = [&] {
            const TCGConnection* md = port->Connector().MarketData();
            return md != nullptr && md->Finished() && !view.Online();
        };
        bool gaveUp = false;
        bool played = false;
        std::optional<TReplayEndWatch> replayEnd;
        if (options.UntilEnd && replayPort)
            replayEnd.emplace(*replayPort);
        for (;;) {
            const auto due = [&] {
                gaveUp = options.UntilOnline && hopeless();
                return watcher->StopRequested() || gaveUp || played ||
                       ((expertPending || booksPending) && connected()) ||
                       (!expertPending && !booksPending && options.UntilOnline && view.Online());
            };
            if (!replayEnd) {
                ui::WaitAndDrainUntil(due);
            } else {
                // The router is asked now and then; nothing wakes this thread when it ends.
                while (!ui::WaitAndDrainFor(due, std::chrono::milliseconds(200)))
                    played =
                        !expertPending && !booksPending && replayEnd->Ended(MarketMessages(*port));
            }
            if (played)
                break;
            if (gaveUp) {
                err << "vorlen-console: --until-online: the market-data connection could not be "
                       "created\n"
                    << std::flush;
                break;
            }
            if (watcher->StopRequested())
                break;
            if (booksPending) {
                booksPending = false;
                code = FindBooks(*port, options.BookIsins, books, err);
                if (code != 0)
                    break;
                continue;
            }
            if (!expertPending)
                break;
            expertPending = false;
            code = StartExpert(controller, view, options.ExpertIsin, err);
            if (code == 0 && !options.StrategyFile.empty()) {
                if (desk != nullptr)
                    WaitForTrading(view, *desk, *watcher);
                code = StartStrategy(view, strategy, options.StrategyParams, *watcher, err);
            }
            if (code != 0)
                break;
        }
        if (watcher->Signal() != 0) {
            code = 128 + watcher->Signal();
        } else if (code == 0 && options.UntilOnline && !view.Online()) {
            code = kExitNotOnline;
        }
        if (!dumpDir.empty() && port != nullptr) {
            // The dump is one moment of the replica: the market-data thread ends first, so no
            // table changes between the first file and the last, the grids' last pass sees the
            // rows dumped beside them, and a recording ends where the dump does.
            if (TCGConnection* md = port->Connector().MarketData()) {
                md->Terminate();
                md->WaitFor();
            }
        }
        if (!dumpDir.empty() && port != nullptr && port->Connector().Storage()) {
            std::string error;
            const TCGConnector& conn = port->Connector();
            std::vector<TDumpFile> files = CollectReplicaDump(
                *conn.Storage(), view.GridTables(), conn.OrdersFilter(), conn.MLOrdersFilter());
            if (books.size() < options.BookIsins.size() && code == 0)
                err << "vorlen-console: --book: the instrument lists were not built; no book "
                       "is written\n";
            for (const auto& [isin, id] : books)
                for (TDumpFile& f : CollectBookDump(*port->Connector().Books(), isin, id))
                    files.push_back(std::move(f));
            if (!options.OptionsIsin.empty()) {
                std::string why;
                std::vector<TDumpFile> board =
                    CollectOptionsDump(*port->Connector().Storage(), *port->Connector().Books(),
                                       options.OptionsIsin, why);
                if (!why.empty())
                    err << "vorlen-console: " << why << '\n';
                if (board.empty() && code == 0)
                    code = kExitDumpFailed;
                for (TDumpFile& f : board)
                    files.push_back(std::move(f));
            }
            if (!WriteDump(PathFromUtf8(dumpDir), files, error)) {
                err << "vorlen-console: " << error << '\n';
                if (code == 0) {
                    code = kExitDumpFailed;
                }
            }
        }
    }

    if (code == 0) {
        code = orderCode;
    }

    const auto stopStart = TClock::now();
    // The shutdown order ends the transaction connection first; a strategy's on_stop must
    // reach the exchange before that.
    for (const auto& window : view.ExpertWindowList())
        window->StopStrategy();
    controller.FormClose();
    // The connector has ended the router and given its handle back.
    watcher->SetRouter(0);
    const auto stopMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - stopStart).count();
    ui::UnmarkUiThread();
    watcher.reset();
    err << "vorlen-console: shut down in " << stopMs << " ms";
    if (const auto others = OtherThreads(); others && threadsBefore) {
        const std::size_t before = *threadsBefore;
        const std::size_t left = others->size() > before ? others->size() - before : 0;
        err << ", threads left: " << left;
        if (left > 0) {
            err << " (";
            for (std::size_t i = 0; i < others->size(); ++i) {
                err << (i == 0 ? "" : ", ") << (*others)[i];
            }
            err << ")";
        }
    }
    err << '\n' << std::flush;
    return code;
}

} // namespace vorlen
