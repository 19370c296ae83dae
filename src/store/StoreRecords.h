#pragma once

// The replica store's records: where a row lies, a stream's replication state, its tables and
// the instrument headers, as the store keeps them and its readers see them. Strings are UTF-8;
// text that comes from the gateway is converted at the gateway boundary. This header was
// CG_Types.h; its other records went to their owners: settings/ConnectorSettings.h,
// connections/GatewayRecords.h and gateway/AddOrderMessage.h.

#include "gateway/GatewayCInterface.h"
#include "store/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vorlen {

// Where one row of the replica lies.
struct TDataPos {
    std::int32_t StrPos = 0;
    std::int32_t TblPos = 0;
    std::int64_t ReplId = 0;
};

using TTableDesc = std::vector<cg_message_desc_t*>;

// The replication state of one stream.
struct TStreamData {
    std::string sName;
    std::int32_t Pos = 0;
    std::uint32_t LifeNum = 0;
    std::uint32_t LnFlags = 0;
    std::uint32_t SchemType = 0;
    TTableDesc TableDecs;
};

// One field value of one row. FType points into the gateway's scheme (not owned); a null FType
// in a result means that no such field was found.
struct TField {
    const char* FType = nullptr;
    TValue Data;
};

// The rows of one table; defined by the replica store (store/Rows.h).
class TRows;

// One table of one stream. Values is the table's row container, shared between the store and
// its readers, who read it under the store's lock.
struct TTable {
    std::string tName;
    std::int64_t tIdx = 0;
    std::int64_t Rev = 0;
    std::shared_ptr<TRows> Values;
};

struct TStream {
    std::string sName;
    std::vector<TTable> Tables;
};

struct THeader {
    std::int32_t isin_id = 0;
    std::string isin;
    std::string short_isin;
    std::string name;
};
using THeaders = std::vector<THeader>;

struct TSpotHeader {
    std::int32_t bond_id = 0;
    std::string small_name;
    std::string short_isin;
    std::string name;
};
using TSHeaders = std::vector<TSpotHeader>;

// The store's whole replica, and the snapshot that experts receive.
struct TMarketData {
    std::int32_t FutSPos = -1, FutTpos = -1;
    std::int32_t OptSpos = -1, OptTpos = -1;
    std::int32_t SpotSpos = -1, SpotTpos = -1;
    THeaders FutHdr;
    THeaders OptHdr;
    TSHeaders SpotHdr;
    std::vector<TStream> Streams;
    // Which state of the store's lists this is (0: none): GetData copies them again only when
    // they changed since, so a holder that changes its copy sets this back to 0.
    std::uint64_t Generation = 0;
};

using TInt64Array = std::vector<std::int64_t>;

} // namespace vorlen
