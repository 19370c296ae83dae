#pragma once

// One trader's strategy script bound to one expert. Everything here runs on the expert's own
// thread: each run gets a fresh Lua state, created by Start and closed by Stop or by the first
// error, so a stopped strategy has no state left that could send anything.

#include "strategies/StrategyParams.h"
#include "strategies/StrategyWorld.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vorlen {

struct TStrategyLimits {
    std::size_t MemoryBytes = std::size_t{64} << 20;
    // Each call of the script, the top level included; a script that overruns is stopped.
    std::chrono::milliseconds CallBudget{500};
};

struct TStrategyHostState;

class TStrategy {
public:
    enum class TState { Empty, Loaded, Running, Failed };

    TStrategy(TStrategyWorld& world, std::int32_t isinId, std::string isin,
              TStrategyLimits limits = {});
    ~TStrategy();
    TStrategy(const TStrategy&) = delete;
    TStrategy& operator=(const TStrategy&) = delete;

    // Runs the script's top level once to read its `params`; a running strategy is stopped
    // first. False (state Failed, the reason in Error and in the journal) when the script does
    // not compile, fails, overruns or declares a parameter of a kind we cannot edit.
    bool Load(const std::string& name, const std::string& source);
    // Each run starts with these values.
    bool SetParams(const std::vector<TParamOverride>& overrides, std::string& error);
    // A fresh state, the parameters set, then on_start. False when there is nothing loaded, it
    // is running already, trading is halted, or the script fails.
    bool Start();
    // on_tick, then on_book when the instrument's book changed since the last call.
    void Tick();
    // on_order for every own-order event waiting.
    void OrderEvents();
    // on_stop, then the state goes.
    void Stop();

    TState State() const { return FState; }
    bool Running() const { return FState == TState::Running; }
    const std::string& Name() const { return FName; }
    const std::string& Error() const { return FError; }
    const TStrategyParams& Params() const { return FParams; }

    // The memory in use by the running state (0 without one); for tests and the bench.
    std::size_t MemoryUsed() const;

private:
    bool OpenState(bool forRun);
    void CloseState();
    // Calls the global function `name` with ctx (and the event, for on_order); a missing
    // function is no error. False after a failure, which stops the run.
    bool Call(const char* name, const TOrderEvent* ev);
    void Fail(const std::string& where, int status);
    void LogQuietly(const std::string& line) noexcept;
    bool ReadParams();
    void PushParams();

    TStrategyWorld& FWorld;
    std::int32_t FIsinId;
    std::string FIsin;
    TStrategyLimits FLimits;
    std::unique_ptr<TStrategyHostState> FHost;
    std::string FName;
    std::string FSource;
    TStrategyParams FParams;
    TState FState = TState::Empty;
    std::string FError;
    std::uint64_t FBookVersion = 0;
};

} // namespace vorlen
