#pragma once

// What a market-data listener's messages do to the replica and to the listener's own record.
// The live connection and the replay of a recording both go through here, so a recording played
// back builds the replica the connection built, call for call.

#include "connections/GatewayRecords.h"
#include "gateway/GatewayCInterface.h"
#include "store/Storage.h"

#include <cstdint>

namespace vorlen {

// Applies one message of listener `idx`. Stream data goes through `batch`; any other message
// lets the batch go first, since it calls the store itself. `scheme` is the listener's scheme
// on CG_MSG_OPEN, null when the listener did not open active (its tables are left as they are).
// On-line mode only marks the listener: building the instrument lists is the caller's, once
// AllOnline says so.
void ApplyToReplica(TCGStorage& store, TCGStorage::TBatch& batch, std::int32_t idx,
                    TListenerData& el, const cg_msg_t& msg, const cg_scheme_desc_t* scheme);

// Every listener has passed its snapshot.
bool AllOnline(const TListeners& listeners);

} // namespace vorlen
