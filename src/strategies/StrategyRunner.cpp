#include "strategies/StrategyRunner.h"

namespace vorlen {

TStrategyRunner::TStrategyRunner(TExpert& expert, TCGStorage& store, TStrategyOrders* orders,
                                 TStrategyBook* book, TStrategyLimits limits)
    : FExpert(expert), FWorld(expert, store, orders, book), FLimits(limits) {
    FExpert.SetHook(this);
}

TStrategyRunner::~TStrategyRunner() {
    FExpert.Stop();
    FExpert.SetHook(nullptr);
}

void TStrategyRunner::SetOnChange(std::function<void()> onChange) {
    FOnChange = std::move(onChange);
}

void TStrategyRunner::Post(TCommand command) {
    {
        std::lock_guard lock(FLock);
        FCommands.push_back(std::move(command));
    }
    FExpert.HookEvent().Set();
}

void TStrategyRunner::Load(std::string name, std::string source) {
    Post({TCommand::TKind::Load, std::move(name), std::move(source), {}});
}

void TStrategyRunner::SetParams(std::vector<TParamOverride> overrides) {
    Post({TCommand::TKind::Params, {}, {}, std::move(overrides)});
}

void TStrategyRunner::Start() {
    Post({TCommand::TKind::Start, {}, {}, {}});
}

void TStrategyRunner::Stop() {
    Post({TCommand::TKind::Stop, {}, {}, {}});
}

TStrategyStatus TStrategyRunner::Status() const {
    std::lock_guard lock(FLock);
    return FStatus;
}

void TStrategyRunner::Publish() {
    {
        std::lock_guard lock(FLock);
        if (FStrategy != nullptr) {
            FStatus.Name = FStrategy->Name();
            FStatus.State = FStrategy->State();
            FStatus.Params = FStrategy->Params();
            FStatus.Error = FStrategy->Error();
        }
        ++FStatus.Serial;
    }
    if (FOnChange)
        FOnChange();
}

void TStrategyRunner::OnHookEvent() {
    for (;;) {
        TCommand command;
        {
            std::lock_guard lock(FLock);
            if (FCommands.empty())
                return;
            command = std::move(FCommands.front());
            FCommands.pop_front();
        }
        if (FStrategy == nullptr)
            FStrategy =
                std::make_unique<TStrategy>(FWorld, FExpert.isin_id, FExpert.Futisin, FLimits);
        switch (command.Kind) {
        case TCommand::TKind::Load:
            FStrategy->Load(command.Name, command.Source);
            break;
        case TCommand::TKind::Params: {
            std::string error;
            if (!FStrategy->SetParams(command.Overrides, error))
                FWorld.Log("Стратегия " + FStrategy->Name() + ": " + error + ".");
            break;
        }
        case TCommand::TKind::Start:
            FStrategy->Start();
            break;
        case TCommand::TKind::Stop:
            FStrategy->Stop();
            break;
        }
        Publish();
    }
}

void TStrategyRunner::OnTick() {
    if (FStrategy == nullptr || !FStrategy->Running())
        return;
    // The orders log wakes the expert like any row of its instrument: what became of the
    // strategy's orders is told before the tick that may act on it.
    FStrategy->OrderEvents();
    if (FStrategy->Running())
        FStrategy->Tick();
    if (!FStrategy->Running())
        Publish();
}

void TStrategyRunner::OnOrderReplies() {
    if (FStrategy == nullptr)
        return;
    const bool wasRunning = FStrategy->Running();
    FStrategy->OrderEvents();
    if (wasRunning && !FStrategy->Running())
        Publish();
}

void TStrategyRunner::OnThreadEnd() {
    // The expert is going away: a running strategy gets its on_stop (a market maker takes its
    // quotes off), and the Lua state goes with the thread that made it. The window is being
    // closed, so nobody is told.
    if (FStrategy != nullptr)
        FStrategy->Stop();
    FStrategy.reset();
}

} // namespace vorlen
