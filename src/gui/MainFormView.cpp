// The main window's side of the controller: what it shows, the dialogs it opens, the expert
// windows, the window commands and closing.

#include "gui/AboutBox.h"
#if VORLEN_BACKTEST
#include "gui/BacktestForm.h"
#endif
#include "gui/BookForm.h"
#include "gui/ChForm.h"
#include "gui/ChartForm.h"
#include "gui/GridModel.h"
#include "gui/HistoryForm.h"
#include "gui/ImageList.h"
#include "gui/JournalPane.h"
#include "gui/MainForm.h"
#include "gui/MdiChild.h"
#include "gui/Modal.h"
#include "gui/OptionsForm.h"
#include "gui/OwnOrdersForm.h"
#include "gui/SetForm.h"
#include "gui/StaleMark.h"
#include "main/ConnectorPort.h"
#include "main/TerminalDesk.h"
#include "main/Tiling.h"
#include "orders/StoreView.h"
#include "settings/SavedSettings.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QResizeEvent>
#include <QTimer>

namespace vorlen::gui {

TJournalSink& TMainForm::Journal() {
    return *Memo1;
}

void TMainForm::ClearJournal() {
    Memo1->clear();
}

void TMainForm::SetupGrids() {
    for (TGridView* view : GridViews)
        view->Setup();
}

std::array<TGridSink*, kGridCount> TMainForm::Grids() {
    std::array<TGridSink*, kGridCount> grids{};
    for (std::size_t g = 0; g < grids.size(); ++g)
        grids[g] = &GridViews[g]->Model();
    return grids;
}

void TMainForm::ArmTimer() {
    Timer1->start();
}

void TMainForm::DisarmTimer() {
    Timer1->stop();
}

void TMainForm::ShowControls(const TMainControls& c) {
    Conndis1->setEnabled(c.Conndis1);
    Conndis1->setIcon(MainIcon(c.Conndis1Image));
    Connect1->setEnabled(c.Connect1);
    Disconnect1->setEnabled(c.Disconnect1);
    Settings1->setEnabled(c.Settings1);
    FileNew1Tool->setEnabled(c.FileNew1Button);
    FileNew1->setEnabled(c.FileNew1Menu);
    FilesNew1Tool->setEnabled(c.FilesNew1Button);
    FilesNew1->setEnabled(c.FilesNew1Menu);
    // A book needs the instrument lists, as a new expert does.
    BookNew1->setEnabled(c.FileNew1Menu);
    BookNew1Tool->setEnabled(c.FileNew1Menu);
    OptionsNew1->setEnabled(c.FileNew1Menu);
    OptionsNew1Tool->setEnabled(c.FileNew1Menu);
    ChartNew1->setEnabled(c.FileNew1Menu);
    ChartNew1Tool->setEnabled(c.FileNew1Menu);
    StopAllExperts->setEnabled(c.StopAllButton);
    // A file of its own, read at each connect: editable whether connected or not.
    const TTerminalPort* port = FController ? FController->Port() : nullptr;
    History1->setEnabled(port != nullptr && !port->HistoryDataDir().empty());
    // Re-arming follows the kill switch itself (ShowTradingState).
    for (QAction* action : {Ticket1, OwnOrders1, KillSwitch1, KillSwitch1Tool})
        action->setEnabled(c.Trading);
    // A new order has nowhere to go while the kill switch holds (ShowTradingState).
    Ticket1->setEnabled(c.Trading && TradingState->text().isEmpty());
}

void TMainForm::ShowHealth(const THealthView& view) {
    const auto show = [](QLabel* label, const TLinkIndicator& link) {
        label->setText(QString::fromStdString(link.Text));
        QPalette p = label->palette();
        p.setColor(QPalette::Window,
                   link.Alarm ? QColor(0xff, 0xa0, 0xa0) : HealthColor(link.State));
        label->setPalette(p);
    };
    show(MarketDataHealth, view.MarketData);
    show(TransactionsHealth, view.Transactions);
    const QString text = QString::fromStdString(view.StaleText);
    for (std::size_t g = 0; g < GridViews.size(); ++g) {
        TintHeader(GridViews[g]->horizontalHeader(), view.Stale);
        GridMarks[g]->ShowStale(view.Stale, text);
    }
    for (TChartForm* chart : ChartChildren())
        chart->ShowStale(view.Stale, text);
}

std::unique_ptr<TSettingsModel> TMainForm::RunSettingsDialog() {
    TSetForm dialog(this);
    if (ExecModal(dialog) != QDialog::Accepted)
        return nullptr;
    return dialog.TakeModel();
}

bool TMainForm::RunChooser(TChooser& chooser) {
    TChForm dialog(chooser, this);
    return ExecModal(dialog) == QDialog::Accepted;
}

std::vector<TMDIChild*> TMainForm::ExpertChildren() const {
    std::vector<TMDIChild*> children;
    for (QMdiSubWindow* sub : MdiArea->subWindowList(QMdiArea::CreationOrder))
        if (auto* child = qobject_cast<TMDIChild*>(sub->widget()))
            children.push_back(child);
    return children;
}

std::vector<TExpertWindowPort*> TMainForm::ExpertWindows() {
    std::vector<TExpertWindowPort*> windows;
    for (TMDIChild* child : ExpertChildren())
        windows.push_back(child);
    return windows;
}

TExpertWindowPort* TMainForm::OpenExpertWindow(const std::string& caption) {
    TTerminalPort* port = FController->Port();
    auto* child = new TMDIChild(
        port != nullptr ? port->Store() : nullptr, port != nullptr ? port->Transactions() : nullptr,
        port != nullptr ? port->OrderDesk() : nullptr, port != nullptr ? port->Books() : nullptr);
    QMdiSubWindow* sub = MdiArea->addSubWindow(child);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    child->setWindowTitle(QString::fromStdString(caption));
    connect(child, &TMDIChild::BookRequested, this, [this](std::int32_t id, const QString& isin) {
        OpenBookWindow(id, isin.toStdString());
    });
    connect(child, &TMDIChild::ChartRequested, this, [this](std::int32_t id, const QString& isin) {
        OpenChartWindow(id, isin.toStdString());
    });
    connect(child, &TMDIChild::BacktestRequested, this,
            [this](const QString& isin, const QString& file) {
                OpenBacktestWindow(isin.toStdString(), file);
            });
    sub->adjustSize();
    sub->show();
    return child;
}

void TMainForm::OpenBacktestWindow([[maybe_unused]] const std::string& isin,
                                   [[maybe_unused]] const QString& strategyFile) {
#if VORLEN_BACKTEST
    TBacktestSetup setup;
    setup.Isin = isin;
    setup.StrategyFile = strategyFile;
    setup.HistoryFolder = HistoryDir();
    TTerminalPort* port = FController->Port();
    if (port != nullptr) {
        // The limits the live terminal trades under, when it has a file of them.
        const std::filesystem::path dir = port->TradingDir();
        std::error_code ec;
        if (!dir.empty() && std::filesystem::exists(dir / orders::kLimitsFileName, ec))
            setup.LimitsFile = QString::fromStdString((dir / orders::kLimitsFileName).string());
        setup.PostsPerSecond = static_cast<std::int32_t>(port->Settings().TrSpeed);
    }
    // A window of its own beside the main one, so the terminal stays usable while it runs.
    auto* form = new TBacktestForm(std::move(setup), this);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
#endif
}

void TMainForm::StopBacktests() {
#if VORLEN_BACKTEST
    for (TBacktestForm* form : findChildren<TBacktestForm*>())
        form->Abort();
#endif
}

std::vector<TBookForm*> TMainForm::BookChildren() const {
    std::vector<TBookForm*> children;
    for (QMdiSubWindow* sub : MdiArea->subWindowList(QMdiArea::CreationOrder))
        if (auto* child = qobject_cast<TBookForm*>(sub->widget()))
            children.push_back(child);
    return children;
}

void TMainForm::OpenBookWindow(std::int32_t isin_id, const std::string& isin) {
    // One window per instrument: asking again brings it forward.
    for (QMdiSubWindow* sub : MdiArea->subWindowList()) {
        if (auto* book = qobject_cast<TBookForm*>(sub->widget());
            book != nullptr && book->IsinId() == isin_id) {
            if (sub->isMinimized())
                sub->showNormal();
            MdiArea->setActiveSubWindow(sub);
            return;
        }
    }
    TTerminalPort* port = FController->Port();
    auto* book = new TBookForm(port != nullptr ? port->Books() : nullptr, isin_id, isin);
    // The port is looked up at each call rather than kept: it goes away when the terminal closes.
    book->SetHealthSource([this] {
        const TTerminalPort* p = FController->Port();
        return p != nullptr ? p->Health()[THealthLink::MarketData].State
                            : THealthState::Disconnected;
    });
    book->SetClientSource([this] {
        TTerminalPort* p = FController->Port();
        TCGStorage* store = p != nullptr ? p->Store() : nullptr;
        return store != nullptr ? orders::ReadStoreFacts(*store).Ref->Clients
                                : std::vector<std::string>();
    });
    // The desk lives until the terminal closes, when DetachBooks takes it away again.
    book->SetOrderDesk(port != nullptr ? port->OrderDesk() : nullptr);
    connect(book, &TBookForm::LevelClicked, this, &TMainForm::OpenOrderTicket);
    connect(book, &TBookForm::ChartRequested, this, [this](std::int32_t id, const QString& isin) {
        OpenChartWindow(id, isin.toStdString());
    });
    QMdiSubWindow* sub = MdiArea->addSubWindow(book);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->resize(book->size());
    sub->show();
}

std::vector<TChartForm*> TMainForm::ChartChildren() const {
    std::vector<TChartForm*> children;
    for (QMdiSubWindow* sub : MdiArea->subWindowList(QMdiArea::CreationOrder))
        if (auto* child = qobject_cast<TChartForm*>(sub->widget()))
            children.push_back(child);
    return children;
}

std::filesystem::path TMainForm::HistoryDir() const {
    if (!FHistoryDir.empty())
        return FHistoryDir;
    const TTerminalPort* port = FController->Port();
    if (port != nullptr && !port->HistoryDataDir().empty())
        return DesktopHistoryFolder(port->HistoryDataDir());
    return (port != nullptr && !port->TradingDir().empty() ? port->TradingDir()
                                                           : TradingDataDir(DefaultSavingDir())) /
           "history";
}

void TMainForm::OpenChartWindow(std::int32_t isin_id, const std::string& isin) {
    constexpr chart::TInterval kFirstInterval = chart::TInterval::Minute5;
    for (QMdiSubWindow* sub : MdiArea->subWindowList()) {
        if (auto* chart = qobject_cast<TChartForm*>(sub->widget());
            chart != nullptr && chart->IsinId() == isin_id && chart->Interval() == kFirstInterval) {
            if (sub->isMinimized())
                sub->showNormal();
            MdiArea->setActiveSubWindow(sub);
            return;
        }
    }
    auto history = std::make_unique<chart::TDbHistory>();
    std::string error;
    if (!history->Open(HistoryDir() / "history.db", error))
        history.reset();
    TTerminalPort* port = FController->Port();
    auto* chart = new TChartForm(port != nullptr ? port->Store() : nullptr, std::move(history),
                                 error, isin_id, isin, kFirstInterval);
    const THealthView health = FController->HealthView();
    chart->ShowStale(health.Stale, QString::fromStdString(health.StaleText));
    QMdiSubWindow* sub = MdiArea->addSubWindow(chart);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->resize(chart->size());
    sub->show();
}

void TMainForm::ChartNew1Execute() {
    FController->ChartNewExecute();
}

void TMainForm::DetachBooks() {
    for (TBookForm* book : BookChildren())
        book->Detach();
    for (TChartForm* chart : ChartChildren())
        chart->Detach();
    if (TOwnOrdersForm* own = OwnOrdersChild())
        own->Detach();
    for (TOptionsForm* board : OptionsChildren())
        board->Detach();
}

void TMainForm::BookNew1Execute() {
    FController->BookNewExecute();
}

void TMainForm::Timer1Timer() {
    FController->Timer1Timer();
}

void TMainForm::Settings1Execute() {
    FController->Settings1Execute();
}

void TMainForm::History1Execute() {
    const TTerminalPort* port = FController->Port();
    if (port == nullptr || port->HistoryDataDir().empty())
        return;
    THistoryForm form(port->HistoryDataDir(), this);
    if (ExecModal(form) == QDialog::Accepted)
        Memo1->AppendLine(JournalLine("Параметры записи рынка сохранены; они вступят в силу при "
                                      "следующем подключении."));
}

void TMainForm::Connect1Execute() {
    FController->Connect1Execute();
}

void TMainForm::Disconnect1Execute() {
    FController->Disconnect1Execute();
}

void TMainForm::Conndis1Execute() {
    FController->Conndis1Execute();
}

void TMainForm::FileNew1Execute() {
    FController->FileNew1Execute();
}

void TMainForm::FilesNew1Execute() {
    FController->FilesNew1Execute();
}

void TMainForm::FileExit1Execute() {
    close();
}

void TMainForm::HelpAbout1Execute() {
    ExecModal(*AboutBox);
}

void TMainForm::WindowCascade1Execute() {
    MdiArea->cascadeSubWindows();
}

void TMainForm::WindowTileHorizontal1Execute() {
    Tile(true);
}

void TMainForm::WindowTileVertical1Execute() {
    Tile(false);
}

void TMainForm::Tile(bool horizontal) {
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* sub : MdiArea->subWindowList(QMdiArea::StackingOrder))
        if (sub->isVisible() && !sub->isMinimized())
            windows.push_back(sub);
    const QSize area = MdiArea->viewport()->size();
    const std::vector<TRect> rects =
        TileRects(static_cast<int>(windows.size()), area.width(), area.height(),
                  horizontal ? TTileMode::Horizontal : TTileMode::Vertical);
    for (qsizetype i = 0; i < windows.size(); ++i) {
        const TRect& r = rects[static_cast<std::size_t>(i)];
        if (windows[i]->isMaximized())
            windows[i]->showNormal();
        windows[i]->setGeometry(r.Left, r.Top, r.Width, r.Height);
    }
}

void TMainForm::WindowMinimizeAll1Execute() {
    for (QMdiSubWindow* sub : MdiArea->subWindowList())
        sub->showMinimized();
}

void TMainForm::WindowArrange1Execute() {
    // The MDI area lines its minimised windows up again when its viewport is resized; a resize
    // to the same size asks for exactly that and nothing else.
    QWidget* viewport = MdiArea->viewport();
    QResizeEvent event(viewport->size(), viewport->size());
    QCoreApplication::sendEvent(viewport, &event);
}

void TMainForm::RebuildWindowList() {
    for (QAction* action : FWindowListActions) {
        Window1->removeAction(action);
        action->deleteLater();
    }
    FWindowListActions.clear();
    const QList<QMdiSubWindow*> windows = MdiArea->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty())
        return;
    FWindowListActions.push_back(Window1->addSeparator());
    int number = 1;
    for (QMdiSubWindow* sub : windows) {
        const QString prefix =
            number < 10 ? QStringLiteral("&%1 ").arg(number) : QStringLiteral("%1 ").arg(number);
        QAction* action = Window1->addAction(prefix + sub->windowTitle());
        action->setCheckable(true);
        action->setChecked(sub == MdiArea->activeSubWindow());
        connect(action, &QAction::triggered, this, [this, sub] {
            if (MdiArea->subWindowList().contains(sub)) {
                if (sub->isMinimized())
                    sub->showNormal();
                MdiArea->setActiveSubWindow(sub);
            }
        });
        FWindowListActions.push_back(action);
        ++number;
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (FClosed) {
        event->accept();
        return;
    }
    if (!FController->FormCloseQuery()) {
        event->ignore();
        return;
    }
    FClosed = true;
    StopReplayWatch();
    Timer1->stop();
    HealthTimer->stop();
    OrdersTimer->stop();
    DetachBooks();
    StopBacktests();
    // The shutdown order ends the transaction connection first: strategies take their orders
    // off before that.
    for (TMDIChild* child : ExpertChildren())
        child->FinishStrategy();
    FController->FormClose();
    event->accept();
}

} // namespace vorlen::gui
