// The main window against the offline exchange: the defaults applied from a saved file, the
// router started, connected, grids and journal filled, an expert opened, closed in order.

#include "GuiSupport.h"
#include "connector/Connector.h"
#include "e2e/SimHarness.h"
#include "gui/ChForm.h"
#include "gui/GridModel.h"
#include "gui/JournalPane.h"
#include "gui/MainForm.h"
#include "gui/MdiChild.h"
#include "gui/OwnOrdersForm.h"
#include "gui/SetForm.h"
#include "gui/TicketForm.h"
#include "health/HealthMonitor.h"
#include "main/ConnectorPort.h"
#include "orders/StoreView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QThreadPool>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace vorlen::test {
namespace {

std::string ThreadNames() {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        names += name + " ";
    }
    return names;
}

// Threads of this process, after Qt's own pool (which serves the toolkit, not the terminal) has
// let its idle threads go.
int ThreadCount() {
    QThreadPool::globalInstance()->waitForDone();
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

// The count before the terminal starts. A sanitizer's runtime starts a helper thread of its own
// with the first thread the process creates; one thread made and joined here brings it in.
int BaselineThreadCount() {
    std::thread([] {}).join();
    return ThreadCount();
}

class GuiEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        OldDir = std::filesystem::current_path();
        // Before the terminal starts a thread of its own.
        setenv("VORLEN_REGISTRY", Inst.RegFile.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
        // The day's order log, its counts and halt, stay the installation's own.
        setenv("VORLEN_DATA_DIR", Inst.DataDir.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
        gui::SetOpenFileHandler([this](const gui::TOpenFileRequest&) {
            return QString::fromStdString(Inst.SettingsFile.string());
        });
    }
    void TearDown() override {
        if (Form != nullptr) {
            Boxes.DefaultAnswer = true;
            Form->close();
            Form.reset();
        }
        gui::SetOpenFileHandler({});
        unsetenv("VORLEN_REGISTRY"); // NOLINT(concurrency-mt-unsafe): its threads have ended
        unsetenv("VORLEN_DATA_DIR"); // NOLINT(concurrency-mt-unsafe)
        std::filesystem::current_path(OldDir);
    }
    QStringList Journal() const { return Form->Memo1->Lines(); }
    bool JournalHas(const QString& text) const {
        for (const QString& line : Journal())
            if (line.contains(text))
                return true;
        return false;
    }
    int Rows(int grid) const {
        return Form->GridViews[static_cast<std::size_t>(grid)]->Model().RowCount();
    }
    std::string Cell(int grid, int row, int col) const {
        return Form->GridViews[static_cast<std::size_t>(grid)]->Model().Cell(row, col);
    }

    // Applies the saved settings, connects, and waits until the terminal could trade.
    void ConnectForTrading() {
        Modal.Steps.push_back([](QDialog& d) {
            auto* settings = qobject_cast<gui::TSetForm*>(&d);
            EXPECT_NE(settings, nullptr);
            QTest::mouseClick(settings->LoadButton, Qt::LeftButton);
            QTest::mouseClick(settings->ApplyButton, Qt::LeftButton);
            return d.result();
        });
        Form = std::make_unique<gui::TMainForm>(
            ConnectorPortFactory(DefaultConnectorServices(), Inst.Root / "trading"));
        Form->show();
        ASSERT_TRUE(WaitFor([&] { return Form->Conndis1->isEnabled(); }, 60000));
        Form->Conndis1->trigger();
        ASSERT_TRUE(WaitFor([&] { return Form->Ticket1->isEnabled(); }, 120000))
            << Journal().join('\n').toStdString();
        auto* port = dynamic_cast<TConnectorPort*>(Form->Controller().Port());
        ASSERT_NE(port, nullptr);
        ASSERT_NE(port->OrderDesk(), nullptr);
        const THealthMonitor& health = port->Connector().Health();
        ASSERT_TRUE(WaitFor(
            [&] {
                const orders::TStoreFacts facts = orders::ReadStoreFacts(*port->Store());
                return health.IsOnline(THealthLink::Transactions) &&
                       health.IsOnline(THealthLink::MarketData) && !facts.Ref->Clients.empty() &&
                       facts.Ref->Instruments.count("Si-12.26") != 0;
            },
            120000));
    }
    // The row of an order in the own-orders window; -1 when it is not there.
    static int RowOf(const gui::TOwnOrdersForm& own, const std::string& id) {
        for (std::size_t r = 0; r < own.Rows().size(); ++r)
            if (own.Rows()[r].Cells[0] == id)
                return static_cast<int>(r);
        return -1;
    }

    e2e::TSimInstall Inst;
    std::filesystem::path OldDir;
    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    TScriptedModal Modal;
    std::unique_ptr<gui::TMainForm> Form;
};

TEST_F(GuiEndToEnd, StartConnectFillOpenAnExpertAndCloseInOrder) {
    const int threadsBefore = BaselineThreadCount();
    Modal.Steps.push_back([](QDialog& d) {
        auto* settings = qobject_cast<gui::TSetForm*>(&d);
        EXPECT_NE(settings, nullptr);
        QTest::mouseClick(settings->LoadButton, Qt::LeftButton);
        QTest::mouseClick(settings->ApplyButton, Qt::LeftButton);
        return d.result();
    });
    Form = std::make_unique<gui::TMainForm>(ConnectorPortFactory());
    Form->show();
    ASSERT_NE(Connector(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return Form->Conndis1->isEnabled(); }, 60000))
        << ::testing::PrintToString(Boxes.Calls.size());
    EXPECT_TRUE(Boxes.Calls.empty());
    auto* port = dynamic_cast<TConnectorPort*>(Form->Controller().Port());
    ASSERT_NE(port, nullptr);
    const auto routerPid = static_cast<pid_t>(port->Connector().Settings().ProcInfo.dwProcessId);
    EXPECT_GT(routerPid, 0) << "no service runs here: the router is started by the terminal";

    Form->Conndis1->trigger();
    ASSERT_TRUE(WaitFor([&] { return Form->FileNew1->isEnabled(); }, 120000))
        << Journal().join('\n').toStdString();
    EXPECT_FALSE(Form->Settings1->isEnabled());
    EXPECT_TRUE(JournalHas(QStringLiteral(" --> Инструменты добавлены.")));

    ASSERT_TRUE(WaitFor([&] { return !Cell(kAccGrid, 0, 0).empty(); }, 60000));
    ASSERT_TRUE(WaitFor([&] { return !Cell(kPositionsGrid, 0, 0).empty(); }, 60000));
    ASSERT_TRUE(WaitFor([&] { return !Cell(kDealsGrid, 0, 0).empty(); }, 60000));
    EXPECT_GE(Rows(kAccGrid), 2) << "two accounts";
    ASSERT_TRUE(WaitFor(
        [&] {
            return JournalHas(QStringLiteral(
                ": Начало торговой сессии. Добро пожаловать в учебный торговый шлюз."));
        },
        60000))
        << Journal().join('\n').toStdString();
    EXPECT_FALSE(JournalHas(QStringLiteral("Trading session started")));

    Modal.Steps.push_back([](QDialog& d) {
        auto* chooser = qobject_cast<gui::TChForm*>(&d);
        EXPECT_NE(chooser, nullptr);
        EXPECT_GT(chooser->FutBox->count(), 0);
        EXPECT_EQ(chooser->FutBox->currentIndex(), 0);
        QTest::mouseClick(chooser->Button1, Qt::LeftButton);
        return d.result();
    });
    Form->FileNew1->trigger();
    const auto experts = Form->ExpertChildren();
    ASSERT_EQ(experts.size(), 1U);
    ASSERT_NE(experts[0]->Expert(), nullptr);
    EXPECT_TRUE(experts[0]->Expert()->Started());
    EXPECT_FALSE(experts[0]->windowTitle().isEmpty());

    Boxes.Answers = {true};
    EXPECT_TRUE(Form->close());
    EXPECT_EQ(Connector(), nullptr);
    EXPECT_EQ(experts[0]->Expert(), nullptr);
    Form.reset();
    EXPECT_TRUE(WaitFor([&] { return e2e::ProcessGone(routerPid); }, 20000));
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() <= threadsBefore; }, 20000))
        << ThreadNames() << "; " << threadsBefore << " before";
}

TEST_F(GuiEndToEnd, ClosingBeforeAnyConnectionReleasesEverything) {
    const int threadsBefore = BaselineThreadCount();
    Modal.Steps.push_back(TScriptedModal::Reject);
    Form = std::make_unique<gui::TMainForm>(ConnectorPortFactory());
    Form->show();
    ASSERT_TRUE(WaitFor([&] { return Modal.Shown == 1; }));
    EXPECT_GT(ThreadCount(), threadsBefore) << "the grid updater runs from the start";
    Boxes.Answers = {true};
    EXPECT_TRUE(Form->close());
    EXPECT_EQ(Connector(), nullptr);
    Form.reset();
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() <= threadsBefore; }, 20000));
}

// The trader's path through the windows: a ticket with every field chosen, the confirmation that
// names them, the exchange's order number, the order in "Мои заявки", its cancel from there, and
// the kill switch with nothing left to cancel.
TEST_F(GuiEndToEnd, TicketConfirmsOwnOrdersShowsAndCancelsAndTheKillSwitchReports) {
    ConnectForTrading();
    if (HasFatalFailure())
        return;
    ASSERT_EQ(Inst.Control("fill off").rfind("OK", 0), 0U) << "resting orders must stay resting";

    std::string orderId;
    Modal.Steps.push_back([&](QDialog& d) {
        auto* ticket = qobject_cast<gui::TTicketForm*>(&d);
        EXPECT_NE(ticket, nullptr);
        if (ticket == nullptr)
            return static_cast<int>(QDialog::Rejected);
        // The chooser names the instrument.
        Modal.Steps.push_back([](QDialog& c) {
            auto* chooser = qobject_cast<gui::TChForm*>(&c);
            EXPECT_NE(chooser, nullptr);
            chooser->FutBox->setCurrentIndex(chooser->FutBox->findText("Si-12.26"));
            QTest::mouseClick(chooser->Button1, Qt::LeftButton);
            return c.result();
        });
        QTest::mouseClick(ticket->ChooseButton, Qt::LeftButton);
        EXPECT_EQ(ticket->IsinEdit->text(), "Si-12.26");
        ticket->BuyButton->click();
        ticket->PriceEdit->setText("91000");
        ticket->QtyEdit->setText("2");
        // The client code is never taken for the trader, even with one account only.
        EXPECT_EQ(ticket->ClientBox->currentIndex(), 0);
        QTest::mouseClick(ticket->SendButton, Qt::LeftButton);
        EXPECT_TRUE(ticket->ResultLabel->text().contains("код клиента"))
            << ticket->ResultLabel->text().toStdString();
        EXPECT_TRUE(Boxes.Texts(TDialogKind::Confirm).empty()) << "nothing to confirm yet";

        ticket->ClientBox->setCurrentIndex(ticket->ClientBox->findText("FZ00001"));
        EXPECT_TRUE(ticket->ConfirmBox->isChecked()) << "confirmation is on by default";
        Boxes.Answers = {false, true};
        QTest::mouseClick(ticket->SendButton, Qt::LeftButton);
        EXPECT_TRUE(ticket->ResultLabel->text().contains("отменено"));
        QTest::mouseClick(ticket->SendButton, Qt::LeftButton);
        const auto asked = Boxes.Texts(TDialogKind::Confirm);
        EXPECT_EQ(asked.size(), 2U);
        if (!asked.empty()) {
            EXPECT_EQ(asked.back(),
                      "Выставить заявку: покупка Si-12.26 2 по 91000, клиент FZ00001?");
        }
        EXPECT_TRUE(WaitFor([&] { return ticket->ResultLabel->text().contains("номер заявки"); }))
            << ticket->ResultLabel->text().toStdString();
        const QString text = ticket->ResultLabel->text();
        orderId = text.mid(text.lastIndexOf(' ') + 1).chopped(1).toStdString();
        // Within the day's limits, but far from the book's best ask: the book keeper's price
        // reaches the gate.
        ticket->PriceEdit->setText("86000");
        Boxes.Answers = {true};
        QTest::mouseClick(ticket->SendButton, Qt::LeftButton);
        EXPECT_TRUE(ticket->ResultLabel->text().contains("от лучшей встречной цены"))
            << ticket->ResultLabel->text().toStdString();
        QTest::mouseClick(ticket->CloseButton, Qt::LeftButton);
        return d.result();
    });
    Form->Ticket1->trigger();
    ASSERT_FALSE(orderId.empty());
    EXPECT_TRUE(JournalHas(QString::fromStdString("номер заявки " + orderId)));

    Form->OwnOrders1->trigger();
    gui::TOwnOrdersForm* own = Form->OwnOrdersChild();
    ASSERT_NE(own, nullptr);
    ASSERT_TRUE(WaitFor([&] { return RowOf(*own, orderId) >= 0; }));
    {
        const auto& cells = own->Rows()[static_cast<std::size_t>(RowOf(*own, orderId))].Cells;
        EXPECT_EQ(cells[2], "Si-12.26");
        EXPECT_EQ(cells[3], "FZ00001");
        EXPECT_EQ(cells[5], "91000");
        EXPECT_EQ(cells[7], "2");
        EXPECT_EQ(cells[8], "выставлена");
    }
    own->Grid->selectRow(RowOf(*own, orderId));
    QTest::mouseClick(own->CancelSelectedButton, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] {
        const int r = RowOf(*own, orderId);
        return r >= 0 && own->Rows()[static_cast<std::size_t>(r)].Cells[8] == "снята";
    })) << Journal().join('\n').toStdString();
    EXPECT_TRUE(WaitFor(
        [&] { return JournalHas(QString::fromStdString("Ответ на снятие заявки " + orderId)); }));

    EXPECT_FALSE(Form->Rearm1->isEnabled()) << "nothing to re-arm while trading is allowed";
    Boxes.Answers = {true};
    Form->KillSwitch1->trigger();
    EXPECT_TRUE(WaitFor([&] {
        return JournalHas(QStringLiteral("Все заявки сняты, торговля остановлена."));
    })) << Journal().join('\n').toStdString();
    EXPECT_TRUE(WaitFor([&] { return Form->TradingState->text() == "Торговля остановлена"; }));
    EXPECT_TRUE(Form->Rearm1->isEnabled());

    // Reconnecting does not re-arm: the desk, with its kill switch, outlives the disconnection.
    orders::TOrderDesk* desk = Form->Controller().Port()->OrderDesk();
    Form->Disconnect1->trigger();
    EXPECT_EQ(Form->Controller().Port()->OrderDesk(), desk);
    Form->Connect1->trigger();
    // Connected again, and still halted: no new order has anywhere to go.
    ASSERT_TRUE(WaitFor([&] { return Form->OwnOrders1->isEnabled(); }, 120000));
    ASSERT_NE(Form->Controller().Port()->OrderDesk(), nullptr);
    EXPECT_NE(Form->Controller().Port()->OrderDesk()->KillPhase(), orders::TKillPhase::Armed);
    EXPECT_TRUE(WaitFor([&] { return Form->Rearm1->isEnabled(); }, 20000));
    EXPECT_FALSE(Form->Ticket1->isEnabled());
    Boxes.Answers = {true};
    Form->Rearm1->trigger();
    EXPECT_TRUE(JournalHas(QStringLiteral("Торговля снова разрешена.")));
    EXPECT_TRUE(WaitFor([&] { return Form->TradingState->isHidden(); }));
    EXPECT_TRUE(WaitFor([&] { return Form->Ticket1->isEnabled(); }));
    EXPECT_TRUE(std::filesystem::exists(Inst.Root / "trading"))
        << "the order log is kept beside the saved settings";
}

#if VORLEN_STRATEGIES
// A strategy that takes its resting order off in on_stop, closed with the terminal: the closing
// waits for the exchange's answer to that cancel before the transaction connection goes.
TEST_F(GuiEndToEnd, ClosingTheTerminalWaitsForTheAnswersToAStrategysCancels) {
    ConnectForTrading();
    if (HasFatalFailure())
        return;
    ASSERT_EQ(Inst.Control("fill off").rfind("OK", 0), 0U) << "the order must stay resting";
    const std::filesystem::path script = Inst.Root / "rest.lua";
    std::ofstream(script) << "local placed\n"
                             "function on_start(ctx) on_tick(ctx) end\n"
                             "function on_tick(ctx)\n"
                             "  local book = ctx:book(1)\n"
                             "  if placed or not book or not book.bids[1] then return end\n"
                             "  placed = ctx:buy(1, book.bids[1][1])\n"
                             "  if placed then ctx:log('resting ' .. placed) end\n"
                             "end\n"
                             "function on_stop(ctx)\n"
                             "  for _, o in ipairs(ctx:orders()) do ctx:cancel(o.id) end\n"
                             "end\n";
    gui::SetOpenFileHandler(
        [&](const gui::TOpenFileRequest&) { return QString::fromStdString(script.string()); });
    Modal.Steps.push_back([](QDialog& d) {
        auto* chooser = qobject_cast<gui::TChForm*>(&d);
        EXPECT_NE(chooser, nullptr);
        if (chooser == nullptr)
            return static_cast<int>(QDialog::Rejected);
        chooser->FutBox->setCurrentIndex(chooser->FutBox->findText("Si-12.26"));
        QTest::mouseClick(chooser->Button1, Qt::LeftButton);
        return d.result();
    });
    Form->FileNew1->trigger();
    const auto experts = Form->ExpertChildren();
    ASSERT_EQ(experts.size(), 1U);
    gui::TMDIChild* child = experts[0];
    child->Button1->click();
    ASSERT_TRUE(WaitFor([&] { return child->windowTitle().endsWith(QStringLiteral("rest.lua")); }));
    child->BitBtn1->click();
    const QString marker = QStringLiteral(" --> resting ");
    ASSERT_TRUE(WaitFor([&] { return child->Memo1->toPlainText().contains(marker); }, 60000))
        << child->Memo1->toPlainText().toStdString() << Journal().join('\n').toStdString();
    const QString memo = child->Memo1->toPlainText();
    const std::string id =
        memo.mid(memo.indexOf(marker) + marker.size()).section('\n', 0, 0).trimmed().toStdString();

    Boxes.Answers = {true};
    ASSERT_TRUE(Form->close());
    Form.reset();
    // The desk writes an answer into the order log only as it collects it from the connection.
    std::string logged;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Inst.Root / "trading"))
        if (entry.path().filename().string().rfind("orders_", 0) == 0) {
            std::ifstream in(entry.path());
            logged.append(std::istreambuf_iterator<char>(in), {});
        }
    EXPECT_NE(logged.find("Снятие заявки " + id + " отправлено"), std::string::npos) << logged;
    EXPECT_NE(logged.find("Ответ на снятие заявки " + id + " ("), std::string::npos) << logged;
    EXPECT_NE(logged.find("): код 0", logged.find("Ответ на снятие заявки " + id)),
              std::string::npos)
        << logged;
}
#endif

} // namespace
} // namespace vorlen::test
