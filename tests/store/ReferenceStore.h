#pragma once

// What the replica store must hold, written the plainest way: per table, the rows' replication
// ids and the bytes of the last message each received, in arrival order, found by a linear
// search. The store's tests and its fuzzer feed both the same operations and compare every
// row's every field, so a fault of the store's own containers (map, arena, arrival order) or
// of its conversion on read shows as a difference.

#include "gateway/GatewayCInterface.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen::test {

class TReferenceStore {
public:
    struct TRow {
        std::int64_t Id;
        std::vector<std::uint8_t> Bytes;
    };
    struct TTable {
        const cg_message_desc_t* Desc = nullptr;
        std::vector<const cg_field_desc_t*> Fields;
        std::vector<TRow> Rows;
    };

    // Streams named as the store's, described one at a time.
    explicit TReferenceStore(std::vector<std::string> streams)
        : FNames(std::move(streams)), FTables(FNames.size()) {}

    void Describe(std::size_t stream, const cg_scheme_desc_t& scheme) {
        if (stream >= FTables.size())
            return;
        auto& tables = FTables[stream];
        tables.clear();
        std::size_t n = 0;
        for (const cg_message_desc_t* m = scheme.messages; m != nullptr && n < scheme.num_messages;
             m = m->next, ++n) {
            TTable& t = tables.emplace_back();
            t.Desc = m;
            std::size_t k = 0;
            for (const cg_field_desc_t* f = m->fields; f != nullptr && k < m->num_fields;
                 f = f->next, ++k)
                t.Fields.push_back(f);
        }
    }

    void Update(const cg_msg_streamdata_t& msg, std::int32_t stream) {
        TTable* t = At(stream, msg.msg_index);
        if (t == nullptr || t->Fields.empty() || msg.data == nullptr)
            return;
        const auto* data = static_cast<const std::uint8_t*>(msg.data);
        const std::size_t size = msg.data_size;
        const std::size_t keyAt = t->Fields[0]->offset;
        if (keyAt > size || size - keyAt < 8)
            return;
        std::int64_t id;
        std::memcpy(&id, data + keyAt, 8);
        const bool keep = t->Fields.size() < 3 ||
                          ValuesEqual(FieldToVariant(*t->Fields[2], data, size), std::int32_t{0});
        const std::vector<std::uint8_t> bytes(data, data + size);
        auto it =
            std::find_if(t->Rows.begin(), t->Rows.end(), [&](const TRow& r) { return r.Id == id; });
        if (keep && it != t->Rows.end()) {
            it->Bytes = bytes;
        } else if (keep) {
            if (std::string_view(t->Desc->name != nullptr ? t->Desc->name : "") == "heartbeat")
                t->Rows.clear();
            else
                NoteKeyRow(stream, msg.msg_index);
            t->Rows.push_back({id, bytes});
        } else if (it != t->Rows.end()) {
            t->Rows.erase(it);
        }
    }

    void LifeNumberClear(std::int32_t stream) {
        if (stream >= 0 && static_cast<std::size_t>(stream) < FTables.size())
            for (TTable& t : FTables[static_cast<std::size_t>(stream)])
                t.Rows.clear();
    }

    void ClearDeleted(std::int32_t stream, const void* rec, std::size_t size) {
        if (rec == nullptr || size < sizeof(cg_data_cleardeleted_t))
            return;
        cg_data_cleardeleted_t clear;
        std::memcpy(&clear, rec, sizeof clear);
        TTable* t = At(stream, static_cast<std::size_t>(clear.table_idx));
        if (t == nullptr)
            return;
        // The last field of that name, as a lookup by name finds it.
        const cg_field_desc_t* rev = nullptr;
        for (const cg_field_desc_t* f : t->Fields)
            if (std::string_view(f->name != nullptr ? f->name : "") == "replRev")
                rev = f;
        if (rev == nullptr)
            return;
        std::erase_if(t->Rows, [&](const TRow& r) {
            return VarAsInt64(FieldToVariant(*rev, r.Bytes.data(), r.Bytes.size())) <
                   clear.table_rev;
        });
    }

    bool RemoveRow(std::int32_t no, std::int64_t id) {
        if (no < 0 || no >= kKeyTableCount || FKeyPos[static_cast<std::size_t>(no)].first < 0)
            return false;
        const auto& [s, t] = FKeyPos[static_cast<std::size_t>(no)];
        TTable* table = At(s, static_cast<std::size_t>(t));
        if (table == nullptr)
            return false;
        return std::erase_if(table->Rows, [&](const TRow& r) { return r.Id == id; }) != 0;
    }

    const TTable* Table(std::size_t stream, std::size_t table) const {
        return stream < FTables.size() && table < FTables[stream].size() ? &FTables[stream][table]
                                                                         : nullptr;
    }

private:
    TTable* At(std::int32_t stream, std::size_t table) {
        if (stream < 0 || static_cast<std::size_t>(stream) >= FTables.size())
            return nullptr;
        auto& tables = FTables[static_cast<std::size_t>(stream)];
        return table < tables.size() ? &tables[table] : nullptr;
    }

    void NoteKeyRow(std::int32_t stream, std::size_t table) {
        static constexpr std::string_view kKeys[kKeyTableCount][2] = {
            {"FORTS_PART_REPL", "part"},
            {"FORTS_TRADE_REPL", "orders_log"},
            {"FORTS_TRADE_REPL", "multileg_orders_log"},
            {"FORTS_TRADE_REPL", "user_deal"},
            {"FORTS_TRADE_REPL", "user_multileg_deal"},
            {"FORTS_POS_REPL", "position"},
            {"FORTS_REFDATA_REPL", "sys_messages"},
        };
        const std::string_view name = At(stream, table)->Desc->name;
        for (std::size_t k = 0; k < kKeyTableCount; ++k)
            if (kKeys[k][0] == FNames[static_cast<std::size_t>(stream)] && kKeys[k][1] == name)
                FKeyPos[k] = {stream, static_cast<std::int32_t>(table)};
    }

    std::vector<std::string> FNames;
    std::vector<std::vector<TTable>> FTables;
    std::pair<std::int32_t, std::int32_t> FKeyPos[kKeyTableCount] = {
        {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}};
};

// Empty when the store's rows of every described table match the model's, field by field and
// in order; otherwise where they first differ.
inline std::string Difference(TCGStorage& store, const TReferenceStore& ref, std::size_t streams) {
    TMarketData md;
    store.GetData(md);
    const TCGStorage::TAccess access(store);
    for (std::size_t s = 0; s < streams && s < md.Streams.size(); ++s) {
        for (std::size_t t = 0; t < md.Streams[s].Tables.size(); ++t) {
            const TReferenceStore::TTable* model = ref.Table(s, t);
            const TRows& rows = access.Rows(md.Streams[s].Tables[t]);
            const std::string where = "stream " + std::to_string(s) + " table " + std::to_string(t);
            if (model == nullptr)
                return where + ": not in the model";
            if (rows.Size() != model->Rows.size())
                return where + ": " + std::to_string(rows.Size()) + " rows, model " +
                       std::to_string(model->Rows.size());
            std::size_t i = 0;
            for (const TRowView row : rows) {
                const TReferenceStore::TRow& want = model->Rows[i++];
                if (row.ReplId() != want.Id)
                    return where + ": row " + std::to_string(i - 1) + " out of order";
                for (std::size_t f = 0; f < model->Fields.size(); ++f) {
                    const TValue expected =
                        FieldToVariant(*model->Fields[f], want.Bytes.data(), want.Bytes.size());
                    if (!SameValue(row.Value(static_cast<int>(f)), expected))
                        return where + ": row " + std::to_string(want.Id) + " field " +
                               std::to_string(f);
                }
            }
        }
    }
    return {};
}

} // namespace vorlen::test
