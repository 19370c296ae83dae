#pragma once

// An expert's view of the replica: its latest snapshot of the store and, for the account's money
// fields, where in the replica each was found, so a strategy can ask for a field by name alone.
// The class keeps its name, TDataBase; these files were DataBase.*.

#include "store/StoreRecords.h"

#include <map>
#include <string>

namespace vorlen {

class TCGStorage;

class TDataBase {
public:
    // The store whose rows the snapshot shares; it must outlive the field map.
    explicit TDataBase(TCGStorage& store);

    // The expert's snapshot, filled by TCGStorage::GetData.
    TMarketData DataBuff;

    // Registers the fifteen account fields from the current DataBuff; call once.
    void BuildDataMap();
    // The field's current value in the store (not as of the last GetData: the rows are shared),
    // or a TField with null FType when it was not registered or its row is gone.
    TField GetField(const std::string& fName) const;

    const std::map<std::string, TDataPos>& DataMap() const { return FDataMap; }

private:
    void AddFieldPos(const std::string& stream, const std::string& table, const std::string& field);

    TCGStorage& FStore;
    std::map<std::string, TDataPos> FDataMap;
};

} // namespace vorlen
