#include "Ini.h"

#include "Text.h"

#include <fstream>
#include <sstream>

namespace vsim {

std::string IniSection::Get(std::string_view key, std::string_view fallback) const {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->first == key) {
            return it->second;
        }
    }
    return std::string(fallback);
}

const IniSection* IniFile::Section(std::string_view name) const {
    for (const IniSection& s : sections) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

bool ReadTextFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

bool WriteTextFile(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out);
}

IniFile ParseIni(std::string_view text) {
    IniFile ini;
    for (std::string_view line : SplitLines(text)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            ini.sections.push_back({std::string(Trim(line.substr(1, line.size() - 2))), {}});
            continue;
        }
        if (ini.sections.empty()) {
            ini.sections.push_back({"", {}});
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        ini.sections.back().entries.emplace_back(std::string(Trim(line.substr(0, eq))),
                                                 std::string(Trim(line.substr(eq + 1))));
    }
    return ini;
}

std::string WriteScheme(std::string_view name, const std::vector<const TableDef*>& tables) {
    std::string out;
    out += "; Offline exchange scheme. Decimal fields (d, s) take 9 bytes: scale, then a 64-bit\n";
    out += "; mantissa; text fields cN take N characters and a terminating zero.\n\n";
    out += "[dbscheme:" + std::string(name) + "]\n";
    for (const TableDef* t : tables) {
        out += "table=" + t->name + "\n";
    }
    for (const TableDef* t : tables) {
        out += "\n[table:" + std::string(name) + ":" + t->name + "]\n";
        if (t->id != 0) {
            out += "msgid=" + std::to_string(t->id) + "\n";
        }
        for (const FieldDef& f : t->fields) {
            out += "field=" + f.name + "," + f.type + "\n";
        }
    }
    return out;
}

bool ReadScheme(const IniFile& ini, std::string_view name, std::vector<TableDef>& out,
                std::string& error) {
    out.clear();
    const IniSection* head = ini.Section("dbscheme:" + std::string(name));
    if (head == nullptr) {
        error = "no section dbscheme:" + std::string(name);
        return false;
    }
    for (const auto& [key, value] : head->entries) {
        if (key != "table") {
            continue;
        }
        const IniSection* sec = ini.Section("table:" + std::string(name) + ":" + value);
        if (sec == nullptr) {
            error = "no section for table " + value;
            return false;
        }
        TableDef t;
        t.name = value;
        for (const auto& [k, v] : sec->entries) {
            if (k == "msgid") {
                std::int64_t id = 0;
                if (!ParseInt(v, id) || id < 0) {
                    error = "bad msgid in " + value;
                    return false;
                }
                t.id = static_cast<std::uint32_t>(id);
            } else if (k == "field") {
                const auto comma = v.find(',');
                if (comma == std::string::npos ||
                    !AddField(t, Trim(std::string_view(v).substr(0, comma)),
                              Trim(std::string_view(v).substr(comma + 1)))) {
                    error = "bad field '";
                    error += v;
                    error += "' in ";
                    error += value;
                    return false;
                }
            }
        }
        if (t.fields.empty()) {
            error = "table " + value + " has no fields";
            return false;
        }
        FinishLayout(t);
        out.push_back(std::move(t));
    }
    if (out.empty()) {
        error = "scheme " + std::string(name) + " lists no tables";
        return false;
    }
    return true;
}

} // namespace vsim
