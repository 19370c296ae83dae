#pragma once

// What a connection thread tells the health monitor about itself: plain atomics, each written by
// that thread alone and sampled by the monitor a few times a second. Counters only ever grow, so
// the monitor learns "something arrived" by seeing them change and never needs a clock on the
// connection's hot path.

#include <atomic>
#include <cstdint>

namespace vorlen {

struct THealthFeed {
    // The thread is inside its run: from its start until its connection is torn down.
    std::atomic<bool> Running{false};
    // The connection state read last (0 closed, 1 error, 2 opening, 3 active); -1 unknown.
    std::atomic<int> ConnState{-1};
    // Everything on top of the connection is up: every market-data stream on-line, or the
    // publisher and the reply listener active.
    std::atomic<bool> Ready{false};
    // Times the connection was opened: the first opening and every reconnection attempt.
    std::atomic<std::uint32_t> Attempts{0};
    // Messages received on the connection's listeners.
    std::atomic<std::uint64_t> Data{0};
    // Rows of the exchange's heartbeat table received.
    std::atomic<std::uint64_t> Heartbeats{0};
    // Some listener of the connection carries the heartbeat table, so its silence means
    // something.
    std::atomic<bool> HeartbeatWatched{false};
};

} // namespace vorlen
