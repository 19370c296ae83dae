// The connections' health in the console's journal against the offline exchange: an exchange
// that goes silent and comes back, a router that dies and the terminal starts again, a router
// that is never there.

#include "SimHarness.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <regex>

namespace vorlen::e2e {

namespace {

constexpr const char kMdUp[] = "Соединение Маркет-дата на связи.";
constexpr const char kMdSilent[] =
    "Внимание: Биржа не присылает данные более 5 с, соединение Маркет-дата открыто.";
constexpr const char kMdLost[] = "Внимание: Соединение Маркет-дата потеряно. Переподключение...";
constexpr const char kTrLost[] = "Внимание: Соединение Трансакции потеряно. Переподключение...";

// The journal texts that match `pattern` whole.
std::vector<std::string> Matching(const TConsoleRun& run, const std::string& pattern) {
    const std::regex form(pattern);
    std::vector<std::string> found;
    for (const std::string& t : JournalTexts(run.Stdout())) {
        if (std::regex_match(t, form)) {
            found.push_back(t);
        }
    }
    return found;
}

bool Reaped(pid_t pid) {
    return kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

TEST(HealthRun, SilenceLossAndRecoveryEachGiveOneLine) {
    TSimInstall inst;
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--seconds", "300"});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForJournal(kMdUp)) << run.Stdout() << run.Stderr();
    ASSERT_TRUE(run.WaitForJournal("Соединение Трансакции на связи.")) << run.Stdout();

    // Frozen: the connections stay up, nothing arrives, the heartbeat stops.
    const auto frozen = std::chrono::steady_clock::now();
    ASSERT_EQ(inst.Control("freeze"), "OK freeze");
    ASSERT_TRUE(run.WaitForJournal(kMdSilent)) << run.Stdout();
    RecordProperty("stale_after_ms",
                   std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - frozen)
                                      .count()));
    ASSERT_EQ(inst.Control("resume"), "OK resume");
    const std::string recovered = R"(Соединение Маркет-дата восстановлено\. Перерыв \d+,\d с\.)";
    ASSERT_TRUE(WaitUntil([&] { return !Matching(run, recovered).empty(); })) << run.Stdout();
    EXPECT_EQ(run.CountJournal(kMdSilent), 1);
    EXPECT_EQ(run.CountJournal(kMdLost), 0);

    // The router dies: the terminal reaps it, says so, starts it again and reconnects to it.
    const std::vector<pid_t> routers = ChildrenNamed(run.Pid(), "P2MQRouter64.exe");
    ASSERT_EQ(routers.size(), 1u);
    kill(routers[0], SIGKILL);
    ASSERT_TRUE(run.WaitForJournal(kMdLost)) << run.Stdout();
    ASSERT_TRUE(run.WaitForJournal(kTrLost)) << run.Stdout();
    ASSERT_TRUE(
        run.WaitForJournal("Внимание: Роутер, запущенный терминалом, завершил работу (сигнал 9)."))
        << run.Stdout();
    EXPECT_TRUE(WaitUntil([&] { return Reaped(routers[0]); })) << "left as a zombie";
    ASSERT_TRUE(run.WaitForJournal("Роутер запущен терминалом повторно (попытка 1)."))
        << run.Stdout();
    const std::string back = R"(Соединение (Маркет-дата|Трансакции) восстановлено\. Перерыв )"
                             R"(\d+,\d с, попыток переподключения: [1-9]\d*\.)";
    ASSERT_TRUE(WaitUntil([&] { return Matching(run, back).size() == 2; })) << run.Stdout();
    // One line for the loss and one for the recovery, however many passes and attempts.
    EXPECT_EQ(run.CountJournal(kMdLost), 1);
    EXPECT_EQ(run.CountJournal(kTrLost), 1);
    EXPECT_EQ(Matching(run, recovered).size(), 1u);
    EXPECT_EQ(run.CountJournal(kMdUp), 1);
}

TEST(HealthRun, ARouterThatIsNotThereIsReportedOncePerConnection) {
    TSimInstall inst;
    TSimInstall other; // its port has no router
    TConsoleRun run(inst, {"--settings", other.SettingsFile.string(), "--seconds", "5"});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.Wait(60s).has_value());
    const std::string router = "127.0.0.1:" + std::to_string(other.Port);
    for (const char* name : {"Маркет-дата", "Трансакции"}) {
        EXPECT_EQ(run.CountJournal("Внимание: Роутер " + router + " недоступен, соединение " +
                                   name + " не открыто. Попытки подключения продолжаются..."),
                  1)
            << run.Stdout();
    }
    EXPECT_EQ(run.CountJournal(kMdUp), 0);
}

// The terminal killed with -9 leaves its router running. The next run finds the port taken: its
// own router ends at once, and is not started again and again while the links are on-line
// through the one left behind; once that one is killed too, the terminal's own takes over.
TEST(HealthRun, ARouterLeftByAKilledTerminalServesUntilItGoes) {
    TSimInstall inst;
    pid_t orphan = -1;
    // Nobody else ends it when the test stops half-way.
    struct TKillAtEnd {
        const pid_t& Pid;
        ~TKillAtEnd() {
            if (Pid > 0 && !ProcessGone(Pid))
                kill(Pid, SIGKILL);
        }
    } killAtEnd{orphan};
    {
        TConsoleRun first(inst, {"--settings", inst.SettingsFile.string(), "--seconds", "300"});
        ASSERT_TRUE(first.Started());
        ASSERT_TRUE(first.WaitForJournal(kMdUp)) << first.Stdout();
        const std::vector<pid_t> routers = ChildrenNamed(first.Pid(), "P2MQRouter64.exe");
        ASSERT_EQ(routers.size(), 1u);
        orphan = routers[0];
        first.Signal(SIGKILL);
        ASSERT_TRUE(first.Wait(30s).has_value());
    }
    ASSERT_FALSE(ProcessGone(orphan)) << "the router outlives a killed terminal";

    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--seconds", "300"});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForJournal(kMdUp)) << run.Stdout();
    ASSERT_TRUE(run.WaitForJournal("Внимание: Роутер не перезапущен: соединения на связи через "
                                   "другой роутер на том же порту."))
        << run.Stdout();
    const int startsWhileServed =
        run.CountJournal("Роутер запущен терминалом повторно (попытка 1).");
    EXPECT_LE(startsWhileServed, 1) << run.Stdout();

    kill(orphan, SIGKILL);
    const std::string back = R"(Соединение (Маркет-дата|Трансакции) восстановлено\..*)";
    ASSERT_TRUE(WaitUntil([&] { return Matching(run, back).size() == 2; })) << run.Stdout();
    EXPECT_EQ(ChildrenNamed(run.Pid(), "P2MQRouter64.exe").size(), 1u);
    EXPECT_TRUE(Reaped(orphan) || ProcessGone(orphan));
}

} // namespace vorlen::e2e
