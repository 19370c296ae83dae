#pragma once

// A line-oriented TCP client that only ever talks to 127.0.0.1: the simulator router's control
// channel. Every wait is bounded and can be cut short from another thread, so a router that
// stops answering never holds up whoever owns the connection.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace vorlen::platform {

class TLoopbackLine {
public:
    TLoopbackLine() = default;
    ~TLoopbackLine();
    TLoopbackLine(const TLoopbackLine&) = delete;
    TLoopbackLine& operator=(const TLoopbackLine&) = delete;

    // Connects to 127.0.0.1:`port`; false when nothing listens there within `limit`.
    bool Connect(std::uint16_t port, std::chrono::milliseconds limit);
    bool IsOpen() const { return FSocket != kNone; }
    void Close();
    // Sends `line` and a line feed, then reads one line back (without its line end). Nothing
    // when the connection fails, `limit` runs out or `cancel` becomes true; the connection is
    // closed then, since a late reply would be taken for the answer to the next line.
    std::optional<std::string> Ask(const std::string& line, std::chrono::milliseconds limit,
                                   const std::atomic<bool>& cancel);

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t FSocket = kNone;
    std::string FPending; // bytes received past the last line
};

} // namespace vorlen::platform
