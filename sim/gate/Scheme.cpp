#include "Gate.h"
#include "Ini.h"
#include "Text.h"

#include <cstring>

namespace vsim::gate {

SchemeDesc::SchemeDesc(std::vector<TableDef> tables) : tables_(std::move(tables)) {
    messages_.resize(tables_.size());
    fields_.resize(tables_.size());
    for (std::size_t i = 0; i < tables_.size(); ++i) {
        TableDef& t = tables_[i];
        auto& fs = fields_[i];
        fs.resize(t.fields.size());
        for (std::size_t j = 0; j < t.fields.size(); ++j) {
            FieldDef& f = t.fields[j];
            cg_field_desc_t& d = fs[j];
            d.next = j + 1 < fs.size() ? &fs[j + 1] : nullptr;
            d.id = static_cast<std::uint32_t>(j);
            d.name = f.name.c_str();
            d.desc = "";
            d.fild_type = f.type.c_str();
            d.size = f.size;
            d.offset = f.offset;
        }
        cg_message_desc_t& m = messages_[i];
        m.next = i + 1 < messages_.size() ? &messages_[i + 1] : nullptr;
        m.size = t.size;
        m.num_fields = fs.size();
        m.fields = fs.empty() ? nullptr : fs.data();
        m.id = t.id;
        m.name = t.name.c_str();
        m.desc = "";
        m.hints = "";
    }
    desc_.scheme_type = CG_SCHEME_BIN;
    desc_.num_messages = messages_.size();
    desc_.messages = messages_.empty() ? nullptr : messages_.data();
    desc_.hints = "";
}

int SchemeDesc::Find(std::string_view name) const {
    for (std::size_t i = 0; i < tables_.size(); ++i) {
        if (tables_[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int SchemeDesc::FindId(std::uint32_t id) const {
    for (std::size_t i = 0; i < tables_.size(); ++i) {
        if (tables_[i].id == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool LoadSchemeFile(const std::string& reference, std::vector<TableDef>& out) {
    // |FILE|path|section
    const auto parts = Split(reference, '|');
    if (parts.size() != 4 || !parts[0].empty() || Lower(parts[1]) != "file" || parts[2].empty() ||
        parts[3].empty()) {
        LogLine(Level::Error, "malformed scheme reference '%s'", reference.c_str());
        return false;
    }
    const std::string path = ResolvePath(std::string(parts[2]));
    std::string text;
    if (path.empty() || !ReadTextFile(path, text)) {
        LogLine(Level::Error, "scheme file '%.*s' not found", static_cast<int>(parts[2].size()),
                parts[2].data());
        return false;
    }
    std::string error;
    if (!ReadScheme(ParseIni(text), parts[3], out, error)) {
        LogLine(Level::Error, "scheme file '%s': %s", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

void Layout::Bind(const TableDef* ownDef, const TableDef* wireDef) {
    own = ownDef;
    wire = wireDef;
    direct = wireDef == nullptr || SameLayout(*ownDef, *wireDef);
    if (!direct) {
        plan = PlanCopy(*wireDef, *ownDef);
    }
}

void Layout::ToOwn(const char* from, char* to) const {
    if (direct) {
        std::memcpy(to, from, own->size);
        return;
    }
    std::memset(to, 0, own->size);
    for (const CopyStep& s : plan) {
        std::memcpy(to + s.to, from + s.from, s.size);
    }
}

void Layout::ToWire(const char* from, char* to) const {
    if (direct) {
        std::memcpy(to, from, own->size);
        return;
    }
    std::memset(to, 0, wire->size);
    for (const CopyStep& s : plan) {
        std::memcpy(to + s.from, from + s.to, s.size);
    }
}

} // namespace vsim::gate
