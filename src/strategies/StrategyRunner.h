#pragma once

// A strategy attached to an expert. The window (or the console) asks for things on its own
// thread — load this script, these parameters, start, stop — and the expert's thread does them
// when it wakes on its hook event; the window learns the outcome from Status() once told that
// it changed. The Lua state thus never leaves the expert's thread.

#include "experts/Expert.h"
#include "strategies/ExpertWorld.h"
#include "strategies/Strategy.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vorlen {

struct TStrategyStatus {
    std::string Name;
    TStrategy::TState State = TStrategy::TState::Empty;
    TStrategyParams Params;
    std::string Error;
    // Grows with every change, so a waiter can tell a new status from the one it saw.
    std::uint64_t Serial = 0;
};

class TStrategyRunner final : public TExpertHook {
public:
    // Attaches itself to `expert`, which must not have started yet. `orders` and `book` may be
    // null; everything must outlive the expert's thread.
    TStrategyRunner(TExpert& expert, TCGStorage& store, TStrategyOrders* orders,
                    TStrategyBook* book, TStrategyLimits limits = {});
    // Ends the expert's thread first: it calls into the runner up to its last moment.
    ~TStrategyRunner() override;

    // Called on the expert's thread after every change of the status; it must not block on the
    // UI thread.
    void SetOnChange(std::function<void()> onChange);

    void Load(std::string name, std::string source);
    void SetParams(std::vector<TParamOverride> overrides);
    void Start();
    void Stop();

    TStrategyStatus Status() const;

    // TExpertHook, on the expert's thread.
    void OnTick() override;
    void OnOrderReplies() override;
    void OnHookEvent() override;
    void OnThreadEnd() override;

private:
    struct TCommand {
        enum class TKind { Load, Params, Start, Stop } Kind;
        std::string Name;
        std::string Source;
        std::vector<TParamOverride> Overrides;
    };
    void Post(TCommand command);
    void Publish();

    TExpert& FExpert;
    TExpertWorld FWorld;
    TStrategyLimits FLimits;
    std::unique_ptr<TStrategy> FStrategy; // the expert's thread only
    std::function<void()> FOnChange;

    mutable std::mutex FLock; // FCommands and FStatus
    std::deque<TCommand> FCommands;
    TStrategyStatus FStatus;
};

} // namespace vorlen
