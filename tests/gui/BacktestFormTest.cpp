// "Тест на истории" from an expert window: a day recorded from the offline exchange, then a slow
// test given up half-way, a full one whose figures, curve and trades are shown and whose report
// is saved, bad input refused before anything runs, and a window closed while its test runs.

#include "gui/BacktestForm.h"

#include "GuiSupport.h"
#include "backtest/BacktestReport.h"
#include "connector/Connector.h"
#include "e2e/SimHarness.h"
#include "gui/ChForm.h"
#include "gui/MainForm.h"
#include "gui/MdiChild.h"
#include "gui/SetForm.h"
#include "main/ConnectorPort.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <fstream>

namespace vorlen::test {
namespace {

#if VORLEN_BACKTEST

// Busy in every call for a while: a test of it lasts long enough to be watched and given up.
constexpr const char* kSlowScript = "function on_tick(ctx)\n"
                                    "  local x = 0\n"
                                    "  for i = 1, 2000000 do x = x + i end\n"
                                    "end\n";
// Buys at the ask and sells at the bid now and then: trades to show.
constexpr const char* kTrader =
    "params = { every = 40 }\n"
    "local n = 0\n"
    "function on_book(ctx)\n"
    "  n = n + 1\n"
    "  local b = ctx:book(1)\n"
    "  if not b or #b.bids == 0 or #b.asks == 0 then return end\n"
    "  local k = n % ctx.params.every\n"
    "  if k == 1 then ctx:buy(1, b.asks[1][1]) end\n"
    "  if k == ctx.params.every // 2 then ctx:sell(1, b.bids[1][1]) end\n"
    "end\n";

class BacktestWindow : public ::testing::Test {
protected:
    void SetUp() override {
        // Loading the gateway's library moves into its folder, which goes with the installation.
        OldDir = std::filesystem::current_path();
        setenv("VORLEN_REGISTRY", Inst.RegFile.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
        setenv("VORLEN_DATA_DIR", Inst.DataDir.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
        gui::SetOpenFileHandler([this](const gui::TOpenFileRequest&) {
            return QString::fromStdString(Inst.SettingsFile.string());
        });
        ASSERT_TRUE(Dir.isValid());
    }
    void TearDown() override {
        if (Form != nullptr) {
            Boxes.DefaultAnswer = true;
            Form->close();
            Form.reset();
        }
        gui::SetOpenFileHandler({});
        unsetenv("VORLEN_REGISTRY"); // NOLINT(concurrency-mt-unsafe)
        unsetenv("VORLEN_DATA_DIR"); // NOLINT(concurrency-mt-unsafe)
        std::filesystem::current_path(OldDir);
    }
    QString Script(const char* name, const char* text) const {
        QString path = Dir.filePath(QString::fromLatin1(name));
        std::ofstream(path.toStdString(), std::ios::binary) << text;
        return path;
    }

    // Connected, an expert window open, some seconds of the market recorded, then disconnected:
    // the day file is closed and the gateway's library, which reads its prices, stays loaded.
    void RecordADay() {
        const std::filesystem::path history = Inst.Root / "history";
        Modal.Steps.push_back([](QDialog& d) {
            auto* settings = qobject_cast<gui::TSetForm*>(&d);
            EXPECT_NE(settings, nullptr);
            QTest::mouseClick(settings->LoadButton, Qt::LeftButton);
            QTest::mouseClick(settings->ApplyButton, Qt::LeftButton);
            return d.result();
        });
        Form = std::make_unique<gui::TMainForm>(
            ConnectorPortFactory(DefaultConnectorServices(), Inst.Root / "trading", history));
        Form->SetHistoryDir(history);
        Form->show();
        ASSERT_TRUE(WaitFor([&] { return Form->Conndis1->isEnabled(); }, 60000));
        Form->Conndis1->trigger();
        ASSERT_TRUE(WaitFor([&] { return Form->FileNew1->isEnabled(); }, 120000));
        Modal.Steps.push_back([](QDialog& d) {
            QTest::mouseClick(dynamic_cast<gui::TChForm&>(d).Button1, Qt::LeftButton);
            return d.result();
        });
        Form->FileNew1->trigger();
        ASSERT_EQ(Form->ExpertChildren().size(), 1u);
        Child = Form->ExpertChildren().front();
        QTest::qWait(10000);
        Form->Conndis1->trigger();
        ASSERT_TRUE(WaitFor([&] { return Form->Connect1->isEnabled(); }, 60000));
        ASSERT_FALSE(backtest::DayFiles(history).empty());
    }

    e2e::TSimInstall Inst;
    std::filesystem::path OldDir;
    QTemporaryDir Dir;
    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    TScriptedModal Modal;
    std::unique_ptr<gui::TMainForm> Form;
    gui::TMDIChild* Child = nullptr;
};

TEST_F(BacktestWindow, GivenUpHalfWayThenRunWholeShowsAndSavesTheReport) {
    RecordADay();
    ASSERT_NE(Child, nullptr);
    ASSERT_NE(Child->BacktestButton, nullptr);
    Child->BacktestButton->click();
    auto forms = Form->findChildren<gui::TBacktestForm*>();
    ASSERT_EQ(forms.size(), 1);
    gui::TBacktestForm& bt = *forms.front();
    ASSERT_EQ(bt.DaysList->count(), 1);
    EXPECT_EQ(bt.DaysList->item(0)->checkState(), Qt::Checked) << "the latest day is proposed";
    EXPECT_TRUE(bt.LimitsEdit->text().isEmpty()) << "no limits file: the built-in limits";

    // Bad input is refused before anything runs: no script, a value of the wrong kind.
    struct TBad {
        QString Script, Every;
        const char* Error;
    };
    const TBad bad[] = {
        {QString(), {}, "Не выбран файл стратегии."},
        {Dir.filePath(QStringLiteral("missing.lua")), {}, "Не удалось прочитать файл "},
        {Script("trader.lua", kTrader), QStringLiteral("много"), "Стратегия trader.lua: "},
    };
    for (const TBad& b : bad) {
        Boxes.Clear();
        bt.StrategyEdit->setText(b.Script);
        emit bt.StrategyEdit->editingFinished();
        if (!b.Every.isEmpty()) {
            ASSERT_EQ(bt.ParamsTable->rowCount(), 1);
            EXPECT_EQ(bt.ParamsTable->item(0, 0)->text(), QStringLiteral("every"));
            EXPECT_EQ(bt.ParamsTable->item(0, 1)->text(), QStringLiteral("40"));
            bt.ParamsTable->item(0, 1)->setText(b.Every);
        }
        bt.RunButton->click();
        EXPECT_FALSE(bt.Running()) << b.Error;
        const auto errors = Boxes.Texts(TDialogKind::Error);
        ASSERT_EQ(errors.size(), 1u) << b.Error;
        EXPECT_EQ(errors[0].rfind(b.Error, 0), 0u) << errors[0];
    }

    // A slow test given up at once: Cancel ends it with nothing to show. Waiting for its progress
    // first raced with its end: progress is told every 4 096 records, and a short recorded day
    // had most of its calls behind it by then (the whole run below shows the progress).
    bt.StrategyEdit->setText(Script("slow.lua", kSlowScript));
    emit bt.StrategyEdit->editingFinished();
    bt.RunButton->click();
    ASSERT_TRUE(bt.Running());
    EXPECT_FALSE(bt.RunButton->isEnabled());
    bt.CancelButton->click();
    ASSERT_TRUE(WaitFor([&] { return !bt.Running(); }, 10000));
    EXPECT_EQ(bt.StatusLabel->text(), QStringLiteral("Тест прерван."));
    EXPECT_EQ(bt.Result(), nullptr);
    EXPECT_FALSE(bt.SaveButton->isEnabled());

    // The whole day with the trader: its figures, curve and trades, and the report saved.
    bt.StrategyEdit->setText(Script("trader.lua", kTrader));
    emit bt.StrategyEdit->editingFinished();
    bt.ParamsTable->item(0, 1)->setText(QStringLiteral("20"));
    bt.RunButton->click();
    ASSERT_TRUE(WaitFor([&] { return !bt.Running(); }, 240000));
    ASSERT_NE(bt.Result(), nullptr) << bt.StatusLabel->text().toStdString();
    const backtest::TBacktestResult& r = *bt.Result();
    EXPECT_EQ(bt.Progress->value(), bt.Progress->maximum());
    EXPECT_GT(r.Records, 1000u);
    EXPECT_FALSE(r.Trades.empty()) << "the trader crosses the spread";
    const auto rows = backtest::SummaryRows(r);
    ASSERT_EQ(bt.SummaryTable->rowCount(), static_cast<int>(rows.size()));
    for (int i = 0; i < bt.SummaryTable->rowCount(); ++i) {
        const QString label = bt.SummaryTable->item(i, 0)->text();
        EXPECT_NE(label.toStdString(), rows[static_cast<std::size_t>(i)].first)
            << "a figure without a Russian label";
        // The report's figure, shown the terminal's way ("-47,75 ₽", "12,5 %").
        const auto& [name, value] = rows[static_cast<std::size_t>(i)];
        const std::string shown = bt.SummaryTable->item(i, 1)->text().toStdString();
        EXPECT_EQ(shown.find('.'), std::string::npos) << name << ": " << shown;
        std::string plain;
        for (const char c : shown)
            if ((c >= '0' && c <= '9') || c == '-' || c == ',')
                plain += c == ',' ? '.' : c;
        const bool rate = name == "win_rate";
        EXPECT_NEAR(std::stod(plain), std::stod(value) * (rate ? 100 : 1), rate ? 0.05 : 0.005)
            << name << ": " << shown;
    }
    EXPECT_EQ(bt.TradesView->model()->rowCount(), static_cast<int>(r.Trades.size()));
    ASSERT_TRUE(bt.SaveButton->isEnabled());
    QString report = Dir.filePath(QStringLiteral("report"));
    gui::SetOpenFileHandler([&](const gui::TOpenFileRequest& request) {
        EXPECT_TRUE(request.Folder);
        return QString(report);
    });
    bt.SaveButton->click();
    const std::filesystem::path saved = report.toStdString();
    for (const char* file :
         {"trades.tsv", "orders.tsv", "summary.tsv", "journal.txt", "report.html"})
        EXPECT_TRUE(std::filesystem::exists(saved / file)) << file;
    EXPECT_NE(e2e::ReadFile(saved / "summary.tsv").find("params\tevery=20\n"), std::string::npos);
    EXPECT_EQ(e2e::TsvRows(saved / "trades.tsv").size(), r.Trades.size() + 1);

    // Closed while a test runs: it is given up and waited for, and the terminal closes after.
    bt.StrategyEdit->setText(Script("slow.lua", kSlowScript));
    emit bt.StrategyEdit->editingFinished();
    bt.RunButton->click();
    ASSERT_TRUE(bt.Running());
    bt.close();
    ASSERT_TRUE(WaitFor([&] { return Form->findChildren<gui::TBacktestForm*>().isEmpty(); }));
    Child->BacktestButton->click();
    forms = Form->findChildren<gui::TBacktestForm*>();
    ASSERT_EQ(forms.size(), 1);
    forms.front()->StrategyEdit->setText(Script("slow.lua", kSlowScript));
    forms.front()->RunButton->click();
    ASSERT_TRUE(forms.front()->Running());
    // The terminal closed with it running: given up before the gateway's library goes.
    Boxes.DefaultAnswer = true;
    Form->close();
    EXPECT_FALSE(forms.front()->Running());
    Form.reset();
}

#endif

} // namespace
} // namespace vorlen::test
