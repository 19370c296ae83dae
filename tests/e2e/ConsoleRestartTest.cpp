// Two console runs, one after the other, in the same data folder against one offline exchange:
// what the first one sent, and a halt it left, hold for the second; and own orders are still
// counted, and cancelled, after the exchange has cleared its orders log.

#include "SimHarness.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>

namespace vorlen::e2e {
namespace {

std::string Order(int price) {
    return "buy Si-12.26 1 " + std::to_string(price) + " FZ00001";
}

// The exchange outlives the console runs: each run's own router finds the port taken and ends.
class TExchange {
public:
    explicit TExchange(const std::string& limits) {
        std::ofstream(Inst.DataDir / "risk_limits.txt") << "* " << limits << "\n";
        Started = Router.Start(
            {Inst.Router().string(), "/ini:" + (Inst.Root / "client_router.ini").string()},
            Inst.Root / "bin", {});
        Started = Started && WaitUntil([&] { return Inst.Control("ping").rfind("OK", 0) == 0; });
    }
    // One run with `args` after the usual ones; its output once it has ended.
    std::string Run(const std::vector<std::string>& args, int expectedExit) {
        std::vector<std::string> all = {"--settings", Inst.SettingsFile.string(), "--until-online"};
        all.insert(all.end(), args.begin(), args.end());
        TConsoleRun run(Inst, all);
        EXPECT_TRUE(run.Started());
        EXPECT_EQ(run.Wait(180s), expectedExit) << run.Stdout() << run.Stderr();
        return run.Stdout();
    }
    long BookRows() const {
        const std::string reply = Inst.Control("rows FORTS_USERORDERBOOK_REPL orders");
        return reply.rfind("OK rows=", 0) == 0 ? std::stol(reply.substr(8)) : -1;
    }

    TSimInstall Inst{0};
    TChild Router;
    bool Started = false;
};

constexpr int kRefused = 5;

TEST(ConsoleRestart, TheMinutesOrdersOfAnEarlierRunCount) {
    TExchange x("per_minute=3 per_day=100");
    ASSERT_TRUE(x.Started);
    const std::string first =
        x.Run({"--order", Order(91000), "--order", Order(91001), "--order", Order(91002)}, 0);
    EXPECT_EQ(JournalTextsFrom(first, "Заявка отправлена").size(), 3u) << first;
    const std::string second = x.Run({"--order", Order(91003)}, kRefused);
    EXPECT_EQ(
        JournalTextsFrom(second, "Заявка отклонена: Превышено число заявок в минуту (3).").size(),
        1u)
        << second;
    EXPECT_TRUE(JournalTextsFrom(second, "Заявка отправлена").empty()) << second;
}

TEST(ConsoleRestart, TheDaysOrdersCountFromTheLogAndFromTheExchange) {
    // The exchange's two orders of the morning count: three more make five.
    TExchange x("per_minute=100 per_day=5");
    ASSERT_TRUE(x.Started);
    const std::string first = x.Run({"--order", Order(91000), "--order", Order(91001), "--order",
                                     Order(91002), "--order", Order(91003)},
                                    kRefused);
    EXPECT_EQ(JournalTextsFrom(first, "Заявка отправлена").size(), 3u) << first;
    EXPECT_EQ(
        JournalTextsFrom(first, "Заявка отклонена: Превышено число заявок за день (5).").size(), 1u)
        << first;
    // Its own three are not counted a second time from the exchange's log, nor lost.
    const std::string second = x.Run({"--order", Order(91004)}, kRefused);
    EXPECT_EQ(JournalTextsFrom(second, "Заявки торгового дня до запуска: 5 ").size(), 1u) << second;
    EXPECT_EQ(
        JournalTextsFrom(second, "Заявка отклонена: Превышено число заявок за день (5).").size(),
        1u)
        << second;
}

TEST(ConsoleRestart, AHaltHoldsForTheNextRunOfTheDay) {
    TExchange x("per_minute=100");
    ASSERT_TRUE(x.Started);
    const std::string first = x.Run({"--cancel-all"}, 0);
    ASSERT_EQ(JournalTextsFrom(first, "Все заявки сняты, торговля остановлена.").size(), 1u)
        << first;
    const std::string second = x.Run({"--order", Order(91000)}, kRefused);
    EXPECT_EQ(JournalTextsFrom(second, "Торговля остановлена ранее в этот день").size(), 1u)
        << second;
    const auto refused = JournalTextsFrom(second, "Заявка отклонена: ");
    ASSERT_EQ(refused.size(), 1u) << second;
    EXPECT_NE(refused[0].find("остановлена"), std::string::npos) << refused[0];
    EXPECT_TRUE(JournalTextsFrom(second, "Заявка отправлена").empty()) << second;
}

TEST(ConsoleRestart, OrdersRestingAfterTheOrdersLogIsClearedStillCountAndAreCancelled) {
    // The morning's resting order and three of the first run's: four active.
    TExchange x("per_minute=100 max_active=4");
    ASSERT_TRUE(x.Started);
    ASSERT_EQ(x.BookRows(), 1);
    const std::string first =
        x.Run({"--order", Order(91000), "--order", Order(91001), "--order", Order(91002)}, 0);
    ASSERT_EQ(JournalTextsFrom(first, "Заявка отправлена").size(), 3u) << first;
    ASSERT_EQ(x.BookRows(), 4);
    ASSERT_EQ(x.Inst.Control("cleardeleted FORTS_TRADE_REPL orders_log").rfind("OK", 0), 0u);

    const std::string second = x.Run({"--order", Order(91003), "--cancel-all"}, kRefused);
    EXPECT_EQ(
        JournalTextsFrom(second, "Заявка отклонена: Активных заявок уже 4 (допустимо 4).").size(),
        1u)
        << second;
    EXPECT_EQ(JournalTextsFrom(second,
                               "Снять все заявки и остановить торговлю: торговля остановлена, "
                               "снимается заявок: 4,")
                  .size(),
              1u)
        << second;
    EXPECT_EQ(JournalTextsFrom(second, "Все заявки сняты, торговля остановлена.").size(), 1u)
        << second;
    EXPECT_TRUE(WaitUntil([&] { return x.BookRows() == 0; }, 10s)) << x.BookRows();
}

// Two terminals on one data folder would each count only their own orders and miss each
// other's kill switch: the second one trades nothing, and says why.
TEST(ConsoleRestart, ASecondTerminalOnTheSameDataFolderPlacesNoOrder) {
    TExchange x("per_minute=100 per_day=100");
    ASSERT_TRUE(x.Started);
    TConsoleRun first(x.Inst, {"--settings", x.Inst.SettingsFile.string(), "--seconds", "60",
                               "--order", Order(91000)});
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(first.WaitForJournal("Заявка отправлена, транзакция 1.")) << first.Stdout();
    const std::string second = x.Run({"--order", Order(91001)}, kRefused);
    EXPECT_EQ(JournalTextsFrom(second, "Заявка отклонена: Папка данных занята другим "
                                       "терминалом: заявки этого терминала не принимаются.")
                  .size(),
              1u)
        << second;
    EXPECT_TRUE(JournalTextsFrom(second, "Заявка отправлена").empty()) << second;
    first.Signal(SIGINT);
    EXPECT_TRUE(first.Wait(30s).has_value());
    // The folder is free again once the first has gone, however it went.
    const std::string third = x.Run({"--order", Order(91002)}, 0);
    EXPECT_EQ(JournalTextsFrom(third, "Заявка отправлена").size(), 1u) << third;
}

} // namespace
} // namespace vorlen::e2e
