// The options board against the offline exchange: opened from its command for the futures
// chosen, an expiry picked, the at-the-money row marked and in view, a bid clicked into an order
// ticket for that series and sent, the order passing the gate and showing in own orders, and
// closed without a timer or a thread left behind.

#include "GuiSupport.h"
#include "connector/Connector.h"
#include "e2e/SimHarness.h"
#include "gui/ChForm.h"
#include "gui/MainForm.h"
#include "gui/OptionsForm.h"
#include "gui/OwnOrdersForm.h"
#include "gui/SetForm.h"
#include "gui/TicketForm.h"
#include "health/HealthMonitor.h"
#include "main/ConnectorPort.h"
#include "orders/RiskLimits.h"
#include "settings/SavedSettings.h"
#include "settings/Settings.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace vorlen::test {
namespace {

int ThreadCount() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

// Neither market preset feeds a board: the custom selection with both instrument tables, the
// book, open interest, positions and the exchange's volatility.
std::filesystem::path BoardSettings(const e2e::TSimInstall& inst) {
    TSettingsModel model;
    model.Values.PortEdit = std::to_string(inst.Port);
    model.SetMarket(kMarketCustom);
    const auto tick = [&](int node) {
        if (node >= 0 && !model.Tree.IsTicked(node))
            model.Tree.ClickPicture(node);
    };
    tick(model.Tree.FindTable("FORTS_REFDATA_REPL", "fut_sess_contents"));
    tick(model.Tree.FindTable("FORTS_REFDATA_REPL", "opt_sess_contents"));
    // And what trading from it needs: the accounts (the gate knows the client codes by them)
    // and the trader's orders log (own orders).
    for (const char* s : {"FORTS_AGGR5_REPL", "FORTS_COMMON_REPL", "FORTS_POS_REPL",
                          "FORTS_VOLAT_REPL", "FORTS_PART_REPL", "FORTS_TRADE_REPL"})
        tick(model.Tree.FindStream(s));
    std::filesystem::path file = inst.Root / "board.sav";
    std::ofstream(file) << FormatSavedSettings(model.Snapshot());
    return file;
}

class OptionsWindow : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("VORLEN_REGISTRY", Inst.RegFile.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
        setenv("VORLEN_DATA_DIR", Inst.DataDir.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
        Settings = BoardSettings(Inst);
        gui::SetOpenFileHandler([this](const gui::TOpenFileRequest&) {
            return QString::fromStdString(Settings.string());
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
    }

    e2e::TSimInstall Inst;
    std::filesystem::path Settings;
    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    TScriptedModal Modal;
    std::unique_ptr<gui::TMainForm> Form;
};

TEST_F(OptionsWindow, PickAnExpiryFindTheMoneySendAnOrderFromABidAndCloseCleanly) {
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

    // Every command reachable by a key has a key of its own.
    std::set<QString> keys;
    for (const QAction* a : Form->findChildren<QAction*>()) {
        const QString key = a->shortcut().toString();
        EXPECT_TRUE(key.isEmpty() || keys.insert(key).second)
            << key.toStdString() << " is shared by " << a->objectName().toStdString();
    }
    EXPECT_EQ(Form->OptionsNew1->parent(), Form.get());
    EXPECT_TRUE(Form->Experts1->actions().contains(Form->OptionsNew1));

    ASSERT_TRUE(WaitFor([&] { return Form->Conndis1->isEnabled(); }, 60000));
    Form->Conndis1->trigger();
    ASSERT_TRUE(WaitFor([&] { return Form->OptionsNew1->isEnabled(); }, 120000));
    const int threadsBefore = ThreadCount();

    Modal.Steps.push_back([](QDialog& c) {
        auto* chooser = qobject_cast<gui::TChForm*>(&c);
        EXPECT_NE(chooser, nullptr);
        chooser->FutBox->setCurrentIndex(chooser->FutBox->findText("Si-12.26"));
        QTest::mouseClick(chooser->Button1, Qt::LeftButton);
        return c.result();
    });
    Form->OptionsNew1Tool->trigger();
    ASSERT_EQ(Form->OptionsChildren().size(), 1U);
    gui::TOptionsForm* board = Form->OptionsChildren().front();
    EXPECT_EQ(board->windowTitle(), "Опционы Si-12.26");
    // The expiry listed, every strike priced: the board has read a whole market.
    ASSERT_TRUE(WaitFor([&] {
        return board->Expiry->count() >= 1 && board->Model->rowCount() > 0 &&
               !board->Model->Lines().front().CallIsin.empty() &&
               board->Header->text().contains("середина стакана") &&
               board->Model->Lines()[board->Model->rowCount() / 2].CallBid.has_value();
    })) << "expiries "
        << board->Expiry->count() << ", rows " << board->Model->rowCount() << ", first call "
        << (board->Model->rowCount() > 0 ? board->Model->Lines().front().CallIsin : "") << ": "
        << board->Missing->text().toStdString();
    EXPECT_FALSE(board->Missing->isVisible()) << board->Missing->text().toStdString();
    EXPECT_TRUE(board->Risk->text().startsWith("Позиция: дельта"));

    // The simulator lists one expiry a futures: picking it again keeps the board as it was.
    const int last = board->Expiry->count() - 1;
    board->Expiry->setCurrentIndex(last);
    EXPECT_TRUE(board->Expiry->currentText().contains("дн.)")) << "date and days to expiry";
    ASSERT_TRUE(WaitFor([&] { return board->Model->rowCount() > 0; }));

    // The at-the-money row: one, marked, nearest the futures, and scrolled into view.
    int atm = -1;
    for (int r = 0; r < board->Model->rowCount(); ++r)
        if (board->Model->Lines()[static_cast<std::size_t>(r)].Atm) {
            EXPECT_EQ(atm, -1) << "one at-the-money row";
            atm = r;
        }
    ASSERT_GE(atm, 0);
    const QModelIndex bid = board->Model->index(atm, options::kCallBid);
    ASSERT_TRUE(WaitFor(
        [&] { return board->Table->viewport()->rect().contains(board->Table->visualRect(bid)); }));
    EXPECT_FALSE(board->Smile->Points().empty()) << "the smile has points";

    const gui::TBoardModel& model = *board->Model;
    const std::string series = model.Lines()[static_cast<std::size_t>(atm)].CallIsin;
    const std::int64_t price = model.Lines()[static_cast<std::size_t>(atm)].CallBid.value_or(0);
    ASSERT_GT(price, 0);
    // Orders go once the transaction link is up too.
    auto* port = dynamic_cast<TConnectorPort*>(Form->Controller().Port());
    ASSERT_NE(port, nullptr);
    const THealthMonitor& health = port->Connector().Health();
    const auto online = [&] {
        return health.IsOnline(THealthLink::Transactions) &&
               health.IsOnline(THealthLink::MarketData);
    };
    ASSERT_TRUE(WaitFor(online, 120000));
    bool ticket = false;
    std::string orderId;
    Modal.Steps.push_back([&](QDialog& d) {
        auto* form = qobject_cast<gui::TTicketForm*>(&d);
        EXPECT_NE(form, nullptr);
        if (form == nullptr)
            return static_cast<int>(QDialog::Rejected);
        ticket = true;
        EXPECT_EQ(form->IsinEdit->text().toStdString(), series);
        EXPECT_TRUE(form->BuyButton->isChecked()) << "a bid buys, as in the book window";
        EXPECT_EQ(form->PriceEdit->text().toStdString(), orders::FormatPrice(price));
        // Sent at the bid, the order passes the gate's option rules and the exchange takes it.
        form->ClientBox->setCurrentIndex(form->ClientBox->findText("FZ00001"));
        // A slow build may see the market data fall behind for a moment: the gate refuses then,
        // and the order is sent again once both links are on-line.
        const auto sent = [&] {
            if (form->ResultLabel->text().contains("номер заявки"))
                return true;
            if (form->ResultLabel->text().contains("заявка не отправлена") && online()) {
                Boxes.Answers = {true};
                QTest::mouseClick(form->SendButton, Qt::LeftButton);
            }
            return false;
        };
        Boxes.Answers = {true};
        QTest::mouseClick(form->SendButton, Qt::LeftButton);
        EXPECT_TRUE(WaitFor(sent, 120000)) << form->ResultLabel->text().toStdString();
        const QString text = form->ResultLabel->text();
        orderId = text.mid(text.lastIndexOf(' ') + 1).chopped(1).toStdString();
        return static_cast<int>(QDialog::Rejected);
    });
    QTest::mouseClick(board->Table->viewport(), Qt::LeftButton, {},
                      board->Table->visualRect(bid).center());
    EXPECT_TRUE(ticket);
    ASSERT_FALSE(orderId.empty());
    Modal.Steps.push_back(TScriptedModal::Accept);
    Form->OwnOrders1->trigger();
    gui::TOwnOrdersForm* own = Form->OwnOrdersChild();
    ASSERT_NE(own, nullptr);
    const auto row = [&]() -> const TOwnOrderRow* {
        for (const TOwnOrderRow& r : own->Rows())
            if (r.Cells[0] == orderId)
                return &r;
        return nullptr;
    };
    ASSERT_TRUE(WaitFor([&] { return row() != nullptr; })) << "the order shows in own orders";
    EXPECT_EQ(row()->Cells[2], series);

    QPointer<QTimer> timer = board->Timer;
    QPointer<gui::TOptionsForm> alive = board;
    Form->MdiArea->closeAllSubWindows();
    ASSERT_TRUE(WaitFor([&] { return alive.isNull(); }));
    EXPECT_TRUE(timer.isNull()) << "no timer left behind";
    EXPECT_TRUE(Form->OptionsChildren().empty());
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() <= threadsBefore; }))
        << "the board's worker has ended";
}

} // namespace
} // namespace vorlen::test
