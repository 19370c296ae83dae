#include "settings/HistorySettings.h"

#include "platform/OwnerFile.h"
#include "settings/SavedSettings.h"

#include <charconv>
#include <fstream>
#include <optional>
#include <sstream>

namespace vorlen {

namespace fs = std::filesystem;

namespace {

std::string_view Trim(std::string_view s) {
    constexpr std::string_view kBlank = " \t\r\n";
    const std::size_t first = s.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(kBlank) - first + 1);
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::optional<bool> ParseSwitch(std::string_view value) {
    const std::string v = Lower(value);
    if (v == "on" || v == "1" || v == "yes" || v == "true")
        return true;
    if (v == "off" || v == "0" || v == "no" || v == "false")
        return false;
    return std::nullopt;
}

std::optional<unsigned> ParseCount(std::string_view value, unsigned most) {
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec != std::errc() || end != value.data() + value.size() || n < 1 || n > most)
        return std::nullopt;
    return n;
}

} // namespace

THistorySettingsRead ParseHistorySettings(std::string_view text, const fs::path& dataDir,
                                          std::string_view fileName) {
    THistorySettingsRead out;
    THistorySettings& s = out.Settings;
    const THistorySettings defaults;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3); // Notepad's byte-order mark
    int number = 0;
    const auto problem = [&](std::string_view line, const std::string& what) {
        out.Problems.push_back("Внимание: " + std::string(fileName) + ", строка " +
                               std::to_string(number) + " (" + std::string(line) + "): " + what +
                               ".");
    };
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        const std::string_view line = Trim(text.substr(0, eol));
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        ++number;
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            problem(line, "нет знака «=», строка пропущена");
            continue;
        }
        const std::string key = Lower(Trim(line.substr(0, eq)));
        const std::string_view value = Trim(line.substr(eq + 1));
        if (key == "record") {
            const auto on = ParseSwitch(value);
            if (!on)
                problem(line, "ожидается on или off; взято on");
            s.Record = on.value_or(defaults.Record);
        } else if (key == "folder") {
            s.Folder = value.empty() ? fs::path() : PathFromUtf8(value);
            if (!s.Folder.empty() && s.Folder.is_relative())
                s.Folder = dataDir / s.Folder;
        } else if (key == "keep_days") {
            const auto n = ParseCount(value, kMaxKeepDays);
            if (!n)
                problem(line, "ожидается число дней от 1 до " + std::to_string(kMaxKeepDays) +
                                  "; взято " + std::to_string(defaults.KeepDays));
            s.KeepDays = n.value_or(defaults.KeepDays);
        } else if (key == "keep_gib") {
            const auto n = ParseCount(value, kMaxKeepGiB);
            if (!n)
                problem(line, "ожидается число ГиБ от 1 до " + std::to_string(kMaxKeepGiB) +
                                  "; взято " + std::to_string(defaults.KeepGiB));
            s.KeepGiB = n.value_or(defaults.KeepGiB);
        }
    }
    return out;
}

std::string HistorySettingsText(const THistorySettings& s) {
    std::ostringstream out;
    out << "# Запись рынка терминалом Vorlen\n"
        << "record=" << (s.Record ? "on" : "off") << '\n'
        << "folder=" << PathToUtf8(s.Folder) << '\n'
        << "keep_days=" << s.KeepDays << '\n'
        << "keep_gib=" << s.KeepGiB << '\n';
    return out.str();
}

THistorySettingsRead LoadHistorySettings(const fs::path& dataDir) {
    const fs::path file = dataDir / kHistorySettingsFile;
    std::error_code ec;
    if (!fs::exists(file, ec) && !ec)
        return {};
    // A settings file is a few lines; anything near this is not one.
    constexpr std::uintmax_t kMaxBytes = std::uintmax_t{64} << 10;
    const std::uintmax_t size = fs::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || size > kMaxBytes || !in) {
        THistorySettingsRead out;
        out.Problems.push_back("Внимание: файл " + PathToUtf8(file) +
                               " не читается; взяты параметры записи по умолчанию.");
        return out;
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return ParseHistorySettings(text, dataDir);
}

bool SaveHistorySettings(const fs::path& dataDir, const THistorySettings& settings,
                         std::string& error) {
    std::error_code ec;
    fs::create_directories(dataDir, ec);
    const fs::path file = dataDir / kHistorySettingsFile;
    if (!platform::WriteOwnerOnlyFile(file, HistorySettingsText(settings))) {
        error = "файл " + PathToUtf8(file) + " не записан";
        return false;
    }
    return true;
}

fs::path HistoryFolder(const THistorySettings& settings, const fs::path& dataDir) {
    return settings.Folder.empty() ? dataDir / "history" : settings.Folder;
}

} // namespace vorlen
