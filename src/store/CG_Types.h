#pragma once

// The records shared by every part of the terminal. Strings are UTF-8; text that comes from or
// goes to the gateway is converted at the gateway boundary.

#include "gateway/GatewayCInterface.h"
#include "platform/Events.h"
#include "platform/Process.h"
#include "store/Value.h"

#include <cstddef>
#include <cstdint>
#include <map>
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

// The fixed strings and flags of one market-data listener.
struct TListenerParams {
    std::string StrName;
    std::string ModeAll;
    std::string ModeSnap;
    std::string ModeOnline;
    std::string LifeStrNum;
    std::string ReplState; // the last replication-state text, converted from the gateway's
    bool cgMsgOpen = false;
    bool cgMsgRplOnline = false;
};

// One market-data listener.
struct TListenerData {
    std::string Settings;
    cg_listener_t* Lsn = nullptr;
    TListenerParams LsnParams;
    TStreamData StreamData;
};

using TListeners = std::vector<TListenerData>;

// Every setting of the terminal, held once in the connector.
struct TConnectorSettings {
    std::string appPath;
    std::string RoutPath;
    std::string RegKey;
    std::string RegRecord;
    std::string ServName;
    std::string CGDLLName;
    std::string RoutName;
    std::string RoutIniName;
    std::int32_t Market = 0;
    std::uint32_t TrSpeed = 0;
    std::int32_t StakanCnt = 0;
    std::string CGIniFileName;
    bool IsScheme = false;
    bool Fight = false;
    std::string SubSys;
    std::string LogType;
    std::string LogMinLevel;
    std::string ProgKey;
    std::string ConType;
    std::string Host;
    std::string Port;
    std::string ProgName;
    std::string RoutTOut;
    std::string LocTOut;
    std::string Version;
    std::string BuffSize;
    bool RoutLoad = false;
    std::uintptr_t CGDllHandle = 0;
    TProcInfo ProcInfo{};
    bool isSet = false;
    bool UseScheme = false;
    bool CLTFut = false;
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
};

// The pending reply of one order transaction.
struct TReplData {
    std::int32_t isin_id = 0;
    TEvent Event;
    std::string MsgName;
    std::map<std::string, TField> Fields;
};

// The body of one "AddOrder" message: 125 bytes, packed, little-endian, copied byte for byte.
#pragma pack(push, 1)
struct TAddOrderParams {
    char broker_code[6];
    std::int32_t isin_id;
    char client_code[5];
    std::int32_t dir;
    std::int32_t atype;
    std::int32_t amount;
    char price[19];
    char comment[22];
    char broker_to[22];
    std::int32_t ext_id;
    std::int32_t is_check_limit;
    char date_exp[10];
    std::int32_t dont_check_money;
    char match_ref[12];
    std::int8_t ncc_request;
};
#pragma pack(pop)

static_assert(sizeof(TAddOrderParams) == 125);
static_assert(offsetof(TAddOrderParams, broker_code) == 0);
static_assert(offsetof(TAddOrderParams, isin_id) == 6);
static_assert(offsetof(TAddOrderParams, client_code) == 10);
static_assert(offsetof(TAddOrderParams, dir) == 15);
static_assert(offsetof(TAddOrderParams, atype) == 19);
static_assert(offsetof(TAddOrderParams, amount) == 23);
static_assert(offsetof(TAddOrderParams, price) == 27);
static_assert(offsetof(TAddOrderParams, comment) == 46);
static_assert(offsetof(TAddOrderParams, broker_to) == 68);
static_assert(offsetof(TAddOrderParams, ext_id) == 90);
static_assert(offsetof(TAddOrderParams, is_check_limit) == 94);
static_assert(offsetof(TAddOrderParams, date_exp) == 98);
static_assert(offsetof(TAddOrderParams, dont_check_money) == 108);
static_assert(offsetof(TAddOrderParams, match_ref) == 112);
static_assert(offsetof(TAddOrderParams, ncc_request) == 124);

using TInt64Array = std::vector<std::int64_t>;

} // namespace vorlen
