#pragma once

// The ini files of the installation: sections of key=value lines, keys may repeat (a scheme
// lists one "field=" line per field), ';' and '#' start comments.

#include "Scheme.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vsim {

struct IniSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
    // The last value of key, or fallback.
    std::string Get(std::string_view key, std::string_view fallback = {}) const;
};

struct IniFile {
    std::vector<IniSection> sections;
    const IniSection* Section(std::string_view name) const;
};

bool ReadTextFile(const std::string& path, std::string& out);
bool WriteTextFile(const std::string& path, std::string_view text);
IniFile ParseIni(std::string_view text);

// Scheme files: "[dbscheme:NAME]" lists "table=" lines in order; "[table:NAME:TABLE]" holds an
// optional "msgid=" and one "field=name,type" line per field, in layout order.
std::string WriteScheme(std::string_view name, const std::vector<const TableDef*>& tables);
// False with a reason when the section is missing or a table or field is malformed.
bool ReadScheme(const IniFile& ini, std::string_view name, std::vector<TableDef>& out,
                std::string& error);

} // namespace vsim
