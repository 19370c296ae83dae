// The desktop terminal's port as gui_main builds it: it records unless history.ini says not to,
// into the folder the file names, and takes a changed file at the next connect.

#include "connector/Connector.h"
#include "main/ConnectorPort.h"

#if VORLEN_HISTORY
#include "history/Recorder.h"
#endif

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace vorlen {
namespace {

namespace fs = std::filesystem;

#if VORLEN_HISTORY

struct TScratchDir {
    TScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "vorlen-desk-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            Dir = pattern;
    }
    ~TScratchDir() {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;
    fs::path Dir;
};

std::size_t DayFiles(const fs::path& dir) {
    std::size_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        n += e.path().extension() == ".vrec" ? 1 : 0;
    return n;
}

bool DayFileAppears(const fs::path& dir) {
    for (int i = 0; i < 500; ++i) {
        if (DayFiles(dir) != 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

struct TDeskCase {
    const char* Name;
    const char* Ini;         // nullptr: no history.ini at all
    const char* RecordsInto; // under the data folder; nullptr: nothing recorded
    unsigned KeepDays;
    const char* JournalHas;
};

class DesktopPort : public ::testing::TestWithParam<TDeskCase> {};

TEST_P(DesktopPort, FollowsHistoryIniAtEachConnect) {
    const TDeskCase& c = GetParam();
    TScratchDir scratch;
    ASSERT_FALSE(scratch.Dir.empty());
    const fs::path data = scratch.Dir / "data";
    if (c.Ini != nullptr) {
        fs::create_directories(data);
        std::string text = c.Ini;
        for (std::size_t at = text.find("$D"); at != std::string::npos; at = text.find("$D"))
            text.replace(at, 2, scratch.Dir.string());
        std::ofstream(data / "history.ini") << text;
    }
    TMemoryJournal memo;
    TConnectorServices services;
    services.PathSeparator = '/';
    const std::unique_ptr<TTerminalPort> made = DesktopPortFactory(data, services)(memo, {});
    auto& port = dynamic_cast<TConnectorPort&>(*made);
    EXPECT_EQ(port.HistoryDataDir(), data) << "the dialog edits this folder's history.ini";
    TMemoryJournal asked;
    const TRecordingSetup setup = vorlen::DesktopRecording(data, asked)();
    EXPECT_EQ(setup.KeepDays, c.KeepDays);
    EXPECT_EQ(setup.KeepBytes, 20ull << 30);
    // What StartTransactions does before the connection threads start.
    port.Connector().StartRecording();
    history::TRecorder* recorder = port.Connector().Recorder();
    if (c.RecordsInto == nullptr) {
        EXPECT_EQ(recorder, nullptr);
    } else {
        ASSERT_NE(recorder, nullptr);
        EXPECT_TRUE(recorder->Recording());
        EXPECT_TRUE(DayFileAppears(scratch.Dir / c.RecordsInto)) << c.RecordsInto;
    }
    if (std::string(c.RecordsInto == nullptr ? "" : c.RecordsInto) != "data/history") {
        EXPECT_FALSE(fs::exists(data / "history")) << "nothing in the default folder";
    }
    bool said = c.JournalHas[0] == '\0';
    for (const std::string& line : memo.Lines)
        said = said || line.find(c.JournalHas) != std::string::npos;
    EXPECT_TRUE(said) << c.JournalHas;

    // Switched the other way while disconnected: the next connect follows the file.
    fs::create_directories(data);
    std::ofstream(data / "history.ini")
        << (c.RecordsInto == nullptr ? "record=on\nfolder=" + (scratch.Dir / "later").string()
                                     : std::string("record=off\n"));
    port.Connector().StartRecording();
    EXPECT_EQ(port.Connector().Recorder() != nullptr, c.RecordsInto == nullptr);
    if (c.RecordsInto == nullptr) {
        EXPECT_TRUE(DayFileAppears(scratch.Dir / "later"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DesktopPort,
    ::testing::Values(TDeskCase{"NoFile", nullptr, "data/history", 30, ""},
                      TDeskCase{"OwnFolder", "record=on\nfolder=$D/elsewhere\nkeep_days=5\n",
                                "elsewhere", 5, ""},
                      TDeskCase{"Off", "record=off\nfolder=$D/elsewhere\n", nullptr, 30, ""},
                      TDeskCase{"BadValueKeepsRecording", "keep_days=many\n", "data/history", 30,
                                "Внимание: history.ini, строка 1 (keep_days=many)"}),
    [](const auto& info) { return std::string(info.param.Name); });

#else
TEST(DesktopPort, NeedsTheHistoryModule) {
    GTEST_SKIP() << "this build has no recordings";
}
#endif

} // namespace
} // namespace vorlen
