#pragma once

// vorlen-console --replay: the bundled router plays a recording to the unchanged terminal. The
// console starts the router as always, tells it over its control channel what to play before
// the terminal connects, and with --until-end asks it when the recording has been played.

#include "main/console/ConsoleOptions.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace vorlen {

// One command line to the router's control channel on the loopback; its reply line, or empty
// when the router does not answer within `limit`.
std::string RouterCommand(std::uint16_t port, const std::string& command,
                          std::chrono::milliseconds limit = std::chrono::seconds(30));

// Waits for the router of `iniPath` to answer, then has it open `options.Replay` at
// `options.Speed`; 0, or kExitErrorBox with the reason on `err`.
int StartRouterReplay(const TConsoleOptions& options, const std::string& iniPath,
                      std::optional<std::uint16_t>& port, std::ostream& err);

// The recording has been played: the router says so, and the terminal has taken everything it
// was sent (nothing but heartbeats arrived for a while). Ask every ~200 ms.
class TReplayEndWatch {
public:
    explicit TReplayEndWatch(std::uint16_t port) : FPort(port) {}
    // `received`: the market-data messages the terminal has taken so far, heartbeats left out.
    bool Ended(std::uint64_t received);

private:
    std::uint16_t FPort;
    std::uint64_t FLast = 0;
    std::optional<std::chrono::steady_clock::time_point> FQuietSince;
};

} // namespace vorlen
