#pragma once

// What the store tells a follower of its tables (the order books) while it applies the
// replication messages. Every call is made on the thread that changes the store and with the
// store's lock held, so a follower's state is guarded by that same lock: it takes no lock of its
// own, must not call back into the store, and must be quick.

#include "gateway/GatewayCInterface.h"
#include "store/Rows.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorlen {

class TStoreObserver {
public:
    virtual ~TStoreObserver() = default;

    // The chosen streams, by listener index, before any of them opens.
    virtual void OnStreams(const std::vector<std::string>& names) = 0;
    // Table `table` of stream `stream` has (again) been described and holds no rows. `desc` is
    // valid only during the call: a follower resolves what it needs of it here, once per table.
    virtual void OnTableDescribed(std::int32_t stream, std::int32_t table,
                                  const cg_message_desc_t& desc) = 0;
    // A message the store is about to apply to a row of a table.
    struct TRowChange {
        std::int64_t ReplId = 0;
        // The message's record as received, laid out as the table's description says.
        const void* Data = nullptr;
        std::size_t Size = 0;
        // The row as it stands before this message; empty for a row the store does not have.
        // A follower finds what it made of the row from these bytes, so it needs no map of its
        // own; reading them costs a trip to memory, so only when the message does not say.
        TRowView Previous;
        bool Deleted = false; // the row goes (or, with no Previous, would have gone)
    };
    // Every stream-data message of a described table, in the order the store applies them.
    virtual void OnRow(std::int32_t stream, std::int32_t table, const TRowChange& change) = 0;
    // A life-number change emptied every table of the stream.
    virtual void OnStreamCleared(std::int32_t stream) = 0;
    // Rows whose "replRev" is below `rev` have left the table.
    virtual void OnDeletedCleared(std::int32_t stream, std::int32_t table, std::int64_t rev) = 0;
};

} // namespace vorlen
