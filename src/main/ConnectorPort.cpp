#include "main/ConnectorPort.h"

#include "connections/Connection.h"
#include "connections/TrConnection.h"
#include "gateway/Cgate.h"
#include "grids/UpdGrids.h"
#include "health/HealthMonitor.h"
#include "store/Storage.h"

#include <exception>
#include <string>

namespace vorlen {

TConnectorPort::TConnectorPort(TJournalSink& memo, const std::array<TGridSink*, kGridCount>& grids,
                               TConnectorServices services) {
    TConnectorHooks hooks;
    hooks.Journal = &memo;
    hooks.Services = std::move(services);
    hooks.GridUpdater.Create = [&memo, grids](TCGConnector& c) -> TUpdateGrids* {
        auto updater =
            std::make_unique<TUpdateGrids>(*c.Storage(), c.OrdersFilter(), c.MLOrdersFilter());
        updater->SetMemo(&memo);
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
    // After a disconnection the same thread object runs again.
    tr->Restart();
    return true;
}

bool TConnectorPort::StartMarketData(std::function<void()> onConnected) {
    TCGConnection* md = FConnector->MarketData();
    if (md == nullptr)
        return false;
    md->SetOnConnected(std::move(onConnected));
    md->Restart();
    return true;
}

bool TConnectorPort::GetHeaders(THeaders& fut, THeaders& opt, TSHeaders& spot) {
    return FConnector->Storage() && FConnector->Storage()->GetHeaders(fut, opt, spot);
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

void TConnectorPort::StopTransactions() {
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

TPortFactory ConnectorPortFactory(TConnectorServices services) {
    return [services = std::move(services)](
               TJournalSink& memo,
               const std::array<TGridSink*, kGridCount>& grids) -> std::unique_ptr<TTerminalPort> {
        return std::make_unique<TConnectorPort>(memo, grids, services);
    };
}

} // namespace vorlen
