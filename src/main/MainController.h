#pragma once

// The main window's behaviour without the window: start-up and the settings sequence, connect,
// the connected state, new experts, and the order in which closing stops everything. The window
// (TMainForm) forwards its handlers here and shows what this decides; it reaches the connector
// and the gateway only through a TTerminalPort, so tests run the whole life cycle against fakes.

#include "connections/GatewayRecords.h"
#include "experts/Chooser.h"
#include "gateway/Cgate.h"
#include "grids/GridSink.h"
#include "grids/OrderMenus.h"
#include "health/HealthMonitor.h"
#include "platform/Journal.h"
#include "settings/ConnectorSettings.h"
#include "settings/Settings.h"
#include "store/StoreRecords.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlen::orders {
class TOrderDesk;
}

namespace vorlen {

class TBookKeeper;
class TCGStorage;
class TCGTRConnection;

inline constexpr std::string_view kNoConnectorText = "Не удалось создать коннектор!";
inline constexpr std::string_view kSettingsNotAppliedLine = "Настройки не применены!";
inline constexpr std::string_view kSettingsNotAppliedText = "Настройки не применены.";
inline constexpr std::string_view kRouterNotLoadedText = "Сервис не найден, роутер не загружен!";
inline constexpr std::string_view kLibraryNotLoadedText = "Библиотека CGATE не загружена!";
inline constexpr std::string_view kConnectorMissingText = "Не создан класс Connector";
inline constexpr std::string_view kVersionUnknownText = "Не получена версия CGATE!";
inline constexpr std::string_view kVersionTooOldText = "Версия CGATE.DLL должна быть более новой!";
inline constexpr std::string_view kNoInstrumentText = "Не выбрано ни одного инструмента!";
inline constexpr std::string_view kExitQuestionText = "Вы действительно хотите выйти?";
// The exit question naming what is still at work: the strategies stop at closing, the active
// orders stay in the trading system.
std::string ExitQuestionText(std::size_t strategies, std::size_t activeOrders);
inline constexpr std::string_view kKillSwitchCaption = "Снять все заявки и остановить торговлю";
inline constexpr std::string_view kKillSwitchQuestion =
    "Снять все заявки и остановить торговлю? Новые заявки будут отклоняться до разрешения "
    "торговли.";
inline constexpr std::string_view kRearmQuestion = "Разрешить торговлю снова?";
inline constexpr std::string_view kNoDeskLine = "Нет соединения Трансакций.";

// "Инструмент " + caption + " уже создан!"
std::string ExpertExistsText(std::string_view caption);

// A hint such as "Эксперт|Создать нового эксперта" has a short part for the tool tip and a long
// part for the status bar; a hint without "|" is both.
std::string ShortHint(std::string_view hint);
std::string LongHint(std::string_view hint);

// Image indices of the connect button before and after the initial data arrived.
inline constexpr int kConndisImage = 22;
inline constexpr int kConndisConnectedImage = 23;

// The enabled states (and the one changing picture) of the main window's commands. Toolbar
// buttons and menu entries of one command are listed apart where they can differ.
struct TMainControls {
    bool Conndis1 = false; // toolbar connect button
    int Conndis1Image = kConndisImage;
    bool Connect1 = false;    // menu entry "Подключиться" (and Ctrl+C)
    bool Disconnect1 = false; // menu entry "Разорвать соединение" (and Ctrl+R)
    bool Settings1 = true;    // menu entry "Настройки" (and Ctrl+S)
    bool FileNew1Button = false;
    bool FileNew1Menu = false; // "&Новый эксперт" (and Ctrl+N)
    bool FilesNew1Button = false;
    bool FilesNew1Menu = false; // "Все эксперты" (and Ctrl+O)
    bool StopAllButton = false;
    // The order ticket, own orders and the kill switch: once connected.
    bool Trading = false;
    bool operator==(const TMainControls&) const = default;
};

// What the controller needs of the connector and the gateway.
class TTerminalPort {
public:
    virtual ~TTerminalPort() = default;

    virtual TConnectorSettings& Settings() = 0;
    virtual bool EnvOpen() const = 0; // cgEnv
    virtual void SetEnvOpen(bool open) = 0;
    // The connector's order filters, which the grids' context menus set.
    virtual std::int32_t OrdersFilter() const = 0;
    virtual void SetOrdersFilter(std::int32_t filter) = 0;
    virtual std::int32_t MLOrdersFilter() const = 0;
    virtual void SetMLOrdersFilter(std::int32_t filter) = 0;
    // Asks the grid updater for a pass of one grid (kOrdersGrid...); nothing without one.
    virtual void RefreshGrid(int /*grid*/) {}

    // Applying the settings.
    virtual std::string RouterPath(const std::string& regKey, const std::string& regRecord) = 0;
    virtual TListeners* Listeners() = 0; // null without a market-data connection
    virtual void SetStreams(const std::vector<std::string>& names) = 0;
    virtual void SetCLTFut(bool on) = 0;

    // The settings sequence.
    virtual bool LoadRouter(const std::string& fileName, const std::string& regKey,
                            const std::string& regRecord, const std::string& iniName,
                            const std::string& machine, const std::string& servName) = 0;
    virtual std::uintptr_t LoadGateway(const std::string& fileName) = 0;

    // Connect.
    virtual TEnvOpenResult OpenEnvironment() = 0;
    // False, doing nothing, when there is no such connection. A scheme version is given only in
    // scheme mode.
    virtual bool StartTransactions(std::uint32_t trMax,
                                   const std::optional<std::string>& schemVer) = 0;
    // `onConnected` runs on the UI thread once the instrument lists have been built.
    virtual bool StartMarketData(std::function<void()> onConnected) = 0;

    // Experts.
    virtual bool GetHeaders(THeaders& fut, THeaders& opt, TSHeaders& spot) = 0;
    // What an expert reads and posts through; null where there is none (a test's port).
    virtual TCGStorage* Store() { return nullptr; }
    virtual TCGTRConnection* Transactions() { return nullptr; }
    // The order books; null where there are none.
    virtual TBookKeeper* Books() { return nullptr; }
    virtual orders::TOrderDesk* OrderDesk() { return nullptr; }

    // Closing, called in this order. Each stops its thread (if it ever started), waits for it
    // and releases it; calling one for something already gone does nothing.
    virtual void StopTransactions() = 0;
    virtual void StopMarketData() = 0;
    virtual void StopUpdater() = 0;
    virtual void ReleaseStore() = 0;
    // The port is destroyed right after this: the connector releases the gateway and the router.

    // A disconnection: both connection threads end, each closing its listeners, publisher and
    // connection; the threads' objects, the store and the grids stay for the next Connect.
    virtual void StopConnections() {}
    // Runs every grid's pass once more (the rows came back after a reconnection).
    virtual void RefreshGrids() {}
    // The connections' health; `onChange` runs on the UI thread after a state changed. Set the
    // handler before the first Connect.
    // By value: a port that keeps the handler moves it in.
    // NOLINTNEXTLINE(performance-unnecessary-value-param)
    virtual void SetHealthHandler(std::function<void()> /*onChange*/) {}
    virtual THealthSnapshot Health() const { return {}; }
    // Before closing: no more health reports while the connections are taken down.
    virtual void StopHealth() {}

    // What the order desk calls to stop every expert's strategy (the kill switch, and before the
    // desk goes with its connection); set before the first Connect.
    // NOLINTNEXTLINE(performance-unnecessary-value-param)
    virtual void SetStopStrategies(std::function<void()> /*stop*/) {}
    // Where the limits file and the order logs are kept; empty where there are none.
    virtual std::filesystem::path TradingDir() const { return {}; }
    // Where history.ini is kept (the settings of recording); empty where nothing is recorded.
    virtual std::filesystem::path HistoryDataDir() const { return {}; }
};

// One expert window as the controller sees it.
class TExpertWindowPort {
public:
    virtual ~TExpertWindowPort() = default;
    virtual std::string Caption() const = 0;
    // Hands the chosen instrument to the window's (suspended) expert.
    virtual void SetupExpert(std::int32_t isin_id, const std::string& futName,
                             const std::string& futIsin) = 0;
    // Registers the expert with the store for its instrument and, when that succeeds, starts
    // its thread; false (the expert stays suspended) otherwise.
    virtual bool RegisterAndStart() = 0;
    // Signals the expert's exit, asks it to end, waits for it (unless it never started) and
    // frees it; nothing when the window has no expert any more.
    virtual void StopExpert() = 0;
    // Marks the window's data as not live (with `text` saying since when), or as live again.
    virtual void ShowStale(bool /*stale*/, const std::string& /*text*/) {}
    // Whether the window's expert runs a strategy now.
    virtual bool StrategyRunning() const { return false; }
};

// What the window shows of the connections' health: one labelled indicator per connection, and
// whether the grids (fed by market data) and the experts show frozen figures.
struct TLinkIndicator {
    THealthState State = THealthState::Disconnected;
    std::string Text; // "Маркет-дата: на связи, данные 2 с назад"
    // Nothing will come by waiting: the router this terminal started cannot be had.
    bool Alarm = false;
};

struct THealthView {
    TLinkIndicator MarketData;
    TLinkIndicator Transactions;
    bool Stale = false;
    std::string StaleText; // "Нет связи. Данные на 12:34:56"
};

// What the controller needs of the window.
class TMainView {
public:
    virtual ~TMainView() = default;

    virtual TJournalSink& Journal() = 0;
    virtual void ClearJournal() = 0;
    // Captions and widths of the six grids; the sinks the grid updater writes to.
    virtual void SetupGrids() = 0;
    virtual std::array<TGridSink*, kGridCount> Grids() = 0;

    // The one-shot settings timer (50 ms).
    virtual void ArmTimer() = 0;
    virtual void DisarmTimer() = 0;

    virtual void ShowControls(const TMainControls& controls) = 0;
    // The connections' indicators and the stale marking of the grids; a window without them
    // ignores it.
    virtual void ShowHealth(const THealthView& /*view*/) {}

    // Shows a new settings dialog modally. When the user applies it, returns the values and
    // tree it holds; otherwise nothing. The dialog is gone when this returns.
    virtual std::unique_ptr<TSettingsModel> RunSettingsDialog() = 0;
    // Shows the instrument chooser over `chooser` modally; true when closed with OK.
    virtual bool RunChooser(TChooser& chooser) = 0;

    // The open expert windows in window-list order.
    virtual std::vector<TExpertWindowPort*> ExpertWindows() = 0;
    // Creates an expert window (with its suspended expert) under this caption; null on failure.
    virtual TExpertWindowPort* OpenExpertWindow(const std::string& caption) = 0;
    // Shows the order book of an instrument (a window of its own); a view without windows
    // ignores it.
    virtual void OpenBookWindow(std::int32_t /*isin_id*/, const std::string& /*isin*/) {}
    // Shows the chart of an instrument; a view without windows ignores it.
    virtual void OpenChartWindow(std::int32_t /*isin_id*/, const std::string& /*isin*/) {}
    // Stops the strategy of every expert window (the experts themselves go on).
    virtual void StopStrategies() {}
    // The connections were started (true) or taken down by a disconnection (false): what the
    // window follows of the router it is connected to starts and stops with them.
    virtual void ConnectionsRunning(bool /*running*/) {}
};

using TPortFactory = std::function<std::unique_ptr<TTerminalPort>(
    TJournalSink& memo, const std::array<TGridSink*, kGridCount>& grids)>;

class TMainController {
public:
    // `appPath` is the executable's folder with its trailing separator.
    TMainController(TMainView& view, TPortFactory factory, std::string appPath);
    ~TMainController();
    TMainController(const TMainController&) = delete;
    TMainController& operator=(const TMainController&) = delete;

    void FormCreate();
    void Timer1Timer();
    void Settings1Execute();
    void Connect1Execute();
    // Once the connections run: disconnect. Before: the same as Connect1Execute.
    void Disconnect1Execute();
    void Conndis1Execute();
    void FileNew1Execute();
    void FilesNew1Execute();
    // "Стакан": the instrument chooser, then the book of the futures chosen. Enabled with
    // "&Новый эксперт", in the connected state.
    void BookNewExecute();
    // "&График": the instrument chooser, then the chart of the futures chosen; enabled as the
    // book's command is.
    void ChartNewExecute();
    // The instrument chooser; the futures chosen (id and code), or nothing.
    std::optional<std::pair<std::int32_t, std::string>> ChooseFutures();
    // "Снять все заявки и остановить торговлю", after the trader's confirmation.
    void KillSwitchExecute();
    // Allows orders again after the kill switch, after the trader's confirmation.
    void RearmExecute();
    // The stop-all-experts command: every expert's strategy stops.
    void StopAllExpertsExecute();
    // Takes the replies that have arrived (the window's order timer).
    void OrdersTick();
    // True when the window may close.
    bool FormCloseQuery();
    // Stops and releases everything, in the shutdown order; a second call does nothing.
    void FormClose();

    // The switch to the connected state, run on the UI thread once the instrument lists exist.
    void InitialDataComplete();
    // A connection's health changed (UI thread): indicators, grids and experts follow.
    void HealthChanged();
    // The indicators as they read now (the window refreshes "N с назад" with it).
    THealthView HealthView() const;

    bool ApplySettings();

    TTerminalPort* Port() { return FPort.get(); }
    const TMainControls& Controls() const { return FControls; }
    TOrderMenus& OrderMenus() { return *FMenus; }

    THeaders FutHeaders;
    THeaders OptHeaders;
    TSHeaders SpotHeaders;

private:
    void Show() { FView.ShowControls(FControls); }
    bool IsSet();
    void StartConnections();
    void Disconnect();

    TMainView& FView;
    TPortFactory FFactory;
    std::string FAppPath;
    std::unique_ptr<TTerminalPort> FPort;
    TMainControls FControls;
    std::unique_ptr<TOrderMenus> FMenus;
    bool FEnvAccepted = false; // the environment opened and its version was accepted
    bool FRunning = false;     // the connection threads run (Connect until Disconnect)
    bool FRefill = false;      // the grids are refilled when the next connection is complete
};

} // namespace vorlen
