// history.ini as a trader may leave it: good values, values that cannot be read (reported, the
// default used), keys missing, keys unknown; and the file written by the dialog read back.

#include "settings/HistorySettings.h"

#include <gtest/gtest.h>
#include <random>

namespace vorlen {
namespace {

namespace fs = std::filesystem;

struct TIniCase {
    const char* Name;
    const char* Text;
    bool Record;
    const char* Folder; // as the settings hold it, "" for the default
    unsigned KeepDays;
    unsigned KeepGiB;
    std::vector<const char*> Problems; // the start of each line's text after "строка "
};

class HistoryIni : public ::testing::TestWithParam<TIniCase> {};

TEST_P(HistoryIni, ReadsWhatItCanAndSaysWhatItCannot) {
    const TIniCase& c = GetParam();
    const THistorySettingsRead read = ParseHistorySettings(c.Text, "/data");
    EXPECT_EQ(read.Settings.Record, c.Record);
    EXPECT_EQ(read.Settings.Folder, fs::path(c.Folder));
    EXPECT_EQ(read.Settings.KeepDays, c.KeepDays);
    EXPECT_EQ(read.Settings.KeepGiB, c.KeepGiB);
    ASSERT_EQ(read.Problems.size(), c.Problems.size()) << ::testing::PrintToString(read.Problems);
    for (std::size_t i = 0; i < c.Problems.size(); ++i)
        EXPECT_EQ(read.Problems[i].rfind(
                      std::string("Внимание: history.ini, строка ") + c.Problems[i], 0),
                  0u)
            << read.Problems[i];
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HistoryIni,
    ::testing::Values(
        TIniCase{"Empty", "", true, "", 30, 20, {}},
        TIniCase{"AllGood",
                 "\xEF\xBB\xBF# comment\r\n; another\r\n\r\n RECORD = Off \r\nfolder=/mnt/h\r\n"
                 "keep_days=7\r\nkeep_gib=3\r\n",
                 false,
                 "/mnt/h",
                 7,
                 3,
                 {}},
        TIniCase{"RelativeFolderIsUnderTheDataFolder",
                 "folder=rec\nrecord=1\n",
                 true,
                 "/data/rec",
                 30,
                 20,
                 {}},
        TIniCase{"LastOfTwoWinsAndUnknownKeysPass",
                 "keep_days=3\nkeep_days=4\ncolour=red\n",
                 true,
                 "",
                 4,
                 20,
                 {}},
        TIniCase{"EmptyFolderIsTheDefault", "folder=\n", true, "", 30, 20, {}},
        TIniCase{"BadValuesTakeDefaults",
                 "record=maybe\nkeep_days=0\nkeep_gib=-1\nkeep_days=3651\nkeep_gib=12x\n"
                 "keep_gib=99999999999\n",
                 true,
                 "",
                 30,
                 20,
                 {"1 (record=maybe): ожидается on или off; взято on",
                  "2 (keep_days=0): ожидается число дней от 1 до 3650; взято 30",
                  "3 (keep_gib=-1): ожидается число ГиБ от 1 до 100000; взято 20", "4 ", "5 ",
                  "6 "}},
        TIniCase{"ALineWithoutAnEqualsSign",
                 "keep_days=9\nrecord\n",
                 true,
                 "",
                 9,
                 20,
                 {"2 (record): нет знака «=», строка пропущена"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(HistoryIni, WhatIsSavedReadsBackAndAMissingFileIsTheDefaults) {
    const fs::path dir =
        fs::temp_directory_path() / ("vorlen-hini-" + std::to_string(std::random_device{}()));
    fs::remove_all(dir);
    const THistorySettingsRead none = LoadHistorySettings(dir);
    EXPECT_EQ(none.Settings, THistorySettings{});
    EXPECT_TRUE(none.Problems.empty());
    EXPECT_EQ(HistoryFolder(none.Settings, dir), dir / "history");

    THistorySettings s;
    s.Record = false;
    s.Folder = dir / "папка с историей";
    s.KeepDays = 12;
    s.KeepGiB = 345;
    std::string error;
    ASSERT_TRUE(SaveHistorySettings(dir, s, error)) << error;
    const THistorySettingsRead back = LoadHistorySettings(dir);
    EXPECT_EQ(back.Settings, s);
    EXPECT_TRUE(back.Problems.empty());
#ifndef _WIN32
    EXPECT_EQ(fs::status(dir / kHistorySettingsFile).permissions() & fs::perms::others_read,
              fs::perms::none);
#endif
    fs::remove_all(dir);
}

} // namespace
} // namespace vorlen
