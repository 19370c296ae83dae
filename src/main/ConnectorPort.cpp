#include "main/ConnectorPort.h"

#include "book/BookKeeper.h"
#include "connections/Connection.h"
#include "connections/TrConnection.h"
#include "gateway/Cgate.h"
#include "grids/UpdGrids.h"
#include "health/HealthMonitor.h"
#include "main/TerminalDesk.h"
#include "main/TradingFolder.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "platform/UserData.h"
#include "settings/HistorySettings.h"
#include "settings/SavedSettings.h"
#include "store/Storage.h"

#include <exception>
#include <string>

namespace vorlen {

TConnectorPort::TConnectorPort(TJournalSink& memo, const std::array<TGridSink*, kGridCount>& grids,
                               TConnectorServices services, std::filesystem::path tradingDir,
                               std::filesystem::path recordFolder,
                               std::function<TRecordingSetup()> recording)
    : FMemo(memo),
      FTradingDir(tradingDir.empty() ? TradingDataDir(DefaultSavingDir()) : std::move(tradingDir)) {
    TConnectorHooks hooks;
    hooks.Journal = &memo;
    hooks.Services = std::move(services);
    hooks.RecordFolder = std::move(recordFolder);
    hooks.Recording = std::move(recording);
    hooks.GridUpdater.Create = [&memo, grids](TCGConnector& c) -> TUpdateGrids* {
        auto updater =
            std::make_unique<TUpdateGrids>(*c.Storage(), c.OrdersFilter(), c.MLOrdersFilter());
        updater->SetMemo(&memo);
        updater->FollowChanges(c.Books());
        for (int g = 0; g < kGridCount; ++g)
            updater->SetGrid(g, grids[static_cast<std::size_t>(g)]);
        updater->Start();
        return updater.release();
    };
    hooks.GridUpdater.StopAndFree = [](TUpdateGrids* updater) {
        updater->Stop();
        delete updater;
    };
    FConnector = std::make_unique<TCGConnector>(std::move(hooks));
    SetConnector(FConnector.get());
}

TConnectorPort::~TConnectorPort() {
    StopStrategies();
    FDesk.reset();
    SetConnector(nullptr);
    FConnector.reset();
}

TConnectorSettings& TConnectorPort::Settings() {
    return FConnector->Settings();
}

bool TConnectorPort::EnvOpen() const {
    return FConnector->EnvOpen();
}

void TConnectorPort::SetEnvOpen(bool open) {
    FConnector->SetEnvOpen(open);
}

std::int32_t TConnectorPort::OrdersFilter() const {
    return FConnector->OrdersFilter();
}

void TConnectorPort::SetOrdersFilter(std::int32_t filter) {
    FConnector->SetOrdersFilter(filter);
}

std::int32_t TConnectorPort::MLOrdersFilter() const {
    return FConnector->MLOrdersFilter();
}

void TConnectorPort::SetMLOrdersFilter(std::int32_t filter) {
    FConnector->SetMLOrdersFilter(filter);
}

void TConnectorPort::RefreshGrid(int grid) {
    // Grid numbers are the updater's wait-list positions of their tables.
    if (FConnector->GridUpdater() && grid >= 0 && grid < kGridCount)
        FConnector->GridUpdater()->Event(static_cast<unsigned>(grid)).Set();
}

std::string TConnectorPort::RouterPath(const std::string& regKey, const std::string& regRecord) {
    return FConnector->GetCGRouterPath(regKey, regRecord);
}

TListeners* TConnectorPort::Listeners() {
    return FConnector->MarketData() ? &FConnector->MarketData()->Lsnrs : nullptr;
}

void TConnectorPort::SetStreams(const std::vector<std::string>& names) {
    if (FConnector->Storage())
        FConnector->Storage()->SetStreams(names);
}

void TConnectorPort::SetCLTFut(bool on) {
    if (FConnector->Storage())
        FConnector->Storage()->SetCLTFut(on);
}

bool TConnectorPort::LoadRouter(const std::string& fileName, const std::string& regKey,
                                const std::string& regRecord, const std::string& iniName,
                                const std::string& machine, const std::string& servName) {
    return FConnector->LoadRouter(fileName, regKey, regRecord, iniName, machine, servName);
}

std::uintptr_t TConnectorPort::LoadGateway(const std::string& fileName) {
    return LoadCGateLibrary(fileName);
}

TEnvOpenResult TConnectorPort::OpenEnvironment() {
    return OpenCGateEnvironment(FConnector->Settings());
}

bool TConnectorPort::StartTransactions(std::uint32_t trMax,
                                       const std::optional<std::string>& schemVer) {
    TCGTRConnection* tr = FConnector->Transactions();
    if (tr == nullptr)
        return false;
    tr->TrMax = static_cast<std::int32_t>(trMax);
    if (schemVer)
        tr->SchemVer = *schemVer;
    const TConnectorSettings& cs = FConnector->Settings();
    std::int64_t timeout = 0;
    try {
        timeout = std::stoll(cs.RoutTOut);
    } catch (const std::exception&) {
        timeout = 0; // the monitor's default
    }
    FConnector->Health().Configure(cs.Host + ":" + cs.Port, timeout);
    FConnector->Health().Start();
    FConnector->StartRecording();
    // After a disconnection the same thread object runs again.
    tr->Restart();
    if (FBuildsDesk && FDesk == nullptr && FConnector->Storage()) {
        TTerminalDeskParts parts;
        parts.Transactions = tr;
        parts.Store = FConnector->Storage();
        parts.Health = &FConnector->Health();
        parts.Books = FConnector->Books();
        parts.Dir = FTradingDir;
        // Orders may come from a strategy's thread; the journal pane is the UI thread's.
        TJournalSink* memo = &FMemo;
        parts.Journal = [memo](const std::string& text) {
            const std::string line = JournalLine(text);
            TThread::Synchronize([memo, &line] { memo->AppendLine(line); });
        };
        parts.StopStrategies = [this] { StopStrategies(); };
        FDesk = std::make_unique<TTerminalDesk>(std::move(parts));
    }
    return true;
}

bool TConnectorPort::StartMarketData(std::function<void()> onConnected) {
    TCGConnection* md = FConnector->MarketData();
    if (md == nullptr)
        return false;
    md->SetOnConnected(std::move(onConnected));
    FConnector->StartRecording();
    md->Restart();
    return true;
}

bool TConnectorPort::GetHeaders(THeaders& fut, THeaders& opt, TSHeaders& spot) {
    if (!FConnector->Storage())
        return false;
    FConnector->Storage()->GetHeaders(fut, opt, spot);
    return true;
}

TCGStorage* TConnectorPort::Store() {
    return FConnector->Storage();
}

TCGTRConnection* TConnectorPort::Transactions() {
    return FConnector->Transactions();
}

TBookKeeper* TConnectorPort::Books() {
    return FConnector->Books();
}

orders::TOrderDesk* TConnectorPort::OrderDesk() {
    return FDesk ? &FDesk->Desk() : nullptr;
}

void TConnectorPort::SetStopStrategies(std::function<void()> stop) {
    FStopStrategies = std::move(stop);
}

void TConnectorPort::StopStrategies() {
    if (FStopStrategies)
        FStopStrategies();
}

void TConnectorPort::StopTransactions() {
    StopStrategies();
    FDesk.reset();
    FConnector->StopTransaction();
}

void TConnectorPort::StopMarketData() {
    FConnector->StopMarketData();
}

void TConnectorPort::StopUpdater() {
    FConnector->StopGridUpdater();
}

void TConnectorPort::ReleaseStore() {
    FConnector->ReleaseStorage();
}

void TConnectorPort::StopConnections() {
    // The desk outlives a disconnection, as the connection objects and the store do: expert and
    // book windows keep it, and a thrown kill switch stays thrown until the trader re-arms.
    // While the links are down its gate refuses every order.
    StopStrategies();
    FConnector->StopConnections();
}

void TConnectorPort::RefreshGrids() {
    if (TUpdateGrids* updater = FConnector->GridUpdater()) {
        for (unsigned g = 0; g < kGridCount; ++g)
            updater->Event(g).Set();
    }
}

void TConnectorPort::SetHealthHandler(std::function<void()> onChange) {
    FConnector->Health().SetOnChange(std::move(onChange));
}

THealthSnapshot TConnectorPort::Health() const {
    return FConnector->Health().Snapshot();
}

void TConnectorPort::StopHealth() {
    FConnector->Health().Stop();
}

TPortFactory ConnectorPortFactory(TConnectorServices services, std::filesystem::path tradingDir,
                                  std::filesystem::path recordFolder) {
    return [services = std::move(services), tradingDir = std::move(tradingDir),
            recordFolder = std::move(recordFolder)](
               TJournalSink& memo,
               const std::array<TGridSink*, kGridCount>& grids) -> std::unique_ptr<TTerminalPort> {
        return std::make_unique<TConnectorPort>(memo, grids, services, tradingDir, recordFolder);
    };
}

std::filesystem::path DesktopDataDir() {
    bool fromEnvironment = false;
    return TraderDataDir(platform::UserDataDir(), DefaultSavingDir(), fromEnvironment);
}

std::filesystem::path DesktopOldTradingDir() {
    bool fromEnvironment = false;
    TraderDataDir({}, {}, fromEnvironment);
    return fromEnvironment ? std::filesystem::path() : DefaultSavingDir();
}

std::filesystem::path DesktopHistoryFolder(const std::filesystem::path& dataDir) {
    return HistoryFolder(LoadHistorySettings(dataDir).Settings, dataDir);
}

std::function<TRecordingSetup()> DesktopRecording(std::filesystem::path dataDir,
                                                  TJournalSink& memo) {
    return [dataDir = std::move(dataDir), &memo] {
        const THistorySettingsRead read = LoadHistorySettings(dataDir);
        for (const std::string& problem : read.Problems) {
            const std::string line = JournalLine(problem);
            TThread::Synchronize([&memo, &line] { memo.AppendLine(line); });
        }
        TRecordingSetup setup;
        if (!read.Settings.Record)
            return setup;
        setup.Folder = HistoryFolder(read.Settings, dataDir);
        setup.KeepDays = read.Settings.KeepDays;
        setup.KeepBytes = static_cast<std::uint64_t>(read.Settings.KeepGiB) << 30;
        return setup;
    };
}

TPortFactory DesktopPortFactory(std::filesystem::path dataDir, TConnectorServices services,
                                std::filesystem::path oldTradingDir) {
    return [services = std::move(services), dataDir = std::move(dataDir),
            oldTradingDir = std::move(oldTradingDir)](
               TJournalSink& memo,
               const std::array<TGridSink*, kGridCount>& grids) -> std::unique_ptr<TTerminalPort> {
        // Before the limits dialog or the desk could read the folder's own (missing) file.
        const TAdoption adopted = AdoptOldTradingFiles(oldTradingDir, dataDir);
        for (const std::string& text : adopted.Texts)
            memo.AppendLine(JournalLine(text));
        auto port = std::make_unique<TConnectorPort>(
            memo, grids, services, adopted.Failed ? oldTradingDir : dataDir,
            std::filesystem::path(), DesktopRecording(dataDir, memo));
        port->SetHistoryDataDir(dataDir);
        return port;
    };
}

} // namespace vorlen
