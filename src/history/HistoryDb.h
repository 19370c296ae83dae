#pragma once

// The trader's database of deals and one-minute candles (history/history.db, SQLite; the schema
// is in docs/recording.md). The recorder's thread feeds it the records it writes to the day
// file; the deals of the tables `deal` (all deals of the market) and `user_deal` (the trader's
// own) are stored once each, keyed by session and deal id, so the resend that follows a new life
// number or a reconnect adds nothing. Rows gather in one open transaction that Commit ends.

#include "history/RecordFormat.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vorlen::history {

// Exchange time is Moscow time, three hours ahead of UTC all year round.
constexpr std::int64_t kExchangeOffsetMs = 3LL * 3600 * 1000;

struct TDeal {
    std::int32_t SessId = 0;
    std::int64_t IdDeal = 0;
    std::int32_t IsinId = 0;
    double Price = 0;
    std::int64_t Amount = 0;
    std::int64_t MomentMs = 0; // UTC milliseconds since 1970
    bool Own = false;
};

class THistoryDb {
public:
    THistoryDb() = default;
    ~THistoryDb(); // commits what is pending and closes
    THistoryDb(const THistoryDb&) = delete;
    THistoryDb& operator=(const THistoryDb&) = delete;

    // Opens or creates the database file; false with Error() set when it cannot be used.
    bool Open(const std::filesystem::path& file);
    bool IsOpen() const { return FDb != nullptr; }
    void Close();
    const std::string& Error() const { return FError; }

    // One record of the recording: layouts are learnt from stream openings, deals and
    // instrument names taken from stream data. False once the database failed.
    bool Take(const TRecordView& record);
    bool Add(const TDeal& deal);
    // Ends the open transaction. False with Error() set on a fault.
    bool Commit();
    std::size_t Pending() const { return FPending; }

private:
    enum class TKind { Deal, OwnDeal, Instrument };
    struct TTable {
        TKind Kind{};
        std::vector<const cg_field_desc_t*> Fields; // in the order of the kind's names
    };
    struct TStream {
        explicit TStream(TRecordedScheme s) : Scheme(std::move(s)) {}
        TRecordedScheme Scheme;
        std::map<std::uint32_t, TTable> Tables; // by message index
    };

    bool Begin();
    bool Fail(const std::string& what);
    bool Exec(const char* sql);
    bool AddInstrument(std::int32_t isinId, const std::string& isin, const std::string& shortIsin);

    sqlite3* FDb = nullptr;
    sqlite3_stmt* FInsertDeal = nullptr;
    sqlite3_stmt* FMarkOwn = nullptr;
    sqlite3_stmt* FCandle = nullptr;
    sqlite3_stmt* FInstrument = nullptr;
    bool FInTransaction = false;
    std::size_t FPending = 0;
    std::string FError;
    std::map<std::uint16_t, TStream> FStreams;
};

} // namespace vorlen::history
