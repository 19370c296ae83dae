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
// A field left out of a row keeps its value here: no run, no connection, nothing received.
struct TStep {
    std::int64_t At = 0;
    bool Running = false;
    int Conn = -1; // the gateway's connection state; -1 without a connection object
    bool Ready = false;
    std::uint32_t Attempts = 0;
    std::uint64_t Data = 0;  // stream-data messages so far
    std::uint64_t Beats = 0; // heartbeat rows so far
    S Expected = S::Disconnected;
    std::vector<std::string> Lines; // what the sample makes the machine say
};

struct TEpisode {
    const char* Name = "";
    bool Watched = true; // the subscription carries the heartbeat table
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
        {.Name = "ConnectsAndGoesSilentWhileTheConnectionStaysUp",
         .Watched = true,
         .Steps =
             {
                 {.At = 0, .Expected = S::Disconnected},
                 {.At = 100, .Running = true, .Conn = 2, .Attempts = 1, .Expected = S::Connecting},
                 {.At = 600,
                  .Running = true,
                  .Conn = 3,
                  .Attempts = 1,
                  .Data = 40,
                  .Expected = S::Connecting},
                 {.At = 900,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 1,
                  .Data = 90,
                  .Beats = 1,
                  .Expected = S::Online,
                  .Lines = {kUp}},
                 {.At = 3000,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 1,
                  .Data = 95,
                  .Beats = 3,
                  .Expected = S::Online},
                 // Beats stop at 3000; ordinary rows still trickle in, which is no proof of life.
                 {.At = 8000,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 1,
                  .Data = 99,
                  .Beats = 3,
                  .Expected = S::Online},
                 {.At = 8250,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 1,
                  .Data = 99,
                  .Beats = 3,
                  .Expected = S::Stale,
                  .Lines = {kSilent}},
                 {.At = 9000,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 1,
                  .Data = 99,
                  .Beats = 3,
                  .Expected = S::Stale},
                 {.At = 10500,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 1,
                  .Data = 120,
                  .Beats = 4,
                  .Expected = S::Online,
                  .Lines = {"Соединение Маркет-дата восстановлено. Перерыв 7,5 с."}},
             }},
        {.Name = "LosesTheRouterAndCountsTheAttemptsUntilItIsBack",
         .Watched = true,
         .Steps =
             {
                 {.At = 0,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 1,
                  .Data = 10,
                  .Beats = 1,
                  .Expected = S::Online,
                  .Lines = {kUp}},
                 {.At = 1000,
                  .Running = true,
                  .Conn = 1,
                  .Attempts = 1,
                  .Data = 10,
                  .Beats = 1,
                  .Expected = S::Reconnecting,
                  .Lines = {kLost}},
                 {.At = 1250,
                  .Running = true,
                  .Conn = 2,
                  .Attempts = 2,
                  .Data = 10,
                  .Beats = 1,
                  .Expected = S::Reconnecting},
                 {.At = 61000,
                  .Running = true,
                  .Conn = 2,
                  .Attempts = 40,
                  .Data = 10,
                  .Beats = 1,
                  .Expected = S::Reconnecting},
                 // Up again, the streams not yet on-line: still reconnecting, not silent.
                 {.At = 62000,
                  .Running = true,
                  .Conn = 3,
                  .Attempts = 42,
                  .Data = 50,
                  .Beats = 1,
                  .Expected = S::Reconnecting},
                 {.At = 64000,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 42,
                  .Data = 90,
                  .Beats = 2,
                  .Expected = S::Online,
                  .Lines = {"Соединение Маркет-дата восстановлено. Перерыв 1 мин 03 с, попыток "
                            "переподключения: 41."}},
             }},
        {.Name = "SilenceDuringAnOutageAndAfterItCountsFromTheReconnection",
         .Watched = true,
         .Steps =
             {
                 {.At = 0,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 1,
                  .Data = 10,
                  .Beats = 1,
                  .Expected = S::Online,
                  .Lines = {kUp}},
                 {.At = 500,
                  .Running = true,
                  .Conn = 0,
                  .Attempts = 2,
                  .Data = 10,
                  .Beats = 1,
                  .Expected = S::Reconnecting,
                  .Lines = {kLost}},
                 // Back up at 20 s with no beat since 0: the silence starts now, not at the last
                 // beat.
                 {.At = 20000,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 3,
                  .Data = 30,
                  .Beats = 1,
                  .Expected = S::Online,
                  .Lines = {"Соединение Маркет-дата восстановлено. Перерыв 19,5 с, попыток "
                            "переподключения: 1."}},
                 {.At = 25000,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 3,
                  .Data = 30,
                  .Beats = 1,
                  .Expected = S::Online},
                 {.At = 25001,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 3,
                  .Data = 30,
                  .Beats = 1,
                  .Expected = S::Stale,
                  .Lines = {kSilent}},
                 {.At = 26000,
                  .Running = true,
                  .Conn = 0,
                  .Attempts = 3,
                  .Data = 30,
                  .Beats = 1,
                  .Expected = S::Reconnecting,
                  .Lines = {kLost}},
             }},
        {.Name = "WithoutAHeartbeatTableSilenceIsNotJudged",
         .Watched = false,
         .Steps =
             {
                 {.At = 0,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 1,
                  .Data = 10,
                  .Expected = S::Online,
                  .Lines = {kUp}},
                 {.At = 60000,
                  .Running = true,
                  .Conn = 3,
                  .Ready = true,
                  .Attempts = 1,
                  .Data = 10,
                  .Expected = S::Online},
             }},
        {.Name = "AnUnreachableRouterIsReportedOnceAndADisconnectionOnce",
         .Watched = true,
         .Steps =
             {
                 {.At = 0, .Running = true, .Conn = 2, .Attempts = 1, .Expected = S::Connecting},
                 {.At = 1000, .Running = true, .Conn = 1, .Attempts = 1, .Expected = S::Connecting},
                 {.At = 1999, .Running = true, .Conn = 0, .Attempts = 1, .Expected = S::Connecting},
                 {.At = 2000,
                  .Running = true,
                  .Conn = 2,
                  .Attempts = 2,
                  .Expected = S::Connecting,
                  .Lines = {kUnreachable}},
                 {.At = 30000,
                  .Running = true,
                  .Conn = 2,
                  .Attempts = 90,
                  .Expected = S::Connecting},
                 {.At = 30250, .Attempts = 90, .Expected = S::Disconnected, .Lines = {kOff}},
                 {.At = 30500, .Attempts = 90, .Expected = S::Disconnected},
                 // A new run: fails fast, so the second attempt tells before the time-out.
                 {.At = 31000,
                  .Running = true,
                  .Conn = 2,
                  .Attempts = 91,
                  .Expected = S::Connecting},
                 {.At = 31200,
                  .Running = true,
                  .Conn = 2,
                  .Attempts = 93,
                  .Expected = S::Connecting,
                  .Lines = {kUnreachable}},
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
    monitor.WatchProcess([&asked](bool /*served*/) {
        TProcessReport r;
        if (++asked == 3)
            r.Lines.emplace_back("роутер завершился");
        return r;
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
    EXPECT_GE(asked, 3);

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
