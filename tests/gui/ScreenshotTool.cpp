// Takes the pictures of docs/screenshots: the terminal's windows as a user sees them, running
// against the offline exchange. Run it on a display (scripts/screenshots starts one).
//
//   gui_screenshots <output folder>
//   gui_screenshots <output folder> replay    (only replay-bar.png)
//   gui_screenshots <output folder> backtest  (only backtest-dialog.png)

#include "GuiSupport.h"
#include "e2e/SimHarness.h"
#if VORLEN_BACKTEST
#include "gui/BacktestForm.h"
#endif
#include "gui/BookForm.h"
#include "gui/ChForm.h"
#include "gui/ChartForm.h"
#include "gui/GridModel.h"
#include "gui/LimitsForm.h"
#include "gui/MainForm.h"
#include "gui/MdiChild.h"
#include "gui/OptionsForm.h"
#include "gui/OwnOrdersForm.h"
#include "gui/ReplayBar.h"
#include "gui/SetForm.h"
#include "gui/TicketForm.h"
#include "gui/UiBridge.h"
#include "main/ConnectorPort.h"
#include "main/FakeControlServer.h"
#include "orders/OrderDesk.h"
#include "platform/Thread.h"
#include "settings/Catalogue.h"
#include "settings/SavedSettings.h"
#include "settings/Settings.h"
#include "settings/StreamTree.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace vorlen;

bool Save(QWidget& widget, const QDir& dir, const char* name) {
    QApplication::processEvents();
    const QString file = dir.filePath(QString::fromLatin1(name));
    const bool ok = widget.grab().save(file);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", file.toLocal8Bit().constData());
    return ok;
}

// Shows a dialog that the script answers, long enough to be drawn and grabbed.
void ShowForPicture(QDialog& dialog) {
    dialog.show();
    QTest::qWait(300);
}

// The book in fixed prices with two of the trader's orders resting a few steps off the market,
// sent by one click each; the own-orders window with them; the limits form on a sample file.
bool BookAndOrdersPictures(gui::TMainForm& form, gui::TBookForm& book, const e2e::TSimInstall& inst,
                           const QDir& out) {
    bool ok = true;
    book.parentWidget()->resize(book.parentWidget()->size().expandedTo(QSize(480, 700)));
    if (!test::WaitFor([&] { return book.FixedPricesShown(); }, 10000))
        std::fprintf(stderr, "gui_screenshots: the book's price step did not come\n");
    if (!test::WaitFor([&] { return book.Client->count() > 1; }, 10000))
        std::fprintf(stderr, "gui_screenshots: no client code for the book\n");
    book.Client->setCurrentIndex(1);
    book.Recentre();
    book.CumulativeBox->setChecked(true);
    if (book.SetOneClick(true)) {
        // A buy beyond the subscribed depth, seven rows under the best bid, and a sell three
        // over the best ask.
        const auto& rows = book.Model->Rows();
        int bestBid = -1, bestAsk = -1;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            if (rows[r].Best && !rows[r].IsAsk && bestBid < 0)
                bestBid = static_cast<int>(r);
            if (rows[r].Best && rows[r].IsAsk)
                bestAsk = static_cast<int>(r);
        }
        const auto click = [&](int row, int column) {
            if (row < 0 || row >= book.Model->rowCount())
                return;
            const QRect cell = book.Ladder->visualRect(book.Model->index(row, column));
            QTest::mouseClick(book.Ladder->viewport(), Qt::LeftButton, {}, cell.center());
        };
        click(bestBid >= 0 ? bestBid + 7 : -1, 0);
        QTest::qWait(1100); // the gate holds back a second order within a second
        click(bestAsk >= 0 ? bestAsk - 3 : -1, 2);
        book.SetOneClick(false);
        if (!test::WaitFor([&] { return book.Book().OwnOrders.size() >= 2; }, 20000))
            std::fprintf(stderr, "gui_screenshots: the book's own orders did not rest: %s\n",
                         book.TradeNote->text().toLocal8Bit().constData());
    } else {
        std::fprintf(stderr, "gui_screenshots: one-click did not arm: %s\n",
                     book.TradeNote->text().toLocal8Bit().constData());
    }
    QTest::qWait(500);
    ok = Save(*book.parentWidget(), out, "book-fixed.png") && ok;

    form.OwnOrders1->trigger();
    gui::TOwnOrdersForm* own = form.OwnOrdersChild();
    if (own == nullptr || !test::WaitFor([&] { return own->Rows().size() >= 2; }, 20000)) {
        std::fprintf(stderr, "gui_screenshots: the own orders did not show\n");
        ok = false;
    } else {
        QTest::qWait(600);
        ok = Save(*own->parentWidget(), out, "own-orders.png") && ok;
    }

    const std::filesystem::path limits = inst.Root / "limits-sample";
    std::filesystem::create_directories(limits);
    std::ofstream(limits / orders::kLimitsFileName)
        << "*       max_qty=10 max_pos=50 max_active=20 per_minute=60 per_day=500 "
           "distance_pct=5\n"
           "FZ00001 max_qty=5 distance_pct=2.5\n"
           "FZ00001 Si-12.26 max_pos=20\n"
           "FZ00002 GAZR-6.26 max_active=3 opt_distance_steps=5\n";
    gui::TLimitsForm dialog(limits, nullptr, &form);
    ShowForPicture(dialog);
    ok = Save(dialog, out, "limits-form.png") && ok;
    dialog.reject();
    return ok;
}

// The options board needs what neither market preset subscribes (docs/options.md).
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
    for (const char* s :
         {"FORTS_AGGR5_REPL", "FORTS_COMMON_REPL", "FORTS_POS_REPL", "FORTS_VOLAT_REPL"})
        tick(model.Tree.FindStream(s));
    std::filesystem::path file = inst.Root / "board.sav";
    std::ofstream(file) << FormatSavedSettings(model.Snapshot());
    return file;
}

// The options board of Si-12.26, in a terminal of its own subscribed for it.
bool BoardPicture(const e2e::TSimInstall& inst, const QDir& out, TScriptedDialogs& boxes) {
    const std::filesystem::path settings = BoardSettings(inst);
    gui::SetOpenFileHandler([&settings](const gui::TOpenFileRequest&) {
        return QString::fromStdString(settings.string());
    });
    test::TScriptedModal modal;
    modal.Steps.push_back([](QDialog& d) {
        auto& dialog = dynamic_cast<gui::TSetForm&>(d);
        QTest::mouseClick(dialog.LoadButton, Qt::LeftButton);
        QTest::mouseClick(dialog.ApplyButton, Qt::LeftButton);
        return d.result();
    });
    gui::TMainForm form(ConnectorPortFactory());
    form.show();
    const auto done = [&](bool ok, const char* what) {
        if (!ok)
            std::fprintf(stderr, "gui_screenshots: %s\n", what);
        boxes.Answers = {true};
        form.close();
        return ok;
    };
    if (!test::WaitFor([&] { return form.Conndis1->isEnabled(); }, 60000))
        return done(false, "the board's terminal did not start");
    form.Conndis1->trigger();
    if (!test::WaitFor([&] { return form.OptionsNew1->isEnabled(); }, 120000))
        return done(false, "the board's terminal did not connect");
    modal.Steps.push_back([](QDialog& d) {
        auto& chooser = dynamic_cast<gui::TChForm&>(d);
        chooser.FutBox->setCurrentIndex(chooser.FutBox->findText(QStringLiteral("Si-12.26")));
        QTest::mouseClick(chooser.Button1, Qt::LeftButton);
        return d.result();
    });
    form.OptionsNew1->trigger();
    if (form.OptionsChildren().empty())
        return done(false, "no options board");
    gui::TOptionsForm* board = form.OptionsChildren().front();
    const bool filled = test::WaitFor(
        [&] {
            const auto& lines = board->Model->Lines();
            return !lines.empty() && lines[lines.size() / 2].CallBid &&
                   !board->Smile->Points().empty();
        },
        60000);
    if (!filled)
        return done(false, "the options board stayed empty");
    auto* sub = form.MdiArea->subWindowList().constFirst();
    sub->resize(940, 660);
    QTest::qWait(1500);
    return done(Save(*sub, out, "options.png"), "the options board was not saved");
}

// The chart of the first futures on the session recorded so far, with a fill of the trader's own
// and two resting orders; then the same history drawn by `vorlen --chart` into a PNG.
bool Chart(gui::TMainForm& form, const e2e::TSimInstall& inst, const QDir& out) {
    inst.Control("rate 400");
    test::TScriptedModal modal;
    modal.Steps.push_back(test::TScriptedModal::Accept);
    form.ChartNew1->trigger();
    if (form.ChartChildren().empty())
        return false;
    gui::TChartForm* chart = form.ChartChildren().back();
    chart->IntervalBox->setCurrentIndex(chart->IntervalBox->findText(QStringLiteral("тики")));
    chart->StyleBox->setCurrentIndex(chart->StyleBox->findText(QStringLiteral("Линия")));
    if (!test::WaitFor([&] { return chart->Data().Cache().Candles().size() > 150; }, 120000)) {
        std::fprintf(stderr, "gui_screenshots: too few deals for a chart (%zu live; %s)\n",
                     chart->Data().LiveDeals(), chart->Status->text().toUtf8().constData());
        return false;
    }
    orders::TOrderDesk* desk = form.Controller().Port()->OrderDesk();
    const std::string isin = chart->Isin();
    // One that crosses the market and fills, and one on either side of the recent prices that
    // rests.
    const auto& candles = chart->Data().Cache().Candles();
    double high = candles.back().Close;
    double low = high;
    for (std::size_t i = candles.size() - std::min<std::size_t>(candles.size(), 100);
         i < candles.size(); ++i) {
        high = std::max(high, candles[i].High);
        low = std::min(low, candles[i].Low);
    }
    const auto units = [](double price) { return std::llround(price) * 100'000; };
    const auto place = [&](const orders::TOrderRequest& o) {
        const auto placed = desk->Place(o);
        if (!placed.Reason.empty())
            std::fprintf(stderr, "gui_screenshots: order: %s\n", placed.Reason.c_str());
    };
    place({isin, orders::TSide::Buy, 1, units(high + 5), "FZ00001"});
    if (!test::WaitFor([&] { return !chart->Data().Fills().empty(); }, 30000))
        std::fprintf(stderr, "gui_screenshots: no fill came\n");
    place({isin, orders::TSide::Sell, 1, units(high + 3), "FZ00001"});
    place({isin, orders::TSide::Buy, 2, units(low - 2), "FZ00001"});
    QTest::qWait(3000);
    QMdiSubWindow* sub = form.MdiArea->subWindowList().constLast();
    sub->showMaximized();
    QTest::qWait(300);
    bool ok = Save(*sub, out, "chart.png");
    sub->showNormal();

    const std::string png = out.filePath(QStringLiteral("../chart-tick.png")).toStdString();
    const std::string command = std::string("\"") + VORLEN_DESKTOP + "\" --chart " + isin +
                                " --interval tick --history \"" +
                                (inst.DataDir / "history").string() + "\" --png \"" + png + "\"";
    const int rc = std::system(command.c_str()); // NOLINT(concurrency-mt-unsafe)
    std::printf("%s %s\n", rc == 0 ? "saved" : "FAILED", png.c_str());
    return ok && rc == 0;
}

// The main window while the router replays a recording, with a book and an expert window open.
// The replay is told by a control channel of the tool's own, put where the router's ports file
// points the terminal; the market data itself comes from the offline exchange.
int ReplayPicture(const QDir& out) {
    const e2e::TSimInstall inst(50);
    setenv("VORLEN_REGISTRY", inst.RegFile.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    setenv("VORLEN_DATA_DIR", inst.DataDir.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    gui::SetOpenFileHandler([&inst](const gui::TOpenFileRequest&) {
        return QString::fromStdString(inst.SettingsFile.string());
    });
    TScriptedDialogs boxes;
    TScopedDialogs installed(boxes);
    test::TScriptedModal modal;
    modal.Steps.push_back([](QDialog& d) {
        auto& settings = dynamic_cast<gui::TSetForm&>(d);
        QTest::mouseClick(settings.LoadButton, Qt::LeftButton);
        QTest::mouseClick(settings.ApplyButton, Qt::LeftButton);
        return d.result();
    });
    test::TFakeControlServer control;
    control.SetState("OK replay date=2026-12-10 time=14:32:07.480 from=10:00:00 to=23:49:59 "
                     "speed=10 state=playing fill=queue file=" +
                     (inst.DataDir / "history" / "2026-12-10.vrec").string());
    gui::TMainForm form(ConnectorPortFactory());
    form.show();
    const auto done = [&](bool ok, const char* what) {
        if (!ok)
            std::fprintf(stderr, "gui_screenshots: %s\n", what);
        boxes.DefaultAnswer = true;
        form.close();
        unsetenv("VORLEN_REGISTRY"); // NOLINT(concurrency-mt-unsafe)
        unsetenv("VORLEN_DATA_DIR"); // NOLINT(concurrency-mt-unsafe)
        return ok ? 0 : 1;
    };
    if (!test::WaitFor([&] { return form.Conndis1->isEnabled(); }, 60000))
        return done(false, "the router or the gateway library did not load");
    const std::filesystem::path ports = inst.Root / "router.ports";
    if (!test::WaitFor([&] { return std::filesystem::exists(ports); }, 30000))
        return done(false, "the router wrote no ports file");
    std::ofstream(ports) << "port=" << inst.Port << "\ncontrol_port=" << control.Port << "\n";
    form.Conndis1->trigger();
    if (!test::WaitFor([&] { return form.FileNew1->isEnabled() && form.ReplayBar->isVisible(); },
                       120000))
        return done(false, "no connection, or no replay shown");
    modal.Steps.push_back([](QDialog& d) {
        QTest::mouseClick(dynamic_cast<gui::TChForm&>(d).Button1, Qt::LeftButton);
        return d.result();
    });
    form.FileNew1->trigger();
    modal.Steps.push_back([](QDialog& d) {
        QTest::mouseClick(dynamic_cast<gui::TChForm&>(d).Button1, Qt::LeftButton);
        return d.result();
    });
    form.BookNew1->trigger();
    if (form.BookChildren().empty() || form.ExpertChildren().empty())
        return done(false, "no book or expert window");
    gui::TBookForm* book = form.BookChildren().front();
    if (!test::WaitFor([&] { return book->Model->rowCount() > 1; }, 60000))
        return done(false, "the book stayed empty");
    form.WindowTileVertical1->trigger();
    form.MainPageControl->setCurrentIndex(kGridCount);
    QTest::qWait(1500);
    return done(Save(form, out, "replay-bar.png"), "the replay picture was not saved");
}

int Run(const QDir& out) {
    const e2e::TSimInstall inst(50);
    setenv("VORLEN_REGISTRY", inst.RegFile.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    setenv("VORLEN_DATA_DIR", inst.DataDir.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    gui::SetOpenFileHandler([&inst](const gui::TOpenFileRequest&) {
        return QString::fromStdString(inst.SettingsFile.string());
    });

    // Boxes would stop the run; any that appears is printed and answered with OK.
    TScriptedDialogs boxes;
    TScopedDialogs installed(boxes);
    test::TScriptedModal modal;
    bool ok = true;
    modal.Steps.push_back([&](QDialog& d) {
        auto& settings = dynamic_cast<gui::TSetForm&>(d);
        ShowForPicture(settings);
        QTest::mouseClick(settings.LoadButton, Qt::LeftButton);
        ok = Save(settings, out, "settings.png") && ok;
        // The chart needs the market's deals, which the market presets leave off.
        // The trader's own choice keeps what the preset ticked and adds the deals.
        TStreamTree& tree = settings.Model().Tree;
        std::vector<std::string> ticked{"FORTS_DEALS_REPL"};
        for (int i = 0; i < tree.NodeCount(); ++i)
            if (tree.Node(i).Level == TNodeLevel::Stream && tree.IsTicked(i))
                ticked.push_back(tree.Text(i));
        settings.MarketBoxChange(kMarketCustom);
        for (const std::string& stream : ticked)
            if (!tree.IsTicked(tree.FindStream(stream)))
                tree.ClickPicture(tree.FindStream(stream));
        QTest::mouseClick(settings.ApplyButton, Qt::LeftButton);
        return d.result();
    });

    // Recorded as the trader would record it, for the chart's history.
    gui::TMainForm form(
        ConnectorPortFactory(DefaultConnectorServices(), {}, inst.DataDir / "history"));
    form.show();
    const auto fail = [&](const char* what) {
        std::fprintf(stderr, "gui_screenshots: %s\n", what);
        for (const auto& call : boxes.Calls)
            std::fprintf(stderr, "  box: %s\n", call.Text.c_str());
        boxes.DefaultAnswer = true;
        form.close();
        return 1;
    };
    if (!test::WaitFor([&] { return form.Conndis1->isEnabled(); }, 60000))
        return fail("the router or the gateway library did not load");
    form.Conndis1->trigger();
    if (!test::WaitFor([&] { return form.FileNew1->isEnabled(); }, 120000))
        return fail("no connection");
    const auto filled = [&](int grid) {
        return !form.GridViews[static_cast<std::size_t>(grid)]->Model().Cell(0, 0).empty();
    };
    if (!test::WaitFor([&] { return filled(kOrdersGrid) && filled(kAccGrid); }, 60000))
        return fail("the grids stayed empty");
    QTest::qWait(1500);

    modal.Steps.push_back([&](QDialog& d) {
        auto& chooser = dynamic_cast<gui::TChForm&>(d);
        ShowForPicture(chooser);
        ok = Save(chooser, out, "chooser.png") && ok;
        QTest::mouseClick(chooser.Button1, Qt::LeftButton);
        return d.result();
    });
    form.FileNew1->trigger();
    const auto experts = form.ExpertChildren();
    if (experts.empty())
        return fail("no expert window");
    QTest::qWait(300);
    ok = Save(*form.MdiArea->subWindowList().constFirst(), out, "expert.png") && ok;

    form.MainPageControl->setCurrentIndex(kOrdersGrid);
    ok = Save(form, out, "main-orders.png") && ok;

    // A book, a click on its best bid for a ticket, and a price far below the day's limits typed
    // in: the ticket refuses before any confirmation.
    modal.Steps.push_back([&](QDialog& d) {
        QTest::mouseClick(dynamic_cast<gui::TChForm&>(d).Button1, Qt::LeftButton);
        return d.result();
    });
    form.BookNew1->trigger();
    if (form.BookChildren().empty())
        return fail("no book window");
    gui::TBookForm* book = form.BookChildren().front();
    if (!test::WaitFor([&] { return book->Model->rowCount() > 1; }, 60000))
        return fail("the book stayed empty");
    modal.Steps.push_back([&](QDialog& d) {
        auto& ticket = dynamic_cast<gui::TTicketForm&>(d);
        ShowForPicture(ticket);
        const auto typed = orders::ParsePrice(ticket.PriceEdit->text().toStdString());
        const std::int64_t thousand = 1000 * orders::kPriceScale;
        ticket.PriceEdit->setText(QString::fromStdString(
            TicketPriceText(typed.value_or(0) * 8 / 10 / thousand * thousand)));
        if (ticket.ClientBox->count() > 1)
            ticket.ClientBox->setCurrentIndex(1);
        QTest::mouseClick(ticket.SendButton, Qt::LeftButton);
        QTest::qWait(300);
        ok = Save(ticket, out, "ticket-refused.png") && ok;
        return static_cast<int>(QDialog::Rejected);
    });
    for (int row = 0; row < book->Model->rowCount(); ++row) {
        if (!book->Model->Rows()[static_cast<std::size_t>(row)].Bid.empty()) {
            const QRect cell = book->Ladder->visualRect(book->Model->index(row, 0));
            QTest::mouseClick(book->Ladder->viewport(), Qt::LeftButton, {}, cell.center());
            break;
        }
    }

    ok = BookAndOrdersPictures(form, *book, inst, out) && ok;

    // Trading stopped: the book and the own-orders window say so, the ticket command is off.
    boxes.Answers = {true};
    form.KillSwitch1->trigger();
    form.OwnOrders1->trigger();
    if (!test::WaitFor([&] { return book->TradingHalted(); }, 10000))
        return fail("the kill switch did not stop trading");
    form.WindowTileVertical1->trigger();
    QTest::qWait(1000);
    ok = Save(form, out, "main-halted.png") && ok;
    boxes.Answers = {true};
    form.Rearm1->trigger();
    form.MainPageControl->setCurrentIndex(kAccGrid);
    ok = Save(form, out, "main-account.png") && ok;
    form.MainPageControl->setCurrentIndex(kGridCount);
    ok = Save(form, out, "main-journal.png") && ok;

    ok = Chart(form, inst, out) && ok;

    boxes.Answers = {true};
    form.close();
    ok = BoardPicture(inst, out, boxes) && ok;
    unsetenv("VORLEN_REGISTRY"); // NOLINT(concurrency-mt-unsafe)
    unsetenv("VORLEN_DATA_DIR"); // NOLINT(concurrency-mt-unsafe)
    return ok ? 0 : 1;
}

#if VORLEN_BACKTEST
// The backtest of the sample market maker over a minute of the offline exchange, recorded by
// the terminal itself, its equity curve shown.
int BacktestPicture(const QDir& out) {
    const e2e::TSimInstall inst(200);
    setenv("VORLEN_REGISTRY", inst.RegFile.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    setenv("VORLEN_DATA_DIR", inst.DataDir.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    gui::SetOpenFileHandler([&inst](const gui::TOpenFileRequest&) {
        return QString::fromStdString(inst.SettingsFile.string());
    });
    TScriptedDialogs boxes;
    TScopedDialogs installed(boxes);
    test::TScriptedModal modal;
    modal.Steps.push_back([](QDialog& d) {
        auto& settings = dynamic_cast<gui::TSetForm&>(d);
        QTest::mouseClick(settings.LoadButton, Qt::LeftButton);
        QTest::mouseClick(settings.ApplyButton, Qt::LeftButton);
        return d.result();
    });
    const std::filesystem::path history = inst.DataDir / "history";
    gui::TMainForm form(ConnectorPortFactory(DefaultConnectorServices(), {}, history));
    form.SetHistoryDir(history);
    form.show();
    const auto done = [&](bool ok, const char* what) {
        if (!ok)
            std::fprintf(stderr, "gui_screenshots: %s\n", what);
        boxes.DefaultAnswer = true;
        form.close();
        unsetenv("VORLEN_REGISTRY"); // NOLINT(concurrency-mt-unsafe)
        unsetenv("VORLEN_DATA_DIR"); // NOLINT(concurrency-mt-unsafe)
        return ok ? 0 : 1;
    };
    if (!test::WaitFor([&] { return form.Conndis1->isEnabled(); }, 60000))
        return done(false, "the router or the gateway library did not load");
    form.Conndis1->trigger();
    if (!test::WaitFor([&] { return form.FileNew1->isEnabled(); }, 120000))
        return done(false, "no connection");
    modal.Steps.push_back([](QDialog& d) {
        QTest::mouseClick(dynamic_cast<gui::TChForm&>(d).Button1, Qt::LeftButton);
        return d.result();
    });
    form.FileNew1->trigger();
    if (form.ExpertChildren().empty())
        return done(false, "no expert window");
    QTest::qWait(60000);
    form.Conndis1->trigger();
    if (!test::WaitFor([&] { return form.Connect1->isEnabled(); }, 60000))
        return done(false, "no disconnection");
    form.ExpertChildren().front()->BacktestButton->click();
    const auto forms = form.findChildren<gui::TBacktestForm*>();
    if (forms.size() != 1)
        return done(false, "no backtest window");
    gui::TBacktestForm& bt = *forms.front();
    bt.StrategyEdit->setText(QStringLiteral(VORLEN_STRATEGY_SAMPLES "/market_maker.lua"));
    emit bt.StrategyEdit->editingFinished();
    for (int r = 0; r < bt.ParamsTable->rowCount(); ++r)
        if (bt.ParamsTable->item(r, 0)->text() == QStringLiteral("min_interval"))
            bt.ParamsTable->item(r, 1)->setText(QStringLiteral("1"));
    bt.LatencyBox->setValue(20);
    bt.RunButton->click();
    if (!test::WaitFor([&] { return !bt.Running(); }, 300000) || bt.Result() == nullptr)
        return done(false, "the backtest did not finish");
    QTest::qWait(500);
    return done(Save(bt, out, "backtest-dialog.png"), "the backtest picture was not saved");
}
#else
int BacktestPicture(const QDir&) {
    std::fprintf(stderr, "gui_screenshots: this build has no backtests\n");
    return 1;
}
#endif

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[2] : "";
    if (argc != 2 && (argc != 3 || (mode != "replay" && mode != "backtest"))) {
        std::fprintf(stderr, "usage: gui_screenshots <output folder> [replay|backtest]\n");
        return 2;
    }
    QApplication app(argc, argv);
    vorlen::ui::MarkUiThread();
    int result = 0;
    {
        vorlen::gui::TUiBridge bridge;
        QDir out(QString::fromLocal8Bit(argv[1]));
        out.mkpath(QStringLiteral("."));
        result = mode == "replay"     ? ReplayPicture(out)
                 : mode == "backtest" ? BacktestPicture(out)
                                      : Run(out);
    }
    vorlen::ui::UnmarkUiThread();
    return result;
}
