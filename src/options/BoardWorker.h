#pragma once

// Keeps one futures' board computed on a thread of its own: reads the replica every period,
// and computes the board again only when what it read differs from the last read (a quote,
// a position, open interest, the exchange's volatility) or, as time to expiry shrinks, every few
// seconds regardless. The window takes the latest result on its own timer, so however fast the
// quotes move it repaints at most once a period.

#include "options/BoardSource.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vorlen::options {

struct TBoardResult {
    std::uint64_t Serial = 0; // grows with every board computed; 0: none yet
    std::shared_ptr<const TBoardSource> Source;
    std::shared_ptr<const TBoard> Board;
};

class TBoardWorker {
public:
    using TReader = std::function<TBoardSource()>;
    using TWallClock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr std::chrono::milliseconds kPeriod{100};
    // A board unchanged for this long is computed again: time to expiry has moved on.
    static constexpr std::chrono::seconds kAgeing{5};

    // `read` runs on the worker's thread only; it must stay callable until Stop returns.
    explicit TBoardWorker(TReader read, std::chrono::milliseconds period = kPeriod,
                          TWallClock clock = {});
    ~TBoardWorker();
    TBoardWorker(const TBoardWorker&) = delete;
    TBoardWorker& operator=(const TBoardWorker&) = delete;

    // Ends the thread and waits for it; later calls do nothing. What was computed stays.
    void Stop();
    // Reads at once instead of at the end of the period (a window just opened).
    void Wake();
    TBoardResult Latest() const;
    std::uint64_t Reads() const;

private:
    void Run(const std::stop_token& stop);

    TReader FRead;
    std::chrono::milliseconds FPeriod;
    TWallClock FClock;
    mutable std::mutex FMutex;
    std::condition_variable_any FWake;
    bool FWoken = false;
    TBoardResult FLatest;
    std::uint64_t FReads = 0;
    std::jthread FThread; // last: started once everything it uses is built
};

} // namespace vorlen::options
