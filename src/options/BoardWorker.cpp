#include "options/BoardWorker.h"

namespace vorlen::options {

TBoardWorker::TBoardWorker(TReader read, std::chrono::milliseconds period, TWallClock clock)
    : FRead(std::move(read)), FPeriod(period), FClock(std::move(clock)) {
    if (!FClock) {
        FClock = [] { return std::chrono::system_clock::now(); };
    }
    FThread = std::jthread([this](const std::stop_token& stop) { Run(stop); });
}

TBoardWorker::~TBoardWorker() {
    Stop();
}

void TBoardWorker::Stop() {
    if (FThread.joinable()) {
        FThread.request_stop();
        FThread.join();
    }
}

void TBoardWorker::Wake() {
    {
        const std::lock_guard lock(FMutex);
        FWoken = true;
    }
    FWake.notify_one();
}

TBoardResult TBoardWorker::Latest() const {
    const std::lock_guard lock(FMutex);
    return FLatest;
}

std::uint64_t TBoardWorker::Reads() const {
    const std::lock_guard lock(FMutex);
    return FReads;
}

void TBoardWorker::Run(const std::stop_token& stop) {
    std::shared_ptr<const TBoardSource> last;
    std::chrono::system_clock::time_point computedAt{};
    std::uint64_t serial = 0;
    while (!stop.stop_requested()) {
        auto source = std::make_shared<TBoardSource>(FRead());
        const auto now = FClock();
        const bool same = last && last->Found == source->Found &&
                          last->Missing == source->Missing && last->Input == source->Input;
        std::shared_ptr<const TBoard> board;
        if (!same || now - computedAt >= kAgeing) {
            // Computed outside the lock: the window's timer never waits for a board.
            board = std::make_shared<TBoard>(ComputeBoard(source->Input, now));
            computedAt = now;
            last = source;
        }
        {
            std::unique_lock lock(FMutex);
            ++FReads;
            if (board) {
                FLatest = {++serial, last, std::move(board)};
            }
            FWake.wait_for(lock, stop, FPeriod, [this] { return FWoken; });
            FWoken = false;
        }
    }
}

} // namespace vorlen::options
