#include "backtest/BacktestJob.h"

#include <exception>
#include <utility>

namespace vorlen::backtest {

TBacktestJob::TBacktestJob(TBacktestConfig config) : FConfig(std::move(config)) {
    FConfig.Cancel = &FCancel;
    FConfig.Progress = [this](double done, std::uint64_t records) {
        FDone.store(done, std::memory_order_relaxed);
        FRecords.store(records, std::memory_order_relaxed);
    };
    FThread = std::thread([this] {
        try {
            FResult = RunBacktest(FConfig);
        } catch (const std::exception& e) {
            // Out of memory on a long run: the window says so instead of the program ending.
            FResult = TBacktestResult{};
            FResult.Ok = false;
            FResult.Error = e.what();
        }
        if (FResult.Ok)
            FDone.store(1, std::memory_order_relaxed);
        FFinished.store(true, std::memory_order_release);
    });
}

TBacktestJob::~TBacktestJob() {
    Stop();
}

void TBacktestJob::Stop() {
    Cancel();
    if (FThread.joinable())
        FThread.join();
}

TBacktestResult TBacktestJob::TakeResult() {
    if (!Finished()) {
        TBacktestResult none;
        none.Ok = false;
        none.Error = "тест ещё идёт";
        return none;
    }
    return std::move(FResult);
}

} // namespace vorlen::backtest
