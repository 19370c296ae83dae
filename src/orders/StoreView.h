#pragma once

// What the order path reads from the replica: the orders log, positions, the account table's
// client codes and the futures' reference rows. Read through the store's public reader calls
// only (GetData, TAccess), under one short hold of its lock.

#include "orders/OwnOrders.h"
#include "orders/RiskGate.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vorlen {
class TCGStorage;
}

namespace vorlen::orders {

struct TStoreFacts {
    std::vector<TOrderLogRow> OrdersLog;
    std::map<std::pair<std::string, std::int32_t>, std::int64_t> Positions; // (client, isin_id)
    std::vector<std::string> Clients;
    std::map<std::string, TInstrumentRef> Instruments; // by isin
    std::map<std::int32_t, std::string> IsinById;
};

TStoreFacts ReadStoreFacts(TCGStorage& store);

} // namespace vorlen::orders
