#include "gui/MainForm.h"

#include "gui/AboutBox.h"
#include "gui/BookForm.h"
#include "gui/ChartForm.h"
#include "gui/GridModel.h"
#include "gui/ImageList.h"
#include "gui/JournalPane.h"
#include "gui/MdiChild.h"
#include "gui/StaleMark.h"
#include "platform/Module.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>

namespace vorlen::gui {

// The controller names the two connect-button pictures by the same indices.
static_assert(MainImage::ConnDisIdle == kConndisImage &&
              MainImage::ConnDisConnected == kConndisConnectedImage);

namespace {

constexpr int kClientWidth = 950;
constexpr int kClientHeight = 577;
constexpr int kToolBarHeight = 30;
constexpr int kPageControlHeight = 150;
constexpr int kSplitterMinimum = 150;
constexpr int kTimerInterval = 50;
constexpr int kJournalPage = kGridCount;

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

void SetHint(QAction* action, const QString& hint) {
    if (hint.isEmpty())
        return;
    const std::string h = hint.toStdString();
    action->setToolTip(QString::fromStdString(ShortHint(h)));
    action->setStatusTip(QString::fromStdString(LongHint(h)));
}

} // namespace

TMainForm::TMainForm(TPortFactory factory, std::string appPath, QWidget* parent)
    : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Vorlen"));
    setWindowIcon(MainIcon(MainImage::NewExpert));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setInterval(kTimerInterval);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);

    CreateActions();
    CreateTradingActions();
    CreateOptionsActions();
    CreateMenus();
    CreateToolBar();
    CreateClientArea();
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setSizeGripEnabled(true);
    CreateHealthIndicators();
    CreateReplayBar();
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());

    if (appPath.empty())
        appPath = platform::ExecutableDir();
    FController = std::make_unique<TMainController>(*this, std::move(factory), std::move(appPath));
    CreateOrderMenus();
    FController->FormCreate();
    ShowHealth(FController->HealthView());
    // The filters belong to the connector created just now; the menus show its state.
    SyncOrderMenus();

    AboutBox = new TAboutBox(this);
}

TMainForm::~TMainForm() {
    // Normally done by closing; a window destroyed without closing must not leave threads
    // running into a store that is about to go.
    StopReplayWatch();
    if (!FClosed) {
        FClosed = true;
        DetachBooks();
        StopBacktests();
        for (TMDIChild* child : ExpertChildren())
            child->FinishStrategy();
        FController->FormClose();
    }
}

QAction* TMainForm::NewAction(const char* name, const QString& caption, const QString& hint,
                              int image) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    if (image >= 0)
        action->setIcon(MainIcon(image));
    SetHint(action, hint);
    return action;
}

void TMainForm::CreateActions() {
    Connect1 = NewAction("Connect1", QStringLiteral("Подключиться"),
                         QStringLiteral("Соединение с роутером"), MainImage::Connect);
    Connect1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    Disconnect1 =
        NewAction("Disconnect1", QStringLiteral("Разорвать соединение"),
                  QStringLiteral("Разорвать соединение с роутером"), MainImage::Disconnect);
    Disconnect1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    Conndis1 = NewAction("Conndis1", QStringLiteral("Соединить/Разъединить"),
                         QStringLiteral("Соединение|Подключиться/Разорвать соединение с роутером"),
                         kConndisImage);
    Settings1 = NewAction("Settings1", QStringLiteral("Настройки"),
                          QStringLiteral("Настройки программы"), MainImage::Settings);
    Settings1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    History1 = NewAction("History1", QStringLiteral("&История..."),
                         QStringLiteral("История|Параметры записи рынка"), MainImage::None);
    History1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    FileExit1 = NewAction("FileExit1", QStringLiteral("В&ыход"),
                          QStringLiteral("Выход|Выйти из программы"), MainImage::Exit);
    FileNew1 = NewAction("FileNew1", QStringLiteral("&Новый эксперт"),
                         QStringLiteral("Эксперт|Создать нового эксперта"), MainImage::NewExpert);
    FileNew1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    FileNew1Tool =
        NewAction("FileNew1Tool", QStringLiteral("&Эксперт"),
                  QStringLiteral("Эксперт|Создать нового эксперта"), MainImage::NewExpert);
    FilesNew1 =
        NewAction("FilesNew1", QStringLiteral("Все эксперты"), QString(), MainImage::AllExperts);
    FilesNew1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    FilesNew1Tool = NewAction("FilesNew1Tool", QStringLiteral("Все эксперты"), QString(),
                              MainImage::AllExperts);
    BookNew1 = NewAction("BookNew1", QStringLiteral("С&такан"),
                         QStringLiteral("Стакан|Открыть стакан инструмента"), MainImage::None);
    BookNew1->setIcon(BookIcon());
    BookNew1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    BookNew1Tool = NewAction("BookNew1Tool", QStringLiteral("Стакан"),
                             QStringLiteral("Стакан|Открыть стакан инструмента"), MainImage::None);
    BookNew1Tool->setIcon(BookIcon());
    ChartNew1 = NewAction("ChartNew1", QStringLiteral("&График"),
                          QStringLiteral("График|Открыть график инструмента"), MainImage::None);
    ChartNew1->setIcon(ChartIcon());
    ChartNew1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    ChartNew1Tool = NewAction("ChartNew1Tool", QStringLiteral("График"),
                              QStringLiteral("График|Открыть график инструмента"), MainImage::None);
    ChartNew1Tool->setIcon(ChartIcon());
    HelpAbout1 = NewAction("HelpAbout1", QStringLiteral("&О программе..."),
                           QStringLiteral("О программе|Информация о программе"), MainImage::None);
    WindowCascade1 =
        NewAction("WindowCascade1", QStringLiteral("&Каскадом"), QString(), MainImage::Cascade);
    WindowTileHorizontal1 = NewAction("WindowTileHorizontal1", QStringLiteral("&Горизонтально"),
                                      QString(), MainImage::TileHorizontal);
    WindowTileVertical1 = NewAction("WindowTileVertical1", QStringLiteral("&Вертикально"),
                                    QString(), MainImage::TileVertical);
    WindowMinimizeAll1 = NewAction("WindowMinimizeAll1", QStringLiteral("&Свернуть все"), QString(),
                                   MainImage::None);
    WindowArrange1 =
        NewAction("WindowArrange1", QStringLiteral("&Выровнять все"), QString(), MainImage::None);
    StopAllExperts = NewAction("StopAllExperts", QStringLiteral("&Остановить всех экспертов"),
                               QStringLiteral("Остановить|Остановить всех работающик экспертов"),
                               MainImage::StopAll);

    // Menu entries and buttons that share a command but not an enabled state get their own
    // action each; their shortcuts live on the menu entries.
    connect(Connect1, &QAction::triggered, this, &TMainForm::Connect1Execute);
    connect(Disconnect1, &QAction::triggered, this, &TMainForm::Disconnect1Execute);
    connect(Conndis1, &QAction::triggered, this, &TMainForm::Conndis1Execute);
    connect(Settings1, &QAction::triggered, this, &TMainForm::Settings1Execute);
    connect(History1, &QAction::triggered, this, &TMainForm::History1Execute);
    connect(FileExit1, &QAction::triggered, this, &TMainForm::FileExit1Execute);
    connect(FileNew1, &QAction::triggered, this, &TMainForm::FileNew1Execute);
    connect(FileNew1Tool, &QAction::triggered, this, &TMainForm::FileNew1Execute);
    connect(FilesNew1, &QAction::triggered, this, &TMainForm::FilesNew1Execute);
    connect(FilesNew1Tool, &QAction::triggered, this, &TMainForm::FilesNew1Execute);
    connect(BookNew1, &QAction::triggered, this, &TMainForm::BookNew1Execute);
    connect(BookNew1Tool, &QAction::triggered, this, &TMainForm::BookNew1Execute);
    connect(ChartNew1, &QAction::triggered, this, &TMainForm::ChartNew1Execute);
    connect(ChartNew1Tool, &QAction::triggered, this, &TMainForm::ChartNew1Execute);
    connect(HelpAbout1, &QAction::triggered, this, &TMainForm::HelpAbout1Execute);
    connect(WindowCascade1, &QAction::triggered, this, &TMainForm::WindowCascade1Execute);
    connect(WindowTileHorizontal1, &QAction::triggered, this,
            &TMainForm::WindowTileHorizontal1Execute);
    connect(WindowTileVertical1, &QAction::triggered, this, &TMainForm::WindowTileVertical1Execute);
    connect(WindowMinimizeAll1, &QAction::triggered, this, &TMainForm::WindowMinimizeAll1Execute);
    connect(WindowArrange1, &QAction::triggered, this, &TMainForm::WindowArrange1Execute);
    connect(StopAllExperts, &QAction::triggered, this, &TMainForm::StopAllExpertsExecute);
}

void TMainForm::CreateMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    Connection1 = bar->addMenu(QStringLiteral("&Соединение"));
    Connection1->setObjectName(QStringLiteral("Connection1"));
    Connection1->menuAction()->setStatusTip(
        QStringLiteral("Подключение, настройки и выход из программы"));
    Connection1->addAction(Connect1);
    Connection1->addAction(Disconnect1);
    Connection1->addAction(Settings1);
    Connection1->addAction(History1);
    Connection1->addSeparator();
    Connection1->addAction(FileExit1);

    Experts1 = bar->addMenu(QStringLiteral("&Эксперт(ы)"));
    Experts1->setObjectName(QStringLiteral("Experts1"));
    Experts1->menuAction()->setStatusTip(QStringLiteral("Создание эксперта(ов)"));
    Experts1->addAction(FileNew1);
    Experts1->addAction(FilesNew1);
    Experts1->addSeparator();
    Experts1->addAction(BookNew1);
    Experts1->addAction(OptionsNew1);
    Experts1->addAction(ChartNew1);

    CreateTradingMenu();

    Window1 = bar->addMenu(QStringLiteral("&Окна"));
    Window1->setObjectName(QStringLiteral("Window1"));
    Window1->menuAction()->setStatusTip(QStringLiteral("Команды дочерних окон"));
    Window1->addAction(WindowCascade1);
    Window1->addAction(WindowTileHorizontal1);
    Window1->addAction(WindowTileVertical1);
    Window1->addAction(WindowMinimizeAll1);
    Window1->addAction(WindowArrange1);
    connect(Window1, &QMenu::aboutToShow, this, &TMainForm::RebuildWindowList);

    Help1 = bar->addMenu(QStringLiteral("&Помощь"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Help1->menuAction()->setStatusTip(QStringLiteral("Помощь"));
    Help1->addAction(HelpAbout1);
}

void TMainForm::CreateToolBar() {
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->toggleViewAction()->setVisible(false);
    ToolBar1->addAction(Conndis1);
    ToolBar1->addSeparator();
    ToolBar1->addAction(FileNew1Tool);
    ToolBar1->addAction(FilesNew1Tool);
    ToolBar1->addAction(BookNew1Tool);
    ToolBar1->addAction(OptionsNew1Tool);
    ToolBar1->addAction(ChartNew1Tool);
    ToolBar1->addSeparator();
    ToolBar1->addAction(WindowCascade1);
    ToolBar1->addAction(WindowTileHorizontal1);
    ToolBar1->addAction(WindowTileVertical1);
    ToolBar1->addSeparator();
    ToolBar1->addAction(StopAllExperts);
    ToolBar1->addAction(KillSwitch1Tool);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void TMainForm::CreateClientArea() {
    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setChildrenCollapsible(false);

    MdiArea = new QMdiArea(Splitter1);
    MdiArea->setObjectName(QStringLiteral("MdiArea"));
    MdiArea->setMinimumHeight(kSplitterMinimum);
    MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    MainPageControl = new QTabWidget(Splitter1);
    MainPageControl->setObjectName(QStringLiteral("MainPageControl"));
    MainPageControl->setMinimumHeight(kSplitterMinimum);
    for (int g = 0; g < kGridCount; ++g) {
        const TGridLayout& layout = GridLayout(g);
        auto* view = new TGridView(layout, MainPageControl);
        GridViews[static_cast<std::size_t>(g)] = view;
        MainPageControl->addTab(view, Q(layout.PageCaption));
    }
    Memo1 = new TJournalPane(MainPageControl);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    MainPageControl->addTab(Memo1, Q(kJournalPageCaption));
    MainPageControl->setCurrentIndex(kJournalPage);

    Splitter1->addWidget(MdiArea);
    Splitter1->addWidget(MainPageControl);
    // Growing the window grows the MDI area; the pages keep their height.
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setSizes({kClientHeight - kToolBarHeight - kPageControlHeight, kPageControlHeight});
    setCentralWidget(Splitter1);
}

void TMainForm::CreateHealthIndicators() {
    const auto indicator = [this](const char* name) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setAutoFillBackground(true);
        label->setMargin(1);
        statusBar()->addPermanentWidget(label);
        return label;
    };
    MarketDataHealth = indicator("MarketDataHealth");
    TransactionsHealth = indicator("TransactionsHealth");
    for (std::size_t g = 0; g < GridMarks.size(); ++g)
        GridMarks[g] = new TStaleMark(GridViews[g]);
    HealthTimer = new QTimer(this);
    HealthTimer->setObjectName(QStringLiteral("HealthTimer"));
    HealthTimer->setInterval(1000);
    connect(HealthTimer, &QTimer::timeout, this, [this] { ShowHealth(FController->HealthView()); });
    HealthTimer->start();
}

void TMainForm::CreateOrderMenus() {
    const auto add = [](QMenu* menu, const char* name, TOrderMenuItem item) {
        auto* action = menu->addAction(Q(kOrderMenuCaptions[static_cast<std::size_t>(item)]));
        action->setObjectName(QString::fromLatin1(name));
        action->setCheckable(true);
        return action;
    };
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    ActiveOrders = add(PopupMenu1, "ActiveOrders", TOrderMenuItem::Active);
    DoneOrders = add(PopupMenu1, "DoneOrders", TOrderMenuItem::Done);
    AllOrders = add(PopupMenu1, "AllOrders", TOrderMenuItem::All);
    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    ActiveMLOrders = add(PopupMenu2, "ActiveMLOrders", TOrderMenuItem::Active);
    DoneMLOrders = add(PopupMenu2, "DoneMLOrders", TOrderMenuItem::Done);
    AllMLOrders = add(PopupMenu2, "AllMLOrders", TOrderMenuItem::All);

    const auto bind = [this](QAction* action, void (TOrderMenus::*click)()) {
        connect(action, &QAction::triggered, this, [this, click] {
            (FController->OrderMenus().*click)();
            SyncOrderMenus();
        });
    };
    bind(ActiveOrders, &TOrderMenus::ActiveOrdersClick);
    bind(DoneOrders, &TOrderMenus::DoneOrdersClick);
    bind(AllOrders, &TOrderMenus::AllOrdersClick);
    bind(ActiveMLOrders, &TOrderMenus::ActiveMLOrdersClick);
    bind(DoneMLOrders, &TOrderMenus::DoneMLOrdersClick);
    bind(AllMLOrders, &TOrderMenus::AllMLOrdersClick);

    // Both menus copy from the grid on the current page: the orders grid's menu only opens over
    // it, the page control's over whichever page is shown.
    for (QMenu* menu : {PopupMenu1, PopupMenu2}) {
        menu->addSeparator();
        QAction* copy = menu->addAction(QStringLiteral("Копировать"));
        copy->setObjectName(QStringLiteral("CopyCells"));
        connect(copy, &QAction::triggered, this, [this] {
            if (auto* grid = qobject_cast<TGridView*>(MainPageControl->currentWidget()))
                grid->CopySelection();
        });
    }

    // The orders grid has a menu of its own; every other page without one (the multi-leg
    // orders grid among them) and the tab strip pass the request up to the page control.
    QWidget* orders = GridViews[kOrdersGrid];
    orders->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(orders, &QWidget::customContextMenuRequested, this,
            [this, orders](QPoint pos) { PopupMenu1->popup(orders->mapToGlobal(pos)); });
    MainPageControl->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(MainPageControl, &QWidget::customContextMenuRequested, this,
            [this](QPoint pos) { PopupMenu2->popup(MainPageControl->mapToGlobal(pos)); });
}

void TMainForm::SyncOrderMenus() {
    const TOrderMenus& menus = FController->OrderMenus();
    ActiveOrders->setChecked(menus.PopupMenu1.Checked(TOrderMenuItem::Active));
    DoneOrders->setChecked(menus.PopupMenu1.Checked(TOrderMenuItem::Done));
    AllOrders->setChecked(menus.PopupMenu1.Checked(TOrderMenuItem::All));
    ActiveMLOrders->setChecked(menus.PopupMenu2.Checked(TOrderMenuItem::Active));
    DoneMLOrders->setChecked(menus.PopupMenu2.Checked(TOrderMenuItem::Done));
    AllMLOrders->setChecked(menus.PopupMenu2.Checked(TOrderMenuItem::All));
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (FPlaced)
        return;
    FPlaced = true;
    if (const QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        const QRect frame = frameGeometry();
        move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
    }
}

} // namespace vorlen::gui
