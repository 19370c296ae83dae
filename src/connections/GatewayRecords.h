#pragma once

// What the connections keep of their conversation with the gateway: one record per market-data
// listener, and the pending reply of one order transaction.

#include "gateway/GatewayCInterface.h"
#include "platform/Events.h"
#include "store/StoreRecords.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vorlen {

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

// The pending reply of one order transaction.
struct TReplData {
    std::int32_t isin_id = 0;
    TEvent Event;
    std::string MsgName;
    std::map<std::string, TField> Fields;
};

} // namespace vorlen
