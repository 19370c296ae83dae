// The replay bar and the replay marking against a control channel of the test's own, found the
// way the terminal finds the router it starts: through the router's ini in the installation.

#include "gui/ReplayBar.h"

#include "GuiSupport.h"
#include "gui/BookForm.h"
#include "gui/JournalPane.h"
#include "gui/MainForm.h"
#include "main/FakeControlServer.h"
#include "main/FakePort.h"

#include <QComboBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSlider>
#include <QStatusBar>
#include <QToolButton>
#include <filesystem>
#include <fstream>

namespace vorlen::test {
namespace {

namespace fs = std::filesystem;
using gui::TMainForm;

const char* const kPaused =
    "OK replay date=2026-12-10 time=10:15:03.250 from=10:00:00 to=23:49:59 speed=10 "
    "state=paused fill=queue file=/rec/2026-12-10.vrec";
const char* const kPlaying =
    "OK replay date=2026-12-10 time=10:15:04.000 from=10:00:00 to=23:49:59 speed=10 "
    "state=playing fill=queue file=/rec/2026-12-10.vrec";

class ReplayBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vorlen-replaybar-XXXXXX").string();
        Root = fs::path(mkdtemp(pattern.data()));
        fs::create_directories(Root / "bin");
        std::ofstream(Root / "client_router.ini")
            << "[router]\nport=1\ncontrol_port=" << Server.Port << "\n";
        TPortScript script;
        script.RouterDir = (Root / "bin").string() + "/";
        Modal.Steps.push_back(TScriptedModal::Accept);
        Form = std::make_unique<TMainForm>(FakePortFactory(std::move(script), Log, &Port),
                                           "/opt/vorlen/");
        Form->show();
        ASSERT_TRUE(WaitFor([&] { return Form->Connect1->isEnabled(); }));
    }
    void TearDown() override {
        Boxes.DefaultAnswer = true;
        Form->close();
        Form.reset();
        fs::remove_all(Root);
    }
    void Connect() {
        Form->Connect1->trigger();
        Port->OnConnected();
    }
    // The marks of a replay now present: the bar, the status bar's label and tint, the main
    // window's title and every MDI child's title. All of them or none.
    int Marks() const {
        int marks = 0;
        marks += Form->ReplayBar->isVisible() ? 1 : 0;
        marks += Form->ReplayMark->isVisible() ? 1 : 0;
        marks += Form->statusBar()->palette().color(QPalette::Window) == gui::ReplayColor() ? 1 : 0;
        marks += Form->windowTitle().contains(QStringLiteral("повтор")) ? 1 : 0;
        bool children = true;
        for (QMdiSubWindow* sub : Form->MdiArea->subWindowList())
            children =
                children && sub->windowTitle() == sub->widget()->windowTitle() +
                                                      QString::fromUtf8(gui::kReplayTitleSuffix);
        return marks + (children ? 1 : 0);
    }
    static constexpr int kAllMarks = 5;
    bool Marked() const { return Marks() == kAllMarks; }
    bool Unmarked() const { return Marks() == 0; } // a book window is open throughout

    void ExpectCommand(const std::string& command) {
        EXPECT_TRUE(WaitFor(
            [&] {
                const auto c = Server.Commands();
                return !c.empty() && c.back() == command;
            },
            5000))
            << command;
    }

    TFakeControlServer Server;
    fs::path Root;
    std::shared_ptr<TPortLog> Log = std::make_shared<TPortLog>();
    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    TScriptedModal Modal;
    TFakePort* Port = nullptr;
    std::unique_ptr<TMainForm> Form;
};

TEST_F(ReplayBarTest, ShownAndSteeredWhileTheRouterReplaysMarkedEverywhereUntilItEnds) {
    Server.SetState(kPaused);
    Form->OpenBookWindow(1, "Si-12.26");
    QTest::qWait(700);
    EXPECT_TRUE(Unmarked());
    // Nothing is asked before the terminal connects.
    EXPECT_EQ(Server.StateQuestions(), 0);

    Connect();
    ASSERT_TRUE(WaitFor([&] { return Form->ReplayBar->isVisible(); }));
    EXPECT_TRUE(Marked()) << Marks();
    gui::TReplayBar& bar = *Form->ReplayBar;
    EXPECT_EQ(bar.DayLabel->text(), QStringLiteral("Повтор 2026-12-10"));
    EXPECT_EQ(bar.TimeLabel->text(), QStringLiteral("10:15:03.250"));
    EXPECT_EQ(bar.PlayButton->text(), QStringLiteral("Пуск"));
    EXPECT_EQ(bar.SpeedBox->currentText(), QStringLiteral("x10"));
    EXPECT_EQ(bar.FillLabel->text(), QStringLiteral("Исполнение: очередь"));
    EXPECT_EQ(bar.TimeSlider->value(), 10 * 3600 + 15 * 60 + 3);
    EXPECT_TRUE(Form->ReplayMark->text().contains(QStringLiteral("2026-12-10")));
    // Windows opened during the replay and titles the windows change themselves are marked too.
    Form->OpenBookWindow(2, "RTS-12.26");
    Form->BookChildren().front()->setWindowTitle(QStringLiteral("Стакан Si-12.26 (переименован)"));
    ASSERT_TRUE(WaitFor([&] { return Marked(); }));
    ASSERT_EQ(Form->MdiArea->subWindowList().size(), 2);

    // Each control sends its command; what the bar shows follows the router's answer only.
    QTest::mouseClick(bar.PlayButton, Qt::LeftButton);
    ExpectCommand("replay play");
    Server.SetState(kPlaying);
    ASSERT_TRUE(WaitFor([&] { return bar.PlayButton->text() == QStringLiteral("Пауза"); }));
    QTest::mouseClick(bar.PlayButton, Qt::LeftButton);
    ExpectCommand("replay pause");
    bar.SpeedBox->setFocus();
    QTest::keyClick(bar.SpeedBox, Qt::Key_End);
    ExpectCommand("replay speed max");
    QTest::mouseClick(bar.StepButton, Qt::LeftButton);
    ExpectCommand("replay step");

    // A dragged handle stays where the trader holds it while states come in; letting go seeks.
    bar.TimeSlider->setSliderDown(true);
    bar.TimeSlider->setSliderPosition(12 * 3600 + 30 * 60 + 15);
    const int asked = Server.StateQuestions();
    ASSERT_TRUE(WaitFor([&] { return Server.StateQuestions() > asked + 1; }));
    QTest::qWait(50);
    EXPECT_EQ(bar.TimeSlider->sliderPosition(), 12 * 3600 + 30 * 60 + 15);
    EXPECT_EQ(bar.TimeLabel->text(), QStringLiteral("→ 12:30:15"));
    bar.TimeSlider->setSliderDown(false);
    ExpectCommand("replay seek 12:30:15");
    bar.TimeSlider->setSliderPosition(11 * 3600);
    bar.TimeSlider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    ExpectCommand("replay seek 11:15:00");

    // Replay over: every mark goes at once, and comes back with the next replay.
    Server.SetState("OK replay off");
    ASSERT_TRUE(WaitFor([&] { return !Form->ReplayBar->isVisible(); }));
    EXPECT_TRUE(Unmarked()) << Marks();
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Vorlen"));
    Server.SetState(kPaused);
    ASSERT_TRUE(WaitFor([&] { return Marked(); }));

    // Another day opened behind the terminal's back: the trader is told to reconnect.
    Server.SetState("OK replay date=2026-12-11 time=10:00:00.000 from=10:00:00 to=23:49:59 "
                    "speed=1 state=paused fill=touch file=/rec/2026-12-11.vrec");
    ASSERT_TRUE(WaitFor([&] { return !Boxes.Texts(TDialogKind::Info).empty(); }));
    EXPECT_TRUE(Boxes.Texts(TDialogKind::Info).front().find("2026-12-11") != std::string::npos);
    EXPECT_EQ(Form->ReplayBar->DayLabel->text(), QStringLiteral("Повтор 2026-12-11"));

    // A disconnection takes the marking down at once and stops asking.
    Form->Disconnect1->trigger();
    EXPECT_TRUE(Unmarked()) << Marks();
    const int afterDisconnect = Server.StateQuestions();
    QTest::qWait(700);
    EXPECT_EQ(Server.StateQuestions(), afterDisconnect);

    // So does a router that goes away, without a word to the trader.
    Connect();
    ASSERT_TRUE(WaitFor([&] { return Marked(); }));
    const std::size_t boxes = Boxes.Calls.size();
    Server.Close();
    ASSERT_TRUE(WaitFor([&] { return !Form->ReplayBar->isVisible(); }));
    EXPECT_TRUE(Unmarked()) << Marks();
    EXPECT_EQ(Boxes.Calls.size(), boxes);
}

} // namespace
} // namespace vorlen::test
