// The sandbox a strategy runs in and the ctx object it is handed.

#include "orders/Decimal.h"
#include "orders/RiskLimits.h"
#include "strategies/StrategyLua.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>
#include <variant>

extern "C" {
#include <lualib.h>
}

namespace vorlen {

namespace {

// Runs a call into the world; what it throws becomes `failure` (the world's parts are ours,
// but nothing may unwind through the interpreter).
template <class F>
void Guard(F&& f, std::string& failure) {
    try {
        f();
    } catch (const std::exception& e) {
        failure = std::string("внутренняя ошибка: ") + e.what();
    } catch (...) {
        failure = "внутренняя ошибка";
    }
}

// The longest text of one journal line a script writes; the rest is cut.
constexpr std::size_t kMaxLogText = 2000;

// A script's text as one journal line: line breaks and other control characters would forge
// lines of the program's own, so they are written visibly; an overlong text is cut (at a
// character's start, so that the line stays UTF-8).
std::string JournalText(const char* text, std::size_t len) {
    std::string out;
    out.reserve(std::min(len, kMaxLogText) + 8);
    for (std::size_t i = 0; i < len; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (out.size() >= kMaxLogText && (c & 0xC0) != 0x80) {
            out += "…";
            break;
        }
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if ((c < 0x20 && c != '\t') || c == 0x7F)
            out += '?';
        else
            out += static_cast<char>(c);
    }
    return out;
}

// A client code as the exchange has them (FZ00001: the broker's four characters and the
// client's three): Latin letters and digits, at most seven.
bool IsClientCode(const char* s, std::size_t len) {
    if (len == 0 || len > 7)
        return false;
    return std::all_of(s, s + len, [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
}

constexpr const char kBadClient[] = "код клиента — от 1 до 7 латинских букв и цифр";

// Joins the arguments from `first` on, as tostring shows them, and hands the text to the
// journal.
// Whether the strategy may write another journal line now (the count of those it may not is
// written once their second is over). No object of ours outlives it: the caller raises Lua errors.
bool AdmitLogLine(lua_State* L) {
    TStrategyHostState& h = HostOf(L);
    const auto now = h.World->RuleClock();
    std::string failure;
    Guard(
        [&] {
            if (const std::string line = h.LogLines.TakeLine(now, h.Name); !line.empty())
                h.World->Log(line);
        },
        failure);
    return h.LogLines.Admit(now);
}

int LogArgs(lua_State* L, int first, const char* separator) {
    CheckBudget(L);
    if (!AdmitLogLine(L))
        return 0;
    const int top = lua_gettop(L);
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    for (int i = first; i <= top; ++i) {
        if (i > first)
            luaL_addstring(&b, separator);
        luaL_tolstring(L, i, nullptr);
        luaL_addvalue(&b);
    }
    luaL_pushresult(&b);
    std::size_t len = 0;
    const char* text = lua_tolstring(L, -1, &len);
    std::string failure;
    Guard([&] { HostOf(L).World->Log(JournalText(text, len)); }, failure);
    return 0;
}

int Print(lua_State* L) {
    return LogArgs(L, 1, "\t");
}

int CtxLog(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    return LogArgs(L, 2, " ");
}

int CtxNow(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    CheckBudget(L);
    double now = 0;
    std::string failure;
    Guard([&] { now = HostOf(L).World->Now(); }, failure);
    lua_pushnumber(L, now);
    return 1;
}

int CtxField(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    CheckBudget(L);
    std::size_t len = 0;
    const char* name = luaL_checklstring(L, 2, &len);
    // Field names are short words: anything else is no field, and is not looked up.
    if (len > 64 || !std::all_of(name, name + len, [](char c) { return c > ' ' && c < 0x7F; })) {
        lua_pushnil(L);
        return 1;
    }
    int status = LUA_OK;
    {
        TField f;
        std::string failure;
        Guard([&] { f = HostOf(L).World->GetField(std::string(name, len)); }, failure);
        // Numbers, booleans and nil are pushed without allocating: no protection needed.
        if (!std::holds_alternative<std::string>(f.Data) &&
            !std::holds_alternative<TBytes>(f.Data)) {
            PushFieldValue(L, f);
            return 1;
        }
        auto push = [&f](lua_State* L) {
            PushFieldValue(L, f);
            return 1;
        };
        status = Protected(L, 0, 1, push);
    }
    return status == LUA_OK ? 1 : lua_error(L);
}

int CtxBook(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    CheckBudget(L);
    // A depth keeps a strategy that wants only the best prices from paying for the whole book.
    const lua_Integer depth = luaL_optinteger(L, 2, std::numeric_limits<lua_Integer>::max());
    luaL_argcheck(L, depth >= 1, 2, "глубина должна быть не меньше 1");
    int status = LUA_OK;
    {
        TBookSnapshot book;
        bool have = false;
        std::string failure;
        Guard([&] { have = HostOf(L).World->Book(book); }, failure);
        auto push = [&](lua_State* L) {
            if (!have) {
                lua_pushnil(L);
                return 1;
            }
            lua_createtable(L, 0, 2);
            const auto side = [L, depth](const std::vector<TBookLevel>& levels, const char* name) {
                const auto n = static_cast<std::size_t>(
                    std::min<lua_Integer>(depth, static_cast<lua_Integer>(levels.size())));
                lua_createtable(L, static_cast<int>(n), 0);
                lua_Integer i = 0;
                for (std::size_t k = 0; k < n; ++k) {
                    const TBookLevel& level = levels[k];
                    lua_createtable(L, 3, 0);
                    lua_pushnumber(L, level.Price);
                    lua_rawseti(L, -2, 1);
                    lua_pushinteger(L, level.Volume);
                    lua_rawseti(L, -2, 2);
                    // The strategy's own quotes are in the volume too: a quoting strategy must
                    // be able to tell the market from itself.
                    lua_pushinteger(L, level.Own);
                    lua_rawseti(L, -2, 3);
                    lua_rawseti(L, -2, ++i);
                }
                lua_setfield(L, -2, name);
            };
            side(book.Bids, "bids");
            side(book.Asks, "asks");
            return 1;
        };
        status = Protected(L, 0, 1, push);
    }
    return status == LUA_OK ? 1 : lua_error(L);
}

int CtxPosition(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    CheckBudget(L);
    std::size_t len = 0;
    const char* client = luaL_optlstring(L, 2, "", &len);
    luaL_argcheck(L, len == 0 || IsClientCode(client, len), 2, kBadClient);
    TPositionInfo pos;
    {
        std::string failure;
        bool have = false;
        Guard([&] { have = HostOf(L).World->Position(std::string(client, len), pos); }, failure);
        if (!have)
            pos = TPositionInfo{};
    }
    lua_pushinteger(L, pos.Net);
    lua_pushnumber(L, pos.AvgPrice);
    return 2;
}

// The default client of an order: the account's own code from the field map.
std::string AccountClient(TStrategyWorld& world) {
    const TField f = world.GetField("client_code");
    const auto* text = std::get_if<std::string>(&f.Data);
    return text != nullptr ? *text : std::string();
}

std::string PlaceOrder(TStrategyHostState& h, orders::TSide side, std::int32_t amount,
                       const TDecimal& price, const char* client, std::size_t clientLen,
                       std::int64_t& id) {
    if (h.Phase != TStrategyHostState::TPhase::Running)
        return h.Phase == TStrategyHostState::TPhase::Stopping ? "стратегия останавливается"
                                                               : "стратегия не запущена";
    std::string refusal = h.World->OrderPathRefusal();
    if (!refusal.empty())
        return refusal;
    const std::optional<TDecimal> step = h.World->PriceStep();
    if (!step)
        return "шаг цены инструмента неизвестен";
    // A buy is never sent above the price asked for and a sell never below it.
    const auto rounded =
        RoundToStep(price, *step, side == orders::TSide::Buy ? TRounding::Down : TRounding::Up);
    const std::optional<std::int64_t> units =
        rounded ? ToUnits(*rounded, orders::kPriceDecimals) : std::nullopt;
    // What the order's message can carry: five decimals, sixteen digits.
    if (!units || *units < -orders::kMaxOrderPrice || *units > orders::kMaxOrderPrice)
        return "цена вне допустимого диапазона";
    orders::TOrderRequest order;
    order.Isin = h.Isin;
    order.Side = side;
    order.Qty = amount;
    order.Price = *units;
    order.FromStrategy = true;
    order.Client = client != nullptr ? std::string(client, clientLen) : AccountClient(*h.World);
    if (order.Client.empty())
        return "не задан код клиента";
    if (!IsClientCode(order.Client.data(), order.Client.size()))
        return "неверный код клиента";
    const auto now = h.World->RuleClock();
    if (const std::string line = h.Refusals.TakeLine(now, h.Name); !line.empty())
        h.World->Log(line);
    if (std::string counted; !h.Refusals.Admit(now, counted))
        return counted;
    const TOrderResult result = h.World->Place(order);
    // The wait for the exchange's answer is not the script's own time, up to as much again as
    // its budget in one call: an exchange that does not answer must not keep it running.
    const auto credit = std::min(result.ReplyWait, h.ReplyCredit);
    h.ReplyCredit -= credit;
    h.Deadline += credit;
    if (!result.Ok())
        h.Refusals.Refused(h.World->RuleClock(), result.Refusal);
    id = result.Id;
    return result.Refusal;
}

// What the script gets back from an order or a cancel: the success value, or nil and the
// refusal's text — a refusal is an answer to handle, not an error that unwinds the script. Returns
// the status of the protected push; the caller raises a failed one once its own strings are gone.
template <class PushSuccess>
int PushAnswer(lua_State* L, const std::string& refusal, PushSuccess success, int& results) {
    auto push = [&refusal, &success](lua_State* L) {
        if (refusal.empty()) {
            success(L);
            return 1;
        }
        lua_pushnil(L);
        lua_pushlstring(L, refusal.data(), refusal.size());
        return 2;
    };
    results = refusal.empty() ? 1 : 2;
    return Protected(L, 0, results, push);
}

int Order(lua_State* L, orders::TSide side) {
    luaL_checktype(L, 1, LUA_TTABLE);
    CheckBudget(L);
    int isInt = 0;
    const lua_Integer qty = lua_tointegerx(L, 2, &isInt);
    luaL_argcheck(L, isInt && qty >= 1 && qty <= std::numeric_limits<std::int32_t>::max(), 2,
                  "количество должно быть целым числом от 1");
    std::optional<TDecimal> price;
    if (lua_type(L, 3) == LUA_TSTRING) {
        std::size_t len = 0;
        const char* text = lua_tolstring(L, 3, &len);
        price = ParseDecimal(std::string_view(text, len));
    } else if (lua_isinteger(L, 3)) {
        price = ParseDecimal(std::to_string(lua_tointeger(L, 3)));
    } else if (lua_type(L, 3) == LUA_TNUMBER) {
        price = DecimalFromDouble(lua_tonumber(L, 3));
    }
    luaL_argcheck(L, price.has_value(), 3, "цена должна быть десятичной строкой или числом");
    std::size_t clientLen = 0;
    const char* client = luaL_optlstring(L, 4, nullptr, &clientLen);
    luaL_argcheck(L, client == nullptr || IsClientCode(client, clientLen), 4, kBadClient);
    int status = LUA_OK;
    int results = 0;
    {
        std::int64_t id = 0;
        std::string refusal;
        Guard(
            [&] {
                refusal = PlaceOrder(HostOf(L), side, static_cast<std::int32_t>(qty), *price,
                                     client, clientLen, id);
            },
            refusal);
        status = PushAnswer(
            L, refusal, [id](lua_State* L) { lua_pushinteger(L, id); }, results);
    }
    return status == LUA_OK ? results : lua_error(L);
}

int CtxBuy(lua_State* L) {
    return Order(L, orders::TSide::Buy);
}

int CtxSell(lua_State* L) {
    return Order(L, orders::TSide::Sell);
}

int CtxCancel(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    CheckBudget(L);
    const lua_Integer id = luaL_checkinteger(L, 2);
    int status = LUA_OK;
    int results = 0;
    {
        TStrategyHostState& h = HostOf(L);
        std::string refusal;
        // Cancelling stays possible while stopping: that is what on_stop is for.
        if (h.Phase == TStrategyHostState::TPhase::Idle)
            refusal = "стратегия не запущена";
        else
            Guard([&] { refusal = h.World->Cancel(id); }, refusal);
        status = PushAnswer(
            L, refusal, [](lua_State* L) { lua_pushboolean(L, 1); }, results);
    }
    return status == LUA_OK ? results : lua_error(L);
}

int CtxOrders(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    CheckBudget(L);
    int status = LUA_OK;
    {
        std::vector<orders::TOwnOrder> orders;
        std::string failure;
        Guard([&] { orders = HostOf(L).World->ActiveOrders(); }, failure);
        auto push = [&orders](lua_State* L) {
            lua_createtable(L, static_cast<int>(orders.size()), 0);
            lua_Integer i = 0;
            for (const orders::TOwnOrder& o : orders) {
                lua_createtable(L, 0, 6);
                lua_pushinteger(L, o.OrderId);
                lua_setfield(L, -2, "id");
                lua_pushstring(L, o.Side == orders::TSide::Buy ? "buy" : "sell");
                lua_setfield(L, -2, "side");
                char price[32];
                lua_pushlstring(
                    L, price, static_cast<std::size_t>(orders::WritePrice(o.Price, price) - price));
                lua_setfield(L, -2, "price");
                lua_pushinteger(L, o.Amount);
                lua_setfield(L, -2, "qty");
                lua_pushinteger(L, o.Rest);
                lua_setfield(L, -2, "rest");
                lua_pushlstring(L, o.Client.data(), o.Client.size());
                lua_setfield(L, -2, "client");
                lua_rawseti(L, -2, ++i);
            }
            return 1;
        };
        status = Protected(L, 0, 1, push);
    }
    return status == LUA_OK ? 1 : lua_error(L);
}

const luaL_Reg kCtxMethods[] = {
    {"field", CtxField}, {"book", CtxBook},     {"position", CtxPosition}, {"buy", CtxBuy},
    {"sell", CtxSell},   {"cancel", CtxCancel}, {"orders", CtxOrders},     {"log", CtxLog},
    {"now", CtxNow},     {nullptr, nullptr},
};

} // namespace

void OpenSandbox(lua_State* L) {
    static const luaL_Reg libs[] = {
        {LUA_GNAME, luaopen_base},        {LUA_TABLIBNAME, luaopen_table},
        {LUA_STRLIBNAME, luaopen_string}, {LUA_MATHLIBNAME, luaopen_math},
        {LUA_UTF8LIBNAME, luaopen_utf8},  {LUA_COLIBNAME, luaopen_coroutine},
    };
    for (const luaL_Reg& lib : libs) {
        luaL_requiref(L, lib.name, lib.func, 1);
        lua_pop(L, 1);
    }
    // Chunks come only from the script the trader loaded: no files, and no bytecode, which Lua
    // does not verify.
    for (const char* name : {"dofile", "loadfile", "load"}) {
        lua_pushnil(L);
        lua_setglobal(L, name);
    }
    lua_getglobal(L, LUA_STRLIBNAME);
    lua_pushnil(L);
    lua_setfield(L, -2, "dump");
    lua_pop(L, 1);
    // Of os, the clocks only.
    luaopen_os(L);
    lua_createtable(L, 0, 2);
    for (const char* name : {"time", "clock"}) {
        lua_getfield(L, -2, name);
        lua_setfield(L, -2, name);
    }
    lua_setglobal(L, "os");
    lua_pop(L, 1);
    lua_pushcfunction(L, Print);
    lua_setglobal(L, "print");
    OpenBudgetGuards(L);
}

void PushContext(lua_State* L, const std::string& isin, std::int32_t isinId) {
    lua_createtable(L, 0, 3);
    lua_pushlstring(L, isin.data(), isin.size());
    lua_setfield(L, -2, "isin");
    lua_pushinteger(L, isinId);
    lua_setfield(L, -2, "isin_id");
    if (luaL_newmetatable(L, "vorlen.ctx") != 0) {
        lua_createtable(L, 0, 9);
        luaL_setfuncs(L, kCtxMethods, 0);
        lua_setfield(L, -2, "__index");
        lua_pushliteral(L, "ctx");
        lua_setfield(L, -2, "__metatable");
    }
    lua_setmetatable(L, -2);
}

void PushFieldValue(lua_State* L, const TField& field) {
    std::visit(
        [L](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                lua_pushnil(L);
            } else if constexpr (std::is_same_v<T, bool>) {
                lua_pushboolean(L, v ? 1 : 0);
            } else if constexpr (std::is_same_v<T, std::uint64_t>) {
                if (v > static_cast<std::uint64_t>(std::numeric_limits<lua_Integer>::max()))
                    lua_pushnumber(L, static_cast<lua_Number>(v));
                else
                    lua_pushinteger(L, static_cast<lua_Integer>(v));
            } else if constexpr (std::is_integral_v<T>) {
                lua_pushinteger(L, static_cast<lua_Integer>(v));
            } else if constexpr (std::is_same_v<T, double>) {
                lua_pushnumber(L, v);
            } else if constexpr (std::is_same_v<T, TDateTime>) {
                lua_pushnumber(L, v.Days);
            } else if constexpr (std::is_same_v<T, std::string>) {
                lua_pushlstring(L, v.data(), v.size());
            } else {
                lua_pushlstring(L, reinterpret_cast<const char*>(v.data()), v.size());
            }
        },
        field.Data);
}

} // namespace vorlen
