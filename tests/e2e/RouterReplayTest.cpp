// A recorded session played back through the simulator's router into the unchanged console:
// at full speed to its end the terminal holds exactly what the recording rebuilds without a
// router, run after run; a seek hands it the state of that moment within a second.

#include "SimHarness.h"

#if VORLEN_HISTORY

#include "history/Reader.h"

#include <algorithm>
#include <csignal>
#include <ctime>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <thread>

namespace vorlen::e2e {

namespace {

constexpr const char* kOnline = "Инструменты добавлены.";

std::set<std::string> FileNames(const fs::path& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        names.insert(e.path().filename().string());
    return names;
}

// Both dumps hold the same files, byte for byte; the differing ones are named.
void ExpectSameDump(const fs::path& got, const fs::path& want) {
    const std::set<std::string> names = FileNames(want);
    EXPECT_GE(names.size(), 20u) << want;
    EXPECT_EQ(FileNames(got), names) << got;
    for (const std::string& name : names)
        EXPECT_TRUE(ReadFile(got / name) == ReadFile(want / name)) << got / name;
}

// How many times each stream has come on-line in the run's journal so far.
std::map<std::string, int> Onlines(const TConsoleRun& run) {
    std::map<std::string, int> counts;
    const std::string head = "Поток ", tail = " Перешел в режим Он-Лайн";
    for (const std::string& t : JournalTextsFrom(run.Stdout(), head))
        if (t.size() > head.size() + tail.size() &&
            t.compare(t.size() - tail.size(), tail.size(), tail) == 0)
            ++counts[t.substr(head.size(), t.size() - head.size() - tail.size())];
    return counts;
}

std::string LocalTimeOfDay(std::int64_t ns) {
    const std::time_t t = static_cast<std::time_t>(ns / 1'000'000'000);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

// One recorded session shared by the tests: the whole market's streams through a reconnect, a
// new life number and a clear of deleted rows, on an installation the replays use as well.
class RouterReplay : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Inst = new TSimInstall();
        Settings = WriteWholeMarketSettings(*Inst);
        ASSERT_FALSE(Settings.empty());
        const fs::path history = Inst->Root / "hist";
        TConsoleRun run(*Inst, {"--settings", Settings.string(), "--seconds", "120", "--record",
                                "--history", history.string()});
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();
        const auto control = [](const std::string& cmd, const std::string& want) {
            ASSERT_EQ(Inst->Control(cmd).rfind(want, 0), 0u) << cmd;
        };
        std::this_thread::sleep_for(1500ms);
        control("drop", "OK dropped");
        ASSERT_TRUE(run.WaitForJournal("Поток FORTS_ORDLOG_REPL Перешел в режим Он-Лайн", 2))
            << run.Stdout();
        std::this_thread::sleep_for(1500ms);
        control("lifenum FORTS_ORDLOG_REPL", "OK lifenum");
        control("cleardeleted FORTS_TRADE_REPL orders_log", "OK");
        ASSERT_TRUE(run.WaitForJournal("Поток FORTS_ORDLOG_REPL Перешел в режим Он-Лайн", 3))
            << run.Stdout();
        std::this_thread::sleep_for(2500ms);
        run.Signal(SIGTERM);
        ASSERT_TRUE(run.Wait(60s).has_value()) << run.Stderr();
        for (const auto& e : fs::directory_iterator(history))
            if (e.path().extension() == ".vrec")
                File = e.path();
        ASSERT_FALSE(File.empty());
        history::TRecordingReader reader;
        ASSERT_TRUE(reader.Open(File)) << reader.Error();
        // The seconds at whose end every stream the recording opens is on-line: a seek to any
        // other leaves a stream waiting for a moment a paused replay never reaches. The last second
        // is left out, so that something is still to play.
        std::map<std::uint16_t, bool> online;
        std::vector<std::pair<std::int64_t, std::size_t>> onlineAtEnd; // second, streams on-line
        std::int64_t second = -1;
        history::TRecordView r;
        while (reader.Next(r)) {
            const std::int64_t s = r.TimeNs / 1'000'000'000;
            if (s != second && second >= 0)
                onlineAtEnd.emplace_back(second,
                                         std::count_if(online.begin(), online.end(),
                                                       [](const auto& o) { return o.second; }));
            second = s;
            if (r.Stream == history::kTransactionStream)
                continue;
            if (r.Kind == history::TRecordKind::StreamOpen ||
                r.Kind == history::TRecordKind::Offline)
                online[r.Stream] = false;
            else if (r.Kind == history::TRecordKind::Online)
                online[r.Stream] = true;
        }
        for (const auto& [sec, n] : onlineAtEnd)
            if (n == online.size())
                SettledSeconds.push_back(sec);
    }
    static void TearDownTestSuite() {
        delete Inst;
        Inst = nullptr;
    }

    // --replay-file's dump of the recording, up to `at` (empty: its end).
    static fs::path FileDump(const std::string& name, const std::string& at = {}) {
        fs::path dir = Inst->Root / name;
        std::vector<std::string> args{"--settings",  Settings.string(), "--replay-file",
                                      File.string(), "--dump",          dir.string()};
        if (!at.empty()) {
            args.push_back("--at");
            args.push_back(at);
        }
        TConsoleRun run(*Inst, args);
        EXPECT_EQ(run.Wait(60s), 0) << run.Stderr();
        return dir;
    }

    static inline TSimInstall* Inst = nullptr;
    static inline fs::path Settings;
    static inline fs::path File;
    static inline std::vector<std::int64_t> SettledSeconds;
};

TEST_F(RouterReplay, AtFullSpeedToItsEndTheTerminalHoldsWhatTheFileRebuildsEveryTime) {
    ASSERT_FALSE(File.empty());
    const fs::path want = FileDump("file");
    for (const char* name : {"routed1", "routed2"}) {
        const fs::path dir = Inst->Root / name;
        TConsoleRun run(*Inst,
                        {"--settings", Settings.string(), "--replay", File.string(), "--speed",
                         "max", "--until-end", "--seconds", "120", "--dump", dir.string()});
        ASSERT_EQ(run.Wait(150s), 0) << run.Stderr();
        EXPECT_EQ(run.CountJournal(kOnline), 1) << run.Stdout();
        SCOPED_TRACE(name);
        ExpectSameDump(dir, want);
    }
}

TEST_F(RouterReplay, ASeekAnswersWithinASecondAndHandsOverThatMomentsState) {
    ASSERT_FALSE(File.empty());
    const std::vector<std::int64_t>& seconds = SettledSeconds;
    ASSERT_GE(seconds.size(), 3u) << "too short a recording to seek in";
    for (const double part : {0.0, 0.5, 1.0}) {
        const std::size_t i =
            static_cast<std::size_t>(static_cast<double>(seconds.size() - 1) * part);
        const std::string at = LocalTimeOfDay(seconds[i] * 1'000'000'000);
        SCOPED_TRACE(at);
        const fs::path want = FileDump("file_" + at.substr(6), at);
        const fs::path dir = Inst->Root / ("seek_" + at.substr(6));
        TConsoleRun run(*Inst, {"--settings", Settings.string(), "--replay", File.string(),
                                "--speed", "1", "--seconds", "120", "--dump", dir.string()});
        // Paused once the terminal is on-line: its lists come from the day's start, as the
        // file's do.
        ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();
        ASSERT_EQ(Inst->Control("replay pause"), "OK");
        const std::map<std::string, int> before = Onlines(run);
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(Inst->Control("replay seek " + at), "OK");
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LE(took, 1s);
        RecordProperty(
            "seek_ms_" + at.substr(6),
            std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        const std::string state = Inst->Control("replay state");
        EXPECT_NE(state.find(" time=" + at + "."), std::string::npos) << state;
        EXPECT_NE(state.find(" state=paused "), std::string::npos) << state;
        // Every stream has been handed over: on-line again, after all its rows.
        ASSERT_TRUE(WaitUntil([&] {
            const auto now = Onlines(run);
            return std::all_of(before.begin(), before.end(), [&](const auto& s) {
                const auto it = now.find(s.first);
                return it != now.end() && it->second > s.second;
            });
        })) << run.Stdout();
        run.Signal(SIGTERM);
        ASSERT_TRUE(run.Wait(60s).has_value()) << run.Stderr();
        ExpectSameDump(dir, want);
    }
}

} // namespace

} // namespace vorlen::e2e

#endif
