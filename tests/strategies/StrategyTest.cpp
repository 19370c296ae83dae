#include "strategies/Strategy.h"

#include "strategies/FakeWorld.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace vorlen {
namespace {

using test::OwnOrder;
using test::TFakeWorld;
using ::testing::HasSubstr;

class StrategyTest : public ::testing::Test {
protected:
    // A short budget keeps the overrun cases quick; nothing here depends on how quick.
    std::unique_ptr<TStrategy> Make(const std::string& source, TStrategyLimits limits = Limits()) {
        auto s = std::make_unique<TStrategy>(World, 42, "Si-3.27", limits);
        s->Load("t.lua", source);
        return s;
    }
    static TStrategyLimits Limits() {
        TStrategyLimits l;
        l.CallBudget = std::chrono::milliseconds(50);
        l.MemoryBytes = std::size_t{8} << 20;
        return l;
    }
    TFakeWorld World;
};

TEST_F(StrategyTest, TheSandboxHasNoWayToFilesProcessesModulesOrTheInterpreter) {
    const char* const absent[] = {
        "io",        "require",   "package",     "debug",      "dofile",
        "loadfile",  "load",      "string.dump", "os.execute", "os.getenv",
        "os.remove", "os.rename", "os.exit",     "os.tmpname", "os.date",
    };
    for (const char* name : absent) {
        auto s = Make(std::string("function on_start(ctx) ctx:log(type(") + name + ")) end");
        World.Lines.clear();
        ASSERT_TRUE(s->Start()) << name << ": " << World.Joined();
        EXPECT_EQ(World.Lines.back(), "nil") << name;
    }
    auto s = Make("function on_start(ctx) ctx:log(type(os.time), type(os.clock), "
                  "type(string.format), type(math.floor), type(table.insert), "
                  "type(coroutine.wrap), type(utf8.char)) end");
    ASSERT_TRUE(s->Start());
    EXPECT_EQ(World.Lines.back(), "function function function function function function function");
}

TEST_F(StrategyTest, AnEndlessLoopIsStoppedWithItsLineEvenInsidePcall) {
    const char* const loops[] = {
        "function on_tick(ctx)\n  local n = 0\n  while true do n = n + 1 end\nend",
        "function on_tick(ctx)\n  while true do\n    pcall(function() while true do end end)\n"
        "  end\nend",
        "function on_tick(ctx)\n  local co = coroutine.wrap(function() while true do end end)\n"
        "  while true do pcall(co) end\nend",
    };
    for (const char* source : loops) {
        World.Lines.clear();
        auto s = Make(source);
        ASSERT_TRUE(s->Start()) << World.Joined();
        s->Tick();
        EXPECT_EQ(s->State(), TStrategy::TState::Failed) << source;
        EXPECT_THAT(World.Lines.back(), HasSubstr("ошибка при on_tick: t.lua:"));
        EXPECT_THAT(World.Lines.back(), HasSubstr("превышено время выполнения (50 мс)"));
        // Stopped means stopped: another tick runs nothing.
        const std::size_t lines = World.Lines.size();
        s->Tick();
        EXPECT_EQ(World.Lines.size(), lines);
    }
    // The same state of affairs at the top level, where the params are read.
    auto top = Make("while true do end");
    EXPECT_EQ(top->State(), TStrategy::TState::Failed);
    EXPECT_THAT(top->Error(), HasSubstr("t.lua:1: превышено время выполнения"));
}

TEST_F(StrategyTest, TheMemoryCapStopsAGreedyScriptAndFreesItsState) {
    // Time enough for any build to fill the memory first.
    TStrategyLimits limits = Limits();
    limits.CallBudget = std::chrono::seconds(20);
    auto s = Make("function on_tick(ctx)\n  local t = {}\n"
                  "  for i = 1, 1e9 do t[i] = string.rep('x', 64) .. i end\nend",
                  limits);
    ASSERT_TRUE(s->Start());
    EXPECT_GT(s->MemoryUsed(), 0u);
    s->Tick();
    EXPECT_EQ(s->State(), TStrategy::TState::Failed);
    EXPECT_THAT(s->Error(), HasSubstr("превышен предел памяти (8 МБ)"));
    EXPECT_EQ(s->MemoryUsed(), 0u);
    // One huge string in one go is refused the same way.
    auto big = Make("function on_start(ctx) local s = string.rep('x', 100000000) end");
    EXPECT_FALSE(big->Start());
    EXPECT_THAT(big->Error(), HasSubstr("превышен предел памяти"));
}

TEST_F(StrategyTest, AnErrorInAnyCallbackStopsTheRunWithTheErrorAndItsLine) {
    const struct {
        const char* Source;
        const char* Where;
    } cases[] = {
        {"x = 1\nerror('top')", "t.lua:2: top"},
        {"function on_start(ctx)\n  nothing()\nend", "при on_start: t.lua:2: attempt to call"},
        {"function on_tick(ctx)\n\n  error('tick')\nend", "при on_tick: t.lua:3: tick"},
        {"function on_book(ctx)\n  error({})\nend", "при on_book: ошибка без текста (table)"},
        {"function on_order(ctx, ev)\n  error(ev.text .. ev.id)\nend",
         "при on_order: t.lua:2: отказ7"},
        {"function on_stop(ctx)\n  local x = nil .. 'a'\nend", "при on_stop: t.lua:2:"},
        {"function on_tick(ctx)\n  ctx.buy(1, '100')\nend", "при on_tick: t.lua:2: bad argument"},
        {"function on_tick(ctx)\n  ctx:buy(0, '100')\nend",
         "при on_tick: t.lua:2: bad argument #1 to 'buy' (количество должно быть целым числом "
         "от 1)"},
        {"function on_tick(ctx)\n  ctx:sell(1.5, '100')\nend",
         "при on_tick: t.lua:2: bad argument #1 to 'sell' (количество"},
        {"function on_tick(ctx)\n  ctx:sell(1, '1e3')\nend",
         "при on_tick: t.lua:2: bad argument #2 to 'sell' (цена должна быть десятичной строкой "
         "или числом)"},
        {"function on_tick(ctx)\n  ctx:buy(1, 0/0)\nend",
         "при on_tick: t.lua:2: bad argument #2 to 'buy' (цена"},
    };
    for (const auto& c : cases) {
        World.Lines.clear();
        World.BookRev = 0;
        World.Events = {TOrderEvent{7, "rejected", 32, "отказ", 0}};
        auto s = Make(c.Source);
        if (s->State() == TStrategy::TState::Loaded && s->Start()) {
            World.BookRev = 1;
            s->Tick();
            s->OrderEvents();
            s->Stop();
        }
        EXPECT_EQ(s->State(), TStrategy::TState::Failed) << c.Source;
        const std::string line = World.Lines.empty() ? "" : World.Lines.back();
        EXPECT_THAT(line, ::testing::AnyOf(HasSubstr(std::string("остановлена: ошибка ") + c.Where),
                                           HasSubstr(std::string("не загружена: ") + c.Where)))
            << World.Joined();
        EXPECT_TRUE(World.Placed.empty());
    }
}

TEST_F(StrategyTest, OrdersCarryDecimalPricesOnTheStepNeverWorseThanAsked) {
    World.Fields["client_code"] = std::string("C01");
    auto s = Make(R"(
        function on_tick(ctx)
          ctx:buy(1, '100,07')          -- a comma, as typed
          ctx:sell(2, '100.07')
          ctx:buy(3, 100.1 - 0.01)      -- binary noise below the step
          ctx:sell(4, 101)
          ctx:buy(5, 99.999999, 'C02')
        end)");
    ASSERT_TRUE(s->Start());
    s->Tick();
    ASSERT_EQ(World.Placed.size(), 5u) << World.Joined();
    const struct {
        orders::TSide Side;
        int Amount;
        const char* Price;
        const char* Client;
    } expected[] = {
        {orders::TSide::Buy, 1, "100.05", "C01"}, {orders::TSide::Sell, 2, "100.10", "C01"},
        {orders::TSide::Buy, 3, "100.05", "C01"}, {orders::TSide::Sell, 4, "101.00", "C01"},
        {orders::TSide::Buy, 5, "99.95", "C02"},
    };
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(World.Placed[i].Side, expected[i].Side) << i;
        EXPECT_EQ(World.Placed[i].Qty, expected[i].Amount) << i;
        EXPECT_EQ(World.Placed[i].Price, orders::ParsePrice(expected[i].Price)) << i;
        EXPECT_EQ(World.Placed[i].Client, expected[i].Client) << i;
        EXPECT_EQ(World.Placed[i].Isin, "Si-3.27");
        EXPECT_TRUE(World.Placed[i].FromStrategy);
    }
}

TEST_F(StrategyTest, RefusalsReachTheScriptAndNothingIsPlaced) {
    const char* script = R"(
        function on_tick(ctx)
          local id, why = ctx:buy(1, '100')
          ctx:log(tostring(id) .. '|' .. tostring(why))
        end
        function on_stop(ctx)
          local id, why = ctx:sell(1, '100')
          ctx:log(tostring(id) .. '|' .. tostring(why))
          ctx:log(tostring(ctx:cancel(5)))
        end)";
    struct {
        std::function<void(TFakeWorld&)> Set;
        const char* Line;
    } cases[] = {
        {[](TFakeWorld& w) { w.Refusal = "превышен лимит позиции"; }, "nil|превышен лимит позиции"},
        {[](TFakeWorld& w) { w.Step.reset(); }, "nil|шаг цены инструмента неизвестен"},
        {[](TFakeWorld& w) { w.Fields.erase("client_code"); }, "nil|не задан код клиента"},
        // On a step finer than an order's price carries, 100 rounds down to 99.999999.
        {[](TFakeWorld& w) {
             w.Step = TDecimal{3, 6};
         },
         "nil|цена вне допустимого диапазона"},
        {[](TFakeWorld&) {}, "101|nil"},
    };
    for (auto& c : cases) {
        World = TFakeWorld{};
        World.Fields["client_code"] = std::string("C01");
        c.Set(World);
        auto s = Make(script);
        ASSERT_TRUE(s->Start());
        s->Tick();
        EXPECT_THAT(World.Joined(), HasSubstr(c.Line + std::string("\n")));
        World.Refusal.clear();
        s->Stop();
        // on_stop may take quotes off but not put new ones on.
        EXPECT_THAT(World.Joined(), HasSubstr("nil|стратегия останавливается\ntrue\n"));
        EXPECT_EQ(World.Cancelled, std::vector<std::int64_t>{5});
    }
    // A halted terminal refuses the start itself.
    World = TFakeWorld{};
    World.Halt = "торговля остановлена";
    auto s = Make(script);
    EXPECT_FALSE(s->Start());
    EXPECT_THAT(World.Lines.back(), HasSubstr("не запущена: торговля остановлена"));
}

TEST_F(StrategyTest, TheContextAnswersFromTheWorld) {
    World.Fields["money_free"] = 1234.5;
    World.Fields["limits_set"] = std::int32_t{1};
    World.Fields["client_code"] = std::string("C01");
    World.Positions[""] = TPositionInfo{-3, 100.25};
    World.BookNow = TBookSnapshot{};
    World.BookNow->Bids = {{100.0, 5}, {99.95, 7}};
    World.BookNow->Asks = {{100.05, 2}};
    World.Active = {OwnOrder(9, orders::TSide::Sell, "100.10", 2, 1, "C01")};
    auto s = Make(R"(
        function on_start(ctx)
          local b = ctx:book()
          local o = ctx:orders()[1]
          print(ctx.isin, ctx.isin_id, ctx:field('money_free'), ctx:field('limits_set'),
                ctx:field('client_code'), ctx:field('nope'), ctx:now(), ctx:position())
          print(b.bids[1][1], b.bids[2][2], b.asks[1][1], #b.asks,
                o.id, o.side, o.price, o.qty, o.rest, o.client)
        end
        function on_book(ctx) ctx:log('book') end)");
    ASSERT_TRUE(s->Start());
    EXPECT_EQ(World.Lines[World.Lines.size() - 2],
              "Si-3.27\t42\t1234.5\t1\tC01\tnil\t1700000000.25\t-3\t100.25");
    EXPECT_EQ(World.Lines.back(), "100.0\t7\t100.05\t1\t9\tsell\t100.1\t2\t1\tC01");
    // on_book follows the book's changes, not the ticks.
    s->Tick();
    World.BookRev = 5;
    s->Tick();
    s->Tick();
    EXPECT_EQ(std::count(World.Lines.begin(), World.Lines.end(), "book"), 1);
}

TEST_F(StrategyTest, ParametersAreDeclaredByTheScriptAndOverriddenAllOrNothing) {
    auto s = Make(R"(
        params = { spread = 2, qty = 1, ratio = 0.5, note = 'x', live = false }
        function on_start(ctx)
          local p = ctx.params
          print(p.spread, math.type(p.spread), p.qty, p.ratio, p.note, p.live)
          p.spread = 99   -- a run may change its own copy
        end)");
    ASSERT_EQ(s->State(), TStrategy::TState::Loaded) << World.Joined();
    std::string kinds;
    for (const TStrategyParam& p : s->Params())
        kinds += p.Name + ":" + std::to_string(static_cast<int>(p.Kind)) + "=" + p.Value + " ";
    EXPECT_EQ(kinds, "live:3=false note:2=x qty:0=1 ratio:1=0.5 spread:0=2 ");

    std::string error;
    EXPECT_FALSE(s->SetParams({{"spread", "5"}, {"qty", "1.5"}}, error));
    EXPECT_EQ(error, "параметр qty: ожидается целое число, а не \"1.5\"");
    EXPECT_FALSE(s->SetParams({{"sprad", "5"}}, error));
    EXPECT_EQ(error, "нет параметра sprad");
    ASSERT_TRUE(s->Start());
    EXPECT_EQ(World.Lines.back(), "2\tinteger\t1\t0.5\tx\tfalse");
    s->Stop();

    ASSERT_TRUE(
        s->SetParams({{"spread", "5"}, {"ratio", "0,25"}, {"note", "a=b"}, {"live", "да"}}, error));
    ASSERT_TRUE(s->Start());
    EXPECT_EQ(World.Lines.back(), "5\tinteger\t1\t0.25\ta=b\ttrue");
    s->Stop();
    ASSERT_TRUE(s->Start());
    EXPECT_EQ(World.Lines.back(), "5\tinteger\t1\t0.25\ta=b\ttrue");

    for (const char* bad : {"params = 3", "params = { f = print }", "params = { [1] = 2 }"}) {
        auto b = Make(bad);
        EXPECT_EQ(b->State(), TStrategy::TState::Failed) << bad;
        EXPECT_THAT(World.Lines.back(), HasSubstr("не загружена")) << bad;
    }
}

// A parameter given as {value, label, description}: the window gets the words, the run gets the
// value alone, and a malformed declaration is refused at loading with the parameter named.
TEST_F(StrategyTest, LabelledParametersGiveTheirWordsToTheWindowAndTheirValueToTheRun) {
    auto s = Make(R"(
        params = { qty = {2, 'Лотов в котировке'}, spread = {0.5, 'Спред', 'От середины'},
                   live = {true}, note = 'x' }
        function on_start(ctx)
          local p = ctx.params
          print(p.qty, math.type(p.qty), p.spread, p.live, p.note)
        end)");
    ASSERT_EQ(s->State(), TStrategy::TState::Loaded) << World.Joined();
    std::string got;
    for (const TStrategyParam& p : s->Params())
        got += p.Name + ":" + std::to_string(static_cast<int>(p.Kind)) + "=" + p.Value + "|" +
               p.Label + "|" + p.Description + " ";
    EXPECT_EQ(got, "live:3=true|| note:2=x|| qty:0=2|Лотов в котировке| spread:1=0.5|Спред|От "
                   "середины ");
    std::string error;
    ASSERT_TRUE(s->SetParams({{"qty", "3"}}, error)) << error;
    EXPECT_EQ(s->Params()[2].Label, "Лотов в котировке") << "a new value keeps the words";
    ASSERT_TRUE(s->Start());
    EXPECT_EQ(World.Lines.back(), "3\tinteger\t0.5\ttrue\tx");
    s->Stop();

    for (const char* bad : {"params = { qty = {} }", "params = { qty = {print, 'Лоты'} }",
                            "params = { qty = {1, 2} }", "params = { qty = {1, 'Лоты', {}} }",
                            "params = { qty = {{1}, 'Лоты'} }"}) {
        auto b = Make(bad);
        EXPECT_EQ(b->State(), TStrategy::TState::Failed) << bad;
        EXPECT_THAT(World.Lines.back(),
                    HasSubstr("не загружена: параметр qty: ожидается {значение, \"подпись\", "
                              "\"описание\"}"))
            << bad;
    }
}

TEST(StrategyParamsTest, ValuesAreCheckedByKind) {
    const struct {
        TParamKind Kind;
        const char* In;
        const char* Out; // nullptr: refused
    } cases[] = {
        {TParamKind::Integer, "-12", "-12"},
        {TParamKind::Integer, "12.0", nullptr},
        {TParamKind::Integer, "", nullptr},
        {TParamKind::Integer, "99999999999999999999", nullptr},
        {TParamKind::Number, "1,5", "1.5"},
        {TParamKind::Number, "1e-3", "1e-3"},
        {TParamKind::Number, "inf", nullptr},
        {TParamKind::Number, "x", nullptr},
        {TParamKind::Boolean, "1", "true"},
        {TParamKind::Boolean, "нет", "false"},
        {TParamKind::Boolean, "yes", nullptr},
        {TParamKind::String, "", ""},
    };
    for (const auto& c : cases) {
        std::string out;
        std::string error;
        const bool ok = CheckParamValue(c.Kind, c.In, out, error);
        EXPECT_EQ(ok, c.Out != nullptr) << c.In;
        if (ok)
            EXPECT_EQ(out, c.Out);
        else
            EXPECT_FALSE(error.empty());
    }
    TParamOverride o;
    EXPECT_TRUE(SplitParamOverride("a=b=c", o));
    EXPECT_EQ(o, TParamOverride("a", "b=c"));
    EXPECT_FALSE(SplitParamOverride("=1", o));
    EXPECT_FALSE(SplitParamOverride("a", o));
}

} // namespace
} // namespace vorlen
