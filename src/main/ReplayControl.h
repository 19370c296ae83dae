#pragma once

// The simulator router's replay, as the terminal follows and steers it: where the router's
// control channel listens, what its `replay state` line says, and a thread that asks for that
// line about twice a second and sends the trader's commands. The channel is only ever reached on
// 127.0.0.1; a router without one, or one that does not answer, is simply not replaying.

#include "platform/Loopback.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace vorlen {

struct TConnectorSettings;

struct TReplayState {
    bool Replaying = false;
    std::string Date;  // YYYY-MM-DD
    std::string Time;  // HH:MM:SS.mmm, the market time now
    std::string From;  // HH:MM:SS, the recording's first record
    std::string To;    // and its last
    std::string Speed; // 1 2 5 10 50 100 1000 max
    std::string State; // playing paused end
    std::string Fill;  // touch through queue
    std::string File;
    bool operator==(const TReplayState&) const = default;

    // Seconds since midnight of Time, From and To; -1 where the router sent something else.
    int TimeSeconds() const;
    int FromSeconds() const;
    int ToSeconds() const;
    // Another recording than `other` (a day opened while the terminal stays connected).
    bool OtherDayThan(const TReplayState& other) const {
        return Replaying && other.Replaying && (Date != other.Date || File != other.File);
    }
};

// The router's reply to `replay state`. Any "OK replay ..." other than "off" counts as replaying
// even where a field is malformed: a replay must never pass for the live market. Anything else
// (an error, a router without replay, garbage) is not replaying.
TReplayState ParseReplayState(std::string_view reply);

// "HH:MM:SS" or "HH:MM:SS.mmm" as seconds since midnight; -1 when it is neither.
int ClockSeconds(std::string_view text);
// Seconds since midnight as "HH:MM:SS".
std::string ClockText(int seconds);

// The speeds the router takes, slowest first.
inline constexpr std::string_view kReplaySpeeds[] = {"1",  "2",   "5",    "10",
                                                     "50", "100", "1000", "max"};
// "replay speed 10"; empty for a speed the router does not take.
std::string ReplaySpeedCommand(std::string_view speed);
// "replay seek HH:MM:SS".
std::string ReplaySeekCommand(int seconds);

// The router's ini as the terminal starts it: beside the "bin" folder the router runs from, or,
// when the router's path has no "bin" folder, client_router.ini in that folder itself.
std::filesystem::path RouterIniFile(const std::string& routPath, const std::string& iniName,
                                    char separator);
// The control port of the router configured by `ini`: the ports file the router writes once it
// listens (its actual port), else `control_port` of the ini's [router] section; 0 when neither
// says, or the ini cannot be read.
int RouterControlPort(const std::filesystem::path& ini);
// The same for the terminal's settings; 0 when the router is not on this machine.
int RouterControlPort(const TConnectorSettings& settings, char separator);

class TReplayControl {
public:
    // The control port to use now (0: none); asked again whenever the channel is not open.
    using TPortSource = std::function<int()>;
    // Runs on the control thread, on the first state and on each change.
    using TStateHandler = std::function<void(const TReplayState&)>;
    // Runs on the control thread when a command was refused ("ERR ...") or got no answer (empty).
    using TFailureHandler =
        std::function<void(const std::string& command, const std::string& reply)>;

    static constexpr std::chrono::milliseconds kPollPeriod{500};
    static constexpr std::chrono::milliseconds kReplyLimit{1500};

    TReplayControl(TPortSource port, TStateHandler onState, TFailureHandler onFailure = {},
                   std::chrono::milliseconds period = kPollPeriod);
    ~TReplayControl();
    TReplayControl(const TReplayControl&) = delete;
    TReplayControl& operator=(const TReplayControl&) = delete;

    void Start();
    // Returns within a fraction of a second whatever the router does; no handler runs after it.
    void Stop();
    // Queued for the control thread, which sends it and asks for the state at once.
    void Send(std::string command);
    TReplayState State() const;

private:
    void Run();
    std::optional<std::string> Ask(const std::string& line);

    TPortSource FPort;
    TStateHandler FOnState;
    TFailureHandler FOnFailure;
    std::chrono::milliseconds FPeriod;
    platform::TLoopbackLine FLine; // the control thread's alone
    std::atomic<bool> FStop{false};
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::deque<std::string> FCommands;
    TReplayState FState;
    bool FReported = false; // the control thread's alone
    std::thread FThread;
};

} // namespace vorlen
