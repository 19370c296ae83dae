#pragma once

// The console's picture of the replica at the end of a run: the instrument lists and the key
// tables, as tab-separated text files.

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

// The files of a dump: instruments.tsv and one file per key table, named after the table. The
// text is taken under the store's lock; nothing is written here.
std::vector<TDumpFile> CollectDump(TCGStorage& store);

// Writes the files into `dir`, creating it when missing. False with `error` set on failure.
bool WriteDump(const std::filesystem::path& dir, const std::vector<TDumpFile>& files,
               std::string& error);

} // namespace vorlen
