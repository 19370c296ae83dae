#pragma once

// The main window's controller driving the real connector: the one TCGConnector of the process,
// reachable through the process-wide accessor for as long as this port lives.

#include "connections/GatewayRecords.h"
#include "connector/Connector.h"
#include "main/MainController.h"
#include "settings/ConnectorSettings.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace vorlen {

class TTerminalDesk;

class TConnectorPort final : public TTerminalPort {
public:
    // Creates the connector (store, market-data connection, the grid updater started over
    // `grids` and `memo`, transaction connection) and publishes it process-wide.
    // `tradingDir` keeps the limits file and the order logs; empty: beside the saved settings.
    // `recordFolder` receives the recordings of the trading day; empty: nothing is recorded.
    // `recording`, when set, is asked at each connect instead (see TConnectorHooks::Recording).
    TConnectorPort(TJournalSink& memo, const std::array<TGridSink*, kGridCount>& grids,
                   TConnectorServices services = DefaultConnectorServices(),
                   std::filesystem::path tradingDir = {}, std::filesystem::path recordFolder = {},
                   std::function<TRecordingSetup()> recording = {});
    // Clears the accessor first, then releases the connector: the gateway environment, the
    // library and a router process started here go with it.
    ~TConnectorPort() override;

    TCGConnector& Connector() { return *FConnector; }
    // The caller builds the one order desk itself (the console, with its --risk limits): a
    // second desk here would read and write the same day's order log and keep counts of its own.
    void LeaveDeskToCaller() { FBuildsDesk = false; }

    TConnectorSettings& Settings() override;
    bool EnvOpen() const override;
    void SetEnvOpen(bool open) override;
    std::int32_t OrdersFilter() const override;
    void SetOrdersFilter(std::int32_t filter) override;
    std::int32_t MLOrdersFilter() const override;
    void SetMLOrdersFilter(std::int32_t filter) override;
    void RefreshGrid(int grid) override;
    std::string RouterPath(const std::string& regKey, const std::string& regRecord) override;
    TListeners* Listeners() override;
    void SetStreams(const std::vector<std::string>& names) override;
    void SetCLTFut(bool on) override;
    bool LoadRouter(const std::string& fileName, const std::string& regKey,
                    const std::string& regRecord, const std::string& iniName,
                    const std::string& machine, const std::string& servName) override;
    std::uintptr_t LoadGateway(const std::string& fileName) override;
    TEnvOpenResult OpenEnvironment() override;
    bool StartTransactions(std::uint32_t trMax,
                           const std::optional<std::string>& schemVer) override;
    bool StartMarketData(std::function<void()> onConnected) override;
    bool GetHeaders(THeaders& fut, THeaders& opt, TSHeaders& spot) override;
    TCGStorage* Store() override;
    TCGTRConnection* Transactions() override;
    TBookKeeper* Books() override;
    orders::TOrderDesk* OrderDesk() override;
    void SetStopStrategies(std::function<void()> stop) override;
    std::filesystem::path TradingDir() const override { return FTradingDir; }
    std::filesystem::path HistoryDataDir() const override { return FHistoryDataDir; }
    void SetHistoryDataDir(std::filesystem::path dir) { FHistoryDataDir = std::move(dir); }
    void StopTransactions() override;
    void StopMarketData() override;
    void StopUpdater() override;
    void ReleaseStore() override;
    void StopConnections() override;
    void RefreshGrids() override;
    void SetHealthHandler(std::function<void()> onChange) override;
    THealthSnapshot Health() const override;
    void StopHealth() override;

private:
    void StopStrategies();

    TJournalSink& FMemo;
    std::filesystem::path FTradingDir;
    std::filesystem::path FHistoryDataDir;
    bool FBuildsDesk = true;
    std::function<void()> FStopStrategies;
    std::unique_ptr<TCGConnector> FConnector;
    // Made by the first start of the transaction connection; it goes only when that connection
    // stops for good, once no strategy can be using it.
    std::unique_ptr<TTerminalDesk> FDesk;
};

// Builds a TConnectorPort for the main window.
TPortFactory ConnectorPortFactory(TConnectorServices services = DefaultConnectorServices(),
                                  std::filesystem::path tradingDir = {},
                                  std::filesystem::path recordFolder = {});

// The desktop terminal's data folder: $VORLEN_DATA_DIR when set, else the user's data folder
// (platform::UserDataDir), else the "saving" folder beside the executable.
std::filesystem::path DesktopDataDir();
// Where the limits file and the order logs were kept before they moved to the data folder (the
// "saving" folder beside the executable); empty when $VORLEN_DATA_DIR chose the data folder.
std::filesystem::path DesktopOldTradingDir();
// Where the desktop's recordings and history.db are, as history.ini in `dataDir` says (its
// default when the file is missing or unreadable): what the charts read is what was recorded.
std::filesystem::path DesktopHistoryFolder(const std::filesystem::path& dataDir);
// The desktop terminal's recording: as history.ini of `dataDir` says when the connections start,
// on unless it says otherwise; what the file gets wrong goes to `memo`.
std::function<TRecordingSetup()> DesktopRecording(std::filesystem::path dataDir,
                                                  TJournalSink& memo);
// Builds the desktop terminal's TConnectorPort: the limits file and the order logs in `dataDir`
// (those of `oldTradingDir` taken over once, see AdoptOldTradingFiles), recordings as
// DesktopRecording says.
TPortFactory DesktopPortFactory(std::filesystem::path dataDir,
                                TConnectorServices services = DefaultConnectorServices(),
                                std::filesystem::path oldTradingDir = {});

} // namespace vorlen
