// The trading windows as a trader meets them: the ticket asks the gate before it asks for a
// confirmation, the kill switch turns every way of sending off (and re-arming turns them back
// on), the ladder holds still under the cursor, and a zero limit is saved only knowingly.

#include "GuiSupport.h"
#include "gui/BookForm.h"
#include "gui/LimitsForm.h"
#include "gui/MainForm.h"
#include "gui/OwnOrdersForm.h"
#include "gui/TicketForm.h"
#include "main/FakePort.h"
#include "main/TerminalDesk.h"
#include "orders/ScriptedTransport.h"
#include "platform/FormatSettings.h"
#include "store/TestScheme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace vorlen::test {
namespace {

using namespace orders;
constexpr std::int64_t P = kPriceScale;

class TradingSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSavedCG = CG();
        CG().cg_bcd_get = TestBcdGet;
        Aggr.Table("orders_aggr", ReplFields({{"isin_id", "i4", 4},
                                              {"price", "d16.5", 9},
                                              {"volume", "i8", 8},
                                              {"dir", "i1", 1}}));
        TDeskInputs in;
        in.Facts = [] {
            auto ref = std::make_shared<TRefFacts>();
            ref->Clients = {"FZ00001"};
            // A step of half a point, the day's prices within 90..110.
            ref->Instruments["GAZR-6.26"] = {11, "GAZR-6.26", P / 2, 90 * P, 110 * P, true};
            ref->IsinById[11] = "GAZR-6.26";
            TStoreFacts f;
            f.Ref = ref;
            return f;
        };
        in.MarketData = [] { return orders::TLinkHealth::Online; };
        Desk = std::make_unique<TOrderDesk>(
            Transport, TLimitsBook{}, in, [](const std::string&) {}, nullptr);
        TPortScript script;
        script.WithStore = true;
        script.Fut = {Header(11, "GAZR-6.26", "GZM6", "Газпром")};
        Modal.Steps.push_back(TScriptedModal::Accept);
        Form = std::make_unique<gui::TMainForm>(FakePortFactory(script, Log, &Port), "/opt/v/");
        Form->show();
        ASSERT_TRUE(WaitFor([&] { return Modal.Shown == 1; }));
        Form->Connect1->trigger();
        Port->OnConnected();
        Port->Desk = Desk.get();
    }
    void TearDown() override {
        if (Form != nullptr) {
            Boxes.DefaultAnswer = true;
            Form->close();
            Form.reset();
        }
        CG() = FSavedCG;
    }
    // A book of GAZR-6.26 with asks 102 and 103 over a bid of 100, in a window of its own.
    gui::TBookForm* OpenBook() {
        Modal.Steps.push_back(TScriptedModal::Accept);
        Form->BookNew1->trigger();
        if (Form->BookChildren().size() != 1)
            return nullptr;
        gui::TBookForm* book = Form->BookChildren()[0];
        Port->Storage->SetStreams({"FORTS_AGGR5_REPL"});
        Lsn.Pos = 0;
        Lsn.sName = "FORTS_AGGR5_REPL";
        Port->Storage->SetTblsDesc(0, Lsn, Aggr.Desc());
        Level(1, 1, 100);
        Level(2, 2, 102);
        Level(3, 2, 103);
        if (!WaitFor([&] { return book->Model->rowCount() == 3; }))
            return nullptr;
        book->SetClientSource([] { return std::vector<std::string>{"FZ00001"}; });
        book->Client->setCurrentIndex(1);
        return book;
    }
    void Level(std::int64_t id, int dir, std::int64_t price) {
        TRowBytes r(Aggr, "orders_aggr");
        r.Key(id).Int("isin_id", 11).Decimal("price", price, 0).Int("volume", 5);
        r.Int("dir", dir);
        Port->Storage->UpdStrMsg(r.Msg(), Lsn);
    }
    static QPoint CellCenter(gui::TBookForm* book, int row, int column) {
        return book->Ladder->visualRect(book->Model->index(row, column)).center();
    }
    // Where a ladder row is on the window: what the trader's cursor is aimed at.
    static int RowTop(gui::TBookForm* book, int row) {
        return book->Ladder->viewport()->mapTo(book, CellCenter(book, row, 0)).y();
    }

    std::shared_ptr<TPortLog> Log = std::make_shared<TPortLog>();
    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    TScriptedModal Modal;
    TFakePort* Port = nullptr;
    TScriptedTransport Transport;
    std::unique_ptr<TOrderDesk> Desk;
    std::unique_ptr<gui::TMainForm> Form;
    TTestScheme Aggr;
    TStreamData Lsn;
    TCGateEntryPoints FSavedCG;
};

TEST_F(TradingSafetyTest, TheTicketShowsTheGatesRefusalBeforeAnyConfirmation) {
    struct TCase {
        const char* Price;
        bool Halted;
        const char* Shown; // the start of the ticket's result line
        bool Confirmed;    // the confirmation was asked, answered yes, and the order went
    };
    const std::vector<TCase> cases = {
        {"100,25", false, "Заявка отклонена: Цена 100.25 не кратна шагу цены 0.5.", false},
        {"80000", false, "Заявка отклонена: Цена 80000 вне дневных лимитов (90 - 110).", false},
        {"100,5", true, "Заявка отклонена: Торговля остановлена", false},
        // An order the gate takes is confirmed, naming its price as the field shows it; the
        // gate's look before the question counts nothing, so it goes once confirmed.
        {"100,5", false, "Заявка отправлена, транзакция", true},
    };
    for (const TCase& c : cases) {
        if (c.Halted)
            Desk->KillSwitch();
        Boxes.Clear();
        Boxes.Answers = {true};
        Modal.Steps.push_back([&](QDialog& d) {
            auto& ticket = dynamic_cast<gui::TTicketForm&>(d);
            EXPECT_EQ(ticket.PriceEdit->text(), "91900,5") << "the locale's separator";
            ticket.PriceEdit->setText(c.Price);
            ticket.ClientBox->addItem("FZ00001");
            ticket.ClientBox->setCurrentIndex(1);
            ticket.SendButton->click();
            EXPECT_TRUE(ticket.ResultLabel->text().startsWith(c.Shown))
                << c.Price << ": " << ticket.ResultLabel->text().toStdString();
            return static_cast<int>(QDialog::Rejected);
        });
        Form->OpenOrderTicket("GAZR-6.26", 1, 91900 * P + P / 2);
        const std::vector<std::string> asked = Boxes.Texts(TDialogKind::Confirm);
        if (c.Confirmed) {
            EXPECT_EQ(asked,
                      std::vector<std::string>{
                          "Выставить заявку: покупка GAZR-6.26 1 по 100,5, клиент FZ00001?"});
        } else {
            EXPECT_TRUE(asked.empty()) << c.Price << ": " << asked.front();
        }
        EXPECT_EQ(Transport.Adds.size(), c.Confirmed ? 1u : 0u) << c.Price;
        if (c.Halted)
            Desk->Rearm(true);
    }
}

TEST_F(TradingSafetyTest, AHaltTurnsOffTheTicketBookClicksAndArmingUntilReArmed) {
    gui::TBookForm* book = OpenBook();
    ASSERT_NE(book, nullptr);
    Modal.Steps.push_back(TScriptedModal::Accept);
    Form->OwnOrders1->trigger();
    gui::TOwnOrdersForm* own = Form->OwnOrdersChild();
    ASSERT_NE(own, nullptr);
    ASSERT_TRUE(book->SetOneClick(true));
    QSignalSpy levels(book, &gui::TBookForm::LevelClicked);

    // Each way of sending as the trader finds it, halted or not.
    const auto check = [&](bool halted) {
        ASSERT_TRUE(WaitFor([&] {
            return book->TradingHalted() == halted && Form->Ticket1->isEnabled() == !halted &&
                   own->HaltLabel->isVisibleTo(own) == halted;
        }));
        EXPECT_EQ(book->OneClick->isEnabled(), !halted);
        EXPECT_EQ(book->Status->text().startsWith("Торговля остановлена"), halted)
            << book->Status->text().toStdString();
        EXPECT_FALSE(book->OneClickArmed());
        // Arming is refused with the reason, and a click names no level.
        EXPECT_EQ(book->SetOneClick(true), !halted);
        EXPECT_EQ(book->TradeNote->text().contains("Торговля остановлена"), halted)
            << book->TradeNote->text().toStdString();
        book->SetOneClick(false);
        const qsizetype before = levels.count();
        if (!halted)
            Modal.Steps.push_back(TScriptedModal::Reject); // the ticket the click opens
        QTest::mouseClick(book->Ladder->viewport(), Qt::LeftButton, {}, CellCenter(book, 2, 0));
        EXPECT_EQ(levels.count() - before, halted ? 0 : 1);
    };
    Desk->KillSwitch();
    check(true);
    EXPECT_TRUE(own->HaltLabel->text().startsWith("Торговля остановлена"));
    Desk->Rearm(true);
    check(false);
    EXPECT_TRUE(Transport.Adds.empty());
}

TEST_F(TradingSafetyTest, TheLadderHoldsStillAndAClickSendsThePricePressed) {
    gui::TBookForm* book = OpenBook();
    ASSERT_NE(book, nullptr);
    book->SetOrderDesk(Desk.get());
    book->resize(300, 420);
    QTest::qWait(0);
    const int top = RowTop(book, 0);
    const auto still = [&](const char* when) { EXPECT_EQ(RowTop(book, 0), top) << when; };
    ASSERT_TRUE(book->SetOneClick(true));
    QApplication::processEvents();
    still("banner shown");
    // A short outcome, then a long refusal.
    QTest::mouseClick(book->Ladder->viewport(), Qt::LeftButton, {}, CellCenter(book, 1, 2));
    QApplication::processEvents();
    still("an order sent");
    QTest::mouseClick(book->Ladder->viewport(), Qt::LeftButton, {}, CellCenter(book, 1, 2));
    QApplication::processEvents();
    ASSERT_TRUE(book->TradeNote->text().startsWith("Заявка отклонена")) << "a repeat";
    still("a refusal shown");
    book->SetOneClick(false);
    QApplication::processEvents();
    still("disarmed");
    ASSERT_EQ(Transport.Adds.size(), 1u);

    // The asks move up between the press and the release: 103 takes the pressed row's place.
    // The order goes at the price pressed, 102.
    ASSERT_TRUE(book->SetOneClick(true));
    const QPoint at = CellCenter(book, 1, 0);
    QTest::mousePress(book->Ladder->viewport(), Qt::LeftButton, {}, at);
    Level(3, 2, 104);
    Level(2, 2, 103);
    ASSERT_TRUE(WaitFor([&] { return book->Model->Rows()[1].Units == 103 * P; }));
    QTest::mouseRelease(book->Ladder->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(Transport.Adds.size(), 2u);
    const TAddOrderParams& sent = Transport.Adds.rbegin()->second;
    const std::int32_t dir = sent.dir;
    EXPECT_EQ(dir, 1);
    EXPECT_STREQ(sent.price, "102");
}

TEST_F(TradingSafetyTest, ALimitThatStopsTradingIsSavedOnlyAfterAWarning) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("vorlen-limits-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(dir);
    struct TCase {
        const char* Text;
        bool Warned, Answer, Saved;
    };
    const std::vector<TCase> cases = {
        {"* per_minute=0\n", true, false, false},
        {"* max_qty=5\nFZ00001 GAZR-6.26 max_pos=0\n", true, true, true},
        {"* max_qty=5 distance_pct=0\n", false, true, true},
    };
    for (const TCase& c : cases) {
        std::filesystem::remove(dir / kLimitsFileName);
        Boxes.Clear();
        Boxes.Answers = {c.Answer};
        gui::TLimitsForm form(dir, [this] { return Desk.get(); });
        ASSERT_TRUE(form.LoadText(c.Text)) << c.Text;
        form.SaveButton->click();
        const std::vector<std::string> asked = Boxes.Texts(TDialogKind::Confirm);
        EXPECT_EQ(asked.size(), c.Warned ? 1u : 0u) << c.Text;
        if (c.Warned && !asked.empty()) {
            EXPECT_NE(asked[0].find("=0"), std::string::npos) << asked[0];
        }
        EXPECT_EQ(std::filesystem::exists(dir / kLimitsFileName), c.Saved) << c.Text;
        EXPECT_EQ(form.result() == QDialog::Accepted, c.Saved) << c.Text;
    }
    std::filesystem::remove_all(dir);
}

// The limits form shows the file's rules as rows under Russian captions and writes back the same
// rules in the same format, with what the trader changed in the table; a bad cell is named by its
// row and nothing is written.
TEST_F(TradingSafetyTest, TheLimitsFormRoundTripsTheFile) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("vorlen-limits-form-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(dir);
    const std::string file = "# the desk's limits\n"
                             "*   max_qty=10 distance_pct=1.25\n"
                             "FZ00001 max_pos=20 per_day=300\n"
                             "FZ00002 GAZR-6.26 max_active=3 opt_distance_steps=5\n"
                             "FZ00001 Si-3.27 per_minute=7\n";
    const auto write = [&](const std::string& text) {
        std::ofstream(dir / kLimitsFileName, std::ios::binary) << text;
    };
    const auto saved = [&] {
        std::ifstream in(dir / kLimitsFileName, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        TLimitsBook book;
        std::string error;
        EXPECT_TRUE(book.Parse(text, error)) << error;
        return std::make_pair(text, LimitsRows(book));
    };
    const auto cell = [](const gui::TLimitsForm& form, int row, int column) {
        return form.Table->item(row, column)->text().toStdString();
    };
    write(file);
    TLimitsBook original;
    std::string error;
    ASSERT_TRUE(original.Parse(file, error)) << error;

    {
        gui::TLimitsForm form(dir, [this] { return Desk.get(); });
        EXPECT_TRUE(form.ErrorLabel->text().isEmpty());
        EXPECT_EQ(form.Table->horizontalHeaderItem(2)->text(), "Лотов в заявке");
        ASSERT_EQ(form.Table->rowCount(), 4);
        EXPECT_EQ(cell(form, 0, 0), "все клиенты");
        const std::string sep(1, FormatSettings().DecimalSeparator);
        EXPECT_EQ(cell(form, 0, 7), "1" + sep + "25");
        EXPECT_EQ((std::vector<std::string>{cell(form, 3, 0), cell(form, 3, 1), cell(form, 3, 4)}),
                  (std::vector<std::string>{"FZ00002", "GAZR-6.26", "3"}));
        EXPECT_EQ(cell(form, 1, 3), "20");
        EXPECT_EQ(cell(form, 1, 2), "") << "inherited";
        form.SaveButton->click();
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_EQ(saved().second, LimitsRows(original)) << saved().first;
    }
    {
        // Edits: a value changed, one cleared, a row added and one removed.
        gui::TLimitsForm form(dir, [this] { return Desk.get(); });
        form.Table->item(1, 2)->setText("4");
        form.Table->item(3, 4)->setText("");
        form.Table->setCurrentCell(2, 0);
        form.RemoveButton->click();
        form.AddButton->click();
        form.Table->item(3, 0)->setText("FZ00003");
        form.Table->item(3, 2)->setText(" 2 ");
        form.SaveButton->click();
        EXPECT_EQ(form.result(), QDialog::Accepted) << form.ErrorLabel->text().toStdString();
        const auto [text, rows] = saved();
        TLimitsBook book;
        ASSERT_TRUE(book.Parse(text, error)) << error;
        EXPECT_EQ(book.For("FZ00001", "Si-3.27").MaxOrderQty, 4);
        EXPECT_EQ(book.For("FZ00001", "Si-3.27").MaxPerMinute, TRiskLimits{}.MaxPerMinute);
        EXPECT_EQ(book.For("FZ00002", "GAZR-6.26").MaxActive, TRiskLimits{}.MaxActive);
        EXPECT_EQ(book.For("FZ00002", "GAZR-6.26").MaxOptionDistanceSteps, 5);
        EXPECT_EQ(book.For("FZ00003", "GAZR-6.26").MaxOrderQty, 2);
        EXPECT_EQ(book.For("FZ00003", "GAZR-6.26").MaxDistanceBp, 125);
    }
    {
        // A cell that is no number, or a client code twice: the row is named, nothing written.
        const std::string before = saved().first;
        for (const auto& [row, column, text, named] :
             std::vector<std::tuple<int, int, std::string, std::string>>{
                 {1, 3, "два", "строка таблицы 2"}, {2, 0, "FZ00001", "строка таблицы 3"}}) {
            gui::TLimitsForm form(dir, [this] { return Desk.get(); });
            form.Table->item(row, column)->setText(QString::fromStdString(text));
            form.SaveButton->click();
            EXPECT_NE(form.result(), QDialog::Accepted) << text;
            EXPECT_TRUE(form.ErrorLabel->text().toStdString().find(named) != std::string::npos)
                << form.ErrorLabel->text().toStdString();
            EXPECT_EQ(saved().first, before) << text;
        }
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace vorlen::test
