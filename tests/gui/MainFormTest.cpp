#include "gui/MainForm.h"

#include "GuiSupport.h"
#include "gui/ChForm.h"
#include "gui/GridModel.h"
#include "gui/JournalPane.h"
#include "gui/MdiChild.h"
#include "gui/QtTranslations.h"
#include "gui/SetForm.h"
#include "gui/StaleMark.h"
#include "main/FakePort.h"

#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTranslator>

namespace vorlen::test {
namespace {

using gui::TMainForm;

QStringList Texts(const QList<QAction*>& actions) {
    QStringList texts;
    for (const QAction* a : actions)
        texts << (a->isSeparator() ? QStringLiteral("|") : a->text());
    return texts;
}

class MainFormTest : public ::testing::Test {
protected:
    void Create(TPortScript script = {}) {
        Form = std::make_unique<TMainForm>(FakePortFactory(std::move(script), Log, &Port),
                                           "/opt/vorlen/");
        Form->show();
    }
    // Start-up through the timer with the dialog applied as it opens.
    void Ready(TPortScript script = {}) {
        Modal.Steps.push_back(TScriptedModal::Accept);
        Create(std::move(script));
        ASSERT_TRUE(WaitFor([&] { return Modal.Shown == 1; }));
        ASSERT_TRUE(Form->Connect1->isEnabled());
    }
    void TearDown() override {
        if (Form != nullptr) {
            Boxes.DefaultAnswer = true;
            Form->close();
            Form.reset();
        }
    }
    QStringList JournalLines() const { return Form->Memo1->Lines(); }

    std::shared_ptr<TPortLog> Log = std::make_shared<TPortLog>();
    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    TScriptedModal Modal;
    TFakePort* Port = nullptr;
    std::unique_ptr<TMainForm> Form;
};

TEST_F(MainFormTest, LayoutCaptionsAndTheStartingState) {
    Modal.Steps.push_back(TScriptedModal::Reject);
    Create();
    EXPECT_EQ(Form->windowTitle(), "Vorlen");
    EXPECT_EQ(Form->width(), 950);
    EXPECT_EQ(Form->height() - Form->menuBar()->height(), 577);
    EXPECT_EQ(Form->ToolBar1->height(), 30);

    QStringList tabs;
    for (int i = 0; i < Form->MainPageControl->count(); ++i)
        tabs << Form->MainPageControl->tabText(i);
    EXPECT_EQ(tabs, (QStringList{"Счет", "Ордера", "Составные ордера", "Сделки", "Составные сделки",
                                 "Позиции", "Журнал"}));
    EXPECT_EQ(Form->MainPageControl->currentWidget(), Form->Memo1);
    EXPECT_EQ(Form->MainPageControl->height(), 150);

    EXPECT_EQ(Texts(Form->menuBar()->actions()),
              (QStringList{"&Соединение", "&Эксперт(ы)", "&Торговля", "&Окна", "&Помощь"}));
    EXPECT_EQ(Texts(Form->Trading1->actions()),
              (QStringList{"&Новая заявка...", "&Мои заявки", "|",
                           "Снять все заявки и остановить торговлю", "&Разрешить торговлю", "|",
                           "&Лимиты заявок..."}));
    EXPECT_EQ(Texts(Form->Connection1->actions()),
              (QStringList{"Подключиться", "Разорвать соединение", "Настройки", "&История...", "|",
                           "В&ыход"}));
    EXPECT_EQ(Texts(Form->Experts1->actions()), (QStringList{"&Новый эксперт", "Все эксперты", "|",
                                                             "С&такан", "&Опционы", "&График"}));
    EXPECT_EQ(Texts(Form->Window1->actions()),
              (QStringList{"&Каскадом", "&Горизонтально", "&Вертикально", "&Свернуть все",
                           "&Выровнять все"}));
    EXPECT_EQ(Texts(Form->Help1->actions()), QStringList{"&О программе..."});
    EXPECT_EQ(Form->Connection1->menuAction()->statusTip(),
              "Подключение, настройки и выход из программы");
    EXPECT_EQ(Form->Window1->menuAction()->statusTip(), "Команды дочерних окон");
    EXPECT_EQ(
        Texts(Form->ToolBar1->actions()),
        (QStringList{"Соединить/Разъединить", "|", "&Эксперт", "Все эксперты", "Стакан", "Опционы",
                     "График", "|", "&Каскадом", "&Горизонтально", "&Вертикально", "|",
                     "&Остановить всех экспертов", "Снять все заявки и остановить торговлю"}));

    EXPECT_EQ(Form->Connect1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
    EXPECT_EQ(Form->Disconnect1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_EQ(Form->Settings1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(Form->FileNew1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    EXPECT_EQ(Form->FilesNew1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_TRUE(Form->Conndis1->shortcut().isEmpty());
    // The book's shortcut is its own: no two commands of the window share one.
    EXPECT_EQ(Form->BookNew1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_B));
    EXPECT_EQ(Form->History1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));
    QList<QKeySequence> shortcuts;
    for (const QAction* a : Form->findChildren<QAction*>()) {
        if (a->shortcut().isEmpty())
            continue;
        EXPECT_FALSE(shortcuts.contains(a->shortcut())) << a->objectName().toStdString();
        shortcuts << a->shortcut();
    }
    EXPECT_EQ(Form->Conndis1->toolTip(), "Соединение");
    EXPECT_EQ(Form->Conndis1->statusTip(), "Подключиться/Разорвать соединение с роутером");
    EXPECT_EQ(Form->FileNew1Tool->statusTip(), "Создать нового эксперта");
    EXPECT_EQ(Form->Settings1->statusTip(), "Настройки программы");
    EXPECT_EQ(Form->StopAllExperts->statusTip(), "Остановить всех работающик экспертов");
    EXPECT_TRUE(Form->FilesNew1->statusTip().isEmpty());
    EXPECT_TRUE(Form->HelpAbout1->icon().isNull());
    for (QAction* a :
         {Form->Connect1, Form->Disconnect1, Form->Conndis1, Form->Settings1, Form->FileExit1,
          Form->FileNew1, Form->FilesNew1, Form->StopAllExperts, Form->WindowCascade1,
          Form->WindowTileHorizontal1, Form->WindowTileVertical1})
        EXPECT_FALSE(a->icon().isNull()) << a->objectName().toStdString();

    for (QAction* a : {Form->Conndis1, Form->FileNew1Tool, Form->FilesNew1Tool,
                       Form->StopAllExperts, Form->Connect1, Form->Disconnect1, Form->FileNew1,
                       Form->FilesNew1, Form->BookNew1, Form->BookNew1Tool, Form->Ticket1,
                       Form->OwnOrders1, Form->KillSwitch1, Form->KillSwitch1Tool, Form->Rearm1})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    for (QAction* a : {Form->Settings1, Form->FileExit1, Form->HelpAbout1, Form->WindowCascade1,
                       Form->WindowMinimizeAll1, Form->WindowArrange1, Form->Limits1})
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();

    for (gui::TGridView* grid : Form->GridViews) {
        const TGridLayout& layout = grid->Layout();
        ASSERT_EQ(grid->model()->columnCount(), static_cast<int>(layout.Columns.size()));
        EXPECT_EQ(grid->model()->rowCount(), 1);
        EXPECT_EQ(grid->model()->data(grid->model()->index(0, 0)).toString(), "");
        const QFontMetrics metrics(grid->font());
        for (int c = 0; c < grid->model()->columnCount(); ++c) {
            const QString caption = QString::fromUtf8(
                layout.Columns[static_cast<std::size_t>(c)].Caption.data(),
                static_cast<int>(layout.Columns[static_cast<std::size_t>(c)].Caption.size()));
            EXPECT_EQ(grid->model()->headerData(c, Qt::Horizontal).toString(), caption);
            EXPECT_EQ(grid->columnWidth(c), metrics.horizontalAdvance(caption + "11"));
        }
        EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), 18);
        EXPECT_EQ(grid->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
        EXPECT_EQ(grid->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
        EXPECT_EQ(grid->textElideMode(), Qt::ElideNone);
        EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        EXPECT_TRUE(grid->showGrid());
    }
    EXPECT_TRUE(WaitFor([&] { return Modal.Shown == 1; }));
}

TEST_F(MainFormTest, StatusBarShowsTheLongPartOfTheHintUnderTheMouse) {
    Modal.Steps.push_back(TScriptedModal::Reject);
    Create();
    ASSERT_TRUE(WaitFor([&] { return Modal.Shown == 1; }));
    QWidget* button = Form->ToolBar1->widgetForAction(Form->FileNew1Tool);
    ASSERT_NE(button, nullptr);
    QStatusTipEvent tip(button->statusTip());
    QApplication::sendEvent(button, &tip);
    EXPECT_EQ(Form->statusBar()->currentMessage(), "Создать нового эксперта");
}

TEST_F(MainFormTest, CancelledSettingsAtStartThenCtrlSRunsTheWholeSequence) {
    Modal.Steps.push_back([](QDialog& d) {
        EXPECT_NE(qobject_cast<gui::TSetForm*>(&d), nullptr);
        return static_cast<int>(QDialog::Rejected);
    });
    Create();
    ASSERT_TRUE(WaitFor([&] { return Modal.Shown == 1; }));
    const QStringList lines = JournalLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(" --> Настройки не применены!")) << lines[0].toStdString();
    EXPECT_EQ(Boxes.Texts(TDialogKind::Info), std::vector<std::string>{"Настройки не применены."});
    EXPECT_FALSE(Form->Connect1->isEnabled());
    EXPECT_EQ(Log->Count("LoadGateway /opt/cgate/bin/cgate64.dll"), 0);

    Modal.Steps.push_back(TScriptedModal::Accept);
    QApplication::setActiveWindow(Form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    QTest::keyClick(Form.get(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(WaitFor([&] { return Modal.Shown == 2; }));
    EXPECT_TRUE(Port->S.isSet);
    EXPECT_EQ(Log->Count("LoadGateway /opt/cgate/bin/cgate64.dll"), 1);
    EXPECT_TRUE(Form->Connect1->isEnabled());
    EXPECT_TRUE(Form->Conndis1->isEnabled());
    EXPECT_EQ(JournalLines().size(), 1);
}

TEST_F(MainFormTest, SecondSettingsShowsTheDialogAtOnceAndReloadsNothing) {
    Ready();
    Modal.Steps.push_back(TScriptedModal::Accept);
    Form->Settings1->trigger();
    EXPECT_EQ(Modal.Shown, 2) << "shown before trigger returned, not by the timer";
    EXPECT_TRUE(Port->S.isSet);
    // No settings sequence is left armed to show the dialog a third time.
    EXPECT_FALSE(Form->Timer1->isActive());
    int loads = 0;
    for (const auto& call : Log->Calls)
        loads += call.rfind("Load", 0) == 0 ? 1 : 0;
    EXPECT_EQ(loads, 2) << "one router, one library";
}

TEST_F(MainFormTest, ConnectTwiceChangesNothingAndSettingsCloses) {
    Ready();
    Form->Connect1->trigger();
    EXPECT_TRUE(Port->Env);
    EXPECT_FALSE(Form->Settings1->isEnabled());
    Form->Connect1->trigger();
    EXPECT_EQ(Log->Count("OpenEnvironment"), 1);
    EXPECT_EQ(Log->Count("StartMarketData"), 1);

    Port->OnConnected();
    EXPECT_FALSE(Form->Connect1->isEnabled());
    EXPECT_TRUE(Form->Disconnect1->isEnabled());
    EXPECT_TRUE(Form->FileNew1->isEnabled());
    EXPECT_TRUE(Form->FileNew1Tool->isEnabled());
    EXPECT_TRUE(Form->FilesNew1->isEnabled());
    EXPECT_TRUE(Form->FilesNew1Tool->isEnabled());
    EXPECT_FALSE(Form->StopAllExperts->isEnabled());
    EXPECT_TRUE(Form->Conndis1->isEnabled());
    Form->FilesNew1->trigger();
    EXPECT_TRUE(Form->StopAllExperts->isEnabled());
}

// Two labelled, coloured indicators follow the connections; the grids' captions are tinted and
// carry the time of the last data while market data is not live; the toolbar button and
// Ctrl+R disconnect once connected.
TEST_F(MainFormTest, StatusBarIndicatorsAndStaleGridsFollowTheConnections) {
    Ready();
    auto* md = Form->findChild<QLabel*>(QStringLiteral("MarketDataHealth"));
    auto* tr = Form->findChild<QLabel*>(QStringLiteral("TransactionsHealth"));
    ASSERT_NE(md, nullptr);
    ASSERT_NE(tr, nullptr);
    EXPECT_EQ(md->text(), QStringLiteral("Маркет-дата: отключено"));
    EXPECT_EQ(tr->text(), QStringLiteral("Трансакции: отключено"));
    Form->Connect1->trigger();
    Port->OnConnected();

    const auto show = [this](THealthState mdState, std::int64_t age, THealthState trState) {
        Port->HealthNow.Links[0] = {mdState, age};
        Port->HealthNow.Links[1] = {trState, age};
        Port->OnHealth();
    };
    struct TCase {
        THealthState Md, Tr;
        QString MdText;
        bool Stale;
    };
    for (const TCase& c : std::vector<TCase>{
             {THealthState::Connecting, THealthState::Connecting, "Маркет-дата: подключение",
              false},
             {THealthState::Online, THealthState::Online, "Маркет-дата: на связи, данные 3 с назад",
              false},
             {THealthState::Stale, THealthState::Online,
              "Маркет-дата: нет данных, данные 3 с назад", true},
             {THealthState::Reconnecting, THealthState::Reconnecting,
              "Маркет-дата: переподключение, данные 3 с назад", true},
         }) {
        show(c.Md, c.Md == THealthState::Connecting ? -1 : 3000, c.Tr);
        EXPECT_EQ(md->text(), c.MdText);
        EXPECT_EQ(md->palette().color(QPalette::Window), gui::HealthColor(c.Md))
            << c.MdText.toStdString();
        EXPECT_EQ(tr->palette().color(QPalette::Window), gui::HealthColor(c.Tr));
        for (std::size_t g = 0; g < Form->GridViews.size(); ++g) {
            EXPECT_EQ(Form->GridViews[g]->horizontalHeader()->styleSheet().isEmpty(), !c.Stale);
            EXPECT_EQ(Form->GridMarks[g]->isHidden(), !c.Stale);
        }
        if (c.Stale) {
            EXPECT_TRUE(Form->GridMarks[0]->text().contains(QStringLiteral("Последние данные в ")));
        }
    }
    EXPECT_NE(gui::HealthColor(THealthState::Online), gui::HealthColor(THealthState::Stale));

    // The time since the last data moves on without a change of state.
    Port->HealthNow.Links[0].DataAgeMs = 65000;
    ASSERT_TRUE(WaitFor([&] { return md->text().contains(QStringLiteral("данные 1 мин назад")); }));

    Form->Conndis1->trigger();
    EXPECT_EQ(Log->Count("StopConnections"), 1);
    EXPECT_TRUE(Form->Connect1->isEnabled());
    EXPECT_FALSE(Form->Disconnect1->isEnabled());
    EXPECT_FALSE(Form->FileNew1->isEnabled());
    Form->Conndis1->trigger();
    EXPECT_EQ(Log->Count("StartMarketData"), 2);
    EXPECT_EQ(Log->Count("OpenEnvironment"), 1);
}

TEST_F(MainFormTest, DisconnectBeforeAnyConnectionConnects) {
    Ready();
    Form->Disconnect1Execute();
    EXPECT_TRUE(Port->Env);
    EXPECT_EQ(Log->Count("StartMarketData"), 1);
}

class VersionTest : public MainFormTest {
protected:
    void SetUp() override {
        Saved = CG();
        CG().cg_env_open = [](const char*) -> uint32_t { return 0; };
        CG().cg_env_getcomp_ver = [](const char* component, uint32_t* major, uint32_t* minor,
                                     uint32_t* build) -> uint32_t {
            if (std::string(component) != "cgate")
                return 1;
            *major = Major;
            *minor = Minor;
            *build = Build;
            return 0;
        };
    }
    void TearDown() override {
        MainFormTest::TearDown();
        CG() = Saved;
    }
    void ConnectWith(std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
        Major = major;
        Minor = minor;
        Build = build;
        TPortScript script;
        script.RealEnvironment = true;
        Ready(script);
        Form->Connect1->trigger();
    }

    TCGateEntryPoints Saved;
    static inline std::uint32_t Major = 0, Minor = 0, Build = 0;
};

TEST_F(VersionTest, SixSixtyIsAccepted) {
    ConnectWith(6, 60, 0);
    EXPECT_TRUE(Boxes.Calls.empty());
    EXPECT_EQ(Log->Count("StartMarketData"), 1);
}

TEST_F(VersionTest, SixFiftyNineBelowBuild65536IsRefused) {
    ConnectWith(6, 59, 65535);
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error),
              std::vector<std::string>{"Версия CGATE.DLL должна быть более новой!"});
    EXPECT_EQ(Log->Count("StartMarketData"), 0);
    EXPECT_TRUE(Port->Env);
    EXPECT_TRUE(Form->Settings1->isEnabled());
}

TEST_F(VersionTest, SixFiftyNineAtBuild65536CountsAsSixSixty) {
    ConnectWith(6, 59, 65536);
    EXPECT_TRUE(Boxes.Calls.empty());
    EXPECT_EQ(Log->Count("StartMarketData"), 1);
}

class ExpertWindowsTest : public MainFormTest {
protected:
    void SetUp() override {
        TPortScript script;
        script.WithStore = true;
        script.Fut = {Header(11, "GAZR-6.26", "GZM6", "Газпром"),
                      Header(12, "Si-12.26", "SiZ6", "Доллар")};
        script.Opt = {Header(21, "Si-12.26M", "Si80", "Опцион 1"),
                      Header(22, "GAZR-6.26N", "GZ81", "Опцион 2")};
        script.Spot = {{1, "GAZP", "GAZP", "Газпром ао"}, {2, "USD000UTSTOM", "USD", "Доллар"}};
        Ready(script);
        Form->Connect1->trigger();
        Port->OnConnected();
    }
};

TEST_F(ExpertWindowsTest, TheSecondExpertPreselectsTheSecondEntries) {
    Modal.Steps.push_back([](QDialog& d) {
        auto* ch = qobject_cast<gui::TChForm*>(&d);
        EXPECT_NE(ch, nullptr);
        EXPECT_EQ(ch->FutBox->currentIndex(), 0);
        EXPECT_EQ(ch->Label1->text(), "Код фьючерса: GZM6");
        return static_cast<int>(QDialog::Accepted);
    });
    Form->FileNew1->trigger();
    EXPECT_FALSE(Form->FilesNew1->isEnabled());
    EXPECT_FALSE(Form->FilesNew1Tool->isEnabled());
    EXPECT_TRUE(Form->StopAllExperts->isEnabled());

    Modal.Steps.push_back([](QDialog& d) {
        auto* ch = qobject_cast<gui::TChForm*>(&d);
        EXPECT_EQ(ch->FutBox->currentIndex(), 1);
        EXPECT_EQ(ch->OptBox->currentIndex(), 1);
        EXPECT_EQ(ch->Label1->text(), "Код фьючерса: SiZ6");
        EXPECT_EQ(ch->Label2->text(), "Код опциона: GZ81");
        return static_cast<int>(QDialog::Accepted);
    });
    Form->FileNew1Tool->trigger();
    const auto children = Form->ExpertChildren();
    ASSERT_EQ(children.size(), 2U);
    EXPECT_EQ(children[0]->windowTitle(), "GAZR-6.26(GAZP}-[11]");
    EXPECT_EQ(children[1]->windowTitle(), "Si-12.26(USD000UTSTOM}-[12]");
    ASSERT_NE(children[1]->Expert(), nullptr);
    EXPECT_EQ(children[1]->Expert()->isin_id, 12);
    EXPECT_EQ(children[1]->Expert()->Futname, "Доллар");
    EXPECT_EQ(children[1]->Expert()->Futisin, "Si-12.26");
    EXPECT_TRUE(children[1]->Expert()->Started());
    EXPECT_EQ(children[1]->Memo1->Lines(), QStringList{"Memo1"});
    EXPECT_EQ(children[1]->size(), QSize(415, 253));
}

TEST_F(ExpertWindowsTest, AnOpenCaptionGivesAlreadyCreated) {
    Modal.Steps.push_back(TScriptedModal::Accept);
    Form->FileNew1->trigger();
    Modal.Steps.push_back([](QDialog& d) {
        auto* ch = qobject_cast<gui::TChForm*>(&d);
        ch->FutBox->setCurrentIndex(0);
        ch->FutBoxChange(0);
        return static_cast<int>(QDialog::Accepted);
    });
    Form->FileNew1->trigger();
    EXPECT_EQ(Boxes.Texts(TDialogKind::Info),
              std::vector<std::string>{"Инструмент GAZR-6.26(GAZP}-[11] уже создан!"});
    EXPECT_EQ(Form->ExpertChildren().size(), 1U);

    Modal.Steps.push_back(TScriptedModal::Reject);
    Form->FileNew1->trigger();
    EXPECT_EQ(Form->ExpertChildren().size(), 1U) << "Cancel opens nothing";
}

TEST_F(ExpertWindowsTest, WindowCommandsAndTheWindowList) {
    for (int i = 0; i < 2; ++i) {
        Modal.Steps.push_back(TScriptedModal::Accept);
        Form->FileNew1->trigger();
    }
    QList<QMdiSubWindow*> subs = Form->MdiArea->subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(subs.size(), 2);

    emit Form->Window1->aboutToShow();
    const QStringList items = Texts(Form->Window1->actions());
    ASSERT_EQ(items.size(), 8);
    EXPECT_EQ(items[5], "|");
    EXPECT_EQ(items[6], "&1 GAZR-6.26(GAZP}-[11]");
    EXPECT_EQ(items[7], "&2 Si-12.26(USD000UTSTOM}-[12]");
    Form->Window1->actions()[6]->trigger();
    EXPECT_EQ(Form->MdiArea->activeSubWindow(), subs[0]);

    Form->WindowTileHorizontal1->trigger();
    const QSize area = Form->MdiArea->viewport()->size();
    EXPECT_EQ(subs[0]->width(), area.width());
    EXPECT_EQ(subs[1]->width(), area.width());
    EXPECT_EQ(subs[0]->height() + subs[1]->height(), area.height());
    EXPECT_NE(subs[0]->y(), subs[1]->y());
    Form->WindowTileVertical1->trigger();
    EXPECT_EQ(subs[0]->height(), area.height());
    EXPECT_EQ(subs[0]->width() + subs[1]->width(), area.width());

    Form->WindowMinimizeAll1->trigger();
    EXPECT_TRUE(subs[0]->isMinimized());
    EXPECT_TRUE(subs[1]->isMinimized());
    Form->WindowArrange1->trigger();
    EXPECT_TRUE(subs[1]->isMinimized());
    Form->WindowCascade1->trigger();

    // Closing an expert window stops its expert; the window goes.
    gui::TMDIChild* first = Form->ExpertChildren()[0];
    TExpert* expert = first->Expert();
    ASSERT_NE(expert, nullptr);
    subs[0]->close();
    EXPECT_TRUE(WaitFor([&] { return Form->ExpertChildren().size() == 1U; }));
}

TEST_F(MainFormTest, OrderFilterMenusMoveTheirCheckMarks) {
    Ready();
    EXPECT_TRUE(Form->ActiveOrders->isChecked());
    EXPECT_TRUE(Form->ActiveMLOrders->isChecked());
    EXPECT_EQ(
        Texts(Form->PopupMenu1->actions()),
        (QStringList{"Активные заявки", "Исполненные заявки", "Все заявки", "|", "Копировать"}));
    Form->AllOrders->trigger();
    EXPECT_EQ(Port->Orders, 4);
    EXPECT_TRUE(Form->AllOrders->isChecked());
    EXPECT_FALSE(Form->ActiveOrders->isChecked());
    Form->AllOrders->trigger();
    EXPECT_TRUE(Form->AllOrders->isChecked()) << "the checked item stays checked";
    Form->DoneMLOrders->trigger();
    EXPECT_EQ(Port->MLOrders, 2);
    EXPECT_EQ(Port->Orders, 4);
    EXPECT_TRUE(Form->DoneMLOrders->isChecked());
    EXPECT_FALSE(Form->ActiveMLOrders->isChecked());
    // Each change asks for a pass of its own grid at once; the repeated choice asks for none.
    EXPECT_EQ(Port->Refreshed, (std::vector<int>{kOrdersGrid, kMLOrdersGrid}));
}

// Ctrl+C is the window's Connect, but where text or cells are selected it copies them; the
// grids' menus copy too.
TEST_F(MainFormTest, CtrlCCopiesASelectionAndConnectsWithout) {
    Ready();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    QSignalSpy connects(Form->Connect1, &QAction::triggered);
    QClipboard* clipboard = QGuiApplication::clipboard();
    const auto ctrlC = [](QWidget* w) {
        w->setFocus();
        QTest::keyClick(w, Qt::Key_C, Qt::ControlModifier);
    };

    // The journal: a selected line is copied, Connect does not run.
    Form->MainPageControl->setCurrentIndex(kGridCount);
    Form->Memo1->AppendLine("первая строка");
    Form->Memo1->AppendLine("вторая строка");
    QTextCursor cursor = Form->Memo1->document()->find(QStringLiteral("вторая строка"));
    ASSERT_FALSE(cursor.isNull());
    Form->Memo1->setTextCursor(cursor);
    clipboard->clear();
    ctrlC(Form->Memo1);
    EXPECT_EQ(clipboard->text(), "вторая строка");
    EXPECT_EQ(connects.count(), 0);

    // A grid block: tab-separated rows.
    gui::TGridView* grid = Form->GridViews[kDealsGrid];
    Form->MainPageControl->setCurrentIndex(kDealsGrid);
    gui::TGridModel& model = grid->Model();
    model.BeginUpdate();
    model.SetRowCount(2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            model.SetCell(r, c, std::to_string(10 * r + c));
    model.EndUpdate();
    grid->selectionModel()->select(QItemSelection(model.index(0, 1), model.index(1, 2)),
                                   QItemSelectionModel::ClearAndSelect);
    clipboard->clear();
    ctrlC(grid);
    EXPECT_EQ(clipboard->text(), "1\t2\n11\t12\n");
    EXPECT_EQ(connects.count(), 0);

    // The page control's menu copies from the grid shown.
    grid->selectionModel()->select(model.index(1, 0), QItemSelectionModel::ClearAndSelect);
    Form->PopupMenu2->findChild<QAction*>(QStringLiteral("CopyCells"))->trigger();
    EXPECT_EQ(clipboard->text(), "10\n");

    // Nothing selected: Ctrl+C connects, from the grid and from the journal alike.
    grid->clearSelection();
    ctrlC(grid);
    EXPECT_EQ(connects.count(), 1);
    Form->MainPageControl->setCurrentIndex(kGridCount);
    Form->Memo1->moveCursor(QTextCursor::End);
    ctrlC(Form->Memo1);
    EXPECT_EQ(connects.count(), 2);
}

TEST(QtTranslations, StandardButtonsSpeakTheInterfacesLanguage) {
    QTranslator* translator = gui::InstallQtTranslations(*QCoreApplication::instance());
    ASSERT_NE(translator, nullptr) << "qtbase_ru not found (package qt6-translations-l10n)";
    QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Open);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), "Отмена");
    QCoreApplication::removeTranslator(translator);
    delete translator;
    // Taken out again, so the other tests see Qt's own texts.
    QDialogButtonBox later(QDialogButtonBox::Cancel);
    EXPECT_EQ(later.button(QDialogButtonBox::Cancel)->text(), "Cancel");
}

TEST_F(MainFormTest, RightClicksOpenTheOrdersMenuOrThePageControlsMenu) {
    Ready();
    QSignalSpy first(Form->PopupMenu1, &QMenu::aboutToShow);
    QSignalSpy second(Form->PopupMenu2, &QMenu::aboutToShow);
    const auto rightClick = [](QWidget* w) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                                w->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(w, &event);
    };
    Form->MainPageControl->setCurrentIndex(kOrdersGrid);
    rightClick(Form->GridViews[kOrdersGrid]->viewport());
    EXPECT_EQ(first.count(), 1);
    EXPECT_EQ(second.count(), 0);
    Form->PopupMenu1->close();

    // The multi-leg orders grid has no menu of its own: its page control's menu opens.
    Form->MainPageControl->setCurrentIndex(kMLOrdersGrid);
    rightClick(Form->GridViews[kMLOrdersGrid]->viewport());
    EXPECT_EQ(second.count(), 1);
    Form->PopupMenu2->close();
    rightClick(Form->MainPageControl->tabBar());
    EXPECT_EQ(second.count(), 2);
    Form->PopupMenu2->close();
    EXPECT_EQ(first.count(), 1);
}

TEST_F(MainFormTest, CancelInTheConfirmationKeepsEverythingRunning) {
    Ready();
    Form->Connect1->trigger();
    Boxes.Answers = {false};
    EXPECT_FALSE(Form->close());
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Boxes.Texts(TDialogKind::Confirm),
              std::vector<std::string>{"Вы действительно хотите выйти?"});
    EXPECT_EQ(Log->Count("StopUpdater"), 0);
    EXPECT_EQ(Log->Count("Release"), 0);

    Boxes.Answers = {true};
    EXPECT_TRUE(Form->close());
    EXPECT_EQ(Log->Count("Release"), 1);
    EXPECT_EQ(Log->Calls.back(), "Release");
}

TEST_F(MainFormTest, FileExitClosesWithConfirmation) {
    Ready();
    Boxes.Answers = {true};
    Form->FileExit1->trigger();
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(Log->Count("ReleaseStore"), 1);
}

TEST_F(MainFormTest, AboutBoxIsModalWithOK) {
    Ready();
    Modal.Steps.push_back([](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "О программе");
        EXPECT_NE(d.findChild<QPushButton*>("OKButton"), nullptr);
        return static_cast<int>(QDialog::Accepted);
    });
    Form->HelpAbout1->trigger();
    EXPECT_EQ(Modal.Shown, 2);
}

} // namespace
} // namespace vorlen::test
