#pragma once

// What the order path reads from the replica: the orders log, positions, the account table's
// client codes and the futures' reference rows. Read through the store's public reader calls
// only (GetData, TAccess), under one short hold of its lock.

#include "orders/OwnOrders.h"
#include "orders/RiskGate.h"
#include "store/StoreRecords.h"

#include <array>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vorlen {
class TCGStorage;
class TRowLayout;
class TRows;
} // namespace vorlen

namespace vorlen::orders {

// What changes rarely: the account table's client codes and the futures' and options' reference
// rows.
struct TRefFacts {
    std::vector<std::string> Clients;
    std::map<std::string, TInstrumentRef> Instruments; // by isin, futures and option series
    std::map<std::int32_t, std::string> IsinById;
    // The trading session under way (the session table's latest one begun); 0: none known.
    std::int32_t SessionId = 0;
    std::int64_t SessionBeginMs = 0; // wall-clock milliseconds
    bool operator==(const TRefFacts&) const = default;
};

struct TStoreFacts {
    // Own orders from the orders log: the active ones, or all of them when asked for; left
    // empty by a reader asked not to list them (Tracker then has them).
    std::vector<TOwnOrder> Own;
    // From a reader, valid until its next read: what it derived from the orders log, with the
    // active orders' counts kept as rows came.
    const TOwnOrderTracker* Tracker = nullptr;
    // Every ext_id the orders log carries: in ExtIds, or (from a reader, valid until its next
    // read) behind ExtIdsRef.
    TFlatSet<std::int64_t> ExtIds;
    const TFlatSet<std::int64_t>* ExtIdsRef = nullptr;
    // Asked for every order placed: the set that is empty (one of them always is) is not looked
    // into at all.
    bool HasExtId(std::int64_t id) const {
        // Each order's new ext_id is past every one the log holds, as a rule: no look-up in a
        // set as big as the log, which would be a cache miss or two for every order.
        if (id > ExtIdMax) {
            return false;
        }
        return (ExtIdsRef != nullptr && ExtIdsRef->contains(id)) ||
               (!ExtIds.empty() && ExtIds.contains(id));
    }
    // No ext_id in the sets is above it: whoever fills them says, when it knows.
    std::int64_t ExtIdMax = std::numeric_limits<std::int64_t>::max();
    // The trader's resting orders as the user order book shows them, when it is subscribed
    // (HaveBook): a source of its own, still there when the orders log has been cleared.
    std::vector<TOwnOrder> Book;
    bool HaveBook = false;
    std::map<std::pair<std::string, std::int32_t>, std::int64_t> Positions; // (client, isin_id)
    // Shared between reads until the rows behind it change; never null from a reader.
    std::shared_ptr<const TRefFacts> Ref;
};

// Keeps what it derived from the orders log between reads: the log only grows, so each read
// decodes only the rows it has not seen (a log that shrank, after a new life number, is read
// anew). Positions, client codes and reference rows are read again only when the store counts a
// change to their table (reference rows and client codes at least once a second too). One
// reader per caller; not shared between threads.
class TStoreReader {
public:
    explicit TStoreReader(TCGStorage& store) : FStore(store) {}
    // `listOwn` false: Own is left empty, for a caller that needs only the tracker's counts
    // most of the time and lists the orders itself when it must.
    TStoreFacts Read(bool allOrders = false, bool listOwn = true);
    // False while a Read now would return what the last one did: none of the tables read has
    // changed and the reference rows were read less than a second ago. Takes no lock, so it is
    // cheap enough to ask before every order.
    bool Changed();

private:
    // The positions of the fields read from one table, found again when its description or
    // arrangement changes.
    template <std::size_t N>
    struct TColumns {
        const TRowLayout* Layout = nullptr;
        std::uint64_t Generation = 0;
        std::array<int, N> Pos{};
        void Resolve(const TRows& rows, const std::array<const char*, N>& names);
    };

    void Describe();
    void ReadBook(const TRows& rows, TStoreFacts& f);
    std::array<std::uint64_t, 5> Counts() const;
    void ReadRef(const TRows& rows, TColumns<6>& cols, bool option, TRefFacts& out);

    TCGStorage& FStore;
    TOwnOrderTracker FTracker;
    TFlatSet<std::int64_t> FSeen;
    // Where the last read of the orders log ended, and in which arrangement of its rows.
    std::uint64_t FLogGeneration = 0;
    std::size_t FLogEnd = 0;
    // The tables' handles, taken once (their rows stay the store's, read under its lock).
    TTable FLog, FPos, FPart, FRef;
    // Not every subscription has these: looked for again now and then until found.
    TTable FSession, FBook, FOptRef;
    bool FHaveSession = false, FHaveBook = false, FHaveOptRef = false;
    std::int64_t FOptionalAtMs = -1'000'000;
    TColumns<13> FLogCols;
    TColumns<3> FSessionCols;
    TColumns<9> FBookCols;
    TColumns<3> FPosCols;
    TColumns<1> FPartCols;
    TColumns<6> FRefCols, FOptRefCols;
    bool FDescribed = false;
    // The tables' change counts when they were last read: orders log, positions, account
    // table, futures' and options' reference rows.
    std::array<std::uint64_t, 5> FReadCounts{};
    std::size_t FRefCount = 0, FPartCount = 0, FOptRefCount = 0;
    std::int64_t FReadAtMs = 0;
    bool FRead = false;
    std::map<std::pair<std::string, std::int32_t>, std::int64_t> FPositions;
    std::shared_ptr<const TRefFacts> FRefFacts = std::make_shared<TRefFacts>();
};

// A one-off read, every order included.
TStoreFacts ReadStoreFacts(TCGStorage& store);

} // namespace vorlen::orders
