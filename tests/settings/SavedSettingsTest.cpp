#include "settings/SavedSettings.h"

#include "settings/Settings.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace vorlen {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test and per run, removed afterwards: runs of the same test at the same
// time (two configurations, two checkouts) each get their own.
class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string stem =
            std::string("vorlen-settings-") + info->test_suite_name() + "-" + info->name() + "-";
        std::random_device random;
        for (;;) {
            FPath = fs::temp_directory_path() / (stem + std::to_string(random()));
            // create_directory is false for a folder that exists already: someone else's.
            if (fs::create_directory(FPath))
                break;
        }
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(FPath, ec);
    }
    const fs::path& Path() const { return FPath; }

private:
    fs::path FPath;
};

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
}

std::vector<std::string> DefaultLines() {
    return SavedSettingsLines(DefaultSavedSettings());
}

std::string Join(const std::vector<std::string>& lines, const char* end = "\r\n") {
    std::string text;
    for (const std::string& line : lines) {
        text += line + end;
    }
    return text;
}

TEST(SavedFileFormatTest, DefaultFileHas177LinesEndedByCrLf) {
    const std::string bytes = FormatSavedSettings(DefaultSavedSettings());
    const std::vector<std::string> lines = DefaultLines();
    ASSERT_EQ(lines.size(), 177u);
    EXPECT_EQ(bytes, Join(lines));
    EXPECT_EQ(lines[6], "0");
    EXPECT_EQ(lines[7], "1");
    EXPECT_EQ(lines[8], "0");
    EXPECT_EQ(lines[9], "false");
    EXPECT_EQ(lines[10], "false");
    EXPECT_EQ(lines[16], "p2tcp");
    for (const std::size_t heading : {24u, 25u, 127u}) {
        EXPECT_EQ(lines[heading], "-1;-1;-1") << heading;
    }
    for (std::size_t i = 26; i < lines.size(); ++i) {
        if (i != 127) {
            EXPECT_TRUE(lines[i] == "0;0;0" || lines[i] == "1;1;1") << i << ": " << lines[i];
        }
    }
}

TEST(SavedFileFormatTest, TextIsCodePage1251AndStaysOnOneLine) {
    TSavedSettings settings = DefaultSavedSettings();
    settings.Values.HostEdit = "Ключ";
    settings.Values.PortEdit = "40\r\n01";
    const std::string bytes = FormatSavedSettings(settings);
    EXPECT_NE(bytes.find("\r\n\xCA\xEB\xFE\xF7\r\n40  01\r\n"), std::string::npos);

    const TParsedSettings parsed = ParseSavedSettings(bytes, 153);
    EXPECT_EQ(parsed.Status, TLoadStatus::Loaded);
    EXPECT_EQ(parsed.Values.HostEdit, "Ключ");
    EXPECT_EQ(parsed.Values.PortEdit, "40  01");
    EXPECT_EQ(parsed.Nodes, settings.Nodes);
}

TEST(SavedFileFormatTest, RoundTripThroughTheModel) {
    TSettingsModel source;
    source.SetMarket(kMarketOptions);
    source.SetDepth(2);
    source.SetSpin(42);
    source.SetProtocolBox(true);
    source.Values.SchemBox = true;
    source.Values.ProgKeyEdit = "секрет12";
    source.Tree.ClickPicture(source.Tree.FindStream("FORTS_VM_REPL"));

    TParsedSettings parsed = ParseSavedSettings(FormatSavedSettings(source.Snapshot()), 153);
    TSettingsModel target;
    const TLoadResult result = target.Apply(parsed);
    EXPECT_EQ(result.Status, TLoadStatus::Loaded);
    EXPECT_EQ(result.Kind, TMessageKind::None);
    EXPECT_EQ(target.Values, source.Values);
    EXPECT_EQ(target.Tree.AllIndices(), source.Tree.AllIndices());
}

TEST(SavedFileLinesTest, SplitStringReadsThreeIntegers) {
    int i = 7, s = 7, e = 7;
    EXPECT_TRUE(SplitString("-1;-1;-1", i, s, e));
    EXPECT_EQ((TNodeIndices{i, s, e}), (TNodeIndices{-1, -1, -1}));
    EXPECT_TRUE(SplitString(" 1 ; 0 ;\t1", i, s, e));
    EXPECT_EQ((TNodeIndices{i, s, e}), (TNodeIndices{1, 0, 1}));
    EXPECT_TRUE(SplitString("2147483647;-2147483648;0", i, s, e));
    EXPECT_EQ((TNodeIndices{i, s, e}), (TNodeIndices{INT_MAX, INT_MIN, 0}));

    for (const char* bad : {"", "1;1", "1;1;1;1", ";;", "1;;1", "a;b;c", "1;1;1x", "1;-;1",
                            "2147483648;0;0", "99999999999999999999;0;0", "1 1;1;1"}) {
        i = s = e = 7;
        EXPECT_FALSE(SplitString(bad, i, s, e)) << bad;
        EXPECT_EQ((TNodeIndices{i, s, e}), (TNodeIndices{7, 7, 7})) << bad;
    }
}

TEST(SavedFileLinesTest, ValueLinesReadByLeadingDigits) {
    EXPECT_EQ(ReadLeadingInt("12abc"), 12);
    EXPECT_EQ(ReadLeadingInt("-1"), -1);
    EXPECT_EQ(ReadLeadingInt("+5"), 5);
    EXPECT_EQ(ReadLeadingInt("abc12"), 0);
    EXPECT_EQ(ReadLeadingInt(""), 0);
    EXPECT_EQ(ReadLeadingInt("-"), 0);
    EXPECT_EQ(ReadLeadingInt("99999999999999999999999"), INT_MAX);
    EXPECT_EQ(ReadLeadingInt("-99999999999999999999999"), INT_MIN);
}

TEST(SavedFileLinesTest, LineEndsOfAnyKind) {
    EXPECT_EQ(SplitLines("").size(), 0u);
    EXPECT_EQ(SplitLines("a\r\n"), (std::vector<std::string_view>{"a"}));
    EXPECT_EQ(SplitLines("\r\n"), (std::vector<std::string_view>{""}));
    EXPECT_EQ(SplitLines("a\nb\rc\r\n\r\nd"),
              (std::vector<std::string_view>{"a", "b", "c", "", "d"}));

    // A file saved by an editor with LF line ends and no final newline reads like the original.
    std::string lf = Join(DefaultLines(), "\n");
    lf.pop_back();
    const TParsedSettings parsed = ParseSavedSettings(lf, 153);
    EXPECT_EQ(parsed.Status, TLoadStatus::Loaded);
    EXPECT_EQ(parsed.Nodes, DefaultSavedSettings().Nodes);
}

TEST(SaveSettingsFileTest, WritesByMarketIntoNewFolderAndOverwrites) {
    const TempDir dir;
    const fs::path saving = dir.Path() / "saving";
    TSettingsModel model;
    model.SetMarket(kMarketOptions);

    const TSaveResult first = model.Save(saving);
    ASSERT_TRUE(first.Ok) << first.Error;
    EXPECT_EQ(first.File, saving / "Options.sav");
    EXPECT_EQ(ReadBytes(first.File), FormatSavedSettings(model.Snapshot()));

    model.Values.HostEdit = "10.0.0.1";
    ASSERT_TRUE(model.Save(saving).Ok);
    EXPECT_EQ(ReadBytes(first.File), FormatSavedSettings(model.Snapshot()));
    // Only the file itself is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(saving), fs::directory_iterator()), 1);
#ifndef _WIN32
    EXPECT_EQ(fs::status(first.File).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
#endif

    EXPECT_EQ(SavedFileName(kMarketFutures), "Forts.sav");
    EXPECT_EQ(SavedFileName(kMarketCustom), "Custom.sav");
    EXPECT_EQ(SavedFileName(kMarketNone), ".sav");
}

TEST(SaveSettingsFileTest, FailureIsReported) {
    const TempDir dir;
    WriteBytes(dir.Path() / "saving", "a file where the folder should be");
    const TSaveResult result = SaveSettingsFile(dir.Path() / "saving", DefaultSavedSettings());
    EXPECT_FALSE(result.Ok);
    EXPECT_NE(result.Error.find("Forts.sav"), std::string::npos) << result.Error;
}

class LoadSettingsTest : public ::testing::Test {
protected:
    // Loads the default file with some lines replaced, into a default dialog.
    TLoadResult LoadWith(const std::vector<std::string>& lines) {
        WriteBytes(File(), Join(lines));
        return Model.Load(File());
    }
    fs::path File() const { return Dir.Path() / "test.sav"; }

    TempDir Dir;
    TSettingsModel Model;
    std::vector<std::string> Lines = DefaultLines();
};

TEST_F(LoadSettingsTest, BooleanLinesAreExactlyLowerCaseTrue) {
    Lines[9] = "TRUE";
    Lines[10] = "true";
    EXPECT_EQ(LoadWith(Lines).Status, TLoadStatus::Loaded);
    EXPECT_FALSE(Model.Values.SchemBox);
    EXPECT_TRUE(Model.Values.FightBox);
}

TEST_F(LoadSettingsTest, ProtocolBoxFollowsTheProtocolLine) {
    Lines[16] = "p2lrpcq";
    LoadWith(Lines);
    EXPECT_TRUE(Model.Values.ProtocolBox);
    EXPECT_EQ(Model.Values.TypeConnEdit, "p2lrpcq");

    // An unknown protocol ticks the box only if it was unticked, and then the box's own text wins.
    Lines[16] = "p2xyz";
    LoadWith(Lines);
    EXPECT_EQ(Model.Values.TypeConnEdit, "p2xyz");
    Lines[16] = "p2tcp";
    LoadWith(Lines);
    EXPECT_FALSE(Model.Values.ProtocolBox);
    Lines[16] = "p2xyz";
    LoadWith(Lines);
    EXPECT_TRUE(Model.Values.ProtocolBox);
    EXPECT_EQ(Model.Values.TypeConnEdit, "p2lrpcq");
}

TEST_F(LoadSettingsTest, IntegerLinesKeptWithinTheControls) {
    Lines[6] = "7";
    Lines[7] = "99999999999999";
    Lines[8] = "-5";
    LoadWith(Lines);
    EXPECT_EQ(Model.Values.MarketBox, kMarketNone);
    EXPECT_EQ(Model.Values.SpinEdit1, 100);
    EXPECT_EQ(Model.Values.RadioGroup1, kDepthNone);
    EXPECT_EQ(Model.TrSpeed(), 3000u);
    EXPECT_EQ(Model.StakanCnt(20), 20);

    Lines[6] = "2x";
    Lines[7] = "abc";
    Lines[8] = "99";
    LoadWith(Lines);
    EXPECT_EQ(Model.Values.MarketBox, kMarketCustom);
    EXPECT_EQ(Model.Values.SpinEdit1, 1);
    EXPECT_EQ(Model.Values.RadioGroup1, 2);
    EXPECT_EQ(Model.StakanCnt(5), 50);
}

TEST_F(LoadSettingsTest, MarketLineKeepsEnabledFlagsButTakesTicks) {
    TSettingsModel options;
    options.SetMarket(kMarketOptions);
    const TSavedSettings saved = options.Snapshot();
    WriteBytes(File(), FormatSavedSettings(saved));
    ASSERT_EQ(Model.Load(File()).Status, TLoadStatus::Loaded);

    EXPECT_EQ(Model.Values.MarketBox, kMarketOptions);
    EXPECT_EQ(Model.Tree.AllIndices(), saved.Nodes);
    const int clr = Model.Tree.FindStream("FORTS_CLR_REPL");
    EXPECT_TRUE(Model.Tree.IsTicked(clr));
    EXPECT_FALSE(Model.Tree.Enabled(clr)); // still the FUTURES preset's flag
}

TEST_F(LoadSettingsTest, DepthLineRunsTheDepthRule) {
    TSettingsModel depth20;
    depth20.SetDepth(1);
    WriteBytes(File(), FormatSavedSettings(depth20.Snapshot()));
    Model.Load(File());
    EXPECT_EQ(Model.Values.RadioGroup1, 1);
    EXPECT_TRUE(Model.Tree.Enabled(Model.Tree.FindStream("FORTS_AGGR20_REPL")));
    EXPECT_FALSE(Model.Tree.Enabled(Model.Tree.FindStream("FORTS_AGGR5_REPL")));
    EXPECT_EQ(Model.Tree.AllIndices(), depth20.Tree.AllIndices());
}

TEST_F(LoadSettingsTest, ShortFileLoadsNothing) {
    Lines.resize(23);
    Lines[0] = "changed";
    const TLoadResult result = LoadWith(Lines);
    EXPECT_EQ(result.Status, TLoadStatus::TooFewLines);
    EXPECT_EQ(result.Kind, TMessageKind::None);
    EXPECT_EQ(Model.Values, DefaultDialogValues());
}

TEST_F(LoadSettingsTest, MissingTreeLineKeepsEarlierNodes) {
    Model.SetMarket(kMarketCustom);
    const std::vector<TNodeIndices> custom = Model.Tree.AllIndices();
    const std::vector<TNodeIndices> futures = DefaultSavedSettings().Nodes;
    Lines.resize(24 + 50);
    Lines[17] = "10.1.1.1";

    const TLoadResult result = LoadWith(Lines);
    EXPECT_EQ(result.Status, TLoadStatus::TreeLineMissing);
    EXPECT_EQ(result.Kind, TMessageKind::Error);
    EXPECT_EQ(result.ErrorLine, 74);
    EXPECT_NE(result.Message.find("75"), std::string::npos) << result.Message;
    EXPECT_EQ(Model.Values.HostEdit, "10.1.1.1");
    for (int k = 0; k < 153; ++k) {
        const auto& expected = k < 50 ? futures : custom;
        EXPECT_EQ(Model.Tree.Indices(k), expected[static_cast<std::size_t>(k)]) << k;
    }
}

TEST_F(LoadSettingsTest, MalformedTreeLineStopsLikeAMissingOne) {
    Model.SetMarket(kMarketCustom);
    const std::vector<TNodeIndices> custom = Model.Tree.AllIndices();
    const std::vector<TNodeIndices> futures = DefaultSavedSettings().Nodes;
    Lines[24 + 40] = "1;x;1";

    const TLoadResult result = LoadWith(Lines);
    EXPECT_EQ(result.Status, TLoadStatus::TreeLineMalformed);
    EXPECT_EQ(result.Kind, TMessageKind::Error);
    EXPECT_EQ(result.ErrorLine, 64);
    EXPECT_NE(result.Message.find("65"), std::string::npos) << result.Message;
    for (int k = 0; k < 153; ++k) {
        const auto& expected = k < 40 ? futures : custom;
        EXPECT_EQ(Model.Tree.Indices(k), expected[static_cast<std::size_t>(k)]) << k;
    }
}

TEST_F(LoadSettingsTest, UnreadableFiles) {
    const TLoadResult missing = Model.Load(Dir.Path() / "none.sav");
    EXPECT_EQ(missing.Status, TLoadStatus::FileMissing);
    EXPECT_EQ(missing.Kind, TMessageKind::Info);
    EXPECT_EQ(missing.Message, "Сохраненный файл не найлен!");
    EXPECT_EQ(missing.Caption, "ВНИМАНИЕ");

    EXPECT_EQ(Model.Load(Dir.Path()).Status, TLoadStatus::FileUnreadable);

    WriteBytes(File(), Join(Lines) + std::string(kMaxSavedFileBytes, '\n'));
    const TLoadResult huge = Model.Load(File());
    EXPECT_EQ(huge.Status, TLoadStatus::FileUnreadable);
    EXPECT_EQ(huge.Kind, TMessageKind::Error);
    EXPECT_EQ(Model.Values, DefaultDialogValues());
}

TEST(SettingsModelTest, OpensWithDefaults) {
    const TSettingsModel model;
    EXPECT_EQ(model.Values, DefaultDialogValues());
    EXPECT_EQ(model.Values.RegKeyEdit, "SOFTWARE\\Moscow Exchange\\SPECTRA Client's Gate");
    EXPECT_EQ(model.Values.ProgKeyEdit.size(), 8u);
    EXPECT_EQ(model.Tree.AllIndices(), DefaultSavedSettings().Nodes);
    EXPECT_EQ(model.TrSpeed(), 30u);
    EXPECT_EQ(model.StakanCnt(0), 5);
}

TEST(SettingsModelTest, DepthRuleRunsOnlyOnChange) {
    TSettingsModel model;
    model.Tree.ClickPicture(model.Tree.FindStream("FORTS_AGGR5_REPL")); // untick by hand
    model.SetDepth(0);
    EXPECT_FALSE(model.Tree.IsTicked(model.Tree.FindStream("FORTS_AGGR5_REPL")));
    model.SetDepth(2);
    EXPECT_TRUE(model.Tree.IsTicked(model.Tree.FindStream("FORTS_AGGR50_REPL")));
    model.SetMarket(kMarketCustom);
    EXPECT_TRUE(model.Tree.IsTicked(model.Tree.FindStream("FORTS_AGGR50_REPL")));
}

} // namespace
} // namespace vorlen
