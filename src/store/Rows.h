#pragma once

// The rows of one replica table.
//
// A row is one fixed-size record: per field a 16-byte slot holding the converted value (numbers
// inline, text either as a reference into the row's copy of the bytes it last received or, when
// the text differs from those bytes, in a buffer of the row's own), followed by that copy. The
// names, type strings and byte positions of the fields are held once per table (TRowLayout), so
// "look a field up by name" costs one hash probe in a table-wide index and no row keeps a map.
//
// Rows come out in the order they arrived. The table keeps them in an arrival-ordered array with
// holes left by removals (filled in by an occasional stable compaction on insert), and a hash map
// from replication id to record.
//
// Nothing here locks: every TRows is guarded by the store's lock (TCGStorage::TAccess). A
// TRowView is valid while that lock is held and its row is neither removed nor the table
// cleared or re-described.

#include "gateway/GatewayCInterface.h"
#include "store/BlockPool.h"
#include "store/CG_Types.h"
#include "store/Value.h"

#if defined(VORLEN_HAVE_ABSL)
#include <absl/container/flat_hash_map.h>
#else
#include <unordered_map>
#endif
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlen {

class TCGStorage;
class TRows;

namespace rows_detail {
union TSlot;
struct TRowRec;
} // namespace rows_detail

// The fields of one table's message, shared by all its rows.
class TRowLayout {
public:
    // Walks the message's field list, at most num_fields entries. Keeps its own copies of the
    // descriptions, so rows never point into a gateway scheme that has since been freed.
    explicit TRowLayout(const cg_message_desc_t& desc);

    std::size_t Count() const { return FFields.size(); }
    // Position of the field a row holds under `name`: the last of equal names, as a dictionary
    // keeps the last value stored under a name. -1 when the table has no such field.
    int IndexOf(std::string_view name) const;
    const char* Name(std::size_t pos) const { return FFields[pos].Desc.name; }
    // The gateway's type string; never null, and valid for the life of the process.
    const char* Type(std::size_t pos) const { return FFields[pos].Desc.fild_type; }
    const cg_field_desc_t& Desc(std::size_t pos) const { return FFields[pos].Desc; }
    // The description this layout was built from; used only to recognise it.
    const cg_message_desc_t* Source() const { return FSource; }
    // IndexOf("isin_id"), which the store needs for every message of the table.
    int IsinId() const { return FIsinId; }

private:
    friend class TRows;
    struct TFieldInfo {
        cg_field_desc_t Desc; // a copy; name and type point to interned text
        std::uint32_t Width;  // bytes from Desc.offset that the value depends on
        bool Compare;         // the value follows from exactly those bytes
        std::uint8_t Direct;  // how a refill converts it without a TValue; 0 when it cannot
    };
    std::vector<TFieldInfo> FFields;
    // Sorted by name, one entry per name; a few dozen names, so a binary search is as quick as
    // hashing and cheaper to build.
    std::vector<std::pair<std::string_view, int>> FIndex;
    std::size_t FRawSize = 0; // leading bytes of a message that a row keeps
    const cg_message_desc_t* FSource;
    int FIsinId = -1;
};

// Read access to one row.
class TRowView {
public:
    TRowView() = default;
    explicit operator bool() const { return FRec != nullptr; }

    std::int64_t ReplId() const;
    const TRowLayout& Layout() const { return *FLayout; }

    // The field under `name`, or a TField with null FType when the row has none.
    TField Field(std::string_view name) const;
    bool Has(std::string_view name) const { return FLayout->IndexOf(name) >= 0; }

    // By position (TRows::IndexOf, resolved once per table and pass). Get reuses the string or
    // byte storage already in `out`, so a pass that reads into one TField per column allocates
    // only when a text outgrows it.
    void Get(int pos, TField& out) const;
    TField At(int pos) const;
    TValue Value(int pos) const;

private:
    friend class TRows;
    TRowView(const rows_detail::TRowRec* rec, const TRowLayout* layout)
        : FRec(rec), FLayout(layout) {}
    const rows_detail::TRowRec* FRec = nullptr;
    const TRowLayout* FLayout = nullptr;
};

class TRows {
public:
    TRows() = default;
    explicit TRows(std::shared_ptr<const TRowLayout> layout);
    ~TRows();
    TRows(const TRows&) = delete;
    TRows& operator=(const TRows&) = delete;

    std::size_t Size() const { return FMap.size(); }
    bool Empty() const { return FMap.empty(); }
    // The row under `replId`; an empty view when there is none.
    TRowView Find(std::int64_t replId) const;
    bool Contains(std::int64_t replId) const { return FMap.contains(replId); }
    // Position of a field in every row of this table, -1 when the table has no such field.
    int IndexOf(std::string_view name) const { return FLayout ? FLayout->IndexOf(name) : -1; }
    // Null until the table has been described.
    const TRowLayout* Layout() const { return FLayout.get(); }
    // The replication ids, in arrival order.
    std::vector<std::int64_t> Keys() const;

    class TIterator {
    public:
        using value_type = TRowView;
        using difference_type = std::ptrdiff_t;
        TRowView operator*() const;
        TIterator& operator++();
        bool operator==(const TIterator& o) const { return FPos == o.FPos; }

    private:
        friend class TRows;
        TIterator(const TRows* rows, std::size_t pos) : FRows(rows), FPos(pos) { Skip(); }
        void Skip();
        const TRows* FRows;
        std::size_t FPos;
    };
    // Rows in arrival order.
    TIterator begin() const { return TIterator(this, 0); }
    TIterator end() const { return TIterator(this, FOrder.size()); }

private:
    friend class TCGStorage;
    using TRec = rows_detail::TRowRec;

    // Drops every row and takes a new layout (the table was described again).
    void Reset(std::shared_ptr<const TRowLayout> layout);
    void Clear();
    TRec* FindRec(std::int64_t replId) const;
    // Adds a row at the end of the arrival order, every field converted from `data`.
    void Insert(std::int64_t replId, const std::uint8_t* data, std::size_t size);
    // Refills a row in place, reusing its storage. With `compare`, a field whose bytes equal
    // what the row last received keeps its converted value.
    void Refill(TRec& rec, const std::uint8_t* data, std::size_t size, bool compare);
    bool Remove(std::int64_t replId);
    // Removes the rows for which pred(TRowView) is true, keeping the others' order.
    template <class Pred>
    std::size_t RemoveIf(Pred pred);

    void Unlink(TRec* rec);
    // Frees the texts the row holds, not the row itself.
    void DropTexts(TRec* rec) const;
    void Compact();

    std::shared_ptr<const TRowLayout> FLayout;
    // Abseil's open-addressing map is what the store's figures were measured with; a target
    // without Abseil (the mingw cross build, which only runs the tests) gets the standard map.
#if defined(VORLEN_HAVE_ABSL)
    absl::flat_hash_map<std::int64_t, TRec*> FMap;
#else
    std::unordered_map<std::int64_t, TRec*> FMap;
#endif
    std::vector<TRec*> FOrder; // arrival order; null where a row was removed
    std::size_t FHoles = 0;
    TBlockPool FPool; // the rows' records
};

template <class Pred>
std::size_t TRows::RemoveIf(Pred pred) {
    std::size_t removed = 0;
    for (TRec* rec : FOrder) {
        if (rec != nullptr && pred(TRowView(rec, FLayout.get()))) {
            Unlink(rec);
            ++removed;
        }
    }
    return removed;
}

} // namespace vorlen
