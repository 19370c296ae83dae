// The seams between worker threads and the windows: calls onto the UI thread through the Qt
// event loop, and an expert window whose expert never started.

#include "GuiSupport.h"
#include "gui/JournalPane.h"
#include "gui/MdiChild.h"
#include "platform/Thread.h"
#include "store/Storage.h"

#include <QCloseEvent>
#include <QPushButton>
#include <atomic>
#include <thread>

namespace vorlen::test {
namespace {

TEST(UiBridge, AWorkersCallRunsOnTheUiThreadThroughTheEventLoop) {
    const std::thread::id ui = std::this_thread::get_id();
    std::atomic<bool> done{false};
    std::thread::id ranOn;
    gui::TJournalPane pane;
    std::thread worker([&] {
        TThread::Synchronize([&] {
            ranOn = std::this_thread::get_id();
            pane.AppendLine("from the worker");
        });
        done = true;
    });
    // Only the event loop runs here; nobody drains the queue by hand.
    EXPECT_TRUE(WaitFor([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, ui);
    EXPECT_EQ(pane.Lines(), QStringList{"from the worker"});
}

TEST(UiBridge, WorkersQueuedTogetherAllGetThrough) {
    std::atomic<int> ran{0};
    std::vector<std::thread> workers;
    workers.reserve(4);
    for (int i = 0; i < 4; ++i)
        workers.emplace_back([&] {
            for (int k = 0; k < 25; ++k)
                TThread::Synchronize([&] { ++ran; });
        });
    EXPECT_TRUE(WaitFor([&] { return ran.load() == 100; }));
    for (auto& w : workers)
        w.join();
}

TEST(ExpertWindow, AnExpertThatNeverStartedIsFreedOnClose) {
    TCGStorage store;
    gui::TMDIChild child(&store, nullptr);
    ASSERT_NE(child.Expert(), nullptr);
    child.SetupExpert(7, "Фьючерс", "Si-12.26");
    EXPECT_EQ(child.Expert()->isin_id, 7);
    EXPECT_EQ(child.Expert()->Memo, child.Memo1);
    EXPECT_FALSE(child.Expert()->Started());
    EXPECT_TRUE(child.close());
    EXPECT_EQ(child.Expert(), nullptr);
    EXPECT_EQ(child.BitBtn1->text(), "Старт");
    EXPECT_EQ(child.BitBtn2->text(), "Настройки");
    EXPECT_EQ(child.Button1->text(), "Загрузить эксперта");
    EXPECT_EQ(child.Memo1->geometry(), QRect(7, 121, 401, 89));
    EXPECT_EQ(child.Button1->geometry(), QRect(240, 216, 123, 25));
}

TEST(ExpertWindow, ARunningExpertEndsWhenItsWindowCloses) {
    TCGStorage store;
    gui::TMDIChild child(&store, nullptr);
    child.SetupExpert(7, "Фьючерс", "Si-12.26");
    ASSERT_TRUE(child.RegisterAndStart());
    TExpert* expert = child.Expert();
    EXPECT_TRUE(expert->Started());
    EXPECT_TRUE(child.close());
    EXPECT_EQ(child.Expert(), nullptr);

    gui::TMDIChild without(nullptr, nullptr);
    EXPECT_EQ(without.Expert(), nullptr);
    EXPECT_FALSE(without.RegisterAndStart());
    EXPECT_TRUE(without.close());
}

} // namespace
} // namespace vorlen::test
