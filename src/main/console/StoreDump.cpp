#include "main/console/StoreDump.h"

#include "platform/OwnerFile.h"
#include "store/FieldConversion.h"
#include "store/KeyTables.h"
#include "store/Storage.h"

#include <algorithm>
#include <fstream>

namespace vorlen {

namespace {

static_assert(kKeyTableRefs.size() == kKeyTableCount);

const TTable* FindTable(const TMarketData& data, const TKeyTableRef& key) {
    for (const TStream& stream : data.Streams) {
        if (stream.sName != key.Stream) {
            continue;
        }
        for (const TTable& table : stream.Tables) {
            if (table.tName == key.Table) {
                return &table;
            }
        }
    }
    return nullptr;
}

// Under the store's lock. A table that was never described gives an empty file.
std::string TableTsv(const TRows& rows) {
    std::string text;
    const TRowLayout* layout = rows.Layout();
    if (layout == nullptr) {
        return text;
    }
    for (std::size_t i = 0; i < layout->Count(); ++i) {
        text += i == 0 ? "" : "\t";
        text += TsvCell(layout->Name(i));
    }
    text += '\n';
    for (const TRowView row : rows) {
        for (std::size_t i = 0; i < layout->Count(); ++i) {
            text += i == 0 ? "" : "\t";
            text += TsvCell(ValueToStr(row.Value(static_cast<int>(i))));
        }
        text += '\n';
    }
    return text;
}

bool IsKeyTable(std::string_view stream, std::string_view table) {
    return std::any_of(kKeyTableRefs.begin(), kKeyTableRefs.end(), [&](const TKeyTableRef& key) {
        return key.Stream == stream && key.Table == table;
    });
}

} // namespace

std::string TsvCell(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string InstrumentsTsv(const THeaders& fut, const THeaders& opt, const TSHeaders& spot) {
    std::string text = "list\tisin_id\tisin\tshort_isin\tname\n";
    const auto headers = [&text](std::string_view list, const THeaders& hdrs) {
        for (const THeader& h : hdrs) {
            text += std::string(list) + "\t" + std::to_string(h.isin_id) + "\t" + TsvCell(h.isin) +
                    "\t" + TsvCell(h.short_isin) + "\t" + TsvCell(h.name) + "\n";
        }
    };
    headers("futures", fut);
    headers("options", opt);
    for (const TSpotHeader& h : spot) {
        text += "spot\t" + std::to_string(h.bond_id) + "\t" + TsvCell(h.small_name) + "\t" +
                TsvCell(h.short_isin) + "\t" + TsvCell(h.name) + "\n";
    }
    return text;
}

std::vector<TDumpFile> CollectDump(TCGStorage& store) {
    std::vector<TDumpFile> files;
    THeaders fut;
    THeaders opt;
    TSHeaders spot;
    store.GetHeaders(fut, opt, spot);
    files.push_back({"instruments.tsv", InstrumentsTsv(fut, opt, spot)});

    TMarketData data;
    store.GetData(data);
    TCGStorage::TAccess access(store);
    for (const TKeyTableRef& key : kKeyTableRefs) {
        const TTable* table = FindTable(data, key);
        files.push_back({std::string(key.Table) + ".tsv",
                         table != nullptr ? TableTsv(access.Rows(*table)) : std::string()});
    }
    for (const TStream& stream : data.Streams) {
        for (const TTable& table : stream.Tables) {
            if (IsKeyTable(stream.sName, table.tName))
                continue;
            files.push_back(
                {TableFileName(stream.sName, table.tName), TableTsv(access.Rows(table))});
        }
    }
    return files;
}

std::string TableFileName(std::string_view stream, std::string_view table) {
    std::string name;
    name.reserve(stream.size() + table.size() + 5);
    const auto append = [&name](std::string_view part) {
        for (const char c : part) {
            const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                               (c >= '0' && c <= '9') || c == '_' || c == '-';
            name += plain ? c : '_';
        }
    };
    append(stream);
    name += '.';
    append(table);
    return name + ".tsv";
}

bool WriteDump(const std::filesystem::path& dir, const std::vector<TDumpFile>& files,
               std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot create " + dir.string() + ": " + ec.message();
        return false;
    }
    for (const TDumpFile& f : files) {
        const std::filesystem::path path = dir / f.Name;
        // The tables hold the account's money and positions: the owner's business only.
        if (!platform::WriteOwnerOnlyFile(path, f.Text)) {
            error = "cannot write " + path.string();
            return false;
        }
    }
    return true;
}

} // namespace vorlen
