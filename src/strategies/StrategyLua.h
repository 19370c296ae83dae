#pragma once

// The parts of the Lua host that the ctx functions and the state's set-up share. Lua raises
// errors with longjmp: no function here may raise one while an object with a destructor lives in
// one of our frames.

#include "strategies/RefusalDigest.h"
#include "strategies/StrategyWorld.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace vorlen {

struct TStrategyHostState {
    enum class TPhase { Idle, Running, Stopping };

    TStrategyWorld* World = nullptr;
    std::string Isin; // every order is for it
    TPhase Phase = TPhase::Idle;
    lua_State* L = nullptr;
    lua_State* Current = nullptr; // the thread running now: L or a coroutine

    // The allocator's account.
    std::size_t MemoryUsed = 0;
    std::size_t MemoryLimit = 0;
    bool MemoryExceeded = false;

    // The budget of the call under way. Timed while the script runs: only then may the
    // allocator stop it.
    std::chrono::steady_clock::time_point Deadline;
    bool Timed = false;
    bool Overrun = false;
    std::string OverrunAt; // "name.lua:12:" where it was caught
    // What is left of the call's allowance for waiting on the exchange's answers.
    std::chrono::steady_clock::duration ReplyCredit{};

    // The strategy's name, for the lines written on its behalf.
    std::string Name;
    TRefusalDigest Refusals;
    TLogAllowance LogLines;
};

// How often, in VM instructions, the budget hook looks at the clock: rare enough to cost nothing
// on a short callback, often enough that a loop is caught within milliseconds of its deadline.
constexpr int kHookEvery = 1000;

void BudgetHook(lua_State* L, lua_Debug* ar);
// Sets the budget hook on a thread: every kHookEvery instructions, every one once overrun.
void SetBudgetHook(lua_State* L);
// For C code that works without running VM instructions (the ctx calls, the pattern matcher):
// raises the overrun once the call's time is spent.
void CheckBudget(lua_State* L);

inline TStrategyHostState& HostOf(lua_State* L) {
    return **static_cast<TStrategyHostState**>(lua_getextraspace(L));
}

template <class F>
int ProtectedTrampoline(lua_State* L) {
    F& fn = *static_cast<F*>(lua_touserdata(L, 1));
    lua_remove(L, 1);
    return fn(L);
}

// Runs fn(L) with the `nargs` values on top of the stack as its arguments inside a protected
// call, and returns lua_pcall's status (the error object on top when it is not LUA_OK). Our own
// C++ objects then live only outside fn, where an error raised inside it cannot skip their
// destructors; fn itself keeps none in its frame across a Lua call that may raise.
template <class F>
int Protected(lua_State* L, int nargs, int nresults, F& fn) {
    lua_pushcfunction(L, &ProtectedTrampoline<F>);
    lua_pushlightuserdata(L, &fn);
    lua_rotate(L, -(nargs + 2), 2);
    return lua_pcall(L, nargs + 1, nresults, 0);
}

// Opens the libraries a strategy may use and removes what could reach files, processes, other
// modules or the interpreter's insides.
void OpenSandbox(lua_State* L);

// Replaces the library functions through which a script could outlast its budget: pcall and
// xpcall, the coroutine functions, setmetatable (no __gc), collectgarbage, string.rep,
// table.insert/remove/move.
void OpenBudgetGuards(lua_State* L);

// Replaces string.find, match, gmatch and gsub (the string table on top of the stack) with a
// matcher that counts its steps against the budget.
void OpenPatternFunctions(lua_State* L);

// Pushes a new ctx table for the instrument; its methods reach HostOf(L).
void PushContext(lua_State* L, const std::string& isin, std::int32_t isinId);

// Pushes a field value as the nearest Lua value (nil for none).
void PushFieldValue(lua_State* L, const TField& field);

} // namespace vorlen
