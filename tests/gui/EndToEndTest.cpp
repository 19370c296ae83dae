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
#include "gui/SetForm.h"
#include "main/ConnectorPort.h"

#include <QComboBox>
#include <QPushButton>
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
        setenv("VORLEN_REGISTRY", Inst.RegFile.c_str(), 1);
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
        unsetenv("VORLEN_REGISTRY");
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

} // namespace
} // namespace vorlen::test
