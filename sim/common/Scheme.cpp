#include "Scheme.h"

#include "Decimal.h"

#include <charconv>

namespace vsim {

int TableDef::Find(std::string_view field) const {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].name == field) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const FieldDef* TableDef::Field(std::string_view field) const {
    const int i = Find(field);
    return i < 0 ? nullptr : &fields[static_cast<std::size_t>(i)];
}

namespace {

bool ParseNumber(std::string_view text, std::uint32_t& out) {
    if (text.empty()) {
        return false;
    }
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size();
}

std::uint32_t AlignmentOf(FieldKind kind, std::uint32_t size) {
    switch (kind) {
    case FieldKind::Int:
    case FieldKind::UInt:
    case FieldKind::Float:
        return size;
    case FieldKind::Time:
        return 2;
    default:
        return 1;
    }
}

} // namespace

bool ParseFieldType(std::string_view type, FieldKind& kind, std::uint32_t& size,
                    std::uint8_t& scale) {
    if (type.empty()) {
        return false;
    }
    const std::string_view digits = type.substr(1);
    scale = 0;
    switch (type[0]) {
    case 'i':
    case 'u':
        kind = type[0] == 'i' ? FieldKind::Int : FieldKind::UInt;
        if (!ParseNumber(digits, size)) {
            return false;
        }
        return size == 1 || size == 2 || size == 4 || size == 8;
    case 'c':
        kind = FieldKind::Text;
        if (!ParseNumber(digits, size) || size == 0 || size > 65535) {
            return false;
        }
        size += 1;
        return true;
    case 'd':
    case 's': {
        kind = FieldKind::Decimal;
        const auto dot = digits.find('.');
        std::uint32_t precision = 0;
        std::uint32_t sc = 0;
        if (dot == std::string_view::npos) {
            if (!ParseNumber(digits, precision)) {
                return false;
            }
        } else if (!ParseNumber(digits.substr(0, dot), precision) ||
                   !ParseNumber(digits.substr(dot + 1), sc)) {
            return false;
        }
        if (precision == 0 || precision > 38 || sc > precision) {
            return false;
        }
        scale = static_cast<std::uint8_t>(sc);
        size = kDecimalSize;
        return true;
    }
    case 't':
        kind = FieldKind::Time;
        size = 10;
        return digits.empty();
    case 'f':
        kind = FieldKind::Float;
        size = 8;
        return digits.empty() || digits == "8";
    case 'a':
        kind = FieldKind::Char;
        size = 1;
        return digits.empty() || digits == "1";
    default:
        return false;
    }
}

bool AddField(TableDef& table, std::string_view name, std::string_view type) {
    FieldDef f;
    if (name.empty() || table.Find(name) >= 0 || !ParseFieldType(type, f.kind, f.size, f.scale)) {
        return false;
    }
    f.name = std::string(name);
    f.type = std::string(type);
    const std::uint32_t align = AlignmentOf(f.kind, f.size);
    f.offset = (table.size + align - 1) / align * align;
    table.size = f.offset + f.size;
    table.fields.push_back(std::move(f));
    return true;
}

void FinishLayout(TableDef& table) {
    table.size = (table.size + 7) / 8 * 8;
}

bool SameLayout(const TableDef& a, const TableDef& b) {
    if (a.size != b.size || a.fields.size() != b.fields.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.fields.size(); ++i) {
        const FieldDef& x = a.fields[i];
        const FieldDef& y = b.fields[i];
        if (x.name != y.name || x.type != y.type || x.offset != y.offset) {
            return false;
        }
    }
    return true;
}

std::vector<CopyStep> PlanCopy(const TableDef& from, const TableDef& to) {
    std::vector<CopyStep> plan;
    for (const FieldDef& t : to.fields) {
        const FieldDef* f = from.Field(t.name);
        if (f != nullptr && f->type == t.type) {
            plan.push_back({f->offset, t.offset, t.size});
        }
    }
    return plan;
}

} // namespace vsim
