// A connection's health through whole episodes (connect, silence, loss, recovery, a router that
// never answers), one sample at a time with the test's clock; and the monitor's reporting.

#include "health/HealthMonitor.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace vorlen {
namespace {

using S = THealthState;

// One sample of a connection: its facts at a moment, and what the machine should say.
struct TStep {
    std::int64_t At;
    bool Running;
    int Conn;
    bool Ready;
    std::uint32_t Attempts;
    std::uint64_t Data;
    std::uint64_t Beats;
    S Expected;
    std::vector<std::string> Lines;
};

struct TEpisode {
    const char* Name;
    bool Watched; // the subscription carries the heartbeat table
    std::vector<TStep> Steps;
};

constexpr const char kLost[] = "Внимание: Соединение Маркет-дата потеряно. Переподключение...";
constexpr const char kSilent[] =
    "Внимание: Биржа не присылает данные более 5 с, соединение Маркет-дата открыто.";
constexpr const char kUp[] = "Соединение Маркет-дата на связи.";
constexpr const char kOff[] = "Соединение Маркет-дата отключено.";
constexpr const char kUnreachable[] = "Внимание: Роутер 127.0.0.1:4001 недоступен, соединение "
                                      "Маркет-дата не открыто. Попытки подключения продолжаются...";

const std::vector<TEpisode>& Episodes() {
    static const std::vector<TEpisode> episodes = {
        {"ConnectsAndGoesSilentWhileTheConnectionStaysUp",
         true,
         {
             {0, false, -1, false, 0, 0, 0, S::Disconnected, {}},
             {100, true, 2, false, 1, 0, 0, S::Connecting, {}},
             {600, true, 3, false, 1, 40, 0, S::Connecting, {}},
             {900, true, 3, true, 1, 90, 1, S::Online, {kUp}},
             {3000, true, 3, true, 1, 95, 3, S::Online, {}},
             // Beats stop at 3000; ordinary rows still trickle in, which is no proof of life.
             {8000, true, 3, true, 1, 99, 3, S::Online, {}},
             {8250, true, 3, true, 1, 99, 3, S::Stale, {kSilent}},
             {9000, true, 3, true, 1, 99, 3, S::Stale, {}},
             {10500,
              true,
              3,
              true,
              1,
              120,
              4,
              S::Online,
              {"Соединение Маркет-дата восстановлено. Перерыв 7,5 с."}},
         }},
        {"LosesTheRouterAndCountsTheAttemptsUntilItIsBack",
         true,
         {
             {0, true, 3, true, 1, 10, 1, S::Online, {kUp}},
             {1000, true, 1, false, 1, 10, 1, S::Reconnecting, {kLost}},
             {1250, true, 2, false, 2, 10, 1, S::Reconnecting, {}},
             {61000, true, 2, false, 40, 10, 1, S::Reconnecting, {}},
             // Up again, the streams not yet on-line: still reconnecting, not silent.
             {62000, true, 3, false, 42, 50, 1, S::Reconnecting, {}},
             {64000,
              true,
              3,
              true,
              42,
              90,
              2,
              S::Online,
              {"Соединение Маркет-дата восстановлено. Перерыв 1 мин 03 с, попыток "
               "переподключения: 41."}},
         }},
        {"SilenceDuringAnOutageAndAfterItCountsFromTheReconnection",
         true,
         {
             {0, true, 3, true, 1, 10, 1, S::Online, {kUp}},
             {500, true, 0, false, 2, 10, 1, S::Reconnecting, {kLost}},
             // Back up at 20 s with no beat since 0: the silence starts now, not at the last beat.
             {20000,
              true,
              3,
              true,
              3,
              30,
              1,
              S::Online,
              {"Соединение Маркет-дата восстановлено. Перерыв 19,5 с, попыток "
               "переподключения: 1."}},
             {25000, true, 3, true, 3, 30, 1, S::Online, {}},
             {25001, true, 3, true, 3, 30, 1, S::Stale, {kSilent}},
             {26000, true, 0, false, 3, 30, 1, S::Reconnecting, {kLost}},
         }},
        {"WithoutAHeartbeatTableSilenceIsNotJudged",
         false,
         {
             {0, true, 3, true, 1, 10, 0, S::Online, {kUp}},
             {60000, true, 3, true, 1, 10, 0, S::Online, {}},
         }},
        {"AnUnreachableRouterIsReportedOnceAndADisconnectionOnce",
         true,
         {
             {0, true, 2, false, 1, 0, 0, S::Connecting, {}},
             {1000, true, 1, false, 1, 0, 0, S::Connecting, {}},
             {1999, true, 0, false, 1, 0, 0, S::Connecting, {}},
             {2000, true, 2, false, 2, 0, 0, S::Connecting, {kUnreachable}},
             {30000, true, 2, false, 90, 0, 0, S::Connecting, {}},
             {30250, false, -1, false, 90, 0, 0, S::Disconnected, {kOff}},
             {30500, false, -1, false, 90, 0, 0, S::Disconnected, {}},
             // A new run: fails fast, so the second attempt tells before the time-out.
             {31000, true, 2, false, 91, 0, 0, S::Connecting, {}},
             {31200, true, 2, false, 93, 0, 0, S::Connecting, {kUnreachable}},
         }},
    };
    return episodes;
}

class HealthEpisode : public ::testing::TestWithParam<TEpisode> {};

TEST_P(HealthEpisode, GivesOneLinePerChangeOfState) {
    THealthMachine m("Маркет-дата");
    m.Configure("127.0.0.1:4001", 2000);
    for (const TStep& st : GetParam().Steps) {
        TLinkFacts f;
        f.Running = st.Running;
        f.ConnState = st.Conn;
        f.Ready = st.Ready;
        f.Attempts = st.Attempts;
        f.Data = st.Data;
        f.Heartbeats = st.Beats;
        f.HeartbeatWatched = GetParam().Watched;
        EXPECT_EQ(m.Observe(f, -1, st.At), st.Lines) << "at " << st.At;
        EXPECT_EQ(m.State(), st.Expected) << "at " << st.At;
    }
}

INSTANTIATE_TEST_SUITE_P(Episodes, HealthEpisode, ::testing::ValuesIn(Episodes()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(HealthOutage, ReadsInSecondsMinutesOrHours) {
    EXPECT_EQ(FormatOutage(0), "0,0 с");
    EXPECT_EQ(FormatOutage(59999), "59,9 с");
    EXPECT_EQ(FormatOutage(60000), "1 мин 00 с");
    EXPECT_EQ(FormatOutage(3599000), "59 мин 59 с");
    EXPECT_EQ(FormatOutage(3725000), "1 ч 02 мин");
    EXPECT_EQ(FormatOutage(-5), "0,0 с");
}

// The monitor over real feeds: the transactions follow a silent exchange, a router's end is
// reported once, and the window hears of changes only.
TEST(HealthMonitor, JournalsEachChangeOnceAndTheRoutersEndOnce) {
    std::int64_t now = 0;
    TMemoryJournal journal;
    THealthMonitor monitor(&journal, [&now] { return now; });
    int changes = 0;
    monitor.SetOnChange([&changes] { ++changes; });
    int asked = 0;
    monitor.WatchProcess([&asked]() -> std::optional<std::string> {
        return ++asked < 3 ? std::nullopt : std::optional<std::string>("роутер завершился");
    });
    for (THealthLink link : {THealthLink::MarketData, THealthLink::Transactions}) {
        THealthFeed& f = monitor.Feed(link);
        f.Running = true;
        f.ConnState = 3;
        f.Ready = true;
        f.HeartbeatWatched = link == THealthLink::MarketData;
    }
    for (; now <= 9000; now += THealthMonitor::kPollMs) {
        if (now < 2000) {
            monitor.Feed(THealthLink::MarketData).Heartbeats += 1;
        }
        monitor.Poll();
    }
    EXPECT_EQ(monitor.State(THealthLink::MarketData), THealthState::Stale);
    EXPECT_EQ(monitor.State(THealthLink::Transactions), THealthState::Stale);
    EXPECT_FALSE(monitor.IsOnline(THealthLink::Transactions));
    EXPECT_EQ(monitor.Snapshot()[THealthLink::MarketData].State, THealthState::Stale);
    monitor.Feed(THealthLink::MarketData).Heartbeats += 1;
    now = 9250;
    monitor.Poll();
    EXPECT_TRUE(monitor.IsOnline(THealthLink::Transactions));
    EXPECT_EQ(changes, 3); // both on-line at once, both silent at once, both back at once
    EXPECT_EQ(asked, 3);

    std::vector<std::string> texts;
    for (const std::string& line : journal.Lines) {
        texts.push_back(line.substr(line.find(" --> ") + 5));
    }
    EXPECT_EQ(texts,
              (std::vector<std::string>{
                  "Соединение Маркет-дата на связи.",
                  "Соединение Трансакции на связи.",
                  "роутер завершился",
                  kSilent,
                  "Внимание: Биржа не присылает данные более 5 с, соединение Трансакции открыто.",
                  // Both silent since the last beat, at 1750.
                  "Соединение Маркет-дата восстановлено. Перерыв 7,5 с.",
                  "Соединение Трансакции восстановлено. Перерыв 7,5 с.",
              }));
}

} // namespace
} // namespace vorlen
