// The order-book window: opened from the main window's command and from an expert window, fed
// by rows the store applies, refreshed by its timer, listed with the other windows, and gone
// without a trace once closed; its clicks name levels, and send orders only when armed.

#include "gui/BookForm.h"

#include "GuiSupport.h"
#include "gui/ChForm.h"
#include "gui/MainForm.h"
#include "gui/MdiChild.h"
#include "main/FakePort.h"
#include "orders/ScriptedTransport.h"
#include "store/TestScheme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

namespace vorlen::test {
namespace {

class BookFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSavedCG = CG();
        CG().cg_bcd_get = TestBcdGet;
        Aggr.Table("orders_aggr", ReplFields({{"isin_id", "i4", 4},
                                              {"price", "d16.5", 9},
                                              {"volume", "i8", 8},
                                              {"dir", "i1", 1}}));
        TPortScript script;
        script.WithStore = true;
        script.Fut = {Header(11, "GAZR-6.26", "GZM6", "Газпром"),
                      Header(12, "Si-12.26", "SiZ6", "Доллар")};
        Modal.Steps.push_back(TScriptedModal::Accept);
        Form = std::make_unique<gui::TMainForm>(FakePortFactory(script, Log, &Port), "/opt/v/");
        Form->show();
        ASSERT_TRUE(WaitFor([&] { return Modal.Shown == 1; }));
        Form->Connect1->trigger();
        Port->OnConnected();
    }
    void TearDown() override {
        if (Form != nullptr) {
            Boxes.DefaultAnswer = true;
            Form->close();
            Form.reset();
        }
        CG() = FSavedCG;
    }

    // The aggregated stream of depth 5 as the market-data thread would open and fill it.
    void Subscribe() {
        Port->Storage->SetStreams({"FORTS_AGGR5_REPL"});
        Lsn.Pos = 0;
        Lsn.sName = "FORTS_AGGR5_REPL";
        Port->Storage->SetTblsDesc(0, Lsn, Aggr.Desc());
    }
    void Level(std::int64_t id, std::int32_t isin, int dir, std::int64_t price,
               std::int64_t volume) {
        TRowBytes r(Aggr, "orders_aggr");
        r.Key(id).Int("isin_id", isin).Decimal("price", price, 0).Int("volume", volume);
        r.Int("dir", dir);
        Port->Storage->UpdStrMsg(r.Msg(), Lsn);
    }
    static QStringList Cells(const gui::TBookForm& book) {
        QStringList cells;
        const QAbstractItemModel* m = book.Ladder->model();
        for (int r = 0; r < m->rowCount(); ++r)
            for (int c = 0; c < m->columnCount(); ++c)
                cells << m->index(r, c).data().toString();
        return cells;
    }
    void MarketData(THealthState state) {
        Port->HealthNow.Links[static_cast<std::size_t>(THealthLink::MarketData)].State = state;
    }
    QStringList WindowList() {
        emit Form->Window1->aboutToShow();
        QStringList titles;
        for (const QAction* a : Form->Window1->actions())
            titles << a->text();
        return titles;
    }

    std::shared_ptr<TPortLog> Log = std::make_shared<TPortLog>();
    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    TScriptedModal Modal;
    TFakePort* Port = nullptr;
    std::unique_ptr<gui::TMainForm> Form;
    TTestScheme Aggr;
    TTestScheme Ref;
    TStreamData Lsn;
    TStreamData RefLsn;
    TCGateEntryPoints FSavedCG;
};

TEST_F(BookFormTest, OpensShowsLevelsUpdatesAndClosesCleanly) {
    ASSERT_TRUE(Form->BookNew1->isEnabled());
    ASSERT_TRUE(Form->BookNew1Tool->isEnabled());
    Modal.Steps.push_back(TScriptedModal::Accept); // the chooser, first futures
    Form->BookNew1->trigger();
    auto books = Form->BookChildren();
    ASSERT_EQ(books.size(), 1u);
    gui::TBookForm* book = books[0];
    EXPECT_EQ(book->windowTitle(), "Стакан GAZR-6.26");
    EXPECT_EQ(book->Status->text(), "отключено; поток стакана не подписан");
    EXPECT_EQ(book->Model->rowCount(), 0);

    Subscribe();
    Level(1, 11, 1, 100, 5);
    Level(2, 11, 2, 102, 7);
    Level(3, 11, 2, 103, 1);
    Level(4, 12, 1, 50, 9); // another instrument's
    ASSERT_TRUE(WaitFor([&] { return book->Model->rowCount() == 3; }));
    EXPECT_EQ(Cells(*book), (QStringList{"", "103", "1", "", "102", "7", "5", "100", ""}));
    // The market-data connection's state leads the line; a frozen link marks the book stale
    // however fresh its last rows are, and the line recovers with the link.
    EXPECT_TRUE(book->Status->text().startsWith("отключено; обновлено "))
        << book->Status->text().toStdString();
    EXPECT_FALSE(book->Status->styleSheet().isEmpty());
    MarketData(THealthState::Online);
    ASSERT_TRUE(WaitFor([&] { return book->Status->text().startsWith("на связи; обновлено "); }))
        << book->Status->text().toStdString();
    EXPECT_TRUE(book->Status->styleSheet().isEmpty());
    MarketData(THealthState::Stale);
    ASSERT_TRUE(WaitFor([&] { return book->Status->text().startsWith("нет данных; "); }));
    EXPECT_TRUE(book->Status->styleSheet().contains("color")) << "stale must stand out";
    MarketData(THealthState::Online);
    ASSERT_TRUE(WaitFor([&] { return book->Status->styleSheet().isEmpty(); }));
    EXPECT_EQ(book->Header->text(), "позиции нет");

    Level(2, 11, 2, 101, 4);
    ASSERT_TRUE(WaitFor([&] { return Cells(*book).contains("101"); }));
    EXPECT_EQ(Cells(*book), (QStringList{"", "103", "1", "", "101", "4", "5", "100", ""}));

    // The same instrument again brings its window forward; the expert's button opens its own.
    Modal.Steps.push_back(TScriptedModal::Accept);
    Form->BookNew1Tool->trigger();
    EXPECT_EQ(Form->BookChildren().size(), 1u);
    Modal.Steps.push_back([](QDialog& d) {
        auto* chooser = qobject_cast<gui::TChForm*>(&d);
        chooser->FutBox->setCurrentIndex(1);
        chooser->FutBoxChange(1);
        return static_cast<int>(QDialog::Accepted);
    });
    Form->FileNew1->trigger();
    ASSERT_EQ(Form->ExpertChildren().size(), 1u);
    Form->ExpertChildren()[0]->BookButton->click();
    books = Form->BookChildren();
    ASSERT_EQ(books.size(), 2u);
    EXPECT_EQ(books[1]->windowTitle(), "Стакан Si-12.26");
    ASSERT_TRUE(WaitFor([&] { return books[1]->Model->rowCount() == 1; }));
    EXPECT_TRUE(WindowList().contains("&1 Стакан GAZR-6.26"));
    EXPECT_TRUE(WindowList().contains("&3 Стакан Si-12.26"));

    // Closing a book leaves neither its window nor its timer behind.
    QPointer<QTimer> timer = book->Timer;
    book->parentWidget()->close();
    ASSERT_TRUE(WaitFor([&] { return timer.isNull(); }));
    EXPECT_EQ(Form->BookChildren().size(), 1u);
    EXPECT_FALSE(WindowList().contains("&1 Стакан GAZR-6.26"));

    // Closing the terminal stops the remaining book before the store goes.
    QPointer<QTimer> other = Form->BookChildren()[0]->Timer;
    Boxes.DefaultAnswer = true;
    Form->close();
    EXPECT_FALSE(other.isNull() ? other->isActive() : false);
    Form.reset();
    EXPECT_TRUE(other.isNull());
}

TEST_F(BookFormTest, OneClickTradingIsOptInVisiblyArmedAndSendsOneOrderPerClick) {
    using namespace orders;
    constexpr std::int64_t P = kPriceScale;
    Modal.Steps.push_back(TScriptedModal::Accept);
    Form->BookNew1->trigger();
    ASSERT_EQ(Form->BookChildren().size(), 1u);
    gui::TBookForm* book = Form->BookChildren()[0];
    Subscribe();
    Level(1, 11, 1, 100, 5);
    Level(2, 11, 2, 102, 7);
    Level(3, 11, 2, 103, 1);
    ASSERT_TRUE(WaitFor([&] { return book->Model->rowCount() == 3; }));
    book->SetClientSource([] { return std::vector<std::string>{"FZ00001", "FZ00002"}; });

    TScriptedTransport transport;
    TDeskInputs in;
    in.Facts = [] {
        auto ref = std::make_shared<TRefFacts>();
        ref->Clients = {"FZ00001", "FZ00002"};
        ref->Instruments["GAZR-6.26"] = {11, "GAZR-6.26", P, 90 * P, 110 * P, true};
        ref->IsinById[11] = "GAZR-6.26";
        TStoreFacts f;
        f.Ref = ref;
        return f;
    };
    in.MarketData = [] { return orders::TLinkHealth::Online; };
    TOrderDesk desk(
        transport, TLimitsBook{}, in, [](const std::string&) {}, nullptr);

    enum { kBid, kPrice, kAsk };
    QSignalSpy clicked(book, &gui::TBookForm::LevelClicked);
    const auto click = [&](int row, int column) {
        const QModelIndex at = book->Model->index(row, column);
        QTest::mouseClick(book->Ladder->viewport(), Qt::LeftButton, {},
                          book->Ladder->visualRect(at).center());
    };
    const auto armed = [&] {
        const bool shown = !book->ArmedBanner->isHidden();
        const bool framed = book->LadderFrame->styleSheet().contains("border");
        EXPECT_EQ(shown, book->OneClickArmed());
        EXPECT_EQ(framed, book->OneClickArmed());
        EXPECT_EQ(book->OneClick->isChecked(), book->OneClickArmed());
        return book->OneClickArmed();
    };

    // In the main window an unarmed click opens the order ticket on that level; here every one
    // is declined, so nothing is posted through it either.
    const auto ticketDeclined = [&] {
        Modal.Steps.push_back([](QDialog& d) {
            EXPECT_EQ(d.objectName().toStdString(), "TicketForm");
            return static_cast<int>(QDialog::Rejected);
        });
    };
    for (int i = 0; i < 4; ++i)
        ticketDeclined();

    // Off in a new window: a click on a volume names its level and side, the price column
    // names nothing, and nothing is posted.
    EXPECT_FALSE(armed());
    click(2, kBid);
    click(0, kAsk);
    click(1, kPrice);
    ASSERT_EQ(clicked.count(), 2);
    EXPECT_EQ(clicked[0], (QVariantList{"GAZR-6.26", 1, qint64{100 * P}}));
    EXPECT_EQ(clicked[1], (QVariantList{"GAZR-6.26", 2, qint64{103 * P}}));

    // Arming asks for a desk, then for a client code chosen by hand.
    book->OneClick->click();
    EXPECT_FALSE(armed());
    EXPECT_TRUE(book->TradeNote->text().contains("нет соединения"))
        << book->TradeNote->text().toStdString();
    book->SetOrderDesk(&desk);
    book->OneClick->click();
    EXPECT_FALSE(armed());
    EXPECT_TRUE(book->TradeNote->text().contains("клиента"))
        << book->TradeNote->text().toStdString();
    ASSERT_EQ(book->Client->currentIndex(), 0) << "no client is chosen for the trader";
    book->Client->setCurrentIndex(2);
    book->Qty->setValue(3);
    book->OneClick->click();
    ASSERT_TRUE(armed());

    // Armed: one click, one order with the window's figures, and no ticket asked for.
    click(1, kAsk);
    ASSERT_EQ(transport.Adds.size(), 1u);
    const TAddOrderParams& sent = transport.Adds.begin()->second;
    // Copied out: the message's fields are packed, and a reference to one would be misaligned.
    const std::int32_t isinId = sent.isin_id, dir = sent.dir, amount = sent.amount;
    EXPECT_EQ(isinId, 11);
    EXPECT_EQ(dir, 2);
    EXPECT_EQ(amount, 3);
    EXPECT_STREQ(sent.price, "102");
    EXPECT_STREQ(sent.broker_code, "FZ00");
    EXPECT_STREQ(sent.client_code, "002");
    EXPECT_EQ(clicked.count(), 2);
    EXPECT_TRUE(book->TradeNote->text().startsWith("Отправлена заявка: продажа GAZR-6.26 3"))
        << book->TradeNote->text().toStdString();
    // The same click at once is the same order again: the desk's gate holds it back.
    click(1, kAsk);
    EXPECT_EQ(transport.Adds.size(), 1u);
    EXPECT_TRUE(book->TradeNote->text().startsWith("Заявка отклонена"))
        << book->TradeNote->text().toStdString();

    // Esc disarms; clicks only name levels again.
    QTest::keyClick(book->Ladder, Qt::Key_Escape);
    EXPECT_FALSE(armed());
    click(2, kBid);
    EXPECT_EQ(transport.Adds.size(), 1u);
    EXPECT_EQ(clicked.count(), 3);

    // Losing the desk or the client code disarms too.
    book->OneClick->click();
    ASSERT_TRUE(armed());
    book->SetClientSource([] { return std::vector<std::string>{"FZ00001"}; });
    EXPECT_FALSE(armed());
    EXPECT_EQ(book->Client->currentIndex(), 0);
    book->Client->setCurrentIndex(1);
    book->OneClick->click();
    ASSERT_TRUE(armed());
    book->SetOrderDesk(nullptr);
    EXPECT_FALSE(armed());
    click(2, kBid);
    EXPECT_EQ(transport.Adds.size(), 1u);
    EXPECT_EQ(clicked.count(), 4);
    EXPECT_TRUE(Modal.Steps.empty()) << "each unarmed click on a volume opens the ticket";

    // A client code the account table gains later is offered without reopening the window, and
    // the one chosen stays chosen.
    auto codes = std::make_shared<std::vector<std::string>>(1, "FZ00001");
    book->SetClientSource([codes] { return *codes; });
    book->Client->setCurrentIndex(1);
    codes->push_back("FZ00003");
    QTRY_COMPARE_WITH_TIMEOUT(book->Client->count(), 3, 5000);
    EXPECT_EQ(book->Client->currentData().toString(), QStringLiteral("FZ00001"));
}

// With the instrument's step known the ladder has a row for every price, and a price keeps its
// place on the screen while the market moves inside the rows shown: what is under the cursor is
// what was there. It moves when a best price would leave the rows, or when asked.
TEST_F(BookFormTest, FixedPricesKeepTheirPlaceOnTheScreenWhileTheMarketMovesInside) {
    Modal.Steps.push_back(TScriptedModal::Accept);
    Form->BookNew1->trigger();
    ASSERT_EQ(Form->BookChildren().size(), 1u);
    gui::TBookForm* book = Form->BookChildren()[0];
    Port->Storage->SetStreams({"FORTS_AGGR5_REPL", "FORTS_REFDATA_REPL"});
    Lsn.Pos = 0;
    Lsn.sName = "FORTS_AGGR5_REPL";
    Port->Storage->SetTblsDesc(0, Lsn, Aggr.Desc());
    Ref.Table(
        "fut_sess_contents",
        ReplFields({{"isin_id", "i4", 4}, {"min_step", "d16.5", 9}, {"step_price", "d16.5", 9}}));
    RefLsn.Pos = 1;
    RefLsn.sName = "FORTS_REFDATA_REPL";
    Port->Storage->SetTblsDesc(1, RefLsn, Ref.Desc());
    TRowBytes step(Ref, "fut_sess_contents");
    step.Key(1).Int("isin_id", 11).Decimal("min_step", 1, 0).Decimal("step_price", 1, 0);
    Port->Storage->UpdStrMsg(step.Msg(), RefLsn);
    Level(1, 11, 1, 100, 5);
    Level(2, 11, 2, 102, 7);

    const auto rowOf = [&](std::int64_t price) {
        const auto& rows = book->Model->Rows();
        for (std::size_t r = 0; r < rows.size(); ++r)
            if (rows[r].Units == price * orders::kPriceScale)
                return static_cast<int>(r);
        return -1;
    };
    const auto screenY = [&](std::int64_t price) {
        const QRect cell = book->Ladder->visualRect(book->Model->index(rowOf(price), 1));
        return book->Ladder->viewport()->mapTo(book, cell.center()).y();
    };
    ASSERT_TRUE(WaitFor([&] { return book->FixedPricesShown() && rowOf(100) >= 0; }));
    const int count = book->Model->rowCount();
    ASSERT_GE(count, 11) << "the default window has room for a working ladder";
    EXPECT_EQ(count, book->VisibleRows());
    EXPECT_EQ(book->ModeButton->text(), "Цены: все шаги");
    EXPECT_EQ(book->Info->text(), "спред 2 шага");
    // Each price's place as the trader first saw it; the rows span the view without a scroll.
    const std::int64_t top = book->Model->Rows().front().Units / orders::kPriceScale;
    std::vector<int> ys;
    ys.reserve(static_cast<std::size_t>(count));
    for (int r = 0; r < count; ++r)
        ys.push_back(screenY(top - r));
    EXPECT_LE(book->Ladder->visualRect(book->Model->index(count - 1, 0)).bottom(),
              book->Ladder->viewport()->height());

    // The market moves inside the rows: new bests, a gap, a level gone, a far own-side edge.
    struct TMove {
        const char* What;
        std::int64_t Id;
        int Dir;
        std::int64_t Price, Volume;
        std::int64_t Best; // the row that must now show the move's volume
    };
    const std::int64_t edge = top - count + 1;
    const std::vector<TMove> moves = {
        {"a better bid", 3, 1, 101, 2, 101},
        {"the best ask lifts", 2, 2, 104, 7, 104},
        {"the bid falls away", 3, 1, 98, 2, 98},
        {"a bid on the lowest row", 1, 1, edge, 9, edge},
        {"an ask on the highest row", 4, 2, top, 1, top},
    };
    for (const TMove& m : moves) {
        Level(m.Id, 11, m.Dir, m.Price, m.Volume);
        ASSERT_TRUE(WaitFor([&] {
            const int r = rowOf(m.Best);
            const auto& row = book->Model->Rows()[static_cast<std::size_t>(std::max(r, 0))];
            return r >= 0 && (m.Dir == 1 ? row.Bid : row.Ask) == std::to_string(m.Volume);
        })) << m.What;
        ASSERT_EQ(book->Model->rowCount(), count) << m.What;
        for (int r = 0; r < count; ++r)
            ASSERT_EQ(screenY(top - r), ys[static_cast<std::size_t>(r)]) << m.What << ", row " << r;
    }

    // The best ask leaves the rows: the ladder moves to keep the market in view.
    Level(4, 11, 2, top + 50, 1);
    Level(2, 11, 2, top + 40, 7);
    Level(3, 11, 1, top + 39, 2);
    Level(1, 11, 1, top + 38, 9);
    ASSERT_TRUE(WaitFor([&] { return rowOf(top + 40) >= 0 && rowOf(top + 39) >= 0; }));
    EXPECT_EQ(book->Info->text(), "спред 1 шаг");
    // Asked for, the market comes back to the middle; the compact ladder is a click away.
    Level(1, 11, 1, top + 30, 9);
    Level(2, 11, 2, top + 34, 7);
    Level(3, 11, 1, top + 33, 2);
    ASSERT_TRUE(WaitFor([&] {
        const int r = rowOf(top + 34);
        return r >= 0 && book->Model->Rows()[static_cast<std::size_t>(r)].Ask == "7";
    }));
    const int before = rowOf(top + 34);
    QTest::keyClick(book->Ladder, Qt::Key_Home);
    EXPECT_EQ(rowOf(top + 34), count / 2 - 1) << "was at row " << before;
    EXPECT_EQ(rowOf(top + 33), count / 2);
    book->ModeButton->click();
    EXPECT_FALSE(book->FixedPricesShown());
    EXPECT_EQ(book->ModeButton->text(), "Цены: только уровни");
    EXPECT_EQ(book->Model->rowCount(), 4) << "the levels only";
    book->ModeButton->click();
    EXPECT_TRUE(book->FixedPricesShown());

    // At the default size no caption or control is cut.
    for (QWidget* w :
         std::initializer_list<QWidget*>{book->ModeButton, book->CentreButton, book->CumulativeBox,
                                         book->OneClick, book->ChartButton, book->Qty})
        EXPECT_GE(w->width(), w->sizeHint().width()) << w->objectName().toStdString();
}

} // namespace
} // namespace vorlen::test
