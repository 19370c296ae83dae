// The call budget and the library functions replaced so that nothing a script does can outlast
// it. Lua looks at the budget only from its count hook, which fires between VM instructions of
// the thread it is set on, and never while a finalizer or an error handler after a hook's error
// runs (Lua turns hooks off there). So: every thread gets the hook, an overrun cannot be caught
// (pcall, xpcall and resume raise it again), no finalizer can be declared, and the C functions
// that could loop for long without an instruction count their own work.

#include "platform/Compiler.h"
#include "strategies/StrategyLua.h"

#include <algorithm>
#include <climits>
#include <cstring>

extern "C" {
#include <lualib.h>
}

namespace vorlen {

namespace {

constexpr char kOverrun[] = "превышено время выполнения";

// Records where the script was when its time ran out: the first frame of the script's own from
// `level` up (a C function has no line).
void NoteOverrun(lua_State* L, int level) {
    TStrategyHostState& h = HostOf(L);
    if (h.Overrun)
        return;
    h.Overrun = true;
    lua_Debug ar;
    for (int at = level; at < level + 8 && lua_getstack(L, at, &ar) != 0; ++at) {
        if (lua_getinfo(L, "Sl", &ar) != 0 && ar.currentline > 0) {
            h.OverrunAt = std::string(ar.short_src) + ":" + std::to_string(ar.currentline) + ":";
            break;
        }
    }
}

// From now on every instruction of this thread and of the main one raises again, so whatever
// catches the error, the next instruction after it raises once more, up to the host.
[[noreturn]] void RaiseOverrun(lua_State* L) {
    TStrategyHostState& h = HostOf(L);
    lua_sethook(L, BudgetHook, LUA_MASKCOUNT, 1);
    lua_sethook(h.L, BudgetHook, LUA_MASKCOUNT, 1);
    lua_pushstring(L, kOverrun);
    lua_error(L);
    platform::Unreachable();
}

} // namespace

void BudgetHook(lua_State* L, lua_Debug* ar) {
    TStrategyHostState& h = HostOf(L);
    if (!h.Overrun) {
        if (std::chrono::steady_clock::now() < h.Deadline)
            return;
        h.Overrun = true;
        if (lua_getinfo(L, "Sl", ar) != 0 && ar->currentline > 0)
            h.OverrunAt = std::string(ar->short_src) + ":" + std::to_string(ar->currentline) + ":";
    }
    RaiseOverrun(L);
}

void SetBudgetHook(lua_State* L) {
    lua_sethook(L, BudgetHook, LUA_MASKCOUNT, HostOf(L).Overrun ? 1 : kHookEvery);
}

void CheckBudget(lua_State* L) {
    TStrategyHostState& h = HostOf(L);
    if (!h.Overrun && std::chrono::steady_clock::now() < h.Deadline)
        return;
    NoteOverrun(L, 1);
    RaiseOverrun(L);
}

namespace {

// pcall and xpcall as Lua has them, but an overrun goes on up instead of being returned.
int FinishPcall(lua_State* L, int status, lua_KContext extra) {
    if (HostOf(L).Overrun)
        RaiseOverrun(L);
    if (status != LUA_OK && status != LUA_YIELD) {
        lua_pushboolean(L, 0);
        lua_pushvalue(L, -2);
        return 2;
    }
    return lua_gettop(L) - static_cast<int>(extra);
}

int Pcall(lua_State* L) {
    luaL_checkany(L, 1);
    lua_pushboolean(L, 1);
    lua_insert(L, 1);
    const int status = lua_pcallk(L, lua_gettop(L) - 2, LUA_MULTRET, 0, 0, FinishPcall);
    return FinishPcall(L, status, 0);
}

// The script's message handler, skipped for an overrun: after an error raised by the hook Lua
// runs the handler with hooks off, where a loop would never end.
int GuardedHandler(lua_State* L) {
    if (HostOf(L).Overrun)
        return 1;
    lua_settop(L, 1);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, 1, 1);
    return 1;
}

int Xpcall(lua_State* L) {
    const int n = lua_gettop(L);
    luaL_checktype(L, 2, LUA_TFUNCTION);
    lua_pushvalue(L, 2);
    lua_pushcclosure(L, GuardedHandler, 1);
    lua_replace(L, 2);
    lua_pushboolean(L, 1);
    lua_pushvalue(L, 1);
    lua_rotate(L, 3, 2);
    const int status = lua_pcallk(L, n - 2, LUA_MULTRET, 2, 2, FinishPcall);
    return FinishPcall(L, status, 2);
}

int NewCoroutine(lua_State* L) {
    luaL_checktype(L, 1, LUA_TFUNCTION);
    lua_State* co = lua_newthread(L);
    SetBudgetHook(co);
    lua_pushvalue(L, 1);
    lua_xmove(L, co, 1);
    return 1;
}

// Resumes `co` with `narg` values from L; the count of results moved to L, or -1 and the error.
int ResumeWith(lua_State* L, lua_State* co, int narg) {
    if (!lua_checkstack(co, narg)) {
        lua_pushliteral(L, "too many arguments to resume");
        return -1;
    }
    lua_xmove(L, co, narg);
    int nres = 0;
    TStrategyHostState& h = HostOf(L);
    h.Current = co;
    const int status = lua_resume(co, L, narg, &nres);
    h.Current = L;
    // The coroutine was stopped by the hook: it goes no further, and neither does its resumer.
    if (h.Overrun)
        RaiseOverrun(L);
    if (status == LUA_OK || status == LUA_YIELD) {
        if (!lua_checkstack(L, nres + 1)) {
            lua_pop(co, nres);
            lua_pushliteral(L, "too many results to resume");
            return -1;
        }
        lua_xmove(co, L, nres);
        return nres;
    }
    lua_xmove(co, L, 1);
    return -1;
}

int Resume(lua_State* L) {
    lua_State* co = lua_tothread(L, 1);
    luaL_argexpected(L, co != nullptr, 1, "coroutine");
    const int r = ResumeWith(L, co, lua_gettop(L) - 1);
    if (r < 0) {
        lua_pushboolean(L, 0);
        lua_insert(L, -2);
        return 2;
    }
    lua_pushboolean(L, 1);
    lua_insert(L, -(r + 1));
    return r + 1;
}

int WrapCall(lua_State* L) {
    lua_State* co = lua_tothread(L, lua_upvalueindex(1));
    const int r = ResumeWith(L, co, lua_gettop(L));
    if (r >= 0)
        return r;
    // Not after an overrun (ResumeWith raised it): the coroutine's to-be-closed variables would
    // run with hooks off.
    int status = lua_status(co);
    if (status != LUA_OK && status != LUA_YIELD) {
        status = lua_resetthread(co);
        lua_xmove(co, L, 1);
    }
    if (status != LUA_ERRMEM && lua_type(L, -1) == LUA_TSTRING) {
        luaL_where(L, 1);
        lua_insert(L, -2);
        lua_concat(L, 2);
    }
    return lua_error(L);
}

int Wrap(lua_State* L) {
    NewCoroutine(L);
    lua_pushcclosure(L, WrapCall, 1);
    return 1;
}

// Lua runs finalizers with hooks off, at any allocation and when the state closes: a __gc that
// loops would never be stopped. Scripts cannot create userdata, so tables are the only way.
int SetMetatable(lua_State* L) {
    const int t = lua_type(L, 2);
    luaL_checktype(L, 1, LUA_TTABLE);
    luaL_argexpected(L, t == LUA_TNIL || t == LUA_TTABLE, 2, "nil or table");
    if (t == LUA_TTABLE) {
        lua_pushliteral(L, "__gc");
        const bool gc = lua_rawget(L, 2) != LUA_TNIL;
        lua_pop(L, 1);
        luaL_argcheck(L, !gc, 2, "метаметод __gc в стратегиях не поддерживается");
    }
    if (luaL_getmetafield(L, 1, "__metatable") != LUA_TNIL)
        return luaL_error(L, "cannot change a protected metatable");
    lua_settop(L, 2);
    lua_setmetatable(L, 1);
    return 1;
}

// Lua's own repeats an empty string and separator n times, up to 2^63, doing nothing each time.
int Rep(lua_State* L) {
    std::size_t l = 0;
    std::size_t lsep = 0;
    const char* s = luaL_checklstring(L, 1, &l);
    const lua_Integer n = luaL_checkinteger(L, 2);
    const char* sep = luaL_optlstring(L, 3, "", &lsep);
    if (n <= 0 || l + lsep == 0) {
        lua_pushliteral(L, "");
        return 1;
    }
    if (l + lsep < l || l + lsep > static_cast<std::size_t>(LUA_MAXINTEGER) / n)
        return luaL_error(L, "resulting string too large");
    const std::size_t total =
        static_cast<std::size_t>(n) * l + static_cast<std::size_t>(n - 1) * lsep;
    luaL_Buffer b;
    char* p = luaL_buffinitsize(L, &b, total);
    for (lua_Integer i = 1; i < n; ++i) {
        std::memcpy(p, s, l);
        p += l;
        if (lsep > 0) {
            std::memcpy(p, sep, lsep);
            p += lsep;
        }
    }
    std::memcpy(p, s, l);
    luaL_pushresultsize(&b, total);
    return 1;
}

// table.insert, remove and move loop over as many elements as a __len or the arguments say,
// without an instruction: they look at the budget every so many.
constexpr lua_Integer kMovesPerCheck = 4096;

void Moved(lua_State* L, lua_Integer i) {
    if (i % kMovesPerCheck == 0)
        CheckBudget(L);
}

int Insert(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    const lua_Integer e = luaL_intop(+, luaL_len(L, 1), 1);
    lua_Integer pos = e;
    switch (lua_gettop(L)) {
    case 2:
        break;
    case 3:
        pos = luaL_checkinteger(L, 2);
        luaL_argcheck(L, static_cast<lua_Unsigned>(pos) - 1u < static_cast<lua_Unsigned>(e), 2,
                      "position out of bounds");
        for (lua_Integer i = e; i > pos; --i) {
            lua_geti(L, 1, i - 1);
            lua_seti(L, 1, i);
            Moved(L, i);
        }
        break;
    default:
        return luaL_error(L, "wrong number of arguments to 'insert'");
    }
    lua_seti(L, 1, pos);
    return 0;
}

int Remove(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    const lua_Integer size = luaL_len(L, 1);
    lua_Integer pos = luaL_optinteger(L, 2, size);
    if (pos != size)
        luaL_argcheck(L, static_cast<lua_Unsigned>(pos) - 1u <= static_cast<lua_Unsigned>(size), 2,
                      "position out of bounds");
    lua_geti(L, 1, pos);
    for (; pos < size; ++pos) {
        lua_geti(L, 1, pos + 1);
        lua_seti(L, 1, pos);
        Moved(L, pos);
    }
    lua_pushnil(L);
    lua_seti(L, 1, pos);
    return 1;
}

int Move(lua_State* L) {
    const lua_Integer f = luaL_checkinteger(L, 2);
    const lua_Integer e = luaL_checkinteger(L, 3);
    const lua_Integer t = luaL_checkinteger(L, 4);
    const int tt = !lua_isnoneornil(L, 5) ? 5 : 1;
    luaL_checktype(L, 1, LUA_TTABLE);
    luaL_checktype(L, tt, LUA_TTABLE);
    if (e >= f) {
        luaL_argcheck(L, f > 0 || e < LUA_MAXINTEGER + f, 3, "too many elements to move");
        const lua_Integer n = e - f + 1;
        luaL_argcheck(L, t <= LUA_MAXINTEGER - n + 1, 4, "destination wrap around");
        if (t > e || t <= f || (tt != 1 && lua_compare(L, 1, tt, LUA_OPEQ) == 0)) {
            for (lua_Integer i = 0; i < n; ++i) {
                lua_geti(L, 1, f + i);
                lua_seti(L, tt, t + i);
                Moved(L, i + 1);
            }
        } else {
            for (lua_Integer i = n - 1; i >= 0; --i) {
                lua_geti(L, 1, f + i);
                lua_seti(L, tt, t + i);
                Moved(L, i + 1);
            }
        }
    }
    lua_pushvalue(L, tt);
    return 1;
}

// table.sort as Lua's, but counted. Lua's own compares in C, where no hook fires, and a
// comparison of two strings reads them through: a table holding one long string a hundred
// thousand times sorts for minutes in one call. A heap sort, so that no order function, however
// inconsistent, makes it read past the array, and every comparison is charged by what it reads.
class THeapSort {
public:
    explicit THeapSort(lua_State* L) : L(L), FHasLess(!lua_isnoneornil(L, 2)) {}

    void Run(lua_Integer n) {
        for (lua_Integer root = n / 2; root >= 1; --root)
            SiftDown(root, n);
        for (lua_Integer end = n; end > 1; --end) {
            Swap(1, end);
            SiftDown(1, end - 1);
        }
    }

private:
    // Steps (a comparison, 16 bytes of two strings compared) between two looks at the clock.
    static constexpr long kStepsPerCheck = 1 << 14;

    void SiftDown(lua_Integer root, lua_Integer end) {
        for (lua_Integer child = 2 * root; child <= end; child = 2 * root) {
            if (child < end && Less(child, child + 1))
                ++child;
            if (!Less(root, child))
                return;
            Swap(root, child);
            root = child;
        }
    }

    bool Less(lua_Integer i, lua_Integer j) {
        if (FHasLess)
            lua_pushvalue(L, 2);
        lua_geti(L, 1, i);
        lua_geti(L, 1, j);
        long steps = 1;
        if (lua_type(L, -2) == LUA_TSTRING && lua_type(L, -1) == LUA_TSTRING)
            steps += static_cast<long>(std::min(lua_rawlen(L, -2), lua_rawlen(L, -1)) / 16);
        FSteps += steps;
        if (FSteps >= kStepsPerCheck) {
            FSteps = 0;
            CheckBudget(L);
        }
        bool less = false;
        if (FHasLess) {
            lua_call(L, 2, 1);
            less = lua_toboolean(L, -1) != 0;
            lua_pop(L, 1);
        } else {
            less = lua_compare(L, -2, -1, LUA_OPLT) != 0;
            lua_pop(L, 2);
        }
        return less;
    }

    void Swap(lua_Integer i, lua_Integer j) {
        lua_geti(L, 1, i);
        lua_geti(L, 1, j);
        lua_seti(L, 1, i);
        lua_seti(L, 1, j);
    }

    lua_State* L;
    bool FHasLess;
    long FSteps = 0;
};

int Sort(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    const lua_Integer n = luaL_len(L, 1);
    if (n > 1) {
        luaL_argcheck(L, n < INT_MAX, 1, "array too big");
        if (!lua_isnoneornil(L, 2))
            luaL_checktype(L, 2, LUA_TFUNCTION);
        lua_settop(L, 2);
        THeapSort(L).Run(n);
    }
    return 0;
}

// A full collection of a big heap takes tens of milliseconds in one VM instruction: a loop of
// them would pass many budgets between two looks of the hook. Lua's own does the work; the
// arguments are checked here, so that an error names collectgarbage.
int CollectGarbage(lua_State* L) {
    static const char* const options[] = {
        "stop",       "restart",   "collect",      "count",       "step",  "setpause",
        "setstepmul", "isrunning", "generational", "incremental", nullptr,
    };
    luaL_checkoption(L, 1, "collect", options);
    for (int arg = 2; arg <= 4; ++arg)
        luaL_optinteger(L, arg, 0);
    const int n = lua_gettop(L);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, n, LUA_MULTRET);
    CheckBudget(L);
    return lua_gettop(L);
}

void Replace(lua_State* L, const char* table, const luaL_Reg* fns) {
    if (table == nullptr) {
        lua_pushglobaltable(L);
    } else {
        lua_getglobal(L, table);
    }
    luaL_setfuncs(L, fns, 0);
    lua_pop(L, 1);
}

} // namespace

void OpenBudgetGuards(lua_State* L) {
    static const luaL_Reg base[] = {
        {"pcall", Pcall},
        {"xpcall", Xpcall},
        {"setmetatable", SetMetatable},
        {nullptr, nullptr},
    };
    static const luaL_Reg coroutine[] = {
        {"create", NewCoroutine},
        {"resume", Resume},
        {"wrap", Wrap},
        {nullptr, nullptr},
    };
    static const luaL_Reg string[] = {{"rep", Rep}, {nullptr, nullptr}};
    static const luaL_Reg table[] = {
        {"insert", Insert}, {"remove", Remove}, {"move", Move}, {"sort", Sort}, {nullptr, nullptr},
    };
    Replace(L, nullptr, base);
    lua_getglobal(L, "collectgarbage");
    lua_pushcclosure(L, CollectGarbage, 1);
    lua_setglobal(L, "collectgarbage");
    Replace(L, LUA_COLIBNAME, coroutine);
    Replace(L, LUA_STRLIBNAME, string);
    Replace(L, LUA_TABLIBNAME, table);
    lua_getglobal(L, LUA_STRLIBNAME);
    OpenPatternFunctions(L);
    lua_pop(L, 1);
}

} // namespace vorlen
