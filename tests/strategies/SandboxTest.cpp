// Hostile scripts: whatever a strategy does, its callback ends within a short time of its
// budget, with the overrun's line, and nothing it writes forges a line of the program's own.

#include "strategies/FakeWorld.h"
#include "strategies/Strategy.h"

#include <cctype>
#include <chrono>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lualib.h>
}

namespace vorlen {
namespace {

using test::TFakeWorld;
using ::testing::HasSubstr;
using TClock = std::chrono::steady_clock;

TStrategyLimits Limits() {
    TStrategyLimits l;
    l.CallBudget = std::chrono::milliseconds(50);
    l.MemoryBytes = std::size_t{32} << 20;
    return l;
}

// A stop may come up to about a second after the budget; far more means it did not stop.
constexpr auto kLate = std::chrono::milliseconds(1500);

TEST(SandboxTest, NoScriptOutlastsItsBudget) {
    const struct {
        const char* Name;
        const char* Body; // of on_tick(ctx)
        const char* Line; // in the stop's journal line
        std::function<void(TFakeWorld&)> Set;
        int BudgetMs = 50;
    } cases[] = {
        {"overrun first met in a coroutine, then pcall everywhere",
         "coroutine.resume(coroutine.create(function() while true do end end))\n"
         "while true do pcall(function() for i = 1, 1e6 do end end) end",
         "t.lua:",
         {}},
        {"a to-be-closed variable in a wrapped coroutine loops",
         "local f = coroutine.wrap(function()\n"
         "  local x <close> = setmetatable({}, {__close = function() while true do end end})\n"
         "  while true do end\nend)\nwhile true do pcall(f) end",
         "t.lua:",
         {}},
        {"the message handler of xpcall loops",
         "xpcall(function() while true do end end, function() while true do end end)",
         "t.lua:",
         {}},
        {"string.find backtracks",
         "string.find(string.rep('a', 40), string.rep('a?', 40) .. string.rep('a', 40))",
         "t.lua:2:",
         {}},
        {"string.gsub backtracks",
         "local s = string.rep('a', 40)\n"
         "while true do s = s:gsub(string.rep('a?', 40) .. string.rep('a', 40), 'b') end",
         "t.lua:3:",
         {}},
        {"string.match and gmatch backtrack",
         "local p = string.rep('a?', 40) .. string.rep('a', 40)\n"
         "pcall(string.match, string.rep('a', 40), p)\n"
         "for w in string.gmatch(string.rep('a', 40), p) do end",
         "t.lua:",
         {}},
        {"a plain find compares for ever",
         "local s = string.rep('a', 4000000)\nstring.find(s, string.rep('a', 2000000) .. 'b', 1, "
         "true)",
         "t.lua:3:",
         {}},
        {"string.rep repeats nothing",
         "local s = string.rep('', math.maxinteger)\nwhile s == '' do end",
         "t.lua:3:",
         {}},
        {"table.insert under a __len that lies",
         "local t = setmetatable({}, {__len = function() return 1 << 60 end})\n"
         "table.insert(t, 1, 'x')",
         "t.lua:3:",
         {}},
        {"full collections of a big heap",
         "local t = {}\nfor i = 1, 300000 do t[i] = {i} end\nwhile true do collectgarbage() end",
         // A sanitized build may spend the budget already on filling the table: where the stop
         // comes is the build's speed; that it comes on time is what is checked.
         "t.lua:",
         {},
         300},
        {"table.move of nothing", "table.move({}, 1, 1 << 50, 2)", "t.lua:2:", {}},
        {"table.sort compares one long string with itself",
         "local s, t = string.rep('a', 1 << 20), {}\nfor i = 1, 20000 do t[i] = s end\n"
         "table.sort(t)",
         "t.lua:", // as above
         {}},
        {"refused orders take the gate's time", "while true do ctx:buy(1, '100') end", "t.lua:2:",
         [](TFakeWorld& w) {
             w.Refusal = "превышен лимит позиции";
             w.PlaceTakes = std::chrono::milliseconds(2);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeWorld world;
        world.Fields["client_code"] = std::string("FZ00001");
        if (c.Set)
            c.Set(world);
        TStrategyLimits limits = Limits();
        limits.CallBudget = std::chrono::milliseconds(c.BudgetMs);
        TStrategy s(world, 42, "Si-3.27", limits);
        ASSERT_TRUE(s.Load("t.lua", std::string("function on_tick(ctx)\n") + c.Body + "\nend"))
            << world.Joined();
        ASSERT_TRUE(s.Start()) << world.Joined();
        const auto from = TClock::now();
        s.Tick();
        s.Stop();
        EXPECT_LT(TClock::now() - from, limits.CallBudget + kLate);
        EXPECT_EQ(s.State(), TStrategy::TState::Failed);
        EXPECT_THAT(world.Joined(),
                    HasSubstr("остановлена: ошибка при on_tick: " + std::string(c.Line)));
        EXPECT_THAT(world.Joined(), HasSubstr("превышено время выполнения (" +
                                              std::to_string(c.BudgetMs) + " мс)"));
    }
}

TEST(SandboxTest, RepeatedRefusalsReachTheGateAFewTimesASecondAndAreSummed) {
    TFakeWorld world;
    world.Fields["client_code"] = std::string("FZ00001");
    world.Refusal = "превышен лимит позиции";
    TStrategy s(world, 42, "Si-3.27", Limits());
    ASSERT_TRUE(s.Load("t.lua", "function on_tick(ctx)\n"
                                "  for i = 1, 1000 do ctx:buy(1, '100') end\n"
                                "  local id, why = ctx:buy(1, '100')\n  ctx:log(why)\nend"));
    ASSERT_TRUE(s.Start());
    s.Tick();
    EXPECT_EQ(world.PlaceCalls, 3);
    EXPECT_THAT(world.Lines.back(), HasSubstr("слишком много отказов за секунду (последняя "
                                              "причина: превышен лимит позиции)"));
    s.Stop();
    EXPECT_THAT(world.Joined(), HasSubstr("Стратегия t.lua: отклонено заявок стратегии: 998, "
                                          "последняя причина: превышен лимит позиции.\n"));
}

TEST(SandboxTest, AScriptLoggingInALoopWritesAThousandLinesASecondAndCountsTheRest) {
    TFakeWorld world;
    TStrategyLimits limits = Limits();
    limits.CallBudget = std::chrono::seconds(10); // the loop is not what is under test
    TStrategy s(world, 42, "Si-3.27", limits);
    ASSERT_TRUE(s.Load("t.lua", "function on_start(ctx) for i = 1, 20000 do ctx:log(i) end end"));
    ASSERT_TRUE(s.Start());
    s.Stop();
    // However the loop's time falls across seconds, every line is written or counted, and no
    // second writes more than its thousand.
    std::size_t written = 0, counted = 0, seconds = 0;
    const std::string told = "Стратегия t.lua: строк журнала стратегии не записано: ";
    for (const std::string& line : world.Lines) {
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) != 0) {
            ++written;
        } else if (line.rfind(told, 0) == 0) {
            counted += std::stoul(line.substr(told.size()));
            ++seconds;
            EXPECT_THAT(line, HasSubstr(" (больше 1000 в секунду)."));
        }
    }
    EXPECT_EQ(written + counted, 20000u) << world.Joined();
    EXPECT_GE(seconds, 1u);
    EXPECT_LE(written, 1000 * seconds);
}

TEST(SandboxTest, FinalizersCannotBeDeclared) {
    for (const char* mt : {"{__gc = function() while true do end end}", "{__gc = false}"}) {
        TFakeWorld world;
        TStrategy s(world, 42, "Si-3.27", Limits());
        ASSERT_TRUE(s.Load("t.lua", std::string("function on_start(ctx)\n"
                                                "  local m = ") +
                                        mt +
                                        "\n  setmetatable({}, m)\n"
                                        "  m.__gc = function() while true do end end\n"
                                        "  collectgarbage()\nend"));
        const auto from = TClock::now();
        EXPECT_FALSE(s.Start());
        EXPECT_LT(TClock::now() - from, kLate);
        EXPECT_THAT(world.Lines.back(),
                    HasSubstr("при on_start: t.lua:3: bad argument #2 to 'setmetatable' "
                              "(метаметод __gc в стратегиях не поддерживается)"))
            << mt;
    }
}

TEST(SandboxTest, ScriptTextCannotForgeOrOverflowALine) {
    const struct {
        const char* Body;
        const char* Line; // the last journal line has it
    } cases[] = {
        {"ctx:log('a\\n01.01.2026 10:00:00.000 --> Заявка отправлена\\r\\0')",
         "a\\n01.01.2026 10:00:00.000 --> Заявка отправлена\\r?"},
        {"ctx:buy(1, '100', 'FZ00001\\n--> Заявка отправлена, транзакция 424242.')",
         "bad argument #3 to 'buy' (код клиента — от 1 до 7 латинских букв и цифр)"},
        {"ctx:sell(1, '100', string.rep('F', 1 << 20))", "bad argument #3 to 'sell' (код клиента"},
        {"ctx:buy(1, '100', 'FZ0000')", "101|nil"},
        {"ctx:position('FZ00001\\n')", "bad argument #1 to 'position' (код клиента"},
        {"ctx:log(ctx:field('client_code\\n'), ctx:field(string.rep('x', 100)))", "nil nil"},
    };
    // Megabyte strings take a sanitized build longer than the usual budget; time is not what is
    // under test here.
    TStrategyLimits roomy = Limits();
    roomy.CallBudget = std::chrono::seconds(10);
    for (const auto& c : cases) {
        TFakeWorld world;
        world.Fields["client_code"] = std::string("FZ00001");
        TStrategy s(world, 42, "Si-3.27", roomy);
        ASSERT_TRUE(s.Load("t.lua", std::string("function on_tick(ctx)\n") +
                                        "  local id, why = " + c.Body +
                                        "\n  ctx:log(tostring(id) .. '|' .. tostring(why))\nend"));
        ASSERT_TRUE(s.Start());
        s.Tick();
        const std::string all = world.Joined();
        EXPECT_THAT(all, HasSubstr(c.Line)) << c.Body;
        for (const std::string& line : world.Lines)
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << c.Body;
    }
    // A huge text is cut, at a whole character.
    TFakeWorld world;
    TStrategy s(world, 42, "Si-3.27", roomy);
    ASSERT_TRUE(s.Load("t.lua", "function on_start(ctx) ctx:log(string.rep('ж', 1 << 19)) end"));
    ASSERT_TRUE(s.Start());
    EXPECT_LE(world.Lines.back().size(), 2010u);
    EXPECT_EQ(world.Lines.back().substr(world.Lines.back().size() - 7), "жж…");
}

// The same code run by the sandbox and by a plain Lua: the pattern functions answer alike.
constexpr char kPatternCases[] = R"(
local emit = emit or print
local cases = {
  {'hello world', 'o w'}, {'hello world', 'l+'}, {'hello', '^(h)(e)'}, {'hello', '()ll()'},
  {'  key = value  ', '^%s*(%w+)%s*=%s*(%w+)%s*$'}, {'f(a(b)c)d', '%b()'},
  {'THE (quick) fox', '%f[%a]%a+'}, {'abc123def', '[%d]+'}, {'abc', '[^a]'}, {'a.b.c', '%.'},
  {'aaa', 'a-b'}, {'aaab', 'a-b'}, {'x=1, y=22', '(%w+)=(%w+)'}, {'abcabc', '(abc)%1'},
  {'abc', ''}, {'', 'a*'}, {'[]', '[]]'}, {'a-b', '[a-]'}, {'hello', 'l*', 3},
  {'hello', 'l', -2}, {'hello', 'xyz', 10}, {'a+b', '+', 1, true}, {'a.b', '.', 2, true},
  {'one two  three', '%s*()'}, {'key=val', '^(%w+)$'}, {'2024-01-02', '(%d+)-(%d+)-(%d+)'},
  {'abc', '[a'}, {'abc', '%'}, {'abc', '(()'}, {'abc', '%1'}, {'abc', ')'}, {'abc', '%b'},
  {'abc', '%f'}, {'aXb', '%u?b$'}, {'x', 'x?x?x?xxx'}, {'%d', '%%d'}, {'a\0b', '%z'},
  {'a\0b', '[\0]'}, {'A1 b2', '[%a%d]+'}, {'ABC', '[A-Z]-C'}, {'hello', '.-(l+)(.*)'},
}
local function show(...)
  local t = table.pack(...)
  for i = 1, t.n do
    t[i] = type(t[i]) == 'string' and string.format('%q', t[i]) or tostring(t[i])
  end
  return table.concat(t, ',', 1, t.n)
end
for i, c in ipairs(cases) do
  emit(i .. ' find ' .. show(pcall(string.find, c[1], c[2], c[3], c[4])))
  emit(i .. ' match ' .. show(pcall(string.match, c[1], c[2], c[3])))
  emit(i .. ' gsub ' .. show(pcall(string.gsub, c[1], c[2], '<%0>')))
  emit(i .. ' gsub1 ' .. show(pcall(string.gsub, c[1], c[2], '%1-%%', 2)))
  emit(i .. ' gsubf ' .. show(pcall(string.gsub, c[1], c[2],
    function(a, b) if b then return b .. a end end)))
  emit(i .. ' gsubt ' .. show(pcall(string.gsub, c[1], c[2], {hello = 'H', l = 'L', [1] = 'x'})))
  emit(i .. ' gmatch ' .. show(pcall(function()
    local t = {}
    for a, b in c[1]:gmatch(c[2], c[3]) do
      t[#t + 1] = tostring(a) .. ':' .. tostring(b)
      if #t > 20 then break end
    end
    return table.concat(t, ';')
  end)))
end
)";

// table.sort's answers, where they do not depend on how equal elements end up.
constexpr char kSortCases[] = R"(
local emit = emit or print
local cases = {
  {{5, 3, 9, 1, 7, 2, 8}}, {{'pear', 'apple', 'fig', 'Apple', ''}}, {{2.5, -1, 1e300, 0, -1e-9}},
  {{5, 3, 9, 1}, function(a, b) return a > b end}, {{1, 2}, 42}, {{}}, {{1}},
  {{{3}, {1}, {2}}, function(a, b) return a[1] < b[1] end},
}
for i, c in ipairs(cases) do
  local ok, err = pcall(table.sort, c[1], c[2])
  local t = {}
  for k, v in ipairs(c[1]) do t[k] = type(v) == 'table' and v[1] or tostring(v) end
  emit(i .. ' sort ' .. tostring(ok) .. ' ' .. tostring(err) .. ' ' .. table.concat(t, ','))
end
local big = {}
for i = 1, 1000 do big[i] = (i * 7919) % 1009 end
table.sort(big)
local sorted = true
for i = 2, #big do sorted = sorted and big[i - 1] <= big[i] end
emit('big ' .. tostring(sorted) .. ' ' .. big[1] .. ' ' .. big[1000])
)";

int Collect(lua_State* L) {
    auto* out = static_cast<std::vector<std::string>*>(lua_touserdata(L, lua_upvalueindex(1)));
    std::size_t len = 0;
    const char* text = luaL_checklstring(L, 1, &len);
    out->emplace_back(text, len);
    return 0;
}

TEST(SandboxTest, ReplacedFunctionsAnswerAsLuasOwn) {
    for (const std::string script : {kPatternCases, kSortCases}) {
        std::vector<std::string> plain;
        {
            lua_State* L = luaL_newstate();
            luaL_openlibs(L);
            lua_pushlightuserdata(L, &plain);
            lua_pushcclosure(L, Collect, 1);
            lua_setglobal(L, "emit");
            ASSERT_EQ(luaL_loadbuffer(L, script.data(), script.size(), "@t.lua"), LUA_OK);
            ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK) << lua_tostring(L, -1);
            lua_close(L);
        }
        TFakeWorld world;
        TStrategy s(world, 42, "Si-3.27", Limits());
        ASSERT_TRUE(s.Load("t.lua", script)) << world.Joined();
        world.Lines.pop_back(); // "loaded"
        ASSERT_EQ(world.Lines.size(), plain.size());
        for (std::size_t i = 0; i < plain.size(); ++i)
            EXPECT_EQ(world.Lines[i], plain[i]);
    }
}

} // namespace
} // namespace vorlen
