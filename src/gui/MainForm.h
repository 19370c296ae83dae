#pragma once

// The terminal's main window: an MDI frame for the expert windows above a page control with the
// six grids and the journal. Its handlers forward to TMainController; what it shows follows the
// controller's decisions.

#include "grids/GridLayouts.h"
#include "main/MainController.h"
#include "main/ReplayControl.h"

#include <QMainWindow>
#include <array>
#include <filesystem>
#include <memory>

class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class QSplitter;
class QTabWidget;
class QTimer;
class QToolBar;

namespace vorlen::gui {

class TAboutBox;
class TBookForm;
class TChartForm;
class TGridView;
class TJournalPane;
class TMDIChild;
class TOwnOrdersForm;
class TReplayBar;
class TReplayMarking;
class TStaleMark;

class TMainForm final : public QMainWindow, public TMainView {
    Q_OBJECT
public:
    // `appPath` is the executable's folder with its trailing separator; empty means the folder of
    // the running program.
    explicit TMainForm(TPortFactory factory, std::string appPath = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    TMainController& Controller() { return *FController; }

    // TMainView.
    TJournalSink& Journal() override;
    void ClearJournal() override;
    void SetupGrids() override;
    std::array<TGridSink*, kGridCount> Grids() override;
    void ArmTimer() override;
    void DisarmTimer() override;
    void ShowControls(const TMainControls& controls) override;
    void ShowHealth(const THealthView& view) override;
    std::unique_ptr<TSettingsModel> RunSettingsDialog() override;
    bool RunChooser(TChooser& chooser) override;
    std::vector<TExpertWindowPort*> ExpertWindows() override;
    TExpertWindowPort* OpenExpertWindow(const std::string& caption) override;
    void OpenBookWindow(std::int32_t isin_id, const std::string& isin) override;
    // One window per instrument and interval: asking again brings it forward.
    void OpenChartWindow(std::int32_t isin_id, const std::string& isin) override;
    // "Тест на истории" of an expert window's instrument, its script proposed.
    void OpenBacktestWindow(const std::string& isin, const QString& strategyFile);
    void StopStrategies() override;
    void ConnectionsRunning(bool running) override;

    // The expert windows in window-list order.
    std::vector<TMDIChild*> ExpertChildren() const;
    // The order-book windows in window-list order.
    std::vector<TBookForm*> BookChildren() const;
    // The options boards in window-list order.
    std::vector<class TOptionsForm*> OptionsChildren() const;
    // The board of the futures `isin`; asking again brings an open one forward.
    void OpenOptionsWindow(const std::string& isin);
    // The chart windows in window-list order.
    std::vector<TChartForm*> ChartChildren() const;
    // Where charts read history.db; by default where the desktop records (history.ini), else
    // "history" in the trading data folder.
    void SetHistoryDir(std::filesystem::path dir) { FHistoryDir = std::move(dir); }
    std::filesystem::path HistoryDir() const;
    // The own-orders window, if open.
    TOwnOrdersForm* OwnOrdersChild() const;
    // What the connected router last said of its replay; not replaying while disconnected.
    const TReplayState& Replay() const { return FReplay; }

    // Components, under the names the rest of the terminal knows them by.
    QToolBar* ToolBar1 = nullptr;
    QMdiArea* MdiArea = nullptr;
    QSplitter* Splitter1 = nullptr;
    QTabWidget* MainPageControl = nullptr;
    TJournalPane* Memo1 = nullptr;
    std::array<TGridView*, kGridCount> GridViews{};
    QTimer* Timer1 = nullptr;
    // The connections' indicators in the status bar, refreshed by HealthTimer while they are not
    // changing state (the time since the last data still moves on).
    QLabel* MarketDataHealth = nullptr;
    QLabel* TransactionsHealth = nullptr;
    QTimer* HealthTimer = nullptr;
    std::array<TStaleMark*, kGridCount> GridMarks{};
    TAboutBox* AboutBox = nullptr;
    // The router's replay: its bar under the toolbar and the status bar's mark, shown only while
    // the connected router replays a recording.
    TReplayBar* ReplayBar = nullptr;
    QLabel* ReplayMark = nullptr;

    QAction* Connect1 = nullptr;
    QAction* Disconnect1 = nullptr;
    QAction* Conndis1 = nullptr;
    QAction* Settings1 = nullptr;
    QAction* History1 = nullptr; // "&История..." (Ctrl+H)
    QAction* FileExit1 = nullptr;
    QAction* FileNew1 = nullptr;     // menu entry "&Новый эксперт"
    QAction* FileNew1Tool = nullptr; // toolbar button "&Эксперт"
    QAction* FilesNew1 = nullptr;    // menu entry "Все эксперты"
    QAction* FilesNew1Tool = nullptr;
    QAction* BookNew1 = nullptr;        // menu entry "С&такан" (Ctrl+B)
    QAction* BookNew1Tool = nullptr;    // toolbar button "Стакан"
    QAction* OptionsNew1 = nullptr;     // menu entry "&Опционы" (Ctrl+Shift+O)
    QAction* OptionsNew1Tool = nullptr; // toolbar button "Опционы"
    QAction* ChartNew1 = nullptr;       // menu entry "&График" (Ctrl+G)
    QAction* ChartNew1Tool = nullptr;   // toolbar button "График"
    QAction* HelpAbout1 = nullptr;
    QAction* WindowCascade1 = nullptr;
    QAction* WindowTileHorizontal1 = nullptr;
    QAction* WindowTileVertical1 = nullptr;
    QAction* WindowMinimizeAll1 = nullptr;
    QAction* WindowArrange1 = nullptr;
    QAction* StopAllExperts = nullptr;
    QAction* Ticket1 = nullptr;    // "&Новая заявка..." (Ctrl+T)
    QAction* OwnOrders1 = nullptr; // "&Мои заявки" (Ctrl+L)
    QAction* KillSwitch1 = nullptr; // "Снять все заявки и остановить торговлю" (Ctrl+K)
    QAction* KillSwitch1Tool = nullptr;
    QAction* Rearm1 = nullptr;  // "&Разрешить торговлю"
    QAction* Limits1 = nullptr; // "&Лимиты заявок..."
    // Takes the exchange's replies to the desk's orders.
    QTimer* OrdersTimer = nullptr;
    // Says, in the status bar, that the kill switch has stopped trading.
    QLabel* TradingState = nullptr;

    QMenu* Connection1 = nullptr; // "&Соединение"
    QMenu* Experts1 = nullptr;    // "&Эксперт(ы)"
    QMenu* Trading1 = nullptr;    // "&Торговля"
    QMenu* Window1 = nullptr;     // "&Окна"
    QMenu* Help1 = nullptr;       // "&Помощь"

    QMenu* PopupMenu1 = nullptr; // orders grid
    QMenu* PopupMenu2 = nullptr; // page control
    QAction* ActiveOrders = nullptr;
    QAction* DoneOrders = nullptr;
    QAction* AllOrders = nullptr;
    QAction* ActiveMLOrders = nullptr;
    QAction* DoneMLOrders = nullptr;
    QAction* AllMLOrders = nullptr;

public slots:
    void Timer1Timer();
    void Settings1Execute();
    void History1Execute();
    void Connect1Execute();
    void Disconnect1Execute();
    void Conndis1Execute();
    void FileNew1Execute();
    void FilesNew1Execute();
    void BookNew1Execute();
    void OptionsNew1Execute();
    void ChartNew1Execute();
    void FileExit1Execute();
    void HelpAbout1Execute();
    void WindowCascade1Execute();
    void WindowTileHorizontal1Execute();
    void WindowTileVertical1Execute();
    void WindowMinimizeAll1Execute();
    void WindowArrange1Execute();
    // The order ticket, pre-filled (a clicked book level): side 1 buy, 2 sell, 0 none; price in
    // 1e-5 units, 0 for none.
    void OpenOrderTicket(const QString& isin, int side, qint64 price);
    void Ticket1Execute();
    void OwnOrders1Execute();
    void KillSwitch1Execute();
    void Rearm1Execute();
    void Limits1Execute();
    void StopAllExpertsExecute();

signals:
    // The router's replay changed, or a command to it failed (the journal's line); sent from the
    // replay control's thread.
    void ReplayChangeArrived();
    void ReplayLineArrived(const QString& line);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateClientArea();
    void CreateHealthIndicators();
    void CreateOrderMenus();
    void CreateTradingActions();
    void CreateTradingMenu();
    void CreateOptionsActions();
    void CreateReplayBar();
    void ShowReplay(const TReplayState& state);
    void StopReplayWatch();
    orders::TOrderDesk* Desk() const;
    void ShowTradingState();
    void SyncOrderMenus();
    void RebuildWindowList();
    // Book and own-orders windows stop reading before the store and its books are released.
    void DetachBooks();
    // Gives every running backtest up and waits for it: they read prices through the gateway's
    // library, which goes with the connector.
    void StopBacktests();
    void Tile(bool horizontal);
    QAction* NewAction(const char* name, const QString& caption, const QString& hint, int image);

    std::unique_ptr<TMainController> FController;
    QList<QAction*> FWindowListActions;
    std::filesystem::path FHistoryDir;
    std::unique_ptr<TReplayControl> FReplayControl;
    TReplayMarking* FReplayMarking = nullptr;
    TReplayState FReplay;
    bool FClosed = false;
    bool FPlaced = false;
};

} // namespace vorlen::gui
