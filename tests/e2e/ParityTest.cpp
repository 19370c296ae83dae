// A backtest reproduces the live run it was recorded from: the market-making sample trades the
// offline exchange, whose resting orders fill by the backtest's own model, while the session is
// recorded; a backtest of the sample over that recording must send the live orders again (side,
// price and quantity, within a second) and end with the same position.
//
// VORLEN_PARITY_SECONDS sets how long the live run trades (75 s by default; ten minutes makes a
// figure worth reporting), VORLEN_PARITY_FILL the model (touch by default),
// VORLEN_PARITY_LATENCY the backtest's latency in ms (1 by default), VORLEN_PARITY_MAX_POSITION
// the sample's bound on its position (40 by default); VORLEN_PARITY_KEEP
// names a folder that keeps the recording, the live output and the backtest's report.

#include "SimHarness.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <set>
#include <thread>

namespace vorlen::e2e {
namespace {

#if VORLEN_BACKTEST

constexpr const char* kOnline = "Инструменты добавлены.";
constexpr const char* kIsin = "Si-12.26";

struct TOrder {
    std::int64_t AtMs = 0; // since the epoch
    bool Buy = true;
    long Qty = 0;
    double Price = 0;
    std::string Text; // as the source wrote it, for the report of what did not match
};

double Number(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    return std::strtod(text.c_str(), nullptr);
}

// "dd.mm.yyyy hh:mm:ss.zzz" of the journal, in this machine's time zone (the console's own).
std::int64_t JournalMs(const std::string& line) {
    std::tm tm{};
    int ms = 0;
    if (std::sscanf(line.c_str(), "%d.%d.%d %d:%d:%d.%d", &tm.tm_mday, &tm.tm_mon, &tm.tm_year,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) != 7)
        return 0;
    tm.tm_mon -= 1;
    tm.tm_year -= 1900;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm)) * 1000 + ms;
}

// "YYYY-MM-DD HH:MM:SS.mmm" of a backtest's report: the exchange's time, UTC+3.
std::int64_t ReportMs(const std::string& text) {
    std::tm tm{};
    int ms = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) != 7)
        return 0;
    tm.tm_mon -= 1;
    tm.tm_year -= 1900;
    constexpr std::int64_t kMoscowSeconds = 10'800;
    return (static_cast<std::int64_t>(timegm(&tm)) - kMoscowSeconds) * 1000 + ms;
}

// An environment variable's value, or `fallback` when it is not set.
std::string Env(const char* name, const char* fallback) {
    const char* value = std::getenv(name); // NOLINT(concurrency-mt-unsafe): read only
    return value != nullptr ? value : fallback;
}

// hh:mm:ss.mmm UTC, for the report of what did not match.
std::string Clock(std::int64_t ms) {
    char text[32];
    const std::int64_t t = ms % 86'400'000;
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(t / 3'600'000),
                  static_cast<int>(t / 60'000 % 60), static_cast<int>(t / 1000 % 60),
                  static_cast<int>(t % 1000));
    return text;
}

// The orders the live terminal posted: "Заявка: покупка Si-12.26 1 по 92000, клиент X." with
// "Заявка отправлена" after it.
std::vector<TOrder> LiveOrders(const std::string& out) {
    std::vector<TOrder> orders;
    const std::vector<std::string> lines = SplitLines(out);
    const std::string prefix = "Заявка: ";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string text = JournalText(lines[i]);
        if (text.rfind(prefix, 0) != 0)
            continue;
        bool posted = false;
        for (std::size_t j = i + 1; j < lines.size() && j < i + 8; ++j) {
            const std::string next = JournalText(lines[j]);
            if (next.rfind("Заявка", 0) == 0 && next.rfind(prefix, 0) != 0) {
                posted = next.rfind("Заявка отправлена", 0) == 0;
                break;
            }
        }
        char side[32] = {}, isin[32] = {}, price[32] = {};
        long qty = 0;
        if (!posted || std::sscanf(text.c_str() + prefix.size(), "%31s %31s %ld по %31[^,]", side,
                                   isin, &qty, price) != 4)
            continue;
        orders.push_back(
            {JournalMs(lines[i]), std::string(side) == "покупка", qty, Number(price), text});
    }
    return orders;
}

// The orders a backtest's report holds that reached its exchange.
std::vector<TOrder> BacktestOrders(const fs::path& report) {
    std::vector<TOrder> orders;
    const auto rows = TsvRows(report / "orders.tsv");
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto& r = rows[i];
        if (r.size() < 7 || r[6] == "refused")
            continue;
        std::string text;
        for (const std::string& cell : r)
            text += cell + ' ';
        orders.push_back({ReportMs(r[0]), r[2] == "buy", std::stol(r[3]), Number(r[4]), text});
    }
    return orders;
}

// Each live order takes the nearest in time of the unused backtest orders alike within a
// second; what is left on either side is returned.
std::pair<std::vector<TOrder>, std::vector<TOrder>> Unmatched(const std::vector<TOrder>& live,
                                                              std::vector<TOrder> backtest) {
    std::vector<TOrder> liveOnly;
    for (const TOrder& o : live) {
        auto best = backtest.end();
        for (auto it = backtest.begin(); it != backtest.end(); ++it) {
            if (it->Buy == o.Buy && it->Qty == o.Qty && std::abs(it->Price - o.Price) < 1e-6 &&
                std::abs(it->AtMs - o.AtMs) <= 1000 &&
                (best == backtest.end() ||
                 std::abs(it->AtMs - o.AtMs) < std::abs(best->AtMs - o.AtMs)))
                best = it;
        }
        if (best == backtest.end())
            liveOnly.push_back(o);
        else
            backtest.erase(best);
    }
    return {liveOnly, backtest};
}

// The lots the live run's own orders traded, bought less sold, from a replay of its recording.
std::optional<long> LiveNetFromRecording(const TSimInstall& inst, const fs::path& settings,
                                         const fs::path& day, const std::set<std::string>& ids) {
    const fs::path dump = inst.Root / "live-dump";
    TConsoleRun replay(inst, {"--settings", settings.string(), "--replay-file", day.string(),
                              "--dump", dump.string()});
    if (!replay.Started() || replay.Wait(300s) != 0)
        return std::nullopt;
    const auto rows = TsvRows(dump / "user_deal.tsv");
    if (rows.empty())
        return std::nullopt;
    const auto column = [&](const char* name) {
        return static_cast<std::size_t>(std::find(rows[0].begin(), rows[0].end(), name) -
                                        rows[0].begin());
    };
    const std::size_t buy = column("public_order_id_buy"), sell = column("public_order_id_sell"),
                      qty = column("xamount");
    long net = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto& r = rows[i];
        if (r.size() <= std::max({buy, sell, qty}))
            continue;
        net += ids.contains(r[buy]) ? std::stol(r[qty]) : 0;
        net -= ids.contains(r[sell]) ? std::stol(r[qty]) : 0;
    }
    return net;
}

TEST(Parity, TheMarketMakersBacktestSendsTheLiveOrdersAgainAndEndsWithItsPosition) {
    const int seconds = std::atoi(Env("VORLEN_PARITY_SECONDS", "75").c_str());
    const std::string fill = Env("VORLEN_PARITY_FILL", "touch");
    // About what the loopback takes, orders to the exchange.
    const std::string latency = Env("VORLEN_PARITY_LATENCY", "1");
    // The position the sample reads live is the exchange's position table, which now comes
    // before the book change that filled an order and now after it: with a bound the position
    // reaches, which side it quotes would follow that race, which no backtest can replay.
    const std::string bound = "max_position=" + Env("VORLEN_PARITY_MAX_POSITION", "40");
    ASSERT_GT(seconds, 0);

    TSimInstall inst;
    inst.SetRouterOption("fill_model", fill);
    const fs::path settings = WriteSettingsWithDeals(inst);
    const fs::path history = inst.Root / "hist";
    const std::string mm = std::string(VORLEN_STRATEGY_SAMPLES) + "/market_maker.lua";
    TConsoleRun live(inst,
                     {"--settings", settings.string(), "--record", "--history", history.string(),
                      "--expert", kIsin, "--strategy", mm, "--param", "min_interval=1", "--param",
                      bound, "--seconds", std::to_string(seconds + 300)});
    ASSERT_TRUE(live.Started());
    ASSERT_TRUE(live.WaitForJournal(kOnline)) << live.Stdout() << live.Stderr();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    live.Signal(SIGTERM);
    ASSERT_TRUE(live.Wait(60s).has_value()) << live.Stderr();
    std::optional<fs::path> day;
    for (const auto& e : fs::directory_iterator(history))
        if (e.path().extension() == ".vrec")
            day = e.path();
    ASSERT_TRUE(day.has_value()) << live.Stderr();
    // Every run on the installation writes the same output files: the live one is read now.
    const std::string out = live.Stdout();

    const fs::path report = inst.Root / "report";
    TConsoleRun backtest(inst,
                         {"--settings", settings.string(), "--backtest", day->string(), "--expert",
                          kIsin, "--strategy", mm, "--param", "min_interval=1", "--param", bound,
                          "--fill", fill, "--latency", latency, "--report", report.string()});
    ASSERT_TRUE(backtest.Started());
    ASSERT_EQ(backtest.Wait(600s), 0) << backtest.Stderr();

    const std::vector<TOrder> liveOrders = LiveOrders(out);
    const std::vector<TOrder> backtestOrders = BacktestOrders(report);
    ASSERT_GE(liveOrders.size(), 10u) << out;
    const auto [liveOnly, backtestOnly] = Unmatched(liveOrders, backtestOrders);
    const double matched = 100.0 * static_cast<double>(liveOrders.size() - liveOnly.size()) /
                           static_cast<double>(liveOrders.size());
    std::cout << "parity (" << fill << ", " << seconds
              << " s): " << liveOrders.size() - liveOnly.size() << " of " << liveOrders.size()
              << " live orders in the backtest (" << matched << " %), " << backtestOrders.size()
              << " orders in the backtest\n";
    for (const TOrder& o : liveOnly)
        std::cout << "  live only: " << Clock(o.AtMs) << " " << o.Text << "\n";
    for (const TOrder& o : backtestOnly)
        std::cout << "  backtest only: " << Clock(o.AtMs) << " " << o.Text << "\n";
    EXPECT_GE(matched, 95.0);

    std::set<std::string> ids;
    const std::string key = "номер заявки ";
    for (const std::string& r : JournalTextsFrom(out, "Ответ на заявку"))
        if (const std::size_t at = r.find(key); at != std::string::npos)
            ids.insert(r.substr(at + key.size(), r.find('.', at) - at - key.size()));
    const auto liveNet = LiveNetFromRecording(inst, settings, *day, ids);
    ASSERT_TRUE(liveNet.has_value());
    std::string finalPosition;
    for (const auto& row : TsvRows(report / "summary.tsv"))
        if (row.size() == 2 && row[0] == "final_position")
            finalPosition = row[1];
    std::cout << "positions: live " << *liveNet << ", backtest " << finalPosition << "\n";
    EXPECT_EQ(std::to_string(*liveNet), finalPosition);
    if (const std::string keep = Env("VORLEN_PARITY_KEEP", ""); !keep.empty()) {
        std::error_code ec;
        fs::create_directories(keep, ec);
        fs::copy_file(*day, fs::path(keep) / day->filename(), fs::copy_options::overwrite_existing,
                      ec);
        std::ofstream(fs::path(keep) / "live.txt", std::ios::binary) << out;
        fs::copy(report, fs::path(keep) / "report",
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    }
}

#endif

} // namespace
} // namespace vorlen::e2e
