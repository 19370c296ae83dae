#include "platform/CodePage.h"
#include "settings/SavedSettings.h"

#include <system_error>

#ifdef _WIN32
#include <fstream>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

bool WriteWhole(const std::filesystem::path& file, const std::string& bytes) {
#ifdef _WIN32
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
#else
    const int fd =
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
    // A file left over from an earlier failed save may carry wider permissions.
    bool ok = ::fchmod(fd, 0600) == 0;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            done += static_cast<std::size_t>(n);
        }
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    return ok;
#endif
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
    if (!WriteWhole(temp, FormatSavedSettings(settings))) {
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
