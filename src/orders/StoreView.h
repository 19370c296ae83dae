#pragma once

// What the order path reads from the replica: the orders log, positions, the account table's
// client codes and the futures' reference rows. Read through the store's public reader calls
// only (GetData, TAccess), under one short hold of its lock.

#include "orders/OwnOrders.h"
#include "orders/RiskGate.h"
#include "store/StoreRecords.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vorlen {
class TCGStorage;
}

namespace vorlen::orders {

// What changes rarely: the account table's client codes and the futures' reference rows.
struct TRefFacts {
    std::vector<std::string> Clients;
    std::map<std::string, TInstrumentRef> Instruments; // by isin
    std::map<std::int32_t, std::string> IsinById;
};

struct TStoreFacts {
    // Own orders from the orders log: the active ones, or all of them when asked for.
    std::vector<TOwnOrder> Own;
    // Every ext_id the orders log carries: in ExtIds, or (from a reader, valid until its next
    // read) behind ExtIdsRef.
    std::set<std::int64_t> ExtIds;
    const std::set<std::int64_t>* ExtIdsRef = nullptr;
    bool HasExtId(std::int64_t id) const {
        return ExtIds.count(id) != 0 || (ExtIdsRef != nullptr && ExtIdsRef->count(id) != 0);
    }
    std::map<std::pair<std::string, std::int32_t>, std::int64_t> Positions; // (client, isin_id)
    // Shared between reads until the rows behind it change; never null from a reader.
    std::shared_ptr<const TRefFacts> Ref;
};

// Keeps what it derived from the orders log between reads: the log only grows, so each read
// decodes only the rows it has not seen (a log that shrank, after a new life number, is read
// anew). One reader per caller; not shared between threads.
class TStoreReader {
public:
    explicit TStoreReader(TCGStorage& store) : FStore(store) {}
    TStoreFacts Read(bool allOrders = false);
    // False while a Read now would return what the last one did (no key table has changed, the
    // reference rows are as many and were read less than a second ago): cheap enough to ask
    // before every order.
    bool Changed();

private:
    void Describe();

    TCGStorage& FStore;
    TOwnOrderTracker FTracker;
    std::unordered_set<std::int64_t> FSeen;
    // The tables' handles, taken once (their rows stay the store's, read under its lock).
    TTable FLog, FPos, FPart, FRef;
    bool FDescribed = false;
    // Reference rows and client codes change rarely: read again when their count changes or a
    // second has passed.
    std::size_t FRefCount = 0, FPartCount = 0;
    std::int64_t FReadAtMs = 0;
    std::uint64_t FReadChanges = 0;
    bool FRead = false;
    std::shared_ptr<const TRefFacts> FRefFacts = std::make_shared<TRefFacts>();
};

// A one-off read, every order included.
TStoreFacts ReadStoreFacts(TCGStorage& store);

} // namespace vorlen::orders
