// Orders from the console against the offline exchange: placed, refused by the gate before they
// are posted, cancelled by the kill switch, and left unconfirmed when replies are withheld.

#include "SimHarness.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace vorlen::e2e {
namespace {

// Si-12.26 trades around 92000 with a step of 1; these rest well below the market.
const char* const kIsin = "Si-12.26";
constexpr int kSiIsinId = 2070001; // the simulator's first futures: Si-12.26

std::string Order(int price, int qty = 1) {
    return "buy " + std::string(kIsin) + " " + std::to_string(qty) + " " + std::to_string(price) +
           " FZ00001";
}

// The counter `name` of the router's "counters" reply; -1 when missing.
long Counter(const std::string& reply, const std::string& name) {
    const std::size_t at = reply.find(" " + name + "=");
    return at == std::string::npos ? -1 : std::stol(reply.substr(at + name.size() + 2));
}

// The order numbers the exchange gave in its replies to the console's orders.
std::vector<std::string> AcceptedIds(const std::string& output) {
    const std::string key = "номер заявки ";
    std::vector<std::string> ids;
    for (const std::string& r : JournalTextsFrom(output, "Ответ на заявку")) {
        if (const std::size_t at = r.find(key); at != std::string::npos) {
            ids.push_back(r.substr(at + key.size(), r.find('.', at) - at - key.size()));
        }
    }
    return ids;
}

fs::path OrderLog(const TSimInstall& inst) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(inst.DataDir, ec)) {
        if (e.path().filename().string().rfind("orders_", 0) == 0) {
            return e.path();
        }
    }
    return {};
}

TEST(ConsoleOrders, PlacedOrderIsInTheOrdersLogAndOwnOrdersRefusedOnesAreNeverPosted) {
    TSimInstall inst(0);
    TConsoleRun run(inst,
                    {"--settings", inst.SettingsFile.string(), "--seconds", "300", "--order",
                     Order(91000), "--order", "buy Si-12.26 1 91000.5 FZ00001", "--order",
                     Order(91001, 11), "--order", Order(91002) + "0", "--order", Order(86000)});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(
        WaitUntil([&] { return !JournalTextsFrom(run.Stdout(), "Заявки консоли:").empty(); }, 180s))
        << run.Stdout() << run.Stderr();
    const std::string counters = inst.Control("counters");
    const std::string out = run.Stdout();

    // Off step, over the quantity limit, a client code the account table does not have, and
    // further from the book's best ask (about 92000) than the limits allow.
    const auto refusals = JournalTextsFrom(out, "Заявка отклонена: ");
    ASSERT_EQ(refusals.size(), 4u) << out;
    EXPECT_NE(refusals[0].find("не кратна шагу"), std::string::npos) << refusals[0];
    EXPECT_NE(refusals[1].find("больше допустимого"), std::string::npos) << refusals[1];
    EXPECT_NE(refusals[2].find("FZ000010"), std::string::npos) << refusals[2];
    EXPECT_NE(refusals[3].find("от лучшей встречной цены"), std::string::npos) << refusals[3];
    EXPECT_EQ(Counter(counters, "posts"), 1) << counters;
    EXPECT_EQ(Counter(counters, "accepted"), 1) << counters;

    const auto replies = JournalTextsFrom(out, "Ответ на заявку");
    const auto ids = AcceptedIds(out);
    ASSERT_EQ(ids.size(), 1u) << out;
    const std::string& orderId = ids[0];
    EXPECT_EQ(JournalTextsFrom(out, "Своя заявка " + orderId +
                                        ": покупка Si-12.26 1 по 91000, клиент "
                                        "FZ00001, выставлена, остаток 1.")
                  .size(),
              1u)
        << out;

    // The order log in the run's data folder: owner-only, every step of the run in it.
    const fs::path log = OrderLog(inst);
    ASSERT_FALSE(log.empty());
    struct stat st {};
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string logText = ReadFile(log);
    for (const std::string& t : refusals) {
        EXPECT_NE(logText.find(t), std::string::npos) << t;
    }
    EXPECT_NE(logText.find(replies[0]), std::string::npos);

    run.Signal(SIGTERM);
    EXPECT_EQ(run.Wait(60s), 128 + SIGTERM);
}

TEST(ConsoleOrders, KillSwitchCancelsThreeRestingOrders) {
    TSimInstall inst(0);
    const fs::path dump = inst.Root / "dump";
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--until-online", "--dump",
                           dump.string(), "--order", Order(91000), "--order", Order(91001),
                           "--order", Order(91002), "--cancel-all"});
    ASSERT_TRUE(run.Started());
    EXPECT_EQ(run.Wait(180s), 0) << run.Stdout() << run.Stderr();
    const std::string out = run.Stdout();
    EXPECT_EQ(JournalTextsFrom(out, "Все заявки сняты, торговля остановлена.").size(), 1u) << out;
    const auto ids = AcceptedIds(out);
    ASSERT_EQ(ids.size(), 3u) << out;
    // Every own active order goes, the ones placed before this run included.
    const auto rows = TsvRows(dump / "orders_log.tsv");
    ASSERT_FALSE(rows.empty());
    const auto column = [&](const char* name) {
        return std::find(rows[0].begin(), rows[0].end(), name) - rows[0].begin();
    };
    const auto action = column("public_action");
    const auto id = column("public_order_id");
    for (const std::string& orderId : ids) {
        const auto reply = JournalTextsFrom(out, "Ответ на снятие заявки " + orderId + " ");
        ASSERT_EQ(reply.size(), 1u) << orderId << "\n" << out;
        EXPECT_NE(reply[0].find("код 0 "), std::string::npos) << reply[0];
        const auto own =
            JournalTextsFrom(out, "Своя заявка " + orderId + ": покупка Si-12.26 1 по");
        ASSERT_EQ(own.size(), 1u) << out;
        EXPECT_NE(own[0].find(", снята, остаток 0."), std::string::npos) << own[0];
        int placed = 0, removed = 0;
        for (std::size_t i = 1; i < rows.size(); ++i) {
            if (rows[i][id] == orderId) {
                placed += rows[i][action] == "1" ? 1 : 0;
                removed += rows[i][action] == "0" ? 1 : 0;
            }
        }
        EXPECT_EQ(placed, 1) << orderId;
        EXPECT_EQ(removed, 1) << orderId;
    }
}

TEST(ConsoleOrders, WithRepliesWithheldTheKillSwitchReportsThemUnconfirmed) {
    TSimInstall inst(0);
    // The router the console starts withholds every reply from its first moment: a control
    // command could arrive after the first order.
    inst.SetRouterOption("withhold", "all");
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--until-online", "--order",
                           Order(91000), "--order", Order(91001), "--order", Order(91002),
                           "--cancel-all"});
    ASSERT_TRUE(run.Started());
    // The three orders and at least as many cancels reached the router and none was answered.
    ASSERT_TRUE(WaitUntil([&] { return inst.Counter("withheld") >= 6; }, 120s))
        << inst.Control("counters") << run.Stdout();
    const std::string counters = inst.Control("counters");
    EXPECT_EQ(Counter(counters, "withheld"), Counter(counters, "posts")) << counters;
    EXPECT_EQ(run.Wait(180s), 5) << run.Stdout() << run.Stderr();
    const std::string out = run.Stdout();
    EXPECT_TRUE(JournalTextsFrom(out, "Все заявки сняты").empty()) << out;
    // Each cancel went out (again, once unanswered for a while) and none was answered: every
    // order is unconfirmed, the three of this run among them.
    std::set<std::string> sent;
    for (const std::string& t : JournalTextsFrom(out, "Снятие заявки ")) {
        if (const std::size_t at = t.find(" отправлено, транзакция "); at != std::string::npos) {
            sent.insert(t.substr(0, at));
        }
    }
    EXPECT_GE(sent.size(), 3u) << out;
    EXPECT_EQ(JournalTextsFrom(out, "Снятие не подтверждено для заявок: " +
                                        std::to_string(sent.size()) + ". Торговля остановлена.")
                  .size(),
              1u)
        << out;
    for (const std::string& id : AcceptedIds(out)) {
        EXPECT_NE(JournalTextsFrom(out, "Снятие не подтверждено, заявки: ").at(0).find(id),
                  std::string::npos)
            << id;
    }
}

// Hundreds of the trader's orders rest at the exchange, far more than the terminal's cap of 30
// messages a second lets go at once: the kill switch paces its cancels and the exchange is left
// with none.
TEST(ConsoleOrders, KillSwitchEmptiesABookOfHundredsOfOrders) {
    constexpr int kSeeded = 300, kPlaced = 20;
    TSimInstall inst(0);
    std::ofstream(inst.Root / "lim.txt")
        << "* max_active=100000 per_minute=1000 per_day=100000 max_pos=100000\n";
    std::vector<std::string> args = {"--settings", inst.SettingsFile.string(),
                                     "--seconds",  "300",
                                     "--risk",     (inst.Root / "lim.txt").string()};
    for (int i = 0; i < kPlaced; ++i) {
        args.push_back("--order");
        args.push_back(Order(91000 + i));
    }
    args.push_back("--cancel-all");
    TConsoleRun run(inst, args);
    ASSERT_TRUE(run.Started());
    // Seeded as soon as the router answers: long before the replication snapshot is whole, so
    // the terminal finds them resting when it comes on-line.
    std::string seeded;
    ASSERT_TRUE(WaitUntil([&] {
        seeded = inst.Control("rest " + std::to_string(kSiIsinId) + " " + std::to_string(kSeeded));
        return seeded.rfind("OK", 0) == 0;
    }));
    const long resting = Counter(inst.Control("counters"), "resting");
    ASSERT_GE(resting, kSeeded) << seeded;
    ASSERT_TRUE(
        WaitUntil([&] { return !JournalTextsFrom(run.Stdout(), "Заявки консоли:").empty(); }, 120s))
        << run.Stdout() << run.Stderr();
    const std::string counters = inst.Control("counters");
    const std::string out = run.Stdout();
    EXPECT_EQ(Counter(counters, "resting"), 0) << counters;
    // Every order placed and every one of them cancelled, each once and none refused.
    EXPECT_EQ(Counter(counters, "posts"), 2L * kPlaced + resting) << counters;
    EXPECT_EQ(Counter(counters, "accepted"), 2L * kPlaced + resting) << counters;
    EXPECT_EQ(JournalTextsFrom(out, "Снять все заявки и остановить торговлю: торговля остановлена, "
                                    "снимается заявок: " +
                                        std::to_string(resting + kPlaced) +
                                        ", без ответа биржи: 0.")
                  .size(),
              1u)
        << out;
    EXPECT_EQ(JournalTextsFrom(out, "Все заявки сняты, торговля остановлена.").size(), 1u) << out;
    EXPECT_TRUE(JournalTextsFrom(out, "Снятие не подтверждено").empty()) << out;
    EXPECT_EQ(JournalTextsFrom(out, "Заявки консоли: отклонено 0, не выполнено 0.").size(), 1u)
        << out;
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Wait(60s), 128 + SIGTERM);
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

// Each of these once ran with exit 0 and posted 3 lots where the file meant at most 2. Now the
// run ends before connecting, naming the file, its line and what is wrong there.
TEST(ConsoleOrders, ADamagedLimitsFileEndsTheRunBeforeAnyOrder) {
    struct TCase {
        std::string Bytes; // empty: a folder where the file should be
        const char* Said;
    };
    const std::vector<TCase> cases = {
        {"* max_qty=2\r\nFZ00001 max_qty=2\r\nFZ00001 max_qty=5\r\n", "строка 3: "},
        {"max_qty=2\n", "строка 1: \"max_qty=2\""},
        {"", "это папка"},
        {std::string("\x7f"
                     "ELF\x02\x01\x01\x00\xfe\x8a\x90",
                     11),
         "строка 1: "},
    };
    TSimInstall inst(0);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const fs::path file = inst.Root / ("limits" + std::to_string(i));
        if (cases[i].Bytes.empty()) {
            fs::create_directories(file);
        } else {
            WriteBytes(file, cases[i].Bytes);
        }
        TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--until-online", "--risk",
                               file.string(), "--order", Order(91000, 3)});
        ASSERT_TRUE(run.Started());
        EXPECT_EQ(run.Wait(60s), 1) << cases[i].Said;
        const std::string err = run.Stderr();
        const std::size_t named = err.find("--risk: " + file.string() + ": ");
        EXPECT_NE(named, std::string::npos) << err;
        EXPECT_NE(err.find(cases[i].Said, named), std::string::npos) << err;
        EXPECT_EQ(err.find('\x7f'), std::string::npos) << "raw bytes echoed";
        EXPECT_TRUE(JournalTextsFrom(run.Stdout(), "Заявка").empty()) << run.Stdout();
    }
    EXPECT_TRUE(inst.Control("ping").empty()) << "a router was started";
}

// The limits file is the data folder's: --data-dir, else $VORLEN_DATA_DIR, else the user's data
// folder, which takes over the file the settings file's folder held. A damaged file in each place
// tells which one a run read.
TEST(ConsoleOrders, TheDataFolderIsTheOptionThenTheEnvironmentThenTheSettingsFolder) {
    TSimInstall inst(0);
    const fs::path option = inst.Root / "option dir";
    const fs::path env = inst.Root / "env";
    for (const fs::path& dir : {option, env, inst.Root}) {
        WriteBytes(dir / "risk_limits.txt", "* max_qty=2\n* max_qty=3\n");
    }
    struct TCase {
        std::vector<std::string> Args;
        std::string Env;
        fs::path Read;
    };
    const std::vector<TCase> cases = {
        {{"--data-dir", option.string()}, env.string(), option},
        {{}, env.string(), env},
        {{}, "", inst.Root / "xdg" / "vorlen"},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> args{"--settings", inst.SettingsFile.string(), "--until-online",
                                      "--order", Order(91000)};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        TConsoleRun run(
            inst, args,
            {"VORLEN_DATA_DIR=" + c.Env, "XDG_DATA_HOME=" + (inst.Root / "xdg").string()});
        ASSERT_TRUE(run.Started());
        EXPECT_EQ(run.Wait(60s), 1) << c.Read;
        EXPECT_EQ(JournalTextsFrom(run.Stdout(), "Файл лимитов " +
                                                     (inst.Root / "risk_limits.txt").string() +
                                                     " перенесен в папку данных ")
                      .size(),
                  c.Env.empty() ? 1U : 0U)
            << run.Stdout();
        EXPECT_NE(run.Stderr().find((c.Read / "risk_limits.txt").string() + ": строка 2"),
                  std::string::npos)
            << c.Read << "\n"
            << run.Stderr();
    }
}

// Market data held back from the start (the settings name a router of another installation,
// frozen before the terminal connects): the terminal never comes on-line, and the orders it was
// asked for are reported as not sent instead of passing in silence.
TEST(ConsoleOrders, OrdersThatCouldNotBeSentAreReported) {
    TSimInstall inst(0);
    TSimInstall frozen(0);
    TChild router;
    ASSERT_TRUE(router.Start(
        {frozen.Router().string(), "/ini:" + (frozen.Root / "client_router.ini").string()},
        frozen.Root / "bin", {}));
    ASSERT_TRUE(WaitUntil([&] { return frozen.Control("freeze") == "OK freeze"; }));
    TConsoleRun run(inst, {"--settings", frozen.SettingsFile.string(), "--seconds", "8", "--order",
                           Order(91000), "--order", Order(91001)});
    ASSERT_TRUE(run.Started());
    EXPECT_EQ(run.Wait(120s), 5) << run.Stdout() << run.Stderr();
    const std::string out = run.Stdout();
    ASSERT_EQ(JournalTextsFrom(out, "Инструменты добавлены").size(), 0u) << "came on-line: " << out;
    EXPECT_EQ(JournalTextsFrom(out, "Заявка: покупка Si-12.26 1 по 91001, клиент FZ00001.").size(),
              1u)
        << out;
    EXPECT_EQ(JournalTextsFrom(out, "Заявка не отправлена: терминал не вышел на связь").size(), 2u)
        << out;
    EXPECT_NE(run.Stderr().find("2 order(s) not sent: the terminal never came on-line"),
              std::string::npos)
        << run.Stderr();
}

// Quantities and prices the add message cannot carry are refused by the gate with a reason,
// never cut down on the way; a limits file written on Windows (BOM, CRLF) still reads.
TEST(ConsoleOrders, WhatTheMessageCannotCarryIsRefusedNotCut) {
    TSimInstall inst(0);
    WriteBytes(inst.DataDir / "risk_limits.txt",
               "\xEF\xBB\xBF* max_qty=1000000000 max_pos=1000000000\r\n"
               "FZ00001 Si-12.26 max_qty=2\r\n");
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--seconds", "300", "--order",
                           "buy Si-12.26 4294967297 91000 FZ00001", "--order",
                           "buy Eu-12.26 2147483648 91000 FZ00001", "--order",
                           "buy Si-12.26 1 0 FZ00001", "--order", "buy Si-12.26 1 -91000 FZ00001",
                           "--order", Order(91000, 3), "--order", Order(91000, 2)});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(
        WaitUntil([&] { return !JournalTextsFrom(run.Stdout(), "Заявки консоли:").empty(); }, 180s))
        << run.Stdout() << run.Stderr();
    const std::string counters = inst.Control("counters");
    const std::string out = run.Stdout();
    const auto refusals = JournalTextsFrom(out, "Заявка отклонена: ");
    ASSERT_EQ(refusals.size(), 5u) << out;
    EXPECT_NE(refusals[0].find("4294967297 больше допустимого в одной заявке (2)"),
              std::string::npos)
        << refusals[0];
    EXPECT_NE(refusals[1].find("2147483648 больше допустимого в одной заявке (1000000000)"),
              std::string::npos)
        << refusals[1];
    EXPECT_EQ(refusals[2], "Заявка отклонена: Цена должна быть больше нуля.");
    EXPECT_EQ(refusals[3], "Заявка отклонена: Цена должна быть больше нуля.");
    EXPECT_NE(refusals[4].find("Количество 3 больше допустимого в одной заявке (2)"),
              std::string::npos)
        << refusals[4];
    EXPECT_EQ(Counter(counters, "posts"), 1) << counters;
    const auto ids = AcceptedIds(out);
    ASSERT_EQ(ids.size(), 1u) << out;
    EXPECT_EQ(
        JournalTextsFrom(out, "Своя заявка " + ids[0] + ": покупка Si-12.26 2 по 91000,").size(),
        1u)
        << out;
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Wait(60s), 128 + SIGTERM);
}

} // namespace
} // namespace vorlen::e2e
