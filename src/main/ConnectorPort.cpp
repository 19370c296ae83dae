#include "main/ConnectorPort.h"

#include "book/BookKeeper.h"
#include "connections/Connection.h"
#include "connections/TrConnection.h"
#include "gateway/Cgate.h"
#include "grids/UpdGrids.h"
#include "health/HealthMonitor.h"
#include "main/TerminalDesk.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "settings/SavedSettings.h"
#include "store/Storage.h"

#include <exception>
#include <string>

namespace vorlen {

TConnectorPort::TConnectorPort(TJournalSink& memo, const std::array<TGridSink*, kGridCount>& grids,
                               TConnectorServices services, std::filesystem::path tradingDir)
    : FMemo(memo), FTradingDir(tradingDir.empty() ? DefaultSavingDir() : std::move(tradingDir)) {
    TConnectorHooks hooks;
    hooks.Journal = &memo;
    hooks.Services = std::move(services);
    hooks.GridUpdater.Create = [&memo, grids](TCGConnector& c) -> TUpdateGrids* {
        auto updater = std::make_unique<TUpdateGrids>(*c.Storage, c.Orders, c.MLOrders);
        updater->SetMemo(&memo);
        updater->FollowChanges(c.Books.get());
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
    return FConnector->cgSettings;
}

bool TConnectorPort::EnvOpen() const {
    return FConnector->cgEnv;
}

void TConnectorPort::SetEnvOpen(bool open) {
    FConnector->cgEnv = open;
}

std::int32_t& TConnectorPort::OrdersFilter() {
    return FConnector->Orders;
}

std::int32_t& TConnectorPort::MLOrdersFilter() {
    return FConnector->MLOrders;
}

void TConnectorPort::RefreshGrid(int grid) {
    // Grid numbers are the updater's wait-list positions of their tables.
    if (FConnector->UpdGrids && grid >= 0 && grid < kGridCount)
        FConnector->UpdGrids->Event(static_cast<unsigned>(grid)).Set();
}

std::string TConnectorPort::RouterPath(const std::string& regKey, const std::string& regRecord) {
    return FConnector->GetCGRouterPath(regKey, regRecord);
}

TListeners* TConnectorPort::Listeners() {
    return FConnector->MDConn ? &FConnector->MDConn->Lsnrs : nullptr;
}

void TConnectorPort::SetStreams(const std::vector<std::string>& names) {
    if (FConnector->Storage)
        FConnector->Storage->SetStreams(names);
}

void TConnectorPort::SetCLTFut(bool on) {
    if (FConnector->Storage)
        FConnector->Storage->SetCLTFut(on);
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
    return OpenCGateEnvironment(FConnector->cgSettings);
}

bool TConnectorPort::StartTransactions(std::uint32_t trMax,
                                       const std::optional<std::string>& schemVer) {
    TCGTRConnection* tr = FConnector->TRConn.get();
    if (tr == nullptr)
        return false;
    tr->TrMax = static_cast<std::int32_t>(trMax);
    if (schemVer)
        tr->SchemVer = *schemVer;
    const TConnectorSettings& cs = FConnector->cgSettings;
    std::int64_t timeout = 0;
    try {
        timeout = std::stoll(cs.RoutTOut);
    } catch (const std::exception&) {
        timeout = 0; // the monitor's default
    }
    FConnector->Health->Configure(cs.Host + ":" + cs.Port, timeout);
    FConnector->Health->Start();
    // After a disconnection the same thread object runs again.
    tr->Restart();
    if (FDesk == nullptr && FConnector->Storage) {
        TTerminalDeskParts parts;
        parts.Transactions = tr;
        parts.Store = FConnector->Storage.get();
        parts.Health = FConnector->Health.get();
        parts.Books = FConnector->Books.get();
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
    TCGConnection* md = FConnector->MDConn.get();
    if (md == nullptr)
        return false;
    md->SetOnConnected(std::move(onConnected));
    md->Restart();
    return true;
}

bool TConnectorPort::GetHeaders(THeaders& fut, THeaders& opt, TSHeaders& spot) {
    if (!FConnector->Storage)
        return false;
    FConnector->Storage->GetHeaders(fut, opt, spot);
    return true;
}

TCGStorage* TConnectorPort::Store() {
    return FConnector->Storage.get();
}

TCGTRConnection* TConnectorPort::Transactions() {
    return FConnector->TRConn.get();
}

TBookKeeper* TConnectorPort::Books() {
    return FConnector->Books.get();
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
    if (TUpdateGrids* updater = FConnector->UpdGrids.get()) {
        for (unsigned g = 0; g < kGridCount; ++g)
            updater->Event(g).Set();
    }
}

void TConnectorPort::SetHealthHandler(std::function<void()> onChange) {
    FConnector->Health->SetOnChange(std::move(onChange));
}

THealthSnapshot TConnectorPort::Health() const {
    return FConnector->Health->Snapshot();
}

void TConnectorPort::StopHealth() {
    FConnector->Health->Stop();
}

TPortFactory ConnectorPortFactory(TConnectorServices services, std::filesystem::path tradingDir) {
    return [services = std::move(services), tradingDir = std::move(tradingDir)](
               TJournalSink& memo,
               const std::array<TGridSink*, kGridCount>& grids) -> std::unique_ptr<TTerminalPort> {
        return std::make_unique<TConnectorPort>(memo, grids, services, tradingDir);
    };
}

} // namespace vorlen
