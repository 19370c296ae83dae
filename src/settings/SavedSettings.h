#pragma once

// The settings dialog's values and the saved-settings (.sav) file that carries them, with the
// tree's tick states, from one opening of the dialog to another. A file is text in code page 1251,
// one value per line, every line ended by CR LF: 24 value lines, then one "image;selected;expanded"
// line per tree node in tree order. Lines are numbered from 0 in this interface.

#include "settings/StreamTree.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

// What the dialog's controls hold, named after the controls. Texts are UTF-8.
struct TDialogValues {
    std::string RegKeyEdit;
    std::string RegRecordEdit;
    std::string CgateDllEdit;
    std::string RoutNameEdit;
    std::string RoutIniEdit;
    std::string ServiceNameEdit;
    int MarketBox = kMarketFutures; // market index, -1 when nothing is chosen
    int SpinEdit1 = 1;              // transactions per second, in steps of kTrSpeedStep
    int RadioGroup1 = 0;            // depth index, -1 when nothing is chosen
    bool SchemBox = false;
    bool FightBox = false;
    std::string CGIniEdit;
    std::string SubSysEdit;
    std::string LogTypeEdit;
    std::string LogLevelEdit;
    std::string ProgKeyEdit;
    std::string TypeConnEdit;
    std::string HostEdit;
    std::string PortEdit;
    std::string ProgNameEdit;
    std::string RoutTOutEdit;
    std::string LocTOutEdit;
    std::string VersionEdit;
    std::string BuffSizeEdit;

    // Not kept in a file: the protocol box follows from the protocol text when a file is loaded,
    // and the "_CLT" box always starts as the dialog opens.
    bool ProtocolBox = false;
    bool CLTBox = true;

    bool operator==(const TDialogValues&) const = default;
};

inline constexpr int kValueLineCount = 24;
inline constexpr std::string_view kProtocolTcp = "p2tcp";
inline constexpr std::string_view kProtocolLrpcq = "p2lrpcq";
// The program key the dialog opens with: the gateway's published key for test connections.
inline constexpr std::string_view kDefaultProgKey = "11111111";

// The values the dialog opens with.
TDialogValues DefaultDialogValues();

// Everything a file holds.
struct TSavedSettings {
    TDialogValues Values;
    std::vector<TNodeIndices> Nodes;
};

// The dialog as it opens: default values and the tree after the FUTURES preset at depth 5.
TSavedSettings DefaultSavedSettings();

// "Forts.sav", "Options.sav" or "Custom.sav" by market index; ".sav" for any other index.
std::string SavedFileName(int market);
// The "saving" folder beside the executable.
std::filesystem::path DefaultSavingDir();
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

// --- writing -------------------------------------------------------------------------------

// The file's lines, UTF-8, without line ends.
std::vector<std::string> SavedSettingsLines(const TSavedSettings& settings);
// The file's bytes: code page 1251, CR LF after every line.
std::string FormatSavedSettings(const TSavedSettings& settings);

struct TSaveResult {
    bool Ok = false;
    std::filesystem::path File;
    std::string Error; // for the user; empty on success
};

// Writes savingDir / SavedFileName(market), creating the folder when missing and replacing an
// existing file only once the new one is complete. On POSIX systems the file is readable and
// writable by its owner only, since it holds the program key in clear.
TSaveResult SaveSettingsFile(const std::filesystem::path& savingDir,
                             const TSavedSettings& settings);

// --- reading -------------------------------------------------------------------------------

enum class TLoadStatus {
    Loaded,
    FileMissing,       // show kSavedFileMissingText as information
    FileUnreadable,    // show Error
    TooFewLines,       // nothing loaded, nothing shown
    TreeLineMissing,   // values and the nodes before ErrorLine loaded; show Error
    TreeLineMalformed, // the same, for a line that is not three ";"-separated integers
};

inline constexpr std::string_view kSavedFileMissingText = "Сохраненный файл не найлен!";
inline constexpr std::string_view kSavedFileMissingCaption = "ВНИМАНИЕ";
// Far above any file the dialog writes (a few kilobytes); a bigger file is not a settings file.
inline constexpr std::size_t kMaxSavedFileBytes = 1 << 20;

struct TParsedSettings {
    TLoadStatus Status = TLoadStatus::TooFewLines;
    // Valid unless the status is FileMissing, FileUnreadable or TooFewLines. The integers are as
    // read; keeping them within the controls' ranges is the dialog's rule (TSettingsModel).
    // ProtocolBox and CLTBox are not in the file and keep their defaults here.
    TDialogValues Values;
    // The nodes read before the first missing or malformed tree line.
    std::vector<TNodeIndices> Nodes;
    int ErrorLine = -1; // line number (from 0) of the missing or malformed tree line
    std::string Error;  // for the user, naming the line as an editor counts it (from 1)
};

// Splits one tree line: the first ";" ends the image index, the second the selected index, the
// rest is the expanded index. False, with the outputs untouched, unless all three are decimal
// integers of int's range (blanks around a number are allowed).
bool SplitString(std::string_view inStr, int& i_v, int& s_v, int& e_v);
// A value line read as an integer: an optional sign and the leading digits, 0 when there are
// none, held to int's range.
int ReadLeadingInt(std::string_view line);
// Lines end at CR LF, LF or a lone CR; a last line needs no line end.
std::vector<std::string_view> SplitLines(std::string_view text);

TParsedSettings ParseSavedSettings(std::string_view bytes, int nodeCount);
TParsedSettings ReadSettingsFile(const std::filesystem::path& file, int nodeCount);

} // namespace vorlen
