#pragma once

// A recording of the trading day played back into a fresh replica store, without any exchange:
// each market-data record turns into the message the connection received and goes through the
// connection's own store calls (ApplyToReplica), so the replica comes out as the connection built
// it at the recording's moment.

#include "connections/GatewayRecords.h"
#include "history/Reader.h"
#include "history/RecordFormat.h"
#include "store/Storage.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <limits>
#include <string>

namespace vorlen::history {

struct TReplayStats {
    std::uint64_t Records = 0;     // records applied
    std::uint64_t Skipped = 0;     // damaged places passed over
    std::uint64_t Lost = 0;        // messages the recorder had no room for (gap records)
    bool InstrumentsBuilt = false; // every stream came on-line within the replayed part
    std::int64_t LastNs = 0;       // receive time of the last record applied
};

// Owns the replica it builds, and the recorded layouts its rows point into, which outlive it.
class TReplay {
public:
    TReplay() = default;
    TReplay(const TReplay&) = delete;
    TReplay& operator=(const TReplay&) = delete;

    // Applies every record received at or before `untilNs` to a fresh replica; run it once.
    // False with `error` set when the file
    // cannot be read as a recording.
    bool Run(const std::filesystem::path& file, std::string& error,
             std::int64_t untilNs = std::numeric_limits<std::int64_t>::max());
    // Run a record at a time, for a caller that acts between records (a backtest): Open, then
    // Next and Apply each record in turn. Stream data may reach the store a little after its
    // Apply, as the connection's batches do; Flush applies it and lets the store's lock go, and
    // must be called before the store is read or the replay is left.
    bool Open(const std::filesystem::path& file, std::string& error);
    // The next record, not yet applied (valid until the next call); false at the end.
    bool Next(TRecordView& record) { return FReader.Next(record); }
    void Apply(const TRecordView& record);
    void Flush();
    const TReplayStats& Stats() const { return FStats; }
    TCGStorage& Store() { return FStore; }
    // The recording's trading date, "YYYY-MM-DD"; known once Run has opened the file.
    const std::string& TradingDate() const { return FDate; }

private:
    std::deque<TRecordedScheme> FSchemes;
    TCGStorage FStore;
    TCGStorage::TBatch FBatch{FStore};
    TListeners FListeners;
    bool FBuilt = false;
    TReplayStats FStats;
    std::string FDate;
    TRecordingReader FReader;
};

} // namespace vorlen::history
