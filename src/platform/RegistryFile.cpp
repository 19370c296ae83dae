#include "platform/CodePage.h"
#include "platform/Registry.h"
#include "platform/Utf16.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vorlen::platform {

namespace {

constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kRootShort = "HKLM";

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

char16_t FoldChar(char16_t c) {
    if (c >= u'a' && c <= u'z') {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c >= 0x430 && c <= 0x44F) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c >= 0x450 && c <= 0x45F) {
        return static_cast<char16_t>(c - 0x50);
    }
    return c;
}

// "HKLM\X" and "HKEY_LOCAL_MACHINE\X" name the same key.
std::string NormalizeKey(std::string_view key) {
    std::string folded = FoldRegistryName(key);
    std::string_view k = folded;
    if (k.size() >= kRootShort.size() && k.substr(0, kRootShort.size()) == kRootShort &&
        (k.size() == kRootShort.size() || k[kRootShort.size()] == '\\')) {
        return std::string(kRoot) + std::string(k.substr(kRootShort.size()));
    }
    return folded;
}

// Reads a quoted text starting at s[0] == '"'; \\ and \" are the only escapes a registry export
// writes, any other backslash stays as it is. Returns false when the closing quote is missing.
bool ReadQuoted(std::string_view s, std::string& out, std::size_t& end) {
    out.clear();
    for (std::size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out.push_back(s[i + 1]);
            ++i;
        } else if (c == '"') {
            end = i + 1;
            return true;
        } else {
            out.push_back(c);
        }
    }
    return false;
}

// "hex(2):41,00,42,00" → the bytes; false on anything that is not a hex byte list.
bool ReadHexBytes(std::string_view s, std::string& bytes) {
    bytes.clear();
    std::string digits;
    for (const char c : s) {
        if (c == ',' || c == ' ' || c == '\t' || c == '\\') {
            if (!digits.empty()) {
                if (digits.size() > 2) {
                    return false;
                }
                bytes.push_back(static_cast<char>(std::strtoul(digits.c_str(), nullptr, 16)));
                digits.clear();
            }
        } else if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) {
            digits.push_back(c);
        } else {
            return false;
        }
    }
    if (!digits.empty()) {
        if (digits.size() > 2) {
            return false;
        }
        bytes.push_back(static_cast<char>(std::strtoul(digits.c_str(), nullptr, 16)));
    }
    return true;
}

std::string DecodeFile(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string text;
        text.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        }
        return Utf16ToUtf8(text);
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
        return std::string(bytes);
    }
    if (IsValidUtf8(bytes)) {
        return std::string(bytes);
    }
    return Cp1251ToUtf8(bytes);
}

std::filesystem::path PathFromUtf8(const std::string& s) {
    return std::filesystem::path(std::u8string(s.begin(), s.end()));
}

} // namespace

std::string FoldRegistryName(std::string_view name) {
    std::u16string text = Utf8ToUtf16(name);
    for (char16_t& c : text) {
        c = FoldChar(c);
    }
    return Utf16ToUtf8(text);
}

bool TRegFile::Parse(std::string_view bytes) {
    FKeys.clear();
    const std::string text = DecodeFile(bytes);

    std::vector<std::string> lines;
    std::string pending;
    std::istringstream in(text);
    for (std::string raw; std::getline(in, raw);) {
        std::string_view line = Trim(raw);
        if (!pending.empty()) {
            pending += std::string(line);
        } else {
            pending = std::string(line);
        }
        // Only hex data is ever continued; a string value always ends with its closing quote.
        if (!pending.empty() && pending.back() == '\\' &&
            pending.find("=hex") != std::string::npos) {
            pending.pop_back();
            continue;
        }
        lines.push_back(std::move(pending));
        pending.clear();
    }
    if (!pending.empty()) {
        lines.push_back(std::move(pending));
    }

    std::size_t first = 0;
    while (first < lines.size() && lines[first].empty()) {
        ++first;
    }
    if (first == lines.size()) {
        return false;
    }
    if (lines[first] == "Windows Registry Editor Version 5.00") {
        FUtf16Hex = true;
    } else if (lines[first] == "REGEDIT4") {
        FUtf16Hex = false;
    } else {
        return false;
    }

    std::string section;
    bool deleting = false;
    for (std::size_t i = first + 1; i < lines.size(); ++i) {
        ParseLine(lines[i], section, deleting);
    }
    return true;
}

void TRegFile::ParseLine(std::string_view line, std::string& section, bool& deleting) {
    if (line.empty() || line.front() == ';') {
        return;
    }
    if (line.front() == '[') {
        const std::size_t close = line.rfind(']');
        if (close == std::string_view::npos) {
            section.clear();
            deleting = false;
            return;
        }
        std::string_view inner = line.substr(1, close - 1);
        deleting = !inner.empty() && inner.front() == '-';
        if (deleting) {
            inner.remove_prefix(1);
        }
        section = NormalizeKey(inner);
        if (deleting) {
            const std::string prefix = section + "\\";
            for (auto it = FKeys.begin(); it != FKeys.end();) {
                if (it->first == section || it->first.compare(0, prefix.size(), prefix) == 0) {
                    it = FKeys.erase(it);
                } else {
                    ++it;
                }
            }
        } else {
            FKeys[section];
        }
        return;
    }
    if (section.empty() || deleting) {
        return;
    }

    std::string name;
    std::size_t pos = 0;
    if (line.front() == '@') {
        pos = 1;
    } else if (line.front() == '"') {
        if (!ReadQuoted(line, name, pos)) {
            return;
        }
    } else {
        return;
    }
    std::string_view rest = Trim(line.substr(pos));
    if (rest.empty() || rest.front() != '=') {
        return;
    }
    rest = Trim(rest.substr(1));

    TValues& values = FKeys[section];
    const std::string key = FoldRegistryName(name);
    if (rest == "-") {
        values.erase(key);
        return;
    }
    TValue value;
    if (!rest.empty() && rest.front() == '"') {
        std::size_t end = 0;
        if (!ReadQuoted(rest, value.Text, end)) {
            return;
        }
        value.IsString = true;
    } else if (rest.substr(0, 7) == "hex(1):" || rest.substr(0, 7) == "hex(2):") {
        std::string bytes;
        if (!ReadHexBytes(rest.substr(7), bytes)) {
            return;
        }
        if (FUtf16Hex) {
            std::u16string text;
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
                text.push_back(
                    static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
            }
            value.Text = Utf16ToUtf8(text);
        } else {
            value.Text = Cp1251ToUtf8(bytes);
        }
        // The stored data carries its terminating zero; the value's text does not.
        while (!value.Text.empty() && value.Text.back() == '\0') {
            value.Text.pop_back();
        }
        value.IsString = true;
    }
    values[key] = std::move(value);
}

std::string RegistryFileProblem(const std::string& path) {
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(PathFromUtf8(path), ec);
    if (ec || !std::filesystem::exists(st)) {
        return {};
    }
    // Opening a FIFO would wait for a writer, a device may never end: only a plain file will do.
    if (!std::filesystem::is_regular_file(st)) {
        return path + ": not a regular file";
    }
    const std::uintmax_t size = std::filesystem::file_size(PathFromUtf8(path), ec);
    if (!ec && size > kMaxRegistryFileSize) {
        return path + ": larger than " +
               std::to_string(kMaxRegistryFileSize / (std::uintmax_t{1024} * 1024)) +
               " MiB, not a registry export of a gateway installation";
    }
    return {};
}

bool TRegFile::Load(const std::string& path) {
    FKeys.clear();
    if (!RegistryFileProblem(path).empty()) {
        return false;
    }
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) {
        return false;
    }
    // The file may have grown since it was looked at; never read more than the limit allows.
    std::string bytes(kMaxRegistryFileSize + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad() || static_cast<std::size_t>(in.gcount()) > kMaxRegistryFileSize) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return Parse(bytes);
}

bool TRegFile::HasKey(std::string_view key) const {
    const std::string k = NormalizeKey(key);
    if (FKeys.count(k) != 0) {
        return true;
    }
    // Every path below `k` sorts at or after "k\", and they sort together.
    const std::string prefix = k + "\\";
    const auto child = FKeys.lower_bound(prefix);
    return child != FKeys.end() && child->first.compare(0, prefix.size(), prefix) == 0;
}

std::optional<std::string> TRegFile::StringValue(std::string_view key,
                                                 std::string_view name) const {
    const auto k = FKeys.find(NormalizeKey(key));
    if (k == FKeys.end()) {
        return std::nullopt;
    }
    const auto v = k->second.find(FoldRegistryName(name));
    if (v == k->second.end() || !v->second.IsString) {
        return std::nullopt;
    }
    return v->second.Text;
}

std::vector<std::string> RegistryFileCandidates() {
    std::vector<std::string> files;
    const auto env = [](const char* name) -> std::string {
        // The program never changes its environment; only tests do, before any thread starts.
        const char* v = std::getenv(name); // NOLINT(concurrency-mt-unsafe)
        return v != nullptr ? std::string(v) : std::string();
    };
    if (const std::string explicitFile = env("VORLEN_REGISTRY"); !explicitFile.empty()) {
        files.push_back(explicitFile);
    }
    if (const std::string xdg = env("XDG_CONFIG_HOME"); !xdg.empty() && xdg.front() == '/') {
        files.push_back(xdg + "/vorlen/registry.reg");
    } else if (const std::string home = env("HOME"); !home.empty()) {
        files.push_back(home + "/.config/vorlen/registry.reg");
    }
    files.push_back("/etc/vorlen/registry.reg");
    return files;
}

std::string RegistryFilePath() {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): as RegistryFileCandidates says
    if (const char* v = std::getenv("VORLEN_REGISTRY"); v != nullptr && *v != '\0') {
        return v;
    }
    for (const std::string& file : RegistryFileCandidates()) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(PathFromUtf8(file), ec)) {
            return file;
        }
    }
    return {};
}

} // namespace vorlen::platform
