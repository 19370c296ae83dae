#pragma once

// The console's picture of the replica at one moment: the instrument lists and every table of
// every stream, as tab-separated text files. A live run and a replay of its recording dump
// through the same calls, so their files can be compared one by one.

#include "store/StoreRecords.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

class TCGStorage;

// A value as one TSV cell: backslash, tab, line feed and carriage return become \\, \t, \n, \r.
std::string TsvCell(std::string_view text);

// "list\tisin_id\tisin\tshort_isin\tname", then one line per futures, options and spot entry.
std::string InstrumentsTsv(const THeaders& fut, const THeaders& opt, const TSHeaders& spot);

struct TDumpFile {
    std::string Name; // file name inside the dump folder
    std::string Text;
};

// The file of a table that is not a key table: "STREAM.table.tsv", so that tables of one name
// in two streams stay apart. A character other than a letter, a digit, '_' or '-' becomes '_':
// the names come from the exchange's scheme and must not lead out of the dump's folder.
std::string TableFileName(std::string_view stream, std::string_view table);

// The files of a dump: instruments.tsv, one file per key table named after the table (empty for
// one never described), then every other table the streams have described, stream by stream in
// listener order. The text is taken under the store's lock; nothing is written here.
std::vector<TDumpFile> CollectDump(TCGStorage& store);

// Writes the files into `dir`, creating it when missing. False with `error` set on failure.
bool WriteDump(const std::filesystem::path& dir, const std::vector<TDumpFile>& files,
               std::string& error);

} // namespace vorlen
