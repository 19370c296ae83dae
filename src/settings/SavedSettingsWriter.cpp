#include "platform/CodePage.h"
#include "platform/OwnerFile.h"
#include "settings/SavedSettings.h"

#include <system_error>

namespace vorlen {

namespace {

// A line break inside a value would shift every later line of the file and garble the whole
// file on loading, so breaks become blanks.
std::string OneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return line;
}

std::string BoolLine(bool value) {
    return value ? "true" : "false";
}

} // namespace

std::vector<std::string> SavedSettingsLines(const TSavedSettings& settings) {
    const TDialogValues& v = settings.Values;
    std::vector<std::string> lines = {
        OneLine(v.RegKeyEdit),       OneLine(v.RegRecordEdit),    OneLine(v.CgateDllEdit),
        OneLine(v.RoutNameEdit),     OneLine(v.RoutIniEdit),      OneLine(v.ServiceNameEdit),
        std::to_string(v.MarketBox), std::to_string(v.SpinEdit1), std::to_string(v.RadioGroup1),
        BoolLine(v.SchemBox),        BoolLine(v.FightBox),        OneLine(v.CGIniEdit),
        OneLine(v.SubSysEdit),       OneLine(v.LogTypeEdit),      OneLine(v.LogLevelEdit),
        OneLine(v.ProgKeyEdit),      OneLine(v.TypeConnEdit),     OneLine(v.HostEdit),
        OneLine(v.PortEdit),         OneLine(v.ProgNameEdit),     OneLine(v.RoutTOutEdit),
        OneLine(v.LocTOutEdit),      OneLine(v.VersionEdit),      OneLine(v.BuffSizeEdit),
    };
    lines.reserve(lines.size() + settings.Nodes.size());
    for (const TNodeIndices& node : settings.Nodes) {
        lines.push_back(std::to_string(node.Image) + ";" + std::to_string(node.Selected) + ";" +
                        std::to_string(node.Expanded));
    }
    return lines;
}

std::string FormatSavedSettings(const TSavedSettings& settings) {
    std::string text;
    for (const std::string& line : SavedSettingsLines(settings)) {
        text += line;
        text += "\r\n";
    }
    return platform::Utf8ToCp1251(text);
}

TSaveResult SaveSettingsFile(const std::filesystem::path& savingDir,
                             const TSavedSettings& settings) {
    TSaveResult result;
    result.File = savingDir / SavedFileName(settings.Values.MarketBox);
    const std::string failure = "Не удалось сохранить настройки в файл " + PathToUtf8(result.File);

    std::error_code ec;
    std::filesystem::create_directories(savingDir, ec);
    if (ec) {
        result.Error = failure;
        return result;
    }

    // Written beside the target and renamed over it, so a failed write (a full disk, say) never
    // leaves the user without the settings saved before.
    std::filesystem::path temp = result.File;
    temp += ".tmp";
    if (!platform::WriteOwnerOnlyFile(temp, FormatSavedSettings(settings))) {
        std::filesystem::remove(temp, ec);
        result.Error = failure;
        return result;
    }
    std::filesystem::rename(temp, result.File, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        result.Error = failure;
        return result;
    }
    result.Ok = true;
    return result;
}

} // namespace vorlen
