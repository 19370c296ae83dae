#pragma once

// Table and message layouts shared by the router and the gateway library: the same field list
// gives the same byte layout on both sides, so a row crosses the wire as the bytes the terminal
// reads.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vsim {

enum class FieldKind : std::uint8_t { Int, UInt, Text, Decimal, Time, Float, Char };

struct FieldDef {
    std::string name;
    std::string type; // type letter and size digits as the scheme writes them, e.g. "d16.5"
    FieldKind kind = FieldKind::Int;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
    std::uint8_t scale = 0; // decimals only
};

struct TableDef {
    std::string name;
    std::uint32_t id = 0; // message id (published messages and replies); 0 for tables
    std::vector<FieldDef> fields;
    std::uint32_t size = 0;

    // Index of the field, or -1.
    int Find(std::string_view field) const;
    const FieldDef* Field(std::string_view field) const;
};

// Reads a type string ("i4", "c25", "d16.5", "t", ...) into kind, size and scale. Text fields
// cN take N characters plus the terminating zero; decimals take 9 bytes (see Decimal.h).
bool ParseFieldType(std::string_view type, FieldKind& kind, std::uint32_t& size,
                    std::uint8_t& scale);

// Appends a field, aligned to its natural boundary. False for an unknown type or a duplicate name.
bool AddField(TableDef& table, std::string_view name, std::string_view type);

// Rounds the table size up to 8 so consecutive rows in a buffer stay aligned.
void FinishLayout(TableDef& table);

// Same names, types and offsets in the same order.
bool SameLayout(const TableDef& a, const TableDef& b);

// Copy plan between two layouts of one message: every field present in both under the same
// name and type is copied; the rest of the target stays zero.
struct CopyStep {
    std::uint32_t from = 0;
    std::uint32_t to = 0;
    std::uint32_t size = 0;
};
std::vector<CopyStep> PlanCopy(const TableDef& from, const TableDef& to);

} // namespace vsim
