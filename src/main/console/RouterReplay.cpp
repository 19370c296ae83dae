#include "main/console/RouterReplay.h"

#include "main/ReplayControl.h"
#include "platform/Loopback.h"
#include "settings/SavedSettings.h"

#include <atomic>
#include <filesystem>
#include <thread>

namespace vorlen {

namespace {

using namespace std::chrono_literals;

std::optional<std::uint16_t> ControlPort(const std::string& iniPath) {
    const int port = RouterControlPort(PathFromUtf8(iniPath));
    return port != 0 ? std::optional(static_cast<std::uint16_t>(port)) : std::nullopt;
}

} // namespace

std::string RouterCommand(std::uint16_t port, const std::string& command,
                          std::chrono::milliseconds limit) {
    static const std::atomic<bool> never{false};
    platform::TLoopbackLine line;
    if (!line.Connect(port, limit))
        return {};
    return line.Ask(command, limit, never).value_or(std::string());
}

int StartRouterReplay(const TConsoleOptions& options, const std::string& iniPath,
                      std::optional<std::uint16_t>& port, std::ostream& err) {
    // The router has just been started: it answers once it listens.
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until) {
        port = ControlPort(iniPath);
        if (port && RouterCommand(*port, "ping", 2s) == "OK pong")
            break;
        port.reset();
        std::this_thread::sleep_for(100ms);
    }
    if (!port) {
        err << "vorlen-console: --replay: the router's control channel (" << iniPath
            << ") did not answer\n"
            << std::flush;
        return kExitErrorBox;
    }
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(PathFromUtf8(options.Replay), ec);
    for (const std::string& command :
         {"replay speed " + (options.Speed.empty() ? std::string("max") : options.Speed),
          "replay open " + PathToUtf8(ec ? PathFromUtf8(options.Replay) : file)}) {
        const std::string reply = RouterCommand(*port, command, 600s);
        if (reply.rfind("OK", 0) != 0) {
            err << "vorlen-console: --replay: " << command << ": "
                << (reply.empty() ? "the router did not answer" : reply) << '\n'
                << std::flush;
            return kExitErrorBox;
        }
    }
    return 0;
}

bool TReplayEndWatch::Ended(std::uint64_t received) {
    const auto now = std::chrono::steady_clock::now();
    const std::string state = RouterCommand(FPort, "replay state", 5s);
    const bool end = state.find(" state=end ") != std::string::npos;
    if (!end || received != FLast || !FQuietSince) {
        FLast = received;
        FQuietSince = end ? std::optional(now) : std::nullopt;
        return false;
    }
    return now - *FQuietSince >= 500ms;
}

} // namespace vorlen
