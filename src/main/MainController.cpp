#include "main/MainController.h"

#include "main/ApplySettings.h"
#include "main/Dialogs.h"
#include "orders/OrderDesk.h"
#include "platform/FormatSettings.h"
#include "platform/Module.h"
#include "platform/Thread.h"

#include <chrono>
#include <exception>
#include <utility>

namespace vorlen {

namespace {
// While there is no connector the menus still move their check marks, and set nothing.
std::unique_ptr<TOrderMenus> NoOrderMenus() {
    return std::make_unique<TOrderMenus>(nullptr, nullptr);
}
} // namespace

std::string ExpertExistsText(std::string_view caption) {
    return "Инструмент " + std::string(caption) + " уже создан!";
}

std::string ShortHint(std::string_view hint) {
    return std::string(hint.substr(0, hint.find('|')));
}

std::string LongHint(std::string_view hint) {
    const std::size_t bar = hint.find('|');
    return std::string(bar == std::string_view::npos ? hint : hint.substr(bar + 1));
}

TMainController::TMainController(TMainView& view, TPortFactory factory, std::string appPath)
    : FView(view), FFactory(std::move(factory)), FAppPath(std::move(appPath)),
      FMenus(NoOrderMenus()) {}

TMainController::~TMainController() {
    FormClose();
}

bool TMainController::IsSet() {
    return FPort != nullptr && FPort->Settings().isSet;
}

void TMainController::FormCreate() {
    FView.ClearJournal();
    FView.SetupGrids();
    try {
        if (FFactory)
            FPort = FFactory(FView.Journal(), FView.Grids());
    } catch (const std::exception&) {
        // A connector that cannot build its threads leaves the terminal with nothing to run;
        // the user is told so below and may only close the window.
        FPort.reset();
    }
    Show();
    if (FPort == nullptr) {
        ShowError(std::string(kNoConnectorText));
        return;
    }
    FMenus = std::make_unique<TOrderMenus>(
        [this](std::int32_t filter) {
            if (FPort)
                FPort->SetOrdersFilter(filter);
        },
        [this](std::int32_t filter) {
            if (FPort)
                FPort->SetMLOrdersFilter(filter);
        },
        [this](int grid) {
            if (FPort)
                FPort->RefreshGrid(grid);
        });
    FPort->SetHealthHandler([this] { HealthChanged(); });
    // The desk may call this from any thread that trades; the expert windows live on this one.
    FPort->SetStopStrategies([this] { TThread::Synchronize([this] { FView.StopStrategies(); }); });
    FView.ArmTimer();
}

void TMainController::Timer1Timer() {
    FView.DisarmTimer();
    if (FPort == nullptr || IsSet())
        return;
    if (!ApplySettings()) {
        FView.Journal().AppendLine(JournalLine(std::string(kSettingsNotAppliedLine)));
        ShowInfo(std::string(kSettingsNotAppliedText));
        return;
    }

    TConnectorSettings& s = FPort->Settings();
    // A router found or started by an earlier run of the sequence is still there; starting a
    // second process would leave the first one running unowned.
    if (!s.RoutLoad) {
        if (!FPort->LoadRouter(s.RoutPath + s.RoutName, s.RegKey, s.RegRecord, s.RoutIniName,
                               s.Host, s.ServName)) {
            ShowError(std::string(kRouterNotLoadedText));
            return;
        }
        s.RoutLoad = true;
    }
    s.CGDllHandle = FPort->LoadGateway(s.RoutPath + s.CGDLLName);
    // Stricter by one than the handle rule itself: a library at exactly 32 counts as not loaded.
    if (s.CGDllHandle <= platform::kFirstHandle) {
        // A library loaded by an earlier sequence has been replaced by this failed one, so
        // nothing may call into the gateway any more.
        FControls.Conndis1 = false;
        FControls.Connect1 = false;
        Show();
        ShowError(std::string(kLibraryNotLoadedText));
        return;
    }
    FControls.Conndis1 = true;
    FControls.Connect1 = true;
    Show();
}

void TMainController::Settings1Execute() {
    if (FPort == nullptr || FPort->EnvOpen())
        return;
    if (!IsSet()) {
        FView.ArmTimer();
        return;
    }
    FPort->Settings().isSet = false;
    ApplySettings();
}

bool TMainController::ApplySettings() {
    if (FPort == nullptr)
        return false;
    std::unique_ptr<TSettingsModel> dialog = FView.RunSettingsDialog();
    if (dialog == nullptr)
        return false;
    TTerminalPort& port = *FPort;
    TApplyTargets targets;
    targets.Settings = &port.Settings();
    targets.RouterPath = [&port](const std::string& key, const std::string& record) {
        return port.RouterPath(key, record);
    };
    targets.Listeners = port.Listeners();
    targets.SetStreams = [&port](const std::vector<std::string>& names) { port.SetStreams(names); };
    targets.SetCLTFut = [&port](bool on) { port.SetCLTFut(on); };
    return ApplyDialogValues(*dialog, FAppPath, targets);
}

void TMainController::Connect1Execute() {
    if (FPort == nullptr) {
        ShowError(std::string(kConnectorMissingText));
        return;
    }
    // The connect command needs a loaded gateway; the window only offers it then, but a
    // shortcut or a stale click must not call into an empty entry table.
    const TConnectorSettings& s = FPort->Settings();
    if (s.CGDllHandle <= platform::kFirstHandle)
        return;
    if (FPort->EnvOpen()) {
        // After a disconnection the environment is still open and accepted: connecting again
        // only starts the connections.
        if (FEnvAccepted && !FRunning)
            StartConnections();
        return;
    }

    const TEnvOpenResult opened = FPort->OpenEnvironment();
    if (opened == TEnvOpenResult::NotOpened)
        return;
    FPort->SetEnvOpen(true);
    if (opened == TEnvOpenResult::VersionUnknown) {
        ShowError(std::string(kVersionUnknownText));
        return;
    }
    if (opened == TEnvOpenResult::VersionTooOld) {
        ShowError(std::string(kVersionTooOldText));
        return;
    }

    FEnvAccepted = true;
    StartConnections();
}

void TMainController::StartConnections() {
    const TConnectorSettings& s = FPort->Settings();
    FControls.Settings1 = false;
    Show();
    std::optional<std::string> schemVer;
    if (s.UseScheme)
        schemVer = s.Version;
    FPort->StartTransactions(s.TrSpeed, schemVer);
    FPort->StartMarketData([this] { InitialDataComplete(); });
    FRunning = true;
    FView.ConnectionsRunning(true);
    // A router that never answers keeps the connections trying for ever: the trader must be
    // able to stop them before they ever get there.
    FControls.Disconnect1 = true;
    Show();
}

void TMainController::Disconnect1Execute() {
    if (FPort != nullptr && FRunning)
        Disconnect();
    else
        Connect1Execute();
}

void TMainController::Conndis1Execute() {
    Disconnect1Execute();
}

void TMainController::Disconnect() {
    // The environment, the store and its rows, the grids and the experts all stay: the trader
    // keeps the last figures, marked stale, until Connect brings fresh ones.
    FPort->StopConnections();
    FRunning = false;
    FView.ConnectionsRunning(false);
    FRefill = true;
    FControls.Conndis1 = true;
    FControls.Conndis1Image = kConndisImage;
    FControls.Connect1 = true;
    FControls.Disconnect1 = false;
    FControls.FileNew1Button = false;
    FControls.FileNew1Menu = false;
    FControls.FilesNew1Button = false;
    FControls.FilesNew1Menu = false;
    FControls.Trading = false;
    Show();
}

namespace {

std::string AgeText(std::int64_t ms) {
    const std::int64_t s = ms / 1000;
    if (s < 60)
        return std::to_string(s) + " с";
    if (s < 3600)
        return std::to_string(s / 60) + " мин";
    return std::to_string(s / 3600) + " ч";
}

TLinkIndicator Indicator(std::string_view name, const TLinkStatus& h,
                         const std::string& routerProblem) {
    TLinkIndicator i;
    i.State = h.State;
    i.Text = std::string(name) + ": " + std::string(HealthStateName(h.State));
    if (h.DataAgeMs >= 0)
        i.Text += ", данные " + AgeText(h.DataAgeMs) + " назад";
    if (!routerProblem.empty() && h.State != THealthState::Online) {
        i.Text += "; " + routerProblem;
        i.Alarm = true;
    }
    return i;
}

} // namespace

THealthView TMainController::HealthView() const {
    const THealthSnapshot s = FPort != nullptr ? FPort->Health() : THealthSnapshot{};
    THealthView v;
    const TLinkStatus& md = s[THealthLink::MarketData];
    v.MarketData = Indicator("Маркет-дата", md, s.RouterProblem);
    v.Transactions = Indicator("Трансакции", s[THealthLink::Transactions], s.RouterProblem);
    // Grids and experts show market data; before any arrived there is nothing to mistake.
    v.Stale = md.State != THealthState::Online && md.DataAgeMs >= 0;
    if (v.Stale) {
        const auto at = std::chrono::system_clock::now() - std::chrono::milliseconds(md.DataAgeMs);
        v.StaleText = "Данные не обновляются (" + std::string(HealthStateName(md.State)) +
                      "). Последние данные в " + FormatClockTime(at);
    }
    return v;
}

void TMainController::HealthChanged() {
    const THealthView v = HealthView();
    FView.ShowHealth(v);
    for (TExpertWindowPort* window : FView.ExpertWindows())
        window->ShowStale(v.Stale, v.StaleText);
}

void TMainController::InitialDataComplete() {
    if (FRefill && FPort != nullptr) {
        // The rows came back under the same replication ids; the grids are drawn from them anew
        // rather than waiting for the next new row.
        FRefill = false;
        FPort->RefreshGrids();
    }
    FControls.Conndis1Image = kConndisConnectedImage;
    FControls.FileNew1Button = true;
    FControls.FilesNew1Button = true;
    FControls.Connect1 = false;
    FControls.Disconnect1 = true;
    FControls.FileNew1Menu = true;
    FControls.FilesNew1Menu = true;
    FControls.Trading = true;
    Show();
}

void TMainController::KillSwitchExecute() {
    orders::TOrderDesk* desk = FPort != nullptr ? FPort->OrderDesk() : nullptr;
    if (desk == nullptr) {
        FView.Journal().AppendLine(
            JournalLine(std::string(kNoDeskLine) + " Снять заявки нельзя до подключения."));
        return;
    }
    if (!AskConfirm(std::string(kKillSwitchQuestion)))
        return;
    desk->KillSwitch();
}

void TMainController::RearmExecute() {
    orders::TOrderDesk* desk = FPort != nullptr ? FPort->OrderDesk() : nullptr;
    if (desk == nullptr || !AskConfirm(std::string(kRearmQuestion)))
        return;
    desk->Rearm(true);
}

void TMainController::StopAllExpertsExecute() {
    FView.StopStrategies();
    FView.Journal().AppendLine(JournalLine("Стратегии всех экспертов остановлены."));
}

void TMainController::OrdersTick() {
    if (orders::TOrderDesk* desk = FPort != nullptr ? FPort->OrderDesk() : nullptr)
        desk->Collect();
}

void TMainController::FileNew1Execute() {
    FControls.FilesNew1Button = false;
    FControls.FilesNew1Menu = false;
    FControls.StopAllButton = true;
    Show();
    if (FPort == nullptr || !FPort->GetHeaders(FutHeaders, OptHeaders, SpotHeaders))
        return;

    TChooser chooser(FutHeaders, OptHeaders, SpotHeaders);
    chooser.Preselect(static_cast<int>(FView.ExpertWindows().size()));
    if (!FView.RunChooser(chooser))
        return;
    if (chooser.FutBox.Items.empty() && chooser.OptBox.Items.empty()) {
        ShowError(std::string(kNoInstrumentText));
        return;
    }

    const std::string caption = ExpertCaption(chooser.Fisin, chooser.Sname, chooser.Fisin_id);
    for (TExpertWindowPort* window : FView.ExpertWindows()) {
        if (window->Caption() == caption) {
            ShowInfo(ExpertExistsText(caption));
            return;
        }
    }
    TExpertWindowPort* window = FView.OpenExpertWindow(caption);
    if (window == nullptr)
        return;
    window->SetupExpert(chooser.Fisin_id, chooser.FName, chooser.Fisin);
    window->RegisterAndStart();
    if (const THealthView v = HealthView(); v.Stale)
        window->ShowStale(true, v.StaleText);
}

std::optional<std::pair<std::int32_t, std::string>> TMainController::ChooseFutures() {
    if (FPort == nullptr || !FPort->GetHeaders(FutHeaders, OptHeaders, SpotHeaders))
        return std::nullopt;
    TChooser chooser(FutHeaders, OptHeaders, SpotHeaders);
    chooser.Preselect(0);
    if (!FView.RunChooser(chooser))
        return std::nullopt;
    if (chooser.FutBox.Items.empty()) {
        ShowError(std::string(kNoInstrumentText));
        return std::nullopt;
    }
    return std::make_pair(chooser.Fisin_id, chooser.Fisin);
}

void TMainController::BookNewExecute() {
    if (const auto futures = ChooseFutures())
        FView.OpenBookWindow(futures->first, futures->second);
}

void TMainController::ChartNewExecute() {
    if (const auto futures = ChooseFutures())
        FView.OpenChartWindow(futures->first, futures->second);
}

void TMainController::FilesNew1Execute() {
    FControls.StopAllButton = true;
    Show();
}

std::string ExitQuestionText(std::size_t strategies, std::size_t activeOrders) {
    std::string text;
    if (strategies > 0)
        text += "Работает стратегий: " + std::to_string(strategies) +
                " (при выходе будут остановлены).\n";
    if (activeOrders > 0)
        text += "Активных заявок: " + std::to_string(activeOrders) +
                " (останутся в торговой системе).\n";
    return text + std::string(kExitQuestionText);
}

bool TMainController::FormCloseQuery() {
    std::size_t strategies = 0;
    for (const TExpertWindowPort* window : FView.ExpertWindows())
        strategies += window->StrategyRunning() ? 1 : 0;
    orders::TOrderDesk* desk = FPort != nullptr ? FPort->OrderDesk() : nullptr;
    const std::size_t active = desk != nullptr ? desk->ActiveOrders().size() : 0;
    return AskConfirm(ExitQuestionText(strategies, active));
}

void TMainController::FormClose() {
    // Everything that reads the store stops before the store goes, and the connector, with the
    // gateway environment and library, goes last.
    if (FPort != nullptr) {
        FPort->StopHealth();
        FPort->StopTransactions();
        FPort->StopMarketData();
    }
    for (TExpertWindowPort* window : FView.ExpertWindows())
        window->StopExpert();
    if (FPort == nullptr)
        return;
    FPort->StopUpdater();
    FPort->ReleaseStore();
    FMenus = NoOrderMenus();
    FPort.reset();
}

} // namespace vorlen
