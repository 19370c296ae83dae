#include "store/ExpertFieldMap.h"

#include "store/Storage.h"

namespace vorlen {

namespace {

// The account grid's fields, in its column order.
const char* const kAccountFields[] = {
    "client_code",
    "money_free",
    "money_blocked",
    "vm_reserve",
    "fee",
    "limits_set",
    "money_old",
    "money_amount",
    "money_pledge_amount",
    "vm_intercl",
    "is_auto_update_limit",
    "broker_fee",
    "penalty",
    "premium_intercl",
    "net_option_value",
};

} // namespace

TDataBase::TDataBase(TCGStorage& store) : FStore(store) {}

void TDataBase::BuildDataMap() {
    for (const char* name : kAccountFields)
        AddFieldPos("FORTS_PART_REPL", "part", name);
}

void TDataBase::AddFieldPos(const std::string& stream, const std::string& table,
                            const std::string& field) {
    for (std::size_t i = 0; i < DataBuff.Streams.size(); ++i) {
        const TStream& s = DataBuff.Streams[i];
        if (s.sName != stream)
            continue;
        for (std::size_t j = 0; j < s.Tables.size(); ++j) {
            if (s.Tables[j].tName != table)
                continue;
            // The rows are the store's own: read them under its lock.
            TCGStorage::TAccess access(FStore);
            for (const TRowView row : access.Rows(s.Tables[j])) {
                if (row.Has(field)) {
                    FDataMap[field] = TDataPos{static_cast<std::int32_t>(i),
                                               static_cast<std::int32_t>(j), row.ReplId()};
                    return;
                }
            }
            return;
        }
        return;
    }
}

TField TDataBase::GetField(const std::string& fName) const {
    const auto it = FDataMap.find(fName);
    if (it == FDataMap.end())
        return {};
    const TDataPos& p = it->second;
    if (p.StrPos < 0 || static_cast<std::size_t>(p.StrPos) >= DataBuff.Streams.size())
        return {};
    const auto& tables = DataBuff.Streams[static_cast<std::size_t>(p.StrPos)].Tables;
    if (p.TblPos < 0 || static_cast<std::size_t>(p.TblPos) >= tables.size())
        return {};
    TCGStorage::TAccess access(FStore);
    const TRowView row = access.Rows(tables[static_cast<std::size_t>(p.TblPos)]).Find(p.ReplId);
    return row ? row.Field(fName) : TField{};
}

} // namespace vorlen
