// The router kept running: ended routers are reaped and started again with the same command
// line, no faster than the pauses allow, with the journal and the indicators told each time.

#include "connector/RouterKeeper.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vorlen {
namespace {

// Processes that live until the test ends them, on a clock of the test's own, polled as the
// health monitor does.
struct TWorld {
    std::int64_t Now = 0;
    std::uintptr_t NextHandle = 0x100;
    std::set<std::uintptr_t> Alive, Issued;
    std::vector<std::int64_t> Starts; // when each start after the first one happened
    std::vector<std::string> Lines;
    std::vector<std::string> Commands;
    bool StartFails = false;
    bool DieAtOnce = false; // every router started ends before the next pass
    bool Served = false;    // a connection is on-line through a router that is not ours
    std::uintptr_t Told = 0;
    std::unique_ptr<TRouterKeeper> Keeper;

    TProcInfo Spawn() {
        TProcInfo pi{};
        pi.hProcess = reinterpret_cast<decltype(pi.hProcess)>(NextHandle);
        pi.hThread = reinterpret_cast<decltype(pi.hThread)>(NextHandle + 1);
        Issued.insert(NextHandle);
        Issued.insert(NextHandle + 1);
        if (!DieAtOnce)
            Alive.insert(NextHandle);
        NextHandle += 2;
        return pi;
    }

    TWorld() {
        TRouterServices s;
        s.StartProcess = [this](const std::string& app, const std::string& cmd,
                                const std::string& dir, TProcInfo& info) {
            Commands.push_back(app + "|" + cmd + "|" + dir);
            if (StartFails)
                return false;
            Starts.push_back(Now);
            info = Spawn();
            return true;
        };
        s.ProcessExited = [this](std::uintptr_t h, platform::TProcessExit& ended) {
            if (Alive.count(h) != 0 || Issued.count(h) == 0)
                return false;
            ended.Signalled = true;
            ended.Code = 9;
            return true;
        };
        s.CloseHandle = [this](std::uintptr_t h) { return Issued.erase(h) == 1; };
        const TProcInfo first = Spawn();
        Keeper = std::make_unique<TRouterKeeper>(
            std::move(s),
            TRouterStart{"/gate/bin/router", "\"/gate/bin/router\" /ini:x", "/gate/bin/"}, first,
            [this] { return Now; });
        Keeper->SetOnStarted([this](std::uintptr_t h) { Told = h; });
    }
    void KillCurrent() { Alive.clear(); }
    // Polls every 250 ms up to `until`; the report of the last pass.
    TProcessReport RunUntil(std::int64_t until) {
        TProcessReport last;
        for (; Now <= until; Now += 250) {
            last = Keeper->Poll(Served);
            for (std::string& l : last.Lines)
                Lines.push_back(l);
        }
        Now -= 250;
        return last;
    }
};

TEST(RouterKeeper, StartsAnEndedRouterAgainWithItsCommandLineAndTellsEveryone) {
    TWorld w;
    TProcessReport r = w.RunUntil(3000);
    EXPECT_TRUE(r.Starting) << "a router started 3 s ago may not listen yet";
    EXPECT_TRUE(r.Problem.empty());
    r = w.RunUntil(12000);
    EXPECT_FALSE(r.Starting);
    EXPECT_TRUE(w.Lines.empty());

    w.KillCurrent();
    r = w.RunUntil(12250);
    EXPECT_EQ(r.Problem, "роутер не запущен");
    EXPECT_TRUE(w.Starts.empty()) << "not in the same pass: a pause first";
    EXPECT_EQ(w.Issued.size(), 0U) << "the ended router's handles are closed";
    r = w.RunUntil(14000);
    ASSERT_EQ(w.Starts, std::vector<std::int64_t>{13000});
    EXPECT_TRUE(r.Problem.empty());
    EXPECT_TRUE(r.Starting);
    EXPECT_EQ(w.Told, 0x102U);
    EXPECT_EQ(w.Commands, std::vector<std::string>{"/gate/bin/router|\"/gate/bin/router\" "
                                                   "/ini:x|/gate/bin/"});
    EXPECT_EQ(w.Lines, (std::vector<std::string>{
                           "Внимание: Роутер, запущенный терминалом, завершил работу (сигнал 9).",
                           "Роутер запущен терминалом повторно (попытка 1)."}));

    // At the end the caller gets the running router and ends it; nothing is started after.
    const TProcInfo taken = w.Keeper->Take();
    EXPECT_EQ(platform::ProcessHandleValue(taken), 0x102U);
    w.KillCurrent();
    w.RunUntil(60000);
    EXPECT_EQ(w.Starts.size(), 1U);
}

// However a router fails (it dies at once, or it cannot be started at all), the starts come no
// faster than the pauses, the journal says why, and a router that lived a minute starts the
// pauses over.
TEST(RouterKeeper, ARouterThatKeepsFailingIsStartedAFewTimesAMinuteAtMost) {
    struct TCase {
        const char* Name;
        bool DieAtOnce, StartFails;
        std::vector<std::int64_t> Starts; // StartProcess calls after the first router died at 0
        const char* Line;                 // the journal's word on the second attempt
    };
    const std::vector<TCase> cases = {
        {"dies at once",
         true,
         false,
         {1000, 6250, 21500, 51750, 82000, 112250},
         "Роутер запущен терминалом повторно (попытка 2)."},
        {"cannot start",
         false,
         true,
         {1000, 6000, 21000, 51000, 81000, 111000},
         "Ошибка: Роутер не запущен терминалом (файл /gate/bin/router не найден). Следующая "
         "попытка через 15 с."},
    };
    for (const TCase& c : cases) {
        TWorld w;
        w.DieAtOnce = c.DieAtOnce;
        w.StartFails = c.StartFails;
        w.KillCurrent();
        const TProcessReport r = w.RunUntil(120000);
        std::vector<std::int64_t> calls;
        if (c.StartFails) {
            EXPECT_EQ(w.Commands.size(), c.Starts.size()) << c.Name;
            calls = c.Starts;
        } else {
            calls = w.Starts;
        }
        EXPECT_EQ(calls, c.Starts) << c.Name;
        EXPECT_EQ(r.Problem, "роутер не запущен") << c.Name;
        ASSERT_GE(w.Lines.size(), 4U) << c.Name;
        EXPECT_EQ(std::count(w.Lines.begin(), w.Lines.end(), c.Line), 1) << c.Name;
    }

    // A router left behind by an earlier run holds the port: ours ends at once, and is not
    // started again while the connections are on-line through the other one; once that one
    // goes, ours starts at the next pass.
    TWorld orphan;
    orphan.KillCurrent();
    orphan.Served = true;
    const TProcessReport held = orphan.RunUntil(20000);
    EXPECT_TRUE(orphan.Starts.empty());
    EXPECT_TRUE(held.Problem.empty()) << "nothing is wrong while the links are on-line";
    EXPECT_EQ(std::count(orphan.Lines.begin(), orphan.Lines.end(),
                         "Внимание: Роутер не перезапущен: соединения на связи через другой "
                         "роутер на том же порту."),
              1);
    orphan.Served = false;
    orphan.RunUntil(20250);
    EXPECT_EQ(orphan.Starts, std::vector<std::int64_t>{20000});

    TWorld steady;
    steady.KillCurrent();
    steady.RunUntil(2000); // started again at 1000
    steady.RunUntil(62000);
    steady.KillCurrent();
    steady.RunUntil(64000);
    EXPECT_EQ(steady.Starts, (std::vector<std::int64_t>{1000, 63000})) << "a pause of 1 s again";
}

} // namespace
} // namespace vorlen
