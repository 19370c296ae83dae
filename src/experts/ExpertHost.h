#pragma once

// What an expert window holds, with or without a window: the expert thread bound to one futures,
// the source of its order replies and, where strategies are built, the strategy on it with its
// two ports (the order desk and the book keeper). The desktop's window and the console's stand-in
// both keep one, so that they build, stop and finish an expert the same way.

#include "experts/Expert.h"
#include "platform/Journal.h"
#if VORLEN_STRATEGIES
#include "strategies/DeskPorts.h"
#include "strategies/StrategyRunner.h"
#endif

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vorlen {

class TBookKeeper;
class TCGStorage;
class TCGTRConnection;
namespace orders {
class TOrderDesk;
}

class TExpertHost {
public:
    // How long finishing a strategy waits for its on_stop, and then for the exchange's answers
    // to what it posted there: a strategy that will not stop never holds the closing up longer.
    static constexpr auto kStopWait = std::chrono::seconds(5);
    static constexpr auto kAnswersWait = std::chrono::seconds(3);

    // Creates the suspended expert over `store`; without a store there is no expert. Any of
    // `transactions` (no order replies are read), `desk` (the strategy's orders are refused) and
    // `books` (no book) may be null. The journal, the desk and the books must outlive the
    // expert's strategy (FinishStrategy or StopExpert).
    TExpertHost(TJournalSink& memo, TCGStorage* store, TCGTRConnection* transactions,
                orders::TOrderDesk* desk, TBookKeeper* books);
    TExpertHost(const TExpertHost&) = delete;
    TExpertHost& operator=(const TExpertHost&) = delete;
    ~TExpertHost();

    TExpert* Expert() { return FExpert.get(); }
    const TExpert* Expert() const { return FExpert.get(); }

    void SetupExpert(std::int32_t isin_id, const std::string& futName, const std::string& futIsin);
    bool RegisterAndStart();
    // Ends the strategy (its on_stop runs on the way out), the expert's thread and its store
    // registration; returns at once for an expert that never started.
    void StopExpert();

    // Asks the strategy to stop; it stops on the expert's thread.
    void StopStrategy();
    // Stops a running strategy and waits until its on_stop has run and the exchange has answered
    // what it posted there (its cancels), serving the UI-call queue meanwhile: done before the
    // connections go, or a cancel would be lost with them.
    void FinishStrategy();
    bool StrategyRunning() const;

    // Called on the expert's thread after each change of the strategy's status; it must not
    // block on the UI thread. Set before the expert starts.
    void SetOnStrategyChange(std::function<void()> onChange);
    // Why a strategy would not start now; empty when it may.
    std::string HaltReason();

#if VORLEN_STRATEGIES
    // The expert's strategy; null without an expert.
    TStrategyRunner* Strategy() {
        return FRunner.get();
    }
    const TStrategyRunner* Strategy() const {
        return FRunner.get();
    }
#endif

private:
    TJournalSink& FMemo;
    orders::TOrderDesk* FDesk;
    std::unique_ptr<TTrReplies> FReplies;
    std::unique_ptr<TExpert> FExpert;
    std::function<void()> FOnChange;
#if VORLEN_STRATEGIES
    // The strategy's ports; they go after the runner that calls them.
    std::unique_ptr<TDeskOrders> FOrders;
    std::unique_ptr<TKeeperBook> FBook;
    std::unique_ptr<TStrategyRunner> FRunner; // goes before the expert it hooks into
#endif
};

} // namespace vorlen
