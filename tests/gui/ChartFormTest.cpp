// The chart window on a recorded session: opened from the main window's command, the expert
// window and the book, one per instrument and interval and listed with the other windows; its
// intervals, zoom, pan and return to the live edge; a new deal changing the last candle, a
// resent one changing nothing; honest about what is missing; and gone without a trace once
// closed.

#include "gui/ChartForm.h"

#include "GuiSupport.h"
#include "gui/BookForm.h"
#include "gui/ChForm.h"
#include "gui/MainForm.h"
#include "gui/MdiChild.h"
#include "gui/StaleMark.h"
#include "history/HistoryDb.h"
#include "main/FakePort.h"
#include "store/TestScheme.h"

#include <QComboBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <filesystem>
#include <memory>
#include <string>

namespace vorlen::test {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kIsin = 11;
// The recorded half hour: 10:00 to 10:29 on the exchange's clock, two deals a minute.
constexpr std::int64_t kStart = 1'796'886'000'000; // 2026-12-10 10:00 on the exchange's clock

class ChartFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSavedCG = CG();
        CG().cg_bcd_get = TestBcdGet;
        Dir = fs::temp_directory_path() / ("vorlen-chart-" + std::to_string(::getpid()));
        fs::remove_all(Dir);
        fs::create_directories(Dir);
        Record();
        Deals.Table("deal", ReplFields({{"sess_id", "i4", 4},
                                        {"isin_id", "i4", 4},
                                        {"id_deal", "i8", 8},
                                        {"xamount", "i8", 8},
                                        {"price", "d16.5", 9},
                                        {"moment", "t", 10}}));
        TPortScript script;
        script.WithStore = true;
        script.Fut = {Header(kIsin, "GAZR-6.26", "GZM6", "Газпром"),
                      Header(12, "Si-12.26", "SiZ6", "Доллар")};
        Modal.Steps.push_back(TScriptedModal::Accept);
        Form = std::make_unique<gui::TMainForm>(FakePortFactory(script, Log, &Port), "/opt/v/");
        Form->SetHistoryDir(Dir);
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
        fs::remove_all(Dir);
    }

    // history.db as the recorder leaves it after the session.
    void Record() {
        history::THistoryDb db;
        ASSERT_TRUE(db.Open(Dir / "history.db")) << db.Error();
        for (int i = 0; i < 60; ++i) {
            history::TDeal d;
            d.SessId = 1;
            d.IdDeal = 1000 + i;
            d.IsinId = kIsin;
            d.Price = 100 + (i % 7);
            d.Amount = 1 + i % 3;
            d.MomentMs = kStart + std::int64_t{i} * 30'000;
            d.Own = i == 12;
            ASSERT_TRUE(db.Add(d));
        }
        ASSERT_TRUE(db.Commit()) << db.Error();
    }
    // The deal stream, as the market-data thread opens it.
    void Subscribe() {
        Port->Storage->SetStreams({"FORTS_DEALS_REPL"});
        Lsn.Pos = 0;
        Lsn.sName = "FORTS_DEALS_REPL";
        Port->Storage->SetTblsDesc(0, Lsn, Deals.Desc());
    }
    void Deal(std::int64_t id, std::int64_t momentMs, std::int64_t price, std::int64_t amount) {
        // The stream's moment is Moscow wall time.
        const std::int64_t local = momentMs + history::kExchangeOffsetMs;
        const std::string t = history::FormatExchangeTime(momentMs);
        cg_time_t when{};
        when.year = static_cast<std::uint16_t>(std::stoi(t.substr(0, 4)));
        when.month = static_cast<std::uint8_t>(std::stoi(t.substr(5, 2)));
        when.day = static_cast<std::uint8_t>(std::stoi(t.substr(8, 2)));
        when.hour = static_cast<std::uint8_t>(std::stoi(t.substr(11, 2)));
        when.minute = static_cast<std::uint8_t>(std::stoi(t.substr(14, 2)));
        when.second = static_cast<std::uint8_t>(std::stoi(t.substr(17, 2)));
        when.msec = static_cast<std::uint16_t>(local % 1000);
        TRowBytes r(Deals, "deal");
        r.Key(id).Int("sess_id", 1).Int("isin_id", kIsin).Int("id_deal", id);
        r.Int("xamount", amount).Decimal("price", price, 0).Time("moment", when);
        Port->Storage->UpdStrMsg(r.Msg(), Lsn);
    }
    gui::TChartForm* OpenFromMenu() {
        Modal.Steps.push_back(TScriptedModal::Accept); // the chooser, first futures
        Form->ChartNew1->trigger();
        const auto charts = Form->ChartChildren();
        return charts.empty() ? nullptr : charts.back();
    }
    QStringList WindowList() {
        emit Form->Window1->aboutToShow();
        QStringList titles;
        for (const QAction* a : Form->Window1->actions())
            titles << a->text();
        return titles;
    }
    static const history::TCandle& Last(const gui::TChartForm& chart) {
        return chart.Data().Cache().Candles().back();
    }

    fs::path Dir;
    std::shared_ptr<TPortLog> Log = std::make_shared<TPortLog>();
    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    TScriptedModal Modal;
    TFakePort* Port = nullptr;
    std::unique_ptr<gui::TMainForm> Form;
    TTestScheme Deals;
    TStreamData Lsn;
    TCGateEntryPoints FSavedCG;
};

TEST_F(ChartFormTest, ShowsTheSessionSwitchesZoomsPansFollowsTheLiveEdgeAndClosesCleanly) {
    ASSERT_TRUE(Form->ChartNew1->isEnabled());
    EXPECT_EQ(Form->ChartNew1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_G));
    // No two commands share a shortcut.
    QList<QKeySequence> keys;
    for (const QAction* a : Form->findChildren<QAction*>())
        if (!a->shortcut().isEmpty()) {
            EXPECT_FALSE(keys.contains(a->shortcut())) << a->text().toStdString();
            keys << a->shortcut();
        }

    gui::TChartForm* chart = OpenFromMenu();
    ASSERT_NE(chart, nullptr);
    QPointer<gui::TChartForm> alive(chart);
    EXPECT_EQ(chart->windowTitle(), "График GAZR-6.26, 5 мин");
    EXPECT_TRUE(WindowList().contains("&1 График GAZR-6.26, 5 мин"))
        << WindowList().join("|").toStdString();
    ASSERT_EQ(chart->Data().Cache().Candles().size(), 6u);
    EXPECT_EQ(chart->Data().Fills().size(), 1u);
    EXPECT_EQ(chart->Status->text(), QString::fromUtf8(gui::kNoDealStreamText));
    // The same instrument and interval again brings the window forward.
    EXPECT_EQ(OpenFromMenu(), chart);
    EXPECT_EQ(Form->ChartChildren().size(), 1u);

    chart->IntervalBox->setCurrentIndex(chart->IntervalBox->findText("1 мин"));
    EXPECT_EQ(chart->windowTitle(), "График GAZR-6.26, 1 мин");
    ASSERT_EQ(chart->Data().Cache().Candles().size(), 30u);
    gui::TChartWidget* w = chart->Chart;
    QTest::qWait(10);
    ASSERT_GT(w->width(), 200);

    // The wheel zooms about the cursor; at the live edge the picture keeps following it.
    const double step = w->View().Step;
    const QPoint mid(w->PlotRect().width() / 2, w->PlotRect().height() / 2);
    QWheelEvent wheel(mid, w->mapToGlobal(mid), {}, {0, 240}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w, &wheel);
    EXPECT_NEAR(w->View().Step, step * 1.5625, 1e-9);
    EXPECT_TRUE(w->View().Follow);

    // A drag to the right looks back; the button to return comes alive.
    QTest::mousePress(w, Qt::LeftButton, {}, mid);
    QTest::mouseMove(w, mid + QPoint(80, 0));
    QTest::mouseRelease(w, Qt::LeftButton, {}, mid + QPoint(80, 0));
    EXPECT_FALSE(w->View().Follow);
    EXPECT_TRUE(chart->LiveButton->isEnabled());
    ASSERT_FALSE(w->ReadOutText().isEmpty());
    EXPECT_TRUE(w->ReadOutText().startsWith("10.12.2026 10:")) << w->ReadOutText().toStdString();

    // Live deals: a new minute while looking back leaves the view where it is.
    Subscribe();
    const double right = w->View().Right;
    Deal(1059, kStart + 59LL * 30'000, 106, 3); // recorded already: counted once
    Deal(2001, kStart + 30LL * 60'000 + 5'000, 104, 4);
    ASSERT_TRUE(WaitFor([&] { return chart->Data().Cache().Candles().size() == 31; }));
    EXPECT_EQ(Last(*chart).Volume, 4);
    EXPECT_EQ(chart->Data().Cache().Candles()[29].Volume, 2 + 3);
    EXPECT_EQ(w->View().Right, right);
    ASSERT_TRUE(WaitFor([&] { return chart->Status->isHidden(); }))
        << chart->Status->text().toStdString();

    // Back to the live edge, which then follows the candles that come.
    QTest::mouseClick(chart->LiveButton, Qt::LeftButton);
    EXPECT_TRUE(w->View().Follow);
    EXPECT_FALSE(chart->LiveButton->isEnabled());
    const std::uint64_t paints = w->Paints();
    Deal(2002, kStart + 30LL * 60'000 + 9'000, 107, 6);
    ASSERT_TRUE(WaitFor([&] { return Last(*chart).Volume == 10 && w->Paints() > paints; }));
    EXPECT_EQ(Last(*chart).Close, 107);
    Deal(2003, kStart + 31LL * 60'000, 105, 1);
    ASSERT_TRUE(WaitFor([&] { return chart->Data().Cache().Candles().size() == 32; }));
    EXPECT_GT(w->View().Right, 32);
    QTest::mousePress(w, Qt::LeftButton, {}, mid);
    QTest::mouseMove(w, mid + QPoint(60, 0));
    QTest::mouseRelease(w, Qt::LeftButton, {}, mid + QPoint(60, 0));
    QTest::keyClick(w, Qt::Key_End);
    EXPECT_TRUE(w->View().Follow);

    // The stale mark follows the market data's health, as on the other windows.
    Port->HealthNow.Links[static_cast<std::size_t>(THealthLink::MarketData)] = {THealthState::Stale,
                                                                                5000};
    ASSERT_TRUE(WaitFor([&] { return chart->Mark->isVisible(); }));

    chart->parentWidget()->close();
    ASSERT_TRUE(WaitFor([&] { return alive.isNull(); }));
    EXPECT_TRUE(Form->ChartChildren().empty());
    EXPECT_FALSE(WindowList().join("|").contains("График"));
}

TEST_F(ChartFormTest, OpensFromTheBookAndTheExpertAndSaysWhenThereIsNoHistory) {
    fs::remove(Dir / "history.db");
    Modal.Steps.push_back(TScriptedModal::Accept);
    Form->BookNew1->trigger();
    ASSERT_EQ(Form->BookChildren().size(), 1u);
    QTest::mouseClick(Form->BookChildren()[0]->ChartButton, Qt::LeftButton);
    ASSERT_EQ(Form->ChartChildren().size(), 1u);
    gui::TChartForm* chart = Form->ChartChildren()[0];
    EXPECT_TRUE(chart->Status->text().startsWith(QString::fromUtf8(gui::kNoHistoryText) + ": "))
        << chart->Status->text().toStdString();
    EXPECT_TRUE(chart->Data().Cache().Candles().empty());

    // An empty database for the instrument says only that. The expert's button opens the chart
    // of its own instrument.
    Record();
    chart->parentWidget()->close();
    Modal.Steps.push_back([](QDialog& d) {
        auto* chooser = qobject_cast<gui::TChForm*>(&d);
        chooser->FutBox->setCurrentIndex(1);
        chooser->FutBoxChange(1);
        return static_cast<int>(QDialog::Accepted);
    });
    Form->FileNew1->trigger();
    ASSERT_EQ(Form->ExpertChildren().size(), 1u);
    Form->ExpertChildren()[0]->ChartButton->click();
    ASSERT_EQ(Form->ChartChildren().size(), 1u);
    gui::TChartForm* other = Form->ChartChildren().back();
    EXPECT_EQ(other->windowTitle(), "График Si-12.26, 5 мин");
    EXPECT_TRUE(other->Status->text().startsWith(QString::fromUtf8(gui::kNoHistoryText) + "; "))
        << other->Status->text().toStdString();
    // The toolbar's button is the menu's command.
    Modal.Steps.push_back(TScriptedModal::Accept);
    Form->ChartNew1Tool->trigger();
    EXPECT_EQ(Form->ChartChildren().size(), 2u);
}

} // namespace
} // namespace vorlen::test
