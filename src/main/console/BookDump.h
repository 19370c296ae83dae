#pragma once

// The console's order books: the instruments named with --book, found in the instrument lists,
// and their books and positions as tab-separated files.

#include "book/Book.h"
#include "main/console/StoreDump.h"
#include "store/StoreRecords.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlen {

class TBookKeeper;

// The isin_id of the futures or option whose code is `isin`; nothing when no list has it.
std::optional<std::int32_t> FindInstrument(const THeaders& fut, const THeaders& opt,
                                           const std::string& isin);

// "side\tprice\tvolume\town", then the asks from the highest price down to the best, then the
// bids from the best down, as a ladder shows them; "own" is the trader's resting volume there,
// empty when none. A book that cannot be shown is the one line saying why.
std::string BookTsv(const TBookSnapshot& book);
// "client_code\tpos\twaprice\tmark\topen_pnl\tvm", one line per client code holding the
// instrument.
std::string PositionTsv(const TBookSnapshot& book);

// book_<ISIN>.tsv and position_<ISIN>.tsv of one instrument, taken in one snapshot.
std::vector<TDumpFile> CollectBookDump(const TBookKeeper& books, const std::string& isin,
                                       std::int32_t isin_id);

} // namespace vorlen
