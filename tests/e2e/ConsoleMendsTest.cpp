// vorlen-console where a run used to go wrong: exchange messages repeated after every
// reconnection, registry files that hang or flood the run, --until-online waiting for a
// connection that can never be made, and a second Ctrl+C that left the router running.

#include "SimHarness.h"
#include "settings/SavedSettings.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vorlen::e2e {

namespace {

constexpr const char* kOnline = "Инструменты добавлены.";

// How many journal lines end with ": text" (an exchange message's line).
int Journalled(const TConsoleRun& run, const std::string& text) {
    const auto texts = JournalTexts(run.Stdout());
    return static_cast<int>(std::count_if(texts.begin(), texts.end(), [&](const std::string& t) {
        return t.size() > text.size() + 2 &&
               t.compare(t.size() - text.size() - 2, text.size() + 2, ": " + text) == 0;
    }));
}

} // namespace

TEST(ConsoleMends, EachExchangeMessageReachesTheJournalOnceAcrossDropsAndANewLifeNumber) {
    TSimInstall inst;
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--seconds", "240"});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();
    // The day's messages of the exchange, and one sent while the run goes on.
    const std::vector<std::string> messages = {
        "Начало торговой сессии. Добро пожаловать в учебный торговый шлюз.",
        "Промежуточный клиринг состоится в 14:00.", "Торги продлены до 19:00"};
    ASSERT_EQ(inst.Control("sysmsg ru " + messages[2]).rfind("OK sysmsg", 0), 0u);
    for (const std::string& m : messages) {
        ASSERT_TRUE(WaitUntil([&] { return Journalled(run, m) > 0; })) << m << run.Stdout();
    }

    const std::string refOnline = "Поток FORTS_REFDATA_REPL Перешел в режим Он-Лайн";
    int onlines = run.CountJournal(refOnline);
    for (int drop = 0; drop < 3; ++drop) {
        ASSERT_EQ(inst.Control("drop").rfind("OK dropped", 0), 0u);
        ASSERT_TRUE(run.WaitForJournal(refOnline, ++onlines)) << "drop " << drop << run.Stdout();
    }
    ASSERT_EQ(inst.Control("lifenum FORTS_REFDATA_REPL").rfind("OK lifenum", 0), 0u);
    ASSERT_TRUE(run.WaitForJournal(refOnline, ++onlines)) << run.Stdout();
    // A message sent after all that still comes, so the journal pass has run over the resent
    // tables by the time it shows.
    ASSERT_EQ(inst.Control("sysmsg ru Последнее сообщение").rfind("OK sysmsg", 0), 0u);
    ASSERT_TRUE(WaitUntil([&] { return Journalled(run, "Последнее сообщение") > 0; }));

    run.Signal(SIGTERM);
    ASSERT_TRUE(run.Wait(60s).has_value());
    for (const std::string& m : messages) {
        EXPECT_EQ(Journalled(run, m), 1) << m;
    }
    EXPECT_EQ(Journalled(run, "Последнее сообщение"), 1);
}

// What VORLEN_REGISTRY may name but cannot be read as a registry export: each ends the run at
// once with code 2 and the reason, before any router is started.
TEST(ConsoleMends, ARegistryFileThatIsNoPlainFileOfSaneSizeIsRefused) {
    TSimInstall inst;
    const fs::path fifo = inst.Root / "registry.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path big = inst.Root / "big.reg";
    {
        std::ofstream out(big, std::ios::binary);
        out << "Windows Registry Editor Version 5.00\r\n";
        out << std::string(std::size_t{2} * 1024 * 1024, ';');
    }
    const struct {
        fs::path File;
        std::string Reason;
    } cases[] = {
        {inst.Root / "bin", "not a regular file"},
        {fifo, "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {big, "larger than 1 MiB"},
    };
    for (const auto& c : cases) {
        TConsoleRun run(inst, {"--seconds", "60"}, {"VORLEN_REGISTRY=" + c.File.string()});
        ASSERT_TRUE(run.Started());
        const std::optional<int> code = run.Wait(30s);
        ASSERT_TRUE(code.has_value()) << c.File;
        EXPECT_EQ(*code, 2) << c.File;
        EXPECT_NE(run.Stderr().find("VORLEN_REGISTRY: " + c.File.string() + ": " + c.Reason),
                  std::string::npos)
            << run.Stderr();
        EXPECT_TRUE(ChildrenNamed(run.Pid(), "P2MQRouter64.exe").empty());
    }
}

// Settings no connection can be made with: --until-online alone used to wait for ever.
TEST(ConsoleMends, UntilOnlineGivesUpOnSettingsNoConnectionCanBeMadeWith) {
    TSimInstall inst;
    const struct {
        const char* What;
        void (*Spoil)(TDialogValues&);
    } cases[] = {
        {"port out of range", [](TDialogValues& v) { v.PortEdit = "70000"; }},
        {"empty host", [](TDialogValues& v) { v.HostEdit.clear(); }},
        {"absurd time-out", [](TDialogValues& v) { v.RoutTOutEdit = "-5"; }},
    };
    for (const auto& c : cases) {
        TSavedSettings settings = DefaultSavedSettings();
        settings.Values.PortEdit = std::to_string(inst.Port);
        c.Spoil(settings.Values);
        const fs::path file = inst.Root / "spoilt.sav";
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << FormatSavedSettings(settings);
        }
        TConsoleRun run(inst, {"--settings", file.string(), "--until-online"});
        ASSERT_TRUE(run.Started());
        const std::optional<int> code = run.Wait(60s);
        ASSERT_TRUE(code.has_value()) << c.What;
        EXPECT_EQ(*code, 3) << c.What << run.Stderr();
        EXPECT_EQ(run.CountJournal(kOnline), 0) << c.What;
        EXPECT_NE(run.Stderr().find("could not be created"), std::string::npos) << run.Stderr();
    }
}

TEST(ConsoleMends, ASecondSignalDuringTheShutdownStillEndsTheRouter) {
    TSimInstall inst;
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--seconds", "120"});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();
    const std::vector<pid_t> routers = ChildrenNamed(run.Pid(), "P2MQRouter64.exe");
    ASSERT_EQ(routers.size(), 1u);

    // Two signals at once (two of one kind would merge into one): the second arrives while the
    // shutdown order has barely begun and ends the process at once, with its own number.
    run.Signal(SIGINT);
    run.Signal(SIGTERM);
    const std::optional<int> code = run.Wait(60s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 128 + SIGTERM) << run.Stderr();
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(routers[0]); }, 10s));
}

} // namespace vorlen::e2e
