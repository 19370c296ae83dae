#include "main/console/ConsoleTerminal.h"

#include "main/ConnectorPort.h"
#include "main/TradingFolder.h"
#include "main/console/ConsoleRun.h"
#if VORLEN_HISTORY
#include "main/console/ConsoleCandles.h"
#include "main/console/ConsoleReplay.h"
#endif
#if VORLEN_BACKTEST
#include "main/console/ConsoleBacktest.h"
#endif
#include "main/console/StopWatcher.h"
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

namespace {

// Everything before connecting: the paths, the strategy's script, the limits and the saved
// settings are read now, so that a wrong path or a damaged file ends the run before any router
// is started; the runs that need no connection end here too. An exit code ends the run.
std::optional<int> PlanRun(const TConsoleOptions& options, TRunPlan& plan,
                           std::unique_ptr<TSettingsModel>& settings, std::ostream& out,
                           std::ostream& err) {
    // Loading the gateway makes its folder the current directory, so paths given relative to
    // where the console was started are fixed now.
    plan.DumpDir = Absolute(options.DumpDir);
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
    if (!options.StrategyFile.empty() && !ReadStrategy(options.StrategyFile, plan.Strategy, err))
        return kExitErrorBox;
    // Where the limits file and the order logs were kept before they moved to the user's folder.
    const std::filesystem::path oldDataDir =
        !settingsFile.empty() ? PathFromUtf8(settingsFile).parent_path()
                              : PathFromUtf8(platform::ExecutableDir()) / "saving";
    bool chosenDataDir = !options.DataDir.empty();
    plan.DataDir = chosenDataDir
                       ? PathFromUtf8(Absolute(options.DataDir))
                       : TraderDataDir(platform::UserDataDir(), oldDataDir, chosenDataDir);
    plan.HistoryDir = HistoryDirFor(options, plan.DataDir);
#if VORLEN_HISTORY
    if (!options.CandlesIsin.empty())
        return RunCandles(options, plan.HistoryDir, err);
    if (options.RebuildHistory)
        return RunRebuildHistory(plan.HistoryDir, err);
#endif
    if (!chosenDataDir) {
        SetFormatSettings(RussianFormatSettings());
        const TAdoption adopted = AdoptOldTradingFiles(oldDataDir, plan.DataDir);
        for (const std::string& text : adopted.Texts)
            out << JournalLine(text) << '\n' << std::flush;
        if (adopted.Failed)
            plan.DataDir = oldDataDir;
    }
    plan.Ordering = !options.Orders.empty() || options.CancelAll;
    if (plan.Ordering || !options.StrategyFile.empty()) {
        plan.Limits.emplace();
        if (!LoadRiskLimits(options, plan.DataDir, *plan.Limits, err))
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

    settings = std::make_unique<TSettingsModel>();
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
        return RunReplay(options, settings->Values, plan.DumpDir, err);
#endif
#if VORLEN_BACKTEST
    if (!options.BacktestPath.empty())
        return RunBacktestCommand(options, settings->Values, settings->TrSpeed(), plan.DataDir,
                                  Absolute(options.ReportDir), out, err);
#else
    if (!options.BacktestPath.empty()) {
        err << "vorlen-console: --backtest: this build has no backtests\n" << std::flush;
        return kExitUsage;
    }
#endif
    return std::nullopt;
}

// "shut down in N ms", and the threads of ours still there, if any.
void ReportShutdown(std::chrono::milliseconds took, std::optional<std::size_t> threadsBefore,
                    std::ostream& err) {
    err << "vorlen-console: shut down in " << took.count() << " ms";
    if (const auto others = OtherThreads(); others && threadsBefore) {
        const std::size_t left =
            others->size() > *threadsBefore ? others->size() - *threadsBefore : 0;
        err << ", threads left: " << left;
        if (left > 0) {
            err << " (";
            for (std::size_t i = 0; i < others->size(); ++i)
                err << (i == 0 ? "" : ", ") << (*others)[i];
            err << ")";
        }
    }
    err << '\n' << std::flush;
}

} // namespace

int RunConsole(const TConsoleOptions& options, std::ostream& out, std::ostream& err) {
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (options.Seconds)
        deadline = std::chrono::steady_clock::now() + std::chrono::seconds(*options.Seconds);
    TRunPlan plan;
    std::unique_ptr<TSettingsModel> settings;
    if (const std::optional<int> ended = PlanRun(options, plan, settings, out, err))
        return *ended;

    auto watcher = std::make_unique<TStopWatcher>(deadline);
    // Threads that are not ours are not counted at the end: a thread sanitizer, for one, starts a
    // thread of its own along with the first thread of the program, which the watcher is.
    std::optional<std::size_t> threadsBefore;
    if (const auto names = OtherThreads(); names && !names->empty())
        threadsBefore = names->size() - 1;
    ui::MarkUiThread();
    TConsoleDialogs dialogs(err);
    TScopedDialogs scopedDialogs(dialogs);
    std::unique_ptr<TConsoleDesk> desk; // outlives the view, as the session says
    TConsoleView view(out, std::move(settings), options.ExpertIsin);
    TConnectorPort* port = nullptr;
    // Recording is off unless asked for: the market-data thread then pays one pointer test per
    // message.
    const TPortFactory makePort =
        ConnectorPortFactory(DefaultConnectorServices(), plan.DataDir,
                             options.Record ? plan.HistoryDir : std::filesystem::path());
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

    TConsoleSession session{options, plan, err, *watcher, dialogs, view, controller, desk, port};
    RunPhases(session, ConnectedRunPhases());

    const auto stopStart = std::chrono::steady_clock::now();
    // The shutdown order ends the transaction connection first; a strategy's on_stop must
    // reach the exchange before that.
    for (const auto& window : view.ExpertWindowList())
        window->StopStrategy();
    controller.FormClose();
    // The connector has ended the router and given its handle back.
    watcher->SetRouter(0);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - stopStart);
    ui::UnmarkUiThread();
    watcher.reset();
    ReportShutdown(took, threadsBefore, err);
    return session.Code;
}

} // namespace vorlen
