// A recorded session played back: --replay-file rebuilds, without any router, the replica the
// live run dumped, through faults of the replication streams on the way.

#include "SimHarness.h"

#include <gtest/gtest.h>
#include <thread>

namespace vorlen::e2e {

namespace {

constexpr const char* kOnline = "Инструменты добавлены.";

std::vector<fs::path> Recordings(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.path().extension() == ".vrec")
            files.push_back(e.path());
    return files;
}

} // namespace

TEST(RecordReplay, TheReplayedReplicaDumpsAsTheLiveOneDid) {
    TSimInstall inst;
    const fs::path history = inst.Root / "hist";
    const fs::path live = inst.Root / "live";
    const fs::path replayed = inst.Root / "replayed";
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--seconds", "60", "--record",
                           "--history", history.string(), "--dump", live.string()});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();
    // A new life number empties a stream's tables and sends them again; clear-deleted drops the
    // rows below a revision. The replay must do both where the live run did.
    ASSERT_EQ(inst.Control("lifenum FORTS_REFDATA_REPL").rfind("OK lifenum", 0), 0u);
    ASSERT_EQ(inst.Control("cleardeleted FORTS_TRADE_REPL orders_log").rfind("OK", 0), 0u);
    ASSERT_TRUE(run.WaitForJournal("Поток FORTS_REFDATA_REPL Перешел в режим Он-Лайн", 2))
        << run.Stdout();
    // Some of the background market after the faults.
    std::this_thread::sleep_for(1s);
    run.Signal(SIGTERM);
    ASSERT_TRUE(run.Wait(60s).has_value()) << run.Stderr();

    const auto files = Recordings(history);
    ASSERT_EQ(files.size(), 1u) << run.Stderr();
    TConsoleRun replay(inst, {"--settings", inst.SettingsFile.string(), "--replay-file",
                              files[0].string(), "--dump", replayed.string()});
    ASSERT_TRUE(replay.Started());
    ASSERT_EQ(replay.Wait(60s), 0) << replay.Stderr();

    int compared = 0;
    std::size_t rows = 0;
    for (const auto& e : fs::directory_iterator(live)) {
        const std::string name = e.path().filename().string();
        ++compared;
        ASSERT_TRUE(fs::exists(replayed / name)) << name;
        // Whole files are too long to print; the name says where to look.
        EXPECT_TRUE(ReadFile(replayed / name) == ReadFile(e.path())) << name;
        rows += TsvRows(e.path()).size() - 1;
    }
    EXPECT_EQ(compared, std::distance(fs::directory_iterator(replayed), fs::directory_iterator()));
    EXPECT_GE(compared, 20) << "instruments, the key tables, the grids and the streams' others";
    EXPECT_GT(TsvRows(live / "instruments.tsv").size(), 1u);
    EXPECT_GT(rows, 40u) << "the replica was nearly empty";
}

} // namespace vorlen::e2e
