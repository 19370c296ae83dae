#include "main/ReplayControl.h"

#include "main/FakeControlServer.h"
#include "settings/ConnectorSettings.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace vorlen::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const kPlaying =
    "OK replay date=2026-12-10 time=10:15:03.250 from=10:00:00 to=23:49:59 speed=10 "
    "state=playing fill=queue file=/data/Мои записи/2026-12-10.vrec";

TEST(ReplayState, RepliesReadAsTheRouterMeansThem) {
    const TReplayState full = ParseReplayState(std::string(kPlaying) + "\r\n");
    EXPECT_TRUE(full.Replaying);
    EXPECT_EQ(full.Date, "2026-12-10");
    EXPECT_EQ(full.Time, "10:15:03.250");
    EXPECT_EQ(full.TimeSeconds(), 10 * 3600 + 15 * 60 + 3);
    EXPECT_EQ(full.FromSeconds(), 36000);
    EXPECT_EQ(full.ToSeconds(), 23 * 3600 + 49 * 60 + 59);
    EXPECT_EQ(full.Speed, "10");
    EXPECT_EQ(full.State, "playing");
    EXPECT_EQ(full.Fill, "queue");
    EXPECT_EQ(full.File, "/data/Мои записи/2026-12-10.vrec"); // blanks and all

    struct TCase {
        const char* Reply;
        bool Replaying;
    };
    for (const TCase& c : std::vector<TCase>{
             {"OK replay off", false},
             {"OK replay off\r", false},
             {"ERR unknown command replay", false},
             {"OK pong", false},
             {"", false},
             {"OK replayer date=2026-12-10", false},
             // Half a line, or fields the terminal does not know: still a replay, never live.
             {"OK replay date=2026-12-10 time=junk", true},
             {"OK replay somethingnew", true},
         }) {
        const TReplayState s = ParseReplayState(c.Reply);
        EXPECT_EQ(s.Replaying, c.Replaying) << c.Reply;
    }
    const TReplayState half = ParseReplayState("OK replay date=2026-12-10 time=junk");
    EXPECT_EQ(half.TimeSeconds(), -1);
    EXPECT_EQ(half.FromSeconds(), -1);

    for (const char* bad : {"24:00:00", "10:60:00", "1:00:00", "10:00:00.5", "10-00-00", ""})
        EXPECT_EQ(ClockSeconds(bad), -1) << bad;
    EXPECT_EQ(ReplaySeekCommand(ClockSeconds("09:05:07.999")), "replay seek 09:05:07");
    EXPECT_EQ(ReplaySpeedCommand("max"), "replay speed max");
    EXPECT_EQ(ReplaySpeedCommand("3"), "");

    TReplayState other = full;
    other.File = "/data/2026-12-11.vrec";
    EXPECT_TRUE(other.OtherDayThan(full));
    other = full;
    other.Time = "11:00:00.000";
    EXPECT_FALSE(other.OtherDayThan(full));
    EXPECT_FALSE(TReplayState{}.OtherDayThan(full));
}

class ControlPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vorlen-replay-XXXXXX").string();
        Root = fs::path(mkdtemp(pattern.data()));
        fs::create_directories(Root / "bin");
    }
    void TearDown() override { fs::remove_all(Root); }
    void Write(const fs::path& file, const std::string& text) const {
        std::ofstream(Root / file) << text;
    }
    fs::path Root;
};

// The port the router actually listens on wins over the one its ini asks for; a router whose
// ini names none is not ours to steer, and neither is one on another machine.
TEST_F(ControlPortTest, FoundWhereTheRouterTheTerminalStartsKeepsIt) {
    TConnectorSettings s;
    s.RoutPath = (Root / "bin").string() + "/";
    s.RoutIniName = "my_router.ini";
    s.Host = "127.0.0.1";
    EXPECT_EQ(RouterIniFile(s.RoutPath, s.RoutIniName, '/'), Root / "my_router.ini");
    EXPECT_EQ(RouterIniFile("C:\\cgate\\bin\\", "r.ini", '\\'), fs::path("C:\\cgate\\r.ini"));
    EXPECT_EQ(RouterIniFile("/opt/router/", "r.ini", '/'),
              fs::path("/opt/router/client_router.ini"));

    EXPECT_EQ(RouterControlPort(s, '/'), 0); // no ini
    Write("my_router.ini", "[other]\ncontrol_port=1\n[router]\nport=4001\n");
    EXPECT_EQ(RouterControlPort(s, '/'), 0);
    Write("my_router.ini", "[other]\ncontrol_port=1\n[Router]\n Control_Port = 4702 \n");
    EXPECT_EQ(RouterControlPort(s, '/'), 4702);
    Write("router.ports", "port=4801\ncontrol_port=4802\n");
    EXPECT_EQ(RouterControlPort(s, '/'), 4802);
    Write("my_router.ini", "[router]\ncontrol_port=4702\nports_file=run/ports.txt\n");
    EXPECT_EQ(RouterControlPort(s, '/'), 4702); // that ports file is not written yet
    fs::create_directories(Root / "run");
    Write("run/ports.txt", "control_port=4902\n");
    EXPECT_EQ(RouterControlPort(s, '/'), 4902);
    Write("run/ports.txt", "control_port=99999\n");
    EXPECT_EQ(RouterControlPort(s, '/'), 4702);

    s.Host = "10.1.2.3";
    EXPECT_EQ(RouterControlPort(s, '/'), 0);
}

// Commands reach the router in the order given, each followed at once by a fresh state; a
// router that is absent, goes away or hangs leaves the terminal not replaying, and stopping
// never waits for it.
TEST(ReplayControl, SteersAndFollowsAndLetsGo) {
    TFakeControlServer server;
    server.SetState(kPlaying);
    std::mutex lock;
    std::vector<TReplayState> states;
    std::vector<std::string> failures;
    std::atomic<int> port{server.Port};
    TReplayControl control([&] { return port.load(); },
                           [&](const TReplayState& s) {
                               const std::lock_guard g(lock);
                               states.push_back(s);
                           },
                           [&](const std::string& command, const std::string& reply) {
                               const std::lock_guard g(lock);
                               failures.push_back(command + "|" + reply);
                           },
                           20ms);
    const auto waitFor = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 500 && !done(); ++i)
            std::this_thread::sleep_for(10ms);
        return done();
    };
    const auto last = [&] {
        const std::lock_guard g(lock);
        return states.empty() ? TReplayState{} : states.back();
    };
    control.Start();
    ASSERT_TRUE(waitFor([&] { return last().Replaying; }));
    const int asked = server.StateQuestions();
    ASSERT_TRUE(waitFor([&] { return server.StateQuestions() > asked + 3; }));
    EXPECT_EQ(states.size(), 1U) << "an unchanged state is reported once";

    for (const char* c :
         {"replay pause", "replay speed max", "replay seek 12:00:00", "replay step"})
        control.Send(c);
    ASSERT_TRUE(waitFor([&] { return server.Commands().size() == 4; }));
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"replay pause", "replay speed max",
                                                           "replay seek 12:00:00", "replay step"}));
    server.SetState("OK replay off");
    ASSERT_TRUE(waitFor([&] { return !last().Replaying; }));
    server.SetState(kPlaying);
    ASSERT_TRUE(waitFor([&] { return last().Replaying; }));

    server.Close();
    ASSERT_TRUE(waitFor([&] { return !last().Replaying; }));
    control.Send("replay play");
    ASSERT_TRUE(waitFor([&] {
        const std::lock_guard g(lock);
        return !failures.empty();
    }));
    EXPECT_EQ(failures.front(), "replay play|");

    TFakeControlServer hung;
    hung.Silent(true);
    port = hung.Port;
    std::this_thread::sleep_for(300ms); // into a wait for a reply that will not come
    EXPECT_FALSE(control.State().Replaying);
    const auto before = std::chrono::steady_clock::now();
    control.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
}

} // namespace
} // namespace vorlen::test
