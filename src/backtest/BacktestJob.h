#pragma once

// A backtest run on a thread of its own, for a window to watch: how far it has come, whether it
// has ended, and a way to give it up. It never outlives its owner: going, it gives the run up
// and waits for its thread.

#include "backtest/Backtest.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace vorlen::backtest {

class TBacktestJob {
public:
    // Starts the run at once; the config's own Progress and Cancel are replaced by the job's.
    explicit TBacktestJob(TBacktestConfig config);
    ~TBacktestJob();
    TBacktestJob(const TBacktestJob&) = delete;
    TBacktestJob& operator=(const TBacktestJob&) = delete;

    double Done() const { return FDone.load(std::memory_order_relaxed); }
    std::uint64_t Records() const { return FRecords.load(std::memory_order_relaxed); }
    bool Finished() const { return FFinished.load(std::memory_order_acquire); }
    // Asks the run to stop before its next record; it then ends with a result saying so.
    void Cancel() { FCancel.store(true, std::memory_order_relaxed); }
    // Gives the run up and waits for its thread.
    void Stop();
    // The result, once Finished; moved out, so asked for once.
    TBacktestResult TakeResult();

private:
    TBacktestConfig FConfig;
    TBacktestResult FResult;
    std::atomic<double> FDone{0};
    std::atomic<std::uint64_t> FRecords{0};
    std::atomic<bool> FCancel{false};
    std::atomic<bool> FFinished{false};
    std::thread FThread;
};

} // namespace vorlen::backtest
