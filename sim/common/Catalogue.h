#pragma once

// Every stream, table and message the simulated exchange knows, built once from the text in
// CatalogueText.cpp.

#include "Scheme.h"

#include <string>
#include <string_view>
#include <vector>

namespace vsim {

struct StreamDef {
    std::string name;
    std::vector<const TableDef*> tables; // in the stream's own order
    int Find(std::string_view table) const;
};

struct SchemeFileDef {
    std::string file; // e.g. "fee.ini"
    std::vector<const StreamDef*> streams;
    // The union of the streams' tables, first appearance first.
    std::vector<const TableDef*> Tables() const;
};

class Catalogue {
public:
    static const Catalogue& Get();

    const TableDef* Table(std::string_view name) const;
    const StreamDef* Stream(std::string_view name) const;
    const TableDef* Message(std::string_view name) const;
    const TableDef* MessageById(std::uint32_t id) const;

    const std::vector<StreamDef>& Streams() const { return streams_; }
    const std::vector<TableDef>& Tables() const { return tables_; }
    const std::vector<TableDef>& Messages() const { return messages_; }
    const std::vector<SchemeFileDef>& SchemeFiles() const { return files_; }

    // Name of the replication scheme section in every scheme file, and of the messages section
    // in the message scheme file.
    static constexpr const char* kReplSection = "CustReplScheme";
    static constexpr const char* kMessageSection = "message";
    static constexpr const char* kMessageFile = "forts_messages.ini";

private:
    Catalogue();
    std::vector<TableDef> tables_;
    std::vector<TableDef> messages_;
    std::vector<StreamDef> streams_;
    std::vector<SchemeFileDef> files_;
};

// Parses "@name [id]" blocks of "field type" lists. withService puts replID, replRev, replAct in
// front of every table. Empty on a syntax error (the text is ours, so that is a bug).
std::vector<TableDef> ParseTableText(std::string_view text, bool withService);

} // namespace vsim
