#include "strategies/Strategy.h"

#include "strategies/StrategyLua.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace vorlen {

namespace {

// A block this big costs more than a look at the clock (string.rep, concatenations,
// table.concat: work in C that may take long without a VM instruction).
constexpr std::size_t kTimedBlock = std::size_t{64} << 10;

void* Allocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) {
    auto& h = *static_cast<TStrategyHostState*>(ud);
    // Without a block, osize tells the kind of object, not a size.
    const std::size_t old = ptr != nullptr ? osize : 0;
    if (nsize == 0) {
        std::free(ptr);
        h.MemoryUsed -= old;
        return nullptr;
    }
    if (nsize > old && h.MemoryUsed - old + nsize > h.MemoryLimit) {
        h.MemoryExceeded = true;
        return nullptr;
    }
    // The script's work in C is seen here when it takes big blocks: once the time is spent, the
    // thread running next raises the overrun at its next instruction.
    if (nsize >= kTimedBlock && nsize > old && h.Timed && !h.Overrun &&
        std::chrono::steady_clock::now() >= h.Deadline)
        lua_sethook(h.Current, BudgetHook, LUA_MASKCOUNT, 1);
    void* p = std::realloc(ptr, nsize);
    if (p != nullptr)
        h.MemoryUsed = h.MemoryUsed - old + nsize;
    return p;
}

std::string ErrorText(lua_State* L, int status, const TStrategyHostState& h,
                      std::chrono::milliseconds budget, std::size_t memoryLimit) {
    if (h.Overrun) {
        return (h.OverrunAt.empty() ? std::string() : h.OverrunAt + " ") +
               "превышено время выполнения (" + std::to_string(budget.count()) + " мс)";
    }
    // Read without converting: a conversion allocates, and nothing protects us here.
    if (lua_type(L, -1) == LUA_TSTRING) {
        size_t len = 0;
        const char* text = lua_tolstring(L, -1, &len);
        std::string message(text, len);
        // A memory error a script caught and raised again still reads "not enough memory".
        if (status == LUA_ERRMEM || (h.MemoryExceeded && message.ends_with("not enough memory")))
            return "превышен предел памяти (" + std::to_string(memoryLimit >> 20) + " МБ)";
        return message;
    }
    if (status == LUA_ERRMEM)
        return "превышен предел памяти (" + std::to_string(memoryLimit >> 20) + " МБ)";
    if (lua_isinteger(L, -1))
        return std::to_string(lua_tointeger(L, -1));
    if (lua_type(L, -1) == LUA_TNUMBER)
        return std::to_string(lua_tonumber(L, -1));
    return std::string("ошибка без текста (") + luaL_typename(L, -1) + ")";
}

bool IsIdentifier(const char* s, std::size_t len) {
    if (len == 0 || std::strlen(s) != len)
        return false;
    for (std::size_t i = 0; i < len; ++i) {
        const char c = s[i];
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        if (!alpha && !(i > 0 && c >= '0' && c <= '9'))
            return false;
    }
    return true;
}

// The value on the top of the stack as a parameter's kind and text; false for any other type.
bool ReadParamValue(lua_State* L, TStrategyParam& p) {
    switch (lua_type(L, -1)) {
    case LUA_TNUMBER:
        p.Kind = lua_isinteger(L, -1) ? TParamKind::Integer : TParamKind::Number;
        break;
    case LUA_TBOOLEAN:
        p.Kind = TParamKind::Boolean;
        p.Value = lua_toboolean(L, -1) ? "true" : "false";
        return true;
    case LUA_TSTRING:
        p.Kind = TParamKind::String;
        break;
    default:
        return false;
    }
    // A copy, so that the number in the table is not turned into a string.
    lua_pushvalue(L, -1);
    std::size_t len = 0;
    const char* text = lua_tolstring(L, -1, &len);
    p.Value.assign(text, len);
    lua_pop(L, 1);
    return true;
}

// Entry `index` of the table on the top of the stack, a text or nothing; false for anything else.
bool ReadParamText(lua_State* L, int index, std::string& out) {
    const int type = lua_rawgeti(L, -1, index);
    std::size_t len = 0;
    if (type == LUA_TSTRING) {
        const char* text = lua_tolstring(L, -1, &len);
        out.assign(text, len);
    }
    lua_pop(L, 1);
    return type == LUA_TSTRING || type == LUA_TNIL;
}

} // namespace

TStrategy::TStrategy(TStrategyWorld& world, std::int32_t isinId, std::string isin,
                     TStrategyLimits limits)
    : FWorld(world), FIsinId(isinId), FIsin(std::move(isin)), FLimits(limits),
      FHost(std::make_unique<TStrategyHostState>()) {
    FHost->World = &FWorld;
    FHost->Isin = FIsin;
    FHost->MemoryLimit = FLimits.MemoryBytes;
}

TStrategy::~TStrategy() {
    CloseState();
}

std::size_t TStrategy::MemoryUsed() const {
    return FHost->L != nullptr ? FHost->MemoryUsed : 0;
}

namespace {
// The key of ctx in the registry: an address of ours, so no script value can collide with it.
const char kCtxKey = 0;
constexpr const char kLoading[] = "загрузке";
} // namespace

bool TStrategy::OpenState(bool forRun) {
    CloseState();
    TStrategyHostState& h = *FHost;
    h.MemoryUsed = 0;
    h.MemoryExceeded = false;
    h.Overrun = false;
    h.OverrunAt.clear();
    h.Name = FName;
    h.Refusals = {};
    lua_State* L = lua_newstate(Allocate, &h);
    if (L == nullptr) {
        FState = TState::Failed;
        FError = "не удалось создать состояние Lua";
        FWorld.Log("Стратегия " + FName + " не запущена: " + FError);
        return false;
    }
    h.L = L;
    *static_cast<TStrategyHostState**>(lua_getextraspace(L)) = &h;
    h.Deadline = std::chrono::steady_clock::now() + FLimits.CallBudget;
    h.ReplyCredit = FLimits.CallBudget;
    SetBudgetHook(L);

    auto sandbox = [](lua_State* L) {
        OpenSandbox(L);
        return 0;
    };
    int status = Protected(L, 0, 0, sandbox);
    if (status == LUA_OK) {
        const std::string chunkName = "@" + FName;
        status = luaL_loadbufferx(L, FSource.data(), FSource.size(), chunkName.c_str(), "t");
        if (status == LUA_OK) {
            h.Timed = true;
            h.Current = L;
            status = lua_pcall(L, 0, 0, 0);
            h.Timed = false;
        }
    }
    if (status == LUA_OK && forRun) {
        auto run = [this](lua_State* L) {
            PushParams();
            PushContext(L, FIsin, FIsinId);
            lua_getglobal(L, "params");
            lua_setfield(L, -2, "params");
            lua_rawsetp(L, LUA_REGISTRYINDEX, &kCtxKey);
            return 0;
        };
        status = Protected(L, 0, 0, run);
    }
    if (status != LUA_OK) {
        Fail(forRun ? "запуске" : kLoading, status);
        return false;
    }
    return true;
}

void TStrategy::CloseState() {
    TStrategyHostState& h = *FHost;
    h.Phase = TStrategyHostState::TPhase::Idle;
    h.Timed = false;
    if (h.L != nullptr) {
        // A script declares no finalizers (setmetatable refuses __gc): closing runs none of its
        // code.
        lua_close(h.L);
        const auto now = FWorld.RuleClock();
        for (const std::string& line :
             {h.LogLines.TakeLine(now, FName, true), h.Refusals.TakeLine(now, FName, true)}) {
            if (!line.empty())
                LogQuietly(line);
        }
    }
    h.L = nullptr;
}

void TStrategy::LogQuietly(const std::string& line) noexcept {
    // Also called from the destructor: a journal that fails here has nobody to tell.
    try {
        FWorld.Log(line);
    } catch (...) {
    }
}

void TStrategy::Fail(const std::string& where, int status) {
    FError = ErrorText(FHost->L, status, *FHost, FLimits.CallBudget, FLimits.MemoryBytes);
    FState = TState::Failed;
    CloseState();
    // Its orders stay where they are: after a fault the trader decides, not the script.
    if (where == kLoading)
        FWorld.Log("Стратегия " + FName + " не загружена: " + FError);
    else
        FWorld.Log("Стратегия " + FName + " остановлена: ошибка при " + where + ": " + FError);
}

bool TStrategy::ReadParams() {
    FParams.clear();
    FError.clear();
    // Only members are written in here: an error raised half-way leaves nothing to unwind.
    auto read = [this](lua_State* L) {
        lua_getglobal(L, "params");
        if (lua_isnil(L, -1))
            return 0;
        if (!lua_istable(L, -1)) {
            FError = "params должна быть таблицей";
            return 0;
        }
        lua_pushnil(L);
        while (lua_next(L, -2) != 0) {
            std::size_t len = 0;
            const char* key = lua_type(L, -2) == LUA_TSTRING ? lua_tolstring(L, -2, &len) : nullptr;
            if (key == nullptr || !IsIdentifier(key, len)) {
                FError = "имена параметров должны быть именами Lua";
                return 0;
            }
            FParams.emplace_back();
            TStrategyParam& p = FParams.back();
            p.Name.assign(key, len);
            if (lua_istable(L, -1)) {
                // {value, "label", "description"}: read raw, so no metamethod of the script runs.
                lua_rawgeti(L, -1, 1);
                const bool valueRead = ReadParamValue(L, p);
                lua_pop(L, 1);
                if (!valueRead || !ReadParamText(L, 2, p.Label) ||
                    !ReadParamText(L, 3, p.Description)) {
                    FError = "параметр " + p.Name + ": ожидается {значение, \"подпись\", " +
                             "\"описание\"}";
                    return 0;
                }
            } else if (!ReadParamValue(L, p)) {
                FError = "параметр " + p.Name + " должен быть числом, строкой или true/false";
                return 0;
            }
            lua_pop(L, 1);
        }
        return 0;
    };
    const int status = Protected(FHost->L, 0, 0, read);
    if (status != LUA_OK) {
        FError = ErrorText(FHost->L, status, *FHost, FLimits.CallBudget, FLimits.MemoryBytes);
        return false;
    }
    std::sort(FParams.begin(), FParams.end(),
              [](const TStrategyParam& a, const TStrategyParam& b) { return a.Name < b.Name; });
    return FError.empty();
}

void TStrategy::PushParams() {
    // A new table each run: what a script changed in params last time is gone.
    lua_State* L = FHost->L;
    lua_createtable(L, 0, static_cast<int>(FParams.size()));
    for (const TStrategyParam& p : FParams) {
        switch (p.Kind) {
        case TParamKind::Integer:
            lua_pushinteger(L, std::strtoll(p.Value.c_str(), nullptr, 10));
            break;
        case TParamKind::Number:
            lua_pushnumber(L, std::strtod(p.Value.c_str(), nullptr));
            break;
        case TParamKind::Boolean:
            lua_pushboolean(L, p.Value == "true");
            break;
        case TParamKind::String:
            lua_pushlstring(L, p.Value.data(), p.Value.size());
            break;
        }
        lua_setfield(L, -2, p.Name.c_str());
    }
    lua_setglobal(L, "params");
}

bool TStrategy::Load(const std::string& name, const std::string& source) {
    if (Running())
        Stop();
    FName = name;
    FSource = source;
    FError.clear();
    FParams.clear();
    if (!OpenState(false))
        return false;
    const bool ok = ReadParams();
    CloseState();
    if (!ok) {
        FState = TState::Failed;
        FWorld.Log("Стратегия " + FName + " не загружена: " + FError);
        return false;
    }
    FState = TState::Loaded;
    FWorld.Log("Стратегия " + FName + " загружена.");
    return true;
}

bool TStrategy::SetParams(const std::vector<TParamOverride>& overrides, std::string& error) {
    return ApplyParamOverrides(FParams, overrides, error);
}

bool TStrategy::Start() {
    if (FState == TState::Empty || Running() || FSource.empty())
        return false;
    if (const std::string halt = FWorld.HaltReason(); !halt.empty()) {
        FWorld.Log("Стратегия " + FName + " не запущена: " + halt);
        return false;
    }
    FError.clear();
    if (!OpenState(true))
        return false;
    FBookVersion = FWorld.BookVersion();
    FState = TState::Running;
    FHost->Phase = TStrategyHostState::TPhase::Running;
    FWorld.Log("Стратегия " + FName + " запущена.");
    return Call("on_start", nullptr);
}

bool TStrategy::Call(const char* name, const TOrderEvent* ev) {
    TStrategyHostState& h = *FHost;
    if (h.L == nullptr)
        return false;
    auto call = [name, ev](lua_State* L) {
        lua_getglobal(L, name);
        if (lua_type(L, -1) != LUA_TFUNCTION)
            return 0;
        lua_rawgetp(L, LUA_REGISTRYINDEX, &kCtxKey);
        if (ev != nullptr) {
            lua_createtable(L, 0, 5);
            lua_pushinteger(L, ev->Id);
            lua_setfield(L, -2, "id");
            lua_pushlstring(L, ev->State.data(), ev->State.size());
            lua_setfield(L, -2, "state");
            lua_pushinteger(L, ev->Code);
            lua_setfield(L, -2, "code");
            lua_pushlstring(L, ev->Text.data(), ev->Text.size());
            lua_setfield(L, -2, "text");
            lua_pushinteger(L, ev->Rest);
            lua_setfield(L, -2, "rest");
        }
        lua_call(L, ev != nullptr ? 2 : 1, 0);
        return 0;
    };
    h.MemoryExceeded = false;
    h.Deadline = std::chrono::steady_clock::now() + FLimits.CallBudget;
    h.ReplyCredit = FLimits.CallBudget;
    SetBudgetHook(h.L);
    h.Timed = true;
    h.Current = h.L;
    const int status = Protected(h.L, 0, 0, call);
    h.Timed = false;
    const auto now = FWorld.RuleClock();
    for (const std::string& line :
         {h.LogLines.TakeLine(now, FName), h.Refusals.TakeLine(now, FName)}) {
        if (!line.empty())
            FWorld.Log(line);
    }
    if (status != LUA_OK) {
        Fail(name, status);
        return false;
    }
    return true;
}

void TStrategy::Tick() {
    if (!Running() || !Call("on_tick", nullptr))
        return;
    const std::uint64_t version = FWorld.BookVersion();
    if (version != FBookVersion) {
        FBookVersion = version;
        Call("on_book", nullptr);
    }
}

void TStrategy::OrderEvents() {
    TOrderEvent ev;
    // Events that reach a strategy not running are read and dropped, so that none is handed to
    // a later run for an order it never placed.
    while (FWorld.NextOrderEvent(ev)) {
        if (Running())
            Call("on_order", &ev);
    }
}

void TStrategy::Stop() {
    if (!Running())
        return;
    // on_stop may still cancel; it may not place anything new.
    FHost->Phase = TStrategyHostState::TPhase::Stopping;
    const bool ok = Call("on_stop", nullptr);
    if (!ok)
        return;
    CloseState();
    FState = TState::Loaded;
    FWorld.Log("Стратегия " + FName + " остановлена.");
}

} // namespace vorlen
