#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen::platform {

// Reads the string value `valueName` of the key `keyPath` under HKEY_LOCAL_MACHINE, read-only.
// Returns false when the key cannot be opened. An existing key without that value, or with a
// value that is not a string, gives true and an empty `out`.
//
// Windows asks the registry itself. Elsewhere the same key and value are read from a registry
// export file (RegistryFilePath), so an installation is described exactly as a Windows machine
// would describe it.
bool ReadMachineString(const std::string& keyPath, const std::string& valueName, std::string& out);

// The registry export format ("Windows Registry Editor Version 5.00" or "REGEDIT4"): sections
// "[HKEY_LOCAL_MACHINE\...]" (a leading "-" deletes a key), lines "Name"="text" with \\ and \"
// escapes, @= for the default value, "Name"=- to delete, dword: and hex(n): data with "\"
// continuation lines, ";" comments. Key and value names compare case-insensitively, as Windows
// compares them (ASCII, Latin-1 and Cyrillic letters fold; other scripts compare exactly).
class TRegFile {
public:
    // Takes the file's bytes: UTF-16LE with its byte-order mark (what regedit writes), UTF-8
    // with or without one; bytes that are not UTF-8 are read as code page 1251, the ANSI code
    // page of a Russian REGEDIT4 export. False when the header line is missing.
    bool Parse(std::string_view bytes);
    // False when the file cannot be read or does not parse.
    bool Load(const std::string& path);

    // A key exists when it has a section of its own or is the parent of one, because an export
    // of a subtree names only the keys inside it. `key` is the full path, root included
    // ("HKEY_LOCAL_MACHINE\SOFTWARE\..."); "HKLM" is accepted for the root.
    bool HasKey(std::string_view key) const;
    // The text of a string value (REG_SZ or REG_EXPAND_SZ, written as text or as hex(1)/hex(2));
    // nothing when the value is missing or of another type.
    std::optional<std::string> StringValue(std::string_view key, std::string_view name) const;

private:
    struct TValue {
        bool IsString = false;
        std::string Text;
    };
    using TValues = std::map<std::string, TValue>; // by folded name
    void ParseLine(std::string_view line, std::string& section, bool& deleting);
    std::map<std::string, TValues> FKeys; // by folded full path
    bool FUtf16Hex = true; // hex(1)/hex(2) data is UTF-16LE in version 5 files, ANSI in REGEDIT4
};

// The largest registry export read; a gateway installation's is a few kilobytes.
inline constexpr std::size_t kMaxRegistryFileSize = std::size_t{1024} * 1024;
// Why the file at `path` cannot stand for the registry: it is a directory, a FIFO, a device or
// anything else that is not a regular file, or it is larger than kMaxRegistryFileSize. Empty
// when it can be read, and when there is nothing at `path` (a missing file is reported where
// the key is looked for). TRegFile::Load refuses such a file.
std::string RegistryFileProblem(const std::string& path);

// Folds a key or value name for comparison.
std::string FoldRegistryName(std::string_view name);

// The registry export files looked at, in order: the file named by the environment variable
// VORLEN_REGISTRY, then registry.reg in the user's configuration folder ($XDG_CONFIG_HOME/vorlen,
// else ~/.config/vorlen), then /etc/vorlen/registry.reg. Variables that are unset or empty give
// no entry.
std::vector<std::string> RegistryFileCandidates();
// The file that stands for the machine's registry: VORLEN_REGISTRY when it is set, even when
// that file is missing (an explicit choice must not silently fall through to another
// installation), otherwise the first of the other two that exists; empty when there is none.
std::string RegistryFilePath();

} // namespace vorlen::platform
