#pragma once

// What the store tells a follower of its tables (the order books) while it applies the
// replication messages. Every call is made on the thread that changes the store and with the
// store's lock held, so a follower's state is guarded by that same lock: it takes no lock of its
// own, must not call back into the store, and must be quick.

#include "gateway/GatewayCInterface.h"
#include "store/Rows.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vorlen {

class TStoreObserver {
public:
    virtual ~TStoreObserver() = default;

    // The chosen streams, by listener index, before any of them opens.
    virtual void OnStreams(const std::vector<std::string>& names) = 0;
    // The most bytes of its own a follower may keep in each row of a table.
    static constexpr std::size_t kMaxTrailer = 64;
    // What a follower asks of a table when it is described.
    struct TFollow {
        // Bytes of its own in each row (TRowChange::Trailer), at most kMaxTrailer; 0 for none.
        std::size_t TrailerBytes = 0;
        // The rows messages store (insert or change) and the rows they delete are told a run's
        // worth at a time, in order, once the store has applied them (OnRowsStored), instead of
        // one message at a time before: no call per message, and the rows are in the cache when
        // the follower reads them. Only with TrailerBytes.
        bool InBulk = false;
        // With InBulk, where a key of the follower's sits in a message (KeyBytes at most 8; 0
        // for none). The follower keeps a copy of a row's key bytes, as they were when it was
        // told of the row, at the start of its own bytes. A row a message inserts is told; a
        // row a message changes is told only when its key differs from that copy: a change of
        // any other field costs the follower nothing. The follower is then told the row went
        // (with the bytes it had) and came anew (its bytes zeroed), in the message's place among
        // the others. A row whose key is all zero bytes is told only when it is inserted.
        std::size_t KeyAt = 0;
        std::size_t KeyBytes = 0;
    };
    // Table `table` of stream `stream` has (again) been described and holds no rows. `desc` is
    // valid only during the call: a follower resolves what it needs of it here, once per table.
    // `rows` are the table's rows, which a follower may read under the store's lock for as long
    // as it keeps them (the store may stop filling them once the table is described again).
    // What the follower asks holds until the table is described again or the store's follower
    // is replaced.
    virtual TFollow OnTableDescribed(std::int32_t stream, std::int32_t table,
                                     const cg_message_desc_t& desc,
                                     const std::shared_ptr<const TRows>& rows) = 0;
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
        // The follower's own bytes in the row, as many as it asked for when the table was
        // described; the store never reads them and they go with the row. Zero for a row this
        // message creates (kept only if the message is applied), what the follower left there
        // otherwise. Null when the follower asked for none or the message names no row the
        // store keeps. A follower keeps its state of a row here rather than in a map of its
        // own: no look-up, and the line it reads is one the store is about to write anyway.
        void* Trailer = nullptr;
    };
    // Every stream-data message of a described table that is not followed in bulk, in the
    // order the store applies them.
    virtual void OnRow(std::int32_t stream, std::int32_t table, const TRowChange& change) = 0;
    // A row a message stored, or deleted, in a table followed in bulk.
    struct TStoredRow {
        // The row as it stands now; empty for a row that has gone.
        TRowView Row;
        // The follower's bytes: in the row (zero for a row new to it), or for a row that has
        // gone a copy of what it held when it went.
        void* Trailer = nullptr;
        std::int64_t ReplId = 0;
    };
    // The rows messages stored or deleted in a table followed in bulk since the last call, in
    // order (a row stored twice may come twice). `latest` is the row the last of those messages
    // stored, whether it is among `rows` or not (empty when it has gone or none was stored): a
    // follower that names a key still learns how far the table has come. Told before the run
    // ends; the views and bytes are valid during the call.
    virtual void OnRowsStored(std::int32_t stream, std::int32_t table,
                              std::span<const TStoredRow> rows, TRowView latest) = 0;
    // The store is about to let its lock go after a run of messages (TCGStorage::TBatch), also
    // when applying one failed; the rows stored in bulk have been told. Must not throw.
    virtual void OnRunApplied() noexcept = 0;
    // A life-number change emptied every table of the stream.
    virtual void OnStreamCleared(std::int32_t stream) = 0;
    // Rows whose "replRev" is below `rev` have left the table.
    virtual void OnDeletedCleared(std::int32_t stream, std::int32_t table, std::int64_t rev) = 0;
};

} // namespace vorlen
