// vorlen-console against the offline exchange, each test with an installation and ports of its
// own: the journal of a default run, the dump, the shutdown, signals, a router that dies.

#include "SimHarness.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>

namespace vorlen::e2e {

namespace {

const std::vector<std::string>& DefaultStreams() {
    static const std::vector<std::string> streams = {
        "FORTS_FEE_REPL",           "FORTS_FEERATE_REPL",
        "FORTS_BROKER_FEE_REPL",    "FORTS_BROKER_FEE_PARAMS_REPL",
        "FORTS_AGGR5_REPL",         "FORTS_REFDATA_REPL",
        "FORTS_INFO_REPL",          "FORTS_TRADE_REPL",
        "FORTS_USERORDERBOOK_REPL", "FORTS_POS_REPL",
        "FORTS_PART_REPL",          "FORTS_PROHIBITION_REPL"};
    return streams;
}

constexpr const char kOnline[] = "Инструменты добавлены.";

// Positions of `wanted` in `texts` as an ordered subsequence; an empty result when some text
// is missing or out of order.
std::vector<std::size_t> InOrder(const std::vector<std::string>& texts,
                                 const std::vector<std::string>& wanted) {
    std::vector<std::size_t> at;
    std::size_t from = 0;
    for (const std::string& w : wanted) {
        const auto it =
            std::find(texts.begin() + static_cast<std::ptrdiff_t>(from), texts.end(), w);
        if (it == texts.end()) {
            return {};
        }
        at.push_back(static_cast<std::size_t>(it - texts.begin()));
        from = at.back() + 1;
    }
    return at;
}

std::size_t IndexOf(const std::vector<std::string>& texts, const std::string& text,
                    std::size_t from = 0) {
    const auto it = std::find(texts.begin() + static_cast<std::ptrdiff_t>(from), texts.end(), text);
    return static_cast<std::size_t>(it - texts.begin());
}

std::vector<std::string> MarketDataSequence() {
    std::vector<std::string> s = {
        "Создание соединения Макет-дата...",
        "Соединение Макет-дата создано. Создание слушателей Макет-дата...",
        "Слушатели Макет-дата созданы. Открытие соединения Макет-дата...",
        "Соединение Макет-дата открыто. Идет получение начальных данных..."};
    for (const std::string& stream : DefaultStreams()) {
        s.push_back("Лисенер " + stream + " открыт.");
    }
    s.push_back("Начальное получение данных завершено. Создание списков инструментов...");
    s.push_back(kOnline);
    return s;
}

const std::vector<std::string>& TransactionSequence() {
    static const std::vector<std::string> sequence = {
        "Создание соединения Трансакции...", "Соединение Трансакции создано. Создание Паблишера...",
        "Паблишер создан. Создание слушателя Трансакций...",
        "Слушатель Трансакций создан. Открытие соединения Трансакции...",
        "Соединение Трансакции открыто."};
    return sequence;
}

// "vorlen-console: shut down in N ms, threads left: M"
bool ShutdownReport(const std::string& err, long& ms, int& threads) {
    static const std::regex form(R"(shut down in (\d+) ms, threads left: (\d+))");
    std::smatch m;
    if (!std::regex_search(err, m, form)) {
        return false;
    }
    ms = std::stol(m[1].str());
    threads = std::stoi(m[2].str());
    return true;
}

std::map<std::string, std::vector<std::string>> Tsv(const fs::path& file) {
    std::map<std::string, std::vector<std::string>> columns;
    const std::vector<std::string> lines = SplitLines(ReadFile(file));
    if (lines.empty()) {
        return columns;
    }
    std::vector<std::string> header;
    std::stringstream h(lines[0]);
    for (std::string cell; std::getline(h, cell, '\t');) {
        header.push_back(cell);
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::stringstream row(lines[i]);
        std::size_t c = 0;
        for (std::string cell; std::getline(row, cell, '\t') && c < header.size(); ++c) {
            columns[header[c]].push_back(cell);
        }
    }
    return columns;
}

// "OK rows=N rev=R" → N; -1 when the reply has another form.
long RouterRows(const TSimInstall& inst, const std::string& stream, const std::string& table) {
    static const std::regex form(R"(^OK rows=(\d+))");
    std::smatch m;
    const std::string reply = inst.Control("rows " + stream + " " + table);
    return std::regex_search(reply, m, form) ? std::stol(m[1].str()) : -1;
}

} // namespace

TEST(ConsoleRun, DefaultSubscriptionComesOnlineAndEndsInOrder) {
    TSimInstall inst;
    const fs::path dump = inst.Root / "dump";
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--until-online", "--seconds",
                           "60", "--dump", dump.string()});
    ASSERT_TRUE(run.Started());
    const std::optional<int> code = run.Wait(120s);
    ASSERT_TRUE(code.has_value()) << run.Stdout() << run.Stderr();
    EXPECT_EQ(*code, 0) << run.Stdout() << run.Stderr();

    // Every line of standard output is a journal line.
    const std::string out = run.Stdout();
    for (const std::string& line : SplitLines(out)) {
        EXPECT_FALSE(JournalText(line).empty()) << line;
    }
    const std::vector<std::string> texts = JournalTexts(out);
    const std::vector<std::size_t> md = InOrder(texts, MarketDataSequence());
    ASSERT_FALSE(md.empty()) << out;
    // The transaction thread runs at its own pace: the run may end before it is through, but
    // what it wrote is the start of its sequence, in order.
    std::vector<std::string> trWritten;
    for (const std::string& t : TransactionSequence()) {
        if (std::find(texts.begin(), texts.end(), t) != texts.end()) {
            trWritten.push_back(t);
        }
    }
    ASSERT_FALSE(trWritten.empty()) << out;
    EXPECT_TRUE(std::equal(trWritten.begin(), trWritten.end(), TransactionSequence().begin()));
    EXPECT_FALSE(InOrder(texts, trWritten).empty()) << out;
    // Each stream goes on-line after its listener opened and before the lists are built, and
    // the lists come last.
    for (std::size_t i = 0; i < DefaultStreams().size(); ++i) {
        const std::size_t online =
            IndexOf(texts, "Поток " + DefaultStreams()[i] + " Перешел в режим Он-Лайн");
        EXPECT_GT(online, md[4 + i]) << DefaultStreams()[i];
        EXPECT_LT(online, md[md.size() - 2]) << DefaultStreams()[i];
    }
    EXPECT_EQ(std::count(texts.begin(), texts.end(), kOnline), 1);
    // The run ended right there: after that line the market-data thread wrote only its closing
    // line (the grid updater may still pass on a system message of the exchange).
    const std::size_t online = IndexOf(texts, kOnline);
    const std::size_t closing = IndexOf(texts, "Закрытие соединения Макет-дата...");
    EXPECT_LT(online, closing);
    EXPECT_LT(closing, texts.size());
    for (std::size_t i = online + 1; i < texts.size(); ++i) {
        EXPECT_NE(texts[i].rfind("Поток ", 0), 0u) << texts[i];
        EXPECT_NE(texts[i].rfind("Лисенер ", 0), 0u) << texts[i];
    }

    // The lists; that the replica does hold "_CLT" futures is checked in-process.
    const auto instruments = Tsv(dump / "instruments.tsv");
    ASSERT_EQ(instruments.count("list"), 1u);
    const auto& list = instruments.at("list");
    const auto& isin = instruments.at("isin");
    int futures = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == "futures") {
            ++futures;
            EXPECT_EQ(isin[i].find("_CLT"), std::string::npos) << isin[i];
        }
    }
    EXPECT_GT(futures, 0);
    EXPECT_GT(std::count(list.begin(), list.end(), "spot"), 0);

    // The key tables, field names first.
    for (const char* table : {"part", "orders_log", "multileg_orders_log", "user_deal",
                              "user_multileg_deal", "position", "sys_messages"}) {
        EXPECT_TRUE(fs::exists(dump / (std::string(table) + ".tsv"))) << table;
    }
    EXPECT_FALSE(Tsv(dump / "part.tsv")["client_code"].empty());
    EXPECT_FALSE(Tsv(dump / "position.tsv")["isin_id"].empty());

    long ms = 0;
    int threads = -1;
    ASSERT_TRUE(ShutdownReport(run.Stderr(), ms, threads)) << run.Stderr();
    EXPECT_EQ(threads, 0);
    RecordProperty("shutdown_ms", std::to_string(ms));
    EXPECT_TRUE(ChildrenNamed(run.Pid(), "P2MQRouter64.exe").empty());
}

TEST(ConsoleRun, ASignalEndsTheRunThroughTheShutdownOrder) {
    TSimInstall inst;
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--seconds", "120"});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();
    ASSERT_TRUE(run.WaitForJournal("Паблишер открыт. Схема данных получена.")) << run.Stdout();
    const std::vector<pid_t> routers = ChildrenNamed(run.Pid(), "P2MQRouter64.exe");
    ASSERT_EQ(routers.size(), 1u);

    run.Signal(SIGTERM);
    const std::optional<int> code = run.Wait(60s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 128 + SIGTERM) << run.Stderr();
    const std::vector<std::string> texts = JournalTexts(run.Stdout());
    EXPECT_FALSE(InOrder(texts, TransactionSequence()).empty()) << run.Stdout();
    EXPECT_FALSE(InOrder(texts, MarketDataSequence()).empty()) << run.Stdout();
    // The market-data thread wrote its last line while the UI thread waited for it.
    const std::size_t closing = IndexOf(texts, "Закрытие соединения Макет-дата...");
    ASSERT_LT(closing, texts.size());
    for (std::size_t i = closing + 1; i < texts.size(); ++i) {
        EXPECT_NE(texts[i].rfind("Поток ", 0), 0u) << texts[i];
    }
    long ms = 0;
    int threads = -1;
    ASSERT_TRUE(ShutdownReport(run.Stderr(), ms, threads)) << run.Stderr();
    EXPECT_EQ(threads, 0);
    RecordProperty("shutdown_ms", std::to_string(ms));
    // The router this terminal started has been terminated and reaped with it.
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(routers[0]); }, 30s));
}

// The router the terminal started is killed: the terminal starts it again and the grids end
// equal to the new router's tables.
TEST(ConsoleRun, ReconnectsAfterTheRouterDiesAndComesBack) {
    TSimInstall inst(0); // a quiet market, so that both routers hold the same rows
    const fs::path dump = inst.Root / "dump";
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--seconds", "240", "--dump",
                           dump.string()});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();
    ASSERT_TRUE(run.WaitForJournal("Паблишер открыт. Схема данных получена.")) << run.Stdout();

    // A life number of its own for one stream, so the reopening can be told apart.
    ASSERT_EQ(inst.Control("lifenum FORTS_POS_REPL 7"), "OK lifenum FORTS_POS_REPL 7");
    ASSERT_TRUE(run.WaitForJournal("Поток FORTS_POS_REPL Перешел в режим Он-Лайн", 2));

    ASSERT_TRUE(run.WaitForJournal("Соединение Маркет-дата на связи.")) << run.Stdout();
    ASSERT_TRUE(run.WaitForJournal("Соединение Трансакции на связи.")) << run.Stdout();
    const std::vector<pid_t> routers = ChildrenNamed(run.Pid(), "P2MQRouter64.exe");
    ASSERT_EQ(routers.size(), 1u);
    const std::size_t logBefore = ReadFile(inst.Root / "router.log").size();
    kill(routers[0], SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    // The terminal starts its router again, with the same command line, and both links come
    // back on-line by themselves, all within seconds.
    std::vector<pid_t> now;
    EXPECT_TRUE(WaitUntil(
        [&] {
            now = ChildrenNamed(run.Pid(), "P2MQRouter64.exe");
            return now.size() == 1 && now[0] != routers[0] &&
                   inst.Control("ping").rfind("OK", 0) == 0;
        },
        10s))
        << run.Stdout();
    const std::string back = R"(Соединение (Маркет-дата|Трансакции) восстановлено\..*)";
    const auto recovered = [&] {
        int n = 0;
        for (const std::string& t : JournalTexts(run.Stdout()))
            n += std::regex_match(t, std::regex(back)) ? 1 : 0;
        return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return recovered() == 2; },
                          10s - std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - killed)))
        << run.Stdout();
    RecordProperty("back_online_ms",
                   std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - killed)
                                      .count()));
    EXPECT_EQ(run.CountJournal("Роутер запущен терминалом повторно (попытка 1)."), 1);

    // Both connections open again by themselves: every listener is reopened and its stream
    // comes on-line again from the new router, and the publisher announces its scheme again.
    for (const std::string& stream : DefaultStreams()) {
        EXPECT_TRUE(run.WaitForJournal("Лисенер " + stream + " открыт.", 2)) << stream;
        EXPECT_TRUE(run.WaitForJournal("Поток " + stream + " Перешел в режим Он-Лайн",
                                       stream == "FORTS_POS_REPL" ? 3 : 2))
            << stream;
    }
    EXPECT_TRUE(run.WaitForJournal("Паблишер открыт. Схема данных получена.", 2));
    // The lists are built once per run, not again after a reconnection.
    EXPECT_EQ(run.CountJournal(kOnline), 1);

    // The listeners asked the new router for the life numbers they had last received.
    const std::string log = ReadFile(inst.Root / "router.log").substr(logBefore);
    EXPECT_NE(log.find("FORTS_POS_REPL opened (life 7 asked)"), std::string::npos) << log;
    EXPECT_NE(log.find("FORTS_PART_REPL opened (life 1 asked)"), std::string::npos) << log;

    // The router ends with the run that started it: its rows are counted first (the market is
    // quiet, so they stay as counted).
    const std::vector<std::tuple<std::string, std::string, std::string>> tables = {
        {"FORTS_PART_REPL", "part", "client_code"},
        {"FORTS_POS_REPL", "position", "isin_id"},
        {"FORTS_TRADE_REPL", "orders_log", "replID"}};
    std::map<std::string, long> routerRows;
    for (const auto& [stream, table, field] : tables)
        routerRows[table] = RouterRows(inst, stream, table);
    run.Signal(SIGTERM);
    ASSERT_TRUE(run.Wait(60s).has_value());
    // The store holds the new router's rows again.
    for (const auto& [stream, table, field] : tables) {
        const long rows = routerRows[table];
        ASSERT_GE(rows, 0) << stream;
        const auto columns = Tsv(dump / (table + ".tsv"));
        const auto it = columns.find(field);
        EXPECT_EQ(it == columns.end() ? 0L : static_cast<long>(it->second.size()), rows) << table;
    }
    if (const auto part = Tsv(dump / "part.tsv"); part.count("client_code") != 0) {
        EXPECT_FALSE(part.at("client_code").empty());
    }
}

TEST(ConsoleRun, AMissingInstallationEndsWithTheMainWindowsMessages) {
    TSimInstall inst;
    const fs::path empty = inst.Root / "empty.reg";
    std::ofstream(empty)
        << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n";
    TConsoleRun run(inst, {"--seconds", "60"}, {"VORLEN_REGISTRY=" + empty.string()});
    ASSERT_TRUE(run.Started());
    const std::optional<int> code = run.Wait(60s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 2);
    EXPECT_EQ(JournalTexts(run.Stdout()), std::vector<std::string>{"Настройки не применены!"});
    const std::string err = run.Stderr();
    const std::size_t error = err.find("ОШИБКА: Не получен путь к роутеру!");
    const std::size_t info = err.find("ВНИМАНИЕ: Настройки не применены.");
    EXPECT_NE(error, std::string::npos) << err;
    EXPECT_NE(info, std::string::npos) << err;
    EXPECT_LT(error, info);
}

TEST(ConsoleRun, UntilOnlineReportsARunThatNeverGetsThere) {
    TSimInstall inst;
    // Settings that point at a port where no router listens: the router is started on its own
    // port, the terminal keeps trying another.
    TSimInstall other;
    TConsoleRun run(
        inst, {"--settings", other.SettingsFile.string(), "--until-online", "--seconds", "3"});
    ASSERT_TRUE(run.Started());
    const std::optional<int> code = run.Wait(60s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 3) << run.Stderr();
    EXPECT_EQ(run.CountJournal(kOnline), 0);
}

// Without a time limit, --until-online gives up on a router reported unreachable only once the
// router it started has had its time to come up: a slow start still gets on-line, a port nobody
// listens on ends the run.
TEST(ConsoleRun, UntilOnlineWithoutATimeLimitWaitsForASlowRouterOnly) {
    struct TCase {
        const char* Name;
        bool OtherPort; // the settings name a port where no router listens
        int SlowStartS; // the router sleeps this long before it starts
        int Code;
    };
    for (const TCase& c : {TCase{"slow router", false, 4, 0}, TCase{"nobody there", true, 0, 3}}) {
        TSimInstall inst;
        TSimInstall other;
        if (c.SlowStartS > 0) {
            const fs::path real = inst.Root / "bin" / "P2MQRouter64.real";
            fs::rename(inst.Router(), real);
            std::ofstream(inst.Router()) << "#!/bin/sh\nsleep " << c.SlowStartS << "\nexec \""
                                         << real.string() << "\" \"$@\"\n";
            fs::permissions(inst.Router(), fs::perms::owner_all);
        }
        const auto started = std::chrono::steady_clock::now();
        TConsoleRun run(inst, {"--settings", (c.OtherPort ? other : inst).SettingsFile.string(),
                               "--until-online"});
        ASSERT_TRUE(run.Started()) << c.Name;
        const std::optional<int> code = run.Wait(90s);
        ASSERT_TRUE(code.has_value()) << c.Name << " runs on";
        EXPECT_EQ(*code, c.Code) << c.Name << run.Stderr();
        const std::string router = "127.0.0.1:" + std::to_string((c.OtherPort ? other : inst).Port);
        // The router was reported unreachable in both, before the slow one came up.
        EXPECT_EQ(run.CountJournal("Внимание: Роутер " + router +
                                   " недоступен, соединение Маркет-дата не открыто. Попытки "
                                   "подключения продолжаются..."),
                  1)
            << c.Name << run.Stdout();
        EXPECT_EQ(run.CountJournal(kOnline), c.Code == 0 ? 1 : 0) << c.Name;
        EXPECT_EQ(run.Stderr().find("the router does not answer") != std::string::npos, c.Code != 0)
            << c.Name << run.Stderr();
        RecordProperty(std::string(c.Name) == "slow router" ? "slow_router_ms" : "gave_up_ms",
                       std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - started)
                                          .count()));
    }
}

} // namespace vorlen::e2e
