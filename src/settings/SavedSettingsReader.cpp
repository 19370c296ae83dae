#include "platform/CodePage.h"
#include "settings/SavedSettings.h"

#include <climits>
#include <fstream>
#include <system_error>

namespace vorlen {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

struct TIntRead {
    int Value = 0;
    std::size_t Used = 0; // characters taken; 0 when there are no digits
    bool Overflow = false;
};

// Reads [sign] digits from the front of `text`; a number beyond int's range is held to it.
TIntRead ReadInt(std::string_view text) {
    TIntRead read;
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t firstDigit = pos;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long value = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        if (!read.Overflow) {
            value = value * 10 + (text[pos] - '0');
            if (value > limit) {
                read.Overflow = true;
                value = limit;
            }
        }
    }
    if (pos == firstDigit) {
        return {};
    }
    read.Used = pos;
    read.Value = static_cast<int>(negative ? -value : value);
    return read;
}

bool ReadWholeInt(std::string_view text, int& out) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    const TIntRead read = ReadInt(text);
    if (read.Used == 0 || read.Used != text.size() || read.Overflow) {
        return false;
    }
    out = read.Value;
    return true;
}

std::string Text(std::string_view line) {
    return platform::Cp1251ToUtf8(line);
}

std::string LineNumberText(int line) {
    return std::to_string(line + 1);
}

} // namespace

int ReadLeadingInt(std::string_view line) {
    return ReadInt(line).Value;
}

bool SplitString(std::string_view inStr, int& i_v, int& s_v, int& e_v) {
    const std::size_t first = inStr.find(';');
    if (first == std::string_view::npos) {
        return false;
    }
    const std::size_t second = inStr.find(';', first + 1);
    if (second == std::string_view::npos) {
        return false;
    }
    int image = 0;
    int selected = 0;
    int expanded = 0;
    if (!ReadWholeInt(inStr.substr(0, first), image) ||
        !ReadWholeInt(inStr.substr(first + 1, second - first - 1), selected) ||
        !ReadWholeInt(inStr.substr(second + 1), expanded)) {
        return false;
    }
    i_v = image;
    s_v = selected;
    e_v = expanded;
    return true;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') {
            ++start;
        }
    }
    return lines;
}

TParsedSettings ParseSavedSettings(std::string_view bytes, int nodeCount) {
    TParsedSettings parsed;
    const std::vector<std::string_view> lines = SplitLines(bytes);
    if (lines.size() < static_cast<std::size_t>(kValueLineCount)) {
        parsed.Status = TLoadStatus::TooFewLines;
        return parsed;
    }

    TDialogValues& v = parsed.Values;
    v.RegKeyEdit = Text(lines[0]);
    v.RegRecordEdit = Text(lines[1]);
    v.CgateDllEdit = Text(lines[2]);
    v.RoutNameEdit = Text(lines[3]);
    v.RoutIniEdit = Text(lines[4]);
    v.ServiceNameEdit = Text(lines[5]);
    v.MarketBox = ReadLeadingInt(lines[6]);
    v.SpinEdit1 = ReadLeadingInt(lines[7]);
    v.RadioGroup1 = ReadLeadingInt(lines[8]);
    v.SchemBox = lines[9] == "true";
    v.FightBox = lines[10] == "true";
    v.CGIniEdit = Text(lines[11]);
    v.SubSysEdit = Text(lines[12]);
    v.LogTypeEdit = Text(lines[13]);
    v.LogLevelEdit = Text(lines[14]);
    v.ProgKeyEdit = Text(lines[15]);
    v.TypeConnEdit = Text(lines[16]);
    v.HostEdit = Text(lines[17]);
    v.PortEdit = Text(lines[18]);
    v.ProgNameEdit = Text(lines[19]);
    v.RoutTOutEdit = Text(lines[20]);
    v.LocTOutEdit = Text(lines[21]);
    v.VersionEdit = Text(lines[22]);
    v.BuffSizeEdit = Text(lines[23]);

    parsed.Status = TLoadStatus::Loaded;
    for (int k = 0; k < nodeCount; ++k) {
        const int line = kValueLineCount + k;
        if (static_cast<std::size_t>(line) >= lines.size()) {
            parsed.Status = TLoadStatus::TreeLineMissing;
            parsed.ErrorLine = line;
            parsed.Error = "В сохраненном файле нет строки " + LineNumberText(line) +
                           " (узел дерева " + std::to_string(k) + ").";
            break;
        }
        TNodeIndices node;
        if (!SplitString(lines[static_cast<std::size_t>(line)], node.Image, node.Selected,
                         node.Expanded)) {
            parsed.Status = TLoadStatus::TreeLineMalformed;
            parsed.ErrorLine = line;
            parsed.Error = "Строка " + LineNumberText(line) +
                           " сохраненного файла должна содержать три целых числа через \";\" "
                           "(узел дерева " +
                           std::to_string(k) + ").";
            break;
        }
        parsed.Nodes.push_back(node);
    }
    return parsed;
}

TParsedSettings ReadSettingsFile(const std::filesystem::path& file, int nodeCount) {
    TParsedSettings parsed;
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(file, ec);
    if (!std::filesystem::exists(status)) {
        parsed.Status = TLoadStatus::FileMissing;
        return parsed;
    }
    const std::string unreadable = "Не удалось прочитать файл " + PathToUtf8(file);
    if (!std::filesystem::is_regular_file(status)) {
        parsed.Status = TLoadStatus::FileUnreadable;
        parsed.Error = unreadable;
        return parsed;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        parsed.Status = TLoadStatus::FileUnreadable;
        parsed.Error = unreadable;
        return parsed;
    }
    // Read at most one byte past the limit, so an oversized file is told apart without reading it
    // all into memory.
    std::string bytes(kMaxSavedFileBytes + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) {
        parsed.Status = TLoadStatus::FileUnreadable;
        parsed.Error = unreadable;
        return parsed;
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > kMaxSavedFileBytes) {
        parsed.Status = TLoadStatus::FileUnreadable;
        parsed.Error = "Файл " + PathToUtf8(file) + " слишком велик для файла настроек.";
        return parsed;
    }
    return ParseSavedSettings(bytes, nodeCount);
}

} // namespace vorlen
