// The trader's limits file and order logs in the user's data folder: what an older version left
// beside the program is taken over once and never read again, $VORLEN_DATA_DIR wins, and a folder
// that cannot be written is said so instead of failing in silence.

#include "main/TradingFolder.h"

#include "main/ConnectorPort.h"
#include "orders/OrderLogFile.h"
#include "orders/RiskLimits.h"
#include "platform/Journal.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdlib.h> // NOLINT(modernize-deprecated-headers): mkdtemp, setenv
#include <unistd.h>

#ifndef _WIN32

namespace vorlen {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct TScratch {
    TScratch() {
        std::string pattern = (fs::temp_directory_path() / "vorlen-folder-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            Dir = pattern;
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;
    fs::path Dir;
};

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : std::string("<none>");
}

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

const auto kNow = std::chrono::system_clock::now();

fs::path LogName(std::chrono::system_clock::time_point at) {
    return orders::TOrderLogFile(fs::path()).FileFor(at);
}

TEST(TradingFolder, TakesOverTheOldFilesOnceAndNeverOverwritesTheTradersOwn) {
    struct TCase {
        const char* Name;
        const char* OwnLimits; // the data folder's own file first; nullptr: none
        std::size_t Texts;     // journal texts of the first take-over
        const char* LimitsAfter;
    };
    const std::vector<TCase> cases = {
        {"empty data folder", nullptr, 2, "* max_qty=5\n"},
        {"own limits kept", "* max_qty=9\n", 1, "* max_qty=9\n"},
    };
    for (const TCase& c : cases) {
        TScratch s;
        const fs::path old = s.Dir / "program" / "saving";
        const fs::path data = s.Dir / "user" / "vorlen"; // made by the take-over
        Write(old / orders::kLimitsFileName, "* max_qty=5\n");
        Write(old / LogName(kNow), "today\n");
        Write(old / LogName(kNow - 48h), "long ago\n");
        if (c.OwnLimits != nullptr)
            Write(data / orders::kLimitsFileName, c.OwnLimits);

        const TAdoption adopted = AdoptOldTradingFiles(old, data, kNow);
        EXPECT_FALSE(adopted.Failed);
        const std::vector<std::string>& first = adopted.Texts;
        ASSERT_EQ(first.size(), c.Texts) << c.Name;
        EXPECT_EQ(first.back(), "Журнал заявок за день " + (old / LogName(kNow)).string() +
                                    " перенесен в папку данных " + data.string() +
                                    "; дальше используется " + (data / LogName(kNow)).string() +
                                    ".")
            << c.Name;
        if (c.OwnLimits == nullptr) {
            EXPECT_EQ(first.front().rfind("Файл лимитов " + (old / "risk_limits.txt").string(), 0),
                      0U)
                << first.front();
        }
        EXPECT_EQ(Read(data / orders::kLimitsFileName), c.LimitsAfter) << c.Name;
        EXPECT_EQ(Read(data / LogName(kNow)), "today\n");
        EXPECT_FALSE(fs::exists(data / LogName(kNow - 48h))) << "only the day's log counts";
        EXPECT_EQ(fs::status(data / LogName(kNow)).permissions() & fs::perms::group_all,
                  fs::perms::none)
            << "the log is the owner's only";

        // The old files changed later are not read again.
        Write(old / orders::kLimitsFileName, "* max_qty=1\n");
        EXPECT_TRUE(AdoptOldTradingFiles(old, data, kNow).Texts.empty()) << c.Name;
        EXPECT_EQ(Read(data / orders::kLimitsFileName), c.LimitsAfter) << c.Name;
    }

    // A data folder that cannot be made or written is reported and the run keeps to the old
    // folder; one that is the old folder takes nothing.
    TScratch s;
    Write(s.Dir / "old" / orders::kLimitsFileName, "* max_qty=5\n");
    Write(s.Dir / "blocked", "a file where the folder should be");
    fs::create_directories(s.Dir / "readonly");
    fs::permissions(s.Dir / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
    std::vector<fs::path> unwritable{s.Dir / "blocked" / "vorlen"};
    if (::geteuid() != 0) // permissions do not stop root
        unwritable.push_back(s.Dir / "readonly");
    for (const fs::path& data : unwritable) {
        const TAdoption blocked = AdoptOldTradingFiles(s.Dir / "old", data, kNow);
        EXPECT_TRUE(blocked.Failed) << data;
        ASSERT_EQ(blocked.Texts.size(), 1U) << data;
        EXPECT_EQ(blocked.Texts[0].rfind("Ошибка: файл лимитов ", 0), 0U) << blocked.Texts[0];
        EXPECT_TRUE(fs::is_empty(s.Dir / "readonly")) << "no part file left";
    }
    fs::permissions(s.Dir / "readonly", fs::perms::owner_all);
    EXPECT_TRUE(AdoptOldTradingFiles(s.Dir / "old", s.Dir / "old" / ".", kNow).Texts.empty());

    // The desktop then trades from the old folder, as it did before.
    TMemoryJournal memo;
    TConnectorServices services;
    services.PathSeparator = '/';
    const std::unique_ptr<TTerminalPort> port =
        DesktopPortFactory(s.Dir / "blocked" / "vorlen", services, s.Dir / "old")(memo, {});
    EXPECT_EQ(port->TradingDir(), s.Dir / "old");
    EXPECT_EQ(memo.Lines.size(), 1U);
}

// The desktop's port: the data folder holds the limits file the limits dialog and the desk read,
// $VORLEN_DATA_DIR chooses it when set, and the take-over is journalled where the trader sees it.
TEST(TradingFolder, TheDesktopTradesFromTheDataFolder) {
    TScratch s;
    const fs::path old = s.Dir / "saving";
    Write(old / orders::kLimitsFileName, "* max_qty=5\n");

    bool fromEnvironment = true;
    ::unsetenv("VORLEN_DATA_DIR"); // NOLINT(concurrency-mt-unsafe): no thread of ours yet
    EXPECT_EQ(TraderDataDir(s.Dir / "user", old, fromEnvironment), s.Dir / "user");
    EXPECT_FALSE(fromEnvironment);
    EXPECT_EQ(TraderDataDir({}, old, fromEnvironment), old) << "no home at all";
    ::setenv("VORLEN_DATA_DIR", (s.Dir / "env").c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    EXPECT_EQ(TraderDataDir(s.Dir / "user", old, fromEnvironment), s.Dir / "env");
    EXPECT_TRUE(fromEnvironment);
    EXPECT_TRUE(DesktopOldTradingDir().empty()) << "a folder the trader chose takes over nothing";
    ::unsetenv("VORLEN_DATA_DIR"); // NOLINT(concurrency-mt-unsafe)

    TMemoryJournal memo;
    TConnectorServices services;
    services.PathSeparator = '/';
    const fs::path data = s.Dir / "user";
    const std::unique_ptr<TTerminalPort> port = DesktopPortFactory(data, services, old)(memo, {});
    EXPECT_EQ(port->TradingDir(), data);
    EXPECT_EQ(Read(data / orders::kLimitsFileName), "* max_qty=5\n");
    ASSERT_EQ(memo.Lines.size(), 1U);
    EXPECT_NE(memo.Lines[0].find("--> Файл лимитов "), std::string::npos) << memo.Lines[0];
}

} // namespace
} // namespace vorlen

#endif
