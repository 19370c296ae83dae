#pragma once

// The rows of one replica table.
//
// A row is one fixed-size block: a short header and the bytes of the last message the row
// received, exactly as they came. Values are converted when a reader asks for them, through the
// same conversion (FieldToVariant) a message's fields have always gone through, so what a
// reader sees is what converting the last message gives. A message longer than the block (a
// variable-length field running past what the scheme declares) keeps its bytes in a buffer of
// its own, pointed to from the block. A table whose follower asked for it (TStoreObserver) also
// keeps a few bytes per row for that follower after the message bytes: they live and die with
// the row's block, so they never move apart from it, and a new row's bytes start at zero.
//
// The names, types and positions of the fields are held once per table (TRowLayout), so "look
// a field up by name" costs one search in a table-wide index and no row keeps a map.
//
// Rows come out in the order they arrived. The table keeps them in an arrival-ordered array with
// holes left by removals (closed by an occasional stable compaction on insert), and an
// open-addressing map from replication id to block.
//
// Nothing here locks: every TRows is guarded by the store's lock (TCGStorage::TAccess). A
// TRowView is valid while that lock is held and its row is neither removed nor the table
// cleared or re-described.

#include "gateway/GatewayCInterface.h"
#include "platform/Compiler.h"
#include "store/BlockPool.h"
#include "store/IdMap.h"
#include "store/Pieces.h"
#include "store/StoreRecords.h"
#include "store/Value.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlen {

class TCGStorage;
class TRows;

namespace rows_detail {
// A row's block: this header, then the bytes of the last message the row received, or, when
// that message was longer than the block holds, a pointer to a buffer of the row's own.
struct TRowRec {
    std::int64_t ReplId;
    std::uint32_t Pos;  // index in the table's arrival order
    std::uint32_t Size; // bytes of the last message
};
static_assert(sizeof(TRowRec) == 16);
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

    // Converts field `pos` of the message `data` (`size` bytes) into `out`, as FieldToVariant
    // would, reusing out's string storage. Numbers and ASCII text take a shortcut.
    void Decode(std::size_t pos, const std::uint8_t* data, std::size_t size, TValue& out) const;
    // Whether field `pos` converts to a number equal to zero (ValuesEqual with 0), without
    // building the value for an integer field.
    bool IsZero(std::size_t pos, const std::uint8_t* data, std::size_t size) const;
    // VarAsInteger of field `pos`, without building the value.
    std::int32_t AsInteger(std::size_t pos, const std::uint8_t* data, std::size_t size) const;

    // Whether the message keeps its row: its deletion mark, the third field, is zero. A table
    // with fewer fields only ever stores. The usual integer mark is read straight from its bytes.
    bool Keeps(const std::uint8_t* data, std::size_t size) const {
        if (size >= FMarkEnd)
            return Zero(data + FMarkAt, FMarkWidth);
        return FFields.size() < 3 || IsZero(2, data, size);
    }
    // AsInteger of the "isin_id" field; `none` for a table without one.
    std::int32_t IsinOf(const std::uint8_t* data, std::size_t size, std::int32_t none) const {
        if (size >= FIsinEnd)
            return Load<std::int32_t>(data + FIsinAt);
        if (FIsinId < 0)
            return none;
        return AsInteger(static_cast<std::size_t>(FIsinId), data, size);
    }

private:
    friend class TRows;
    friend class TRowView;
    // Whether the `width` bytes at `p` (1, 2, 4 or 8) are all zero, in one load.
    static bool Zero(const std::uint8_t* p, std::size_t width) {
        switch (width) {
        case 1:
            return *p == 0;
        case 2:
            return Load<std::uint16_t>(p) == 0;
        case 4:
            return Load<std::uint32_t>(p) == 0;
        default:
            return Load<std::uint64_t>(p) == 0;
        }
    }
    template <class T>
    static T Load(const std::uint8_t* p) {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    struct TFieldInfo {
        cg_field_desc_t Desc; // a copy; name and type point to interned text
        std::uint8_t Direct;  // how Decode converts it without FieldToVariant; 0 when it cannot
    };
    std::vector<TFieldInfo> FFields;
    // Sorted by name, one entry per name; a few dozen names, so a binary search is as quick as
    // hashing and cheaper to build.
    std::vector<std::pair<std::string_view, int>> FIndex;
    std::size_t FInline = 0; // message bytes a row's block holds
    const cg_message_desc_t* FSource;
    int FIsinId = -1;
    // Where Keeps and IsinOf read straight from the bytes: the field's offset, the deletion
    // mark's width, and the message size from which the read stays inside the message
    // (SIZE_MAX: always convert instead).
    std::size_t FMarkAt = 0, FMarkWidth = 0, FMarkEnd = SIZE_MAX;
    std::size_t FIsinAt = 0, FIsinEnd = SIZE_MAX;
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

    // The bytes of the last message the row received.
    const std::uint8_t* Data() const {
        const auto* block = reinterpret_cast<const std::uint8_t*>(FRec + 1);
        if (FRec->Size <= FLayout->FInline)
            return block;
        const std::uint8_t* own;
        std::memcpy(&own, block, sizeof own);
        return own;
    }
    std::size_t Size() const { return FRec->Size; }

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

    std::size_t Size() const { return FMap.Size(); }
    bool Empty() const { return FMap.Size() == 0; }
    // The row under `replId`; an empty view when there is none.
    TRowView Find(std::int64_t replId) const;
    bool Contains(std::int64_t replId) const { return FMap.Find(replId) != nullptr; }
    // Position of a field in every row of this table, -1 when the table has no such field.
    int IndexOf(std::string_view name) const { return FLayout ? FLayout->IndexOf(name) : -1; }
    // Null until the table has been described.
    const TRowLayout* Layout() const { return FLayout.get(); }
    // The follower's bytes of a row of this table (TStoreObserver); null when it asked for none.
    const void* Trailer(const TRowView& row) const {
        return FTrailer != 0 && row ? TrailerOf(*const_cast<TRec*>(row.FRec)) : nullptr;
    }
    // The replication ids, in arrival order.
    std::vector<std::int64_t> Keys() const;

    // Arrival positions, for a reader that walks a big table a piece at a time: positions run
    // from 0 to Positions() - 1, a removed row leaves an empty view at its position, and
    // positions stay put while Generation() stays the same (a compaction, a clear or a new
    // description changes it).
    std::size_t Positions() const { return FOrder.size(); }
    TRowView AtPosition(std::size_t pos) const { return TRowView(FOrder[pos], FLayout.get()); }
    std::uint64_t Generation() const { return FGeneration; }

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

    // What a cleared table held, to be freed once the store's lock is let go: handing back the
    // memory of a million rows takes longer than the market-data thread may hold the lock.
    class TGarbage {
    public:
        TGarbage() = default;
        TGarbage(TGarbage&&) noexcept = default;
        TGarbage& operator=(TGarbage&&) noexcept = default;
        ~TGarbage();

    private:
        friend class TRows;
        TBlockPool Pool;
        TPieces<rows_detail::TRowRec*> Order;
        TIdMap<rows_detail::TRowRec> Map;
        std::size_t InlineBytes = 0;
        bool Overflow = false;
    };

private:
    friend class TCGStorage;
    using TRec = rows_detail::TRowRec;

    // Drops every row and takes a new layout (the table was described again).
    void Reset(std::shared_ptr<const TRowLayout> layout);
    void Clear();
    // Empties the table at once and hands its memory to the caller.
    TGarbage TakeAll();
    TRec* FindRec(std::int64_t replId) const { return FMap.Find(replId); }
    void Prefetch(std::int64_t replId) const { FMap.Prefetch(replId); }
    // Whether the rows are few enough to stay in a core's own cache (about a megabyte), where
    // asking for a row ahead gains nothing.
    bool Near() const { return FMap.Size() * FPool.BlockBytes() <= (std::size_t{1} << 20); }
    // The follower's bytes in each row (after the message bytes), 0 for none; set only on an
    // empty table, right after it is described.
    void SetTrailer(std::size_t bytes);
    std::size_t TrailerBytes() const { return FTrailer; }
    std::uint8_t* TrailerOf(TRec& rec) const {
        return reinterpret_cast<std::uint8_t*>(&rec + 1) + FInline;
    }
    // Copies the follower's bytes of a row from `from` to `to`, or zeroes them without `from`:
    // the usual eight in one move, not a call.
    void CopyTrailer(std::uint8_t* to, const std::uint8_t* from) const {
        if (FTrailer == sizeof(std::uint64_t)) {
            std::uint64_t word = 0;
            if (from != nullptr)
                std::memcpy(&word, from, sizeof word);
            std::memcpy(to, &word, sizeof word);
        } else if (from != nullptr) {
            std::memcpy(to, from, FTrailer);
        } else {
            std::memset(to, 0, FTrailer);
        }
    }
    // Whether the follower's bytes of the row are all zero (a new row's are).
    bool TrailerZero(TRec& rec) const {
        const std::uint8_t* p = TrailerOf(rec);
        for (std::size_t at = 0; at < FTrailer; at += sizeof(std::uint64_t)) {
            std::uint64_t word;
            std::memcpy(&word, p + at, sizeof word);
            if (word != 0)
                return false;
        }
        return true;
    }
    // Asks for the lines of `replId`'s row that a message of `size` bytes would be written to,
    // so that the copy a little later does not wait for each of them in turn. The slot should
    // have been asked for already (Prefetch). Only a hint, whatever the table looks like by the
    // time the message is applied; a new row would go to the block the pool hands out next.
    void PrefetchRow(std::int64_t replId, std::size_t size) const {
        const void* rec = FMap.Find(replId);
        if (rec == nullptr)
            rec = FPool.Next();
        if (rec == nullptr)
            return;
        // Nothing but the hints below uses the lookup, and GCC, taking the probe loop to end,
        // would drop the loop and the hints with it.
        platform::KeepValue(rec);
        // A longer row would take more lines from the cache than the hint could save.
        constexpr std::size_t kLine = 64, kMostBytes = 8 * kLine;
        const auto* p = static_cast<const char*>(rec);
        const std::size_t bytes = std::min(sizeof(TRec) + std::min(size, FInline), kMostBytes);
        // A read hint: without the instruction set's write hint the compiler drops a write
        // one, and a line no other core holds arrives ready to be written anyway.
        for (std::size_t at = 0; at < bytes; at += kLine)
            platform::Prefetch(p + at);
        platform::Prefetch(p + bytes - 1);
        // The follower reads its bytes first thing, where the store only writes.
        if (FTrailer != 0)
            platform::Prefetch(p + sizeof(TRec) + FInline + FTrailer - 1);
    }
    TRowView View(const TRec* rec) const { return TRowView(rec, FLayout.get()); }
    // Adds a row at the end of the arrival order holding `data`; its follower's bytes are a copy
    // of `trailer` (TrailerBytes() of them), or zero without one.
    TRec* Insert(std::int64_t replId, const std::uint8_t* data, std::size_t size,
                 const std::uint8_t* trailer = nullptr);
    // The row now holds `data` instead of what it last received. While no row of the table
    // holds a buffer of its own, the row's block is only written: reading its old size first
    // would wait for the block to come into the cache, where the writes alone do not.
    void Refill(TRec& rec, const std::uint8_t* data, std::size_t size) {
        if (FOverflow == 0 && size <= FInline) {
            std::memcpy(&rec + 1, data, size);
            rec.Size = static_cast<std::uint32_t>(size);
            return;
        }
        RefillOwn(rec, data, size);
    }
    void RefillOwn(TRec& rec, const std::uint8_t* data, std::size_t size);
    bool Remove(std::int64_t replId);
    // Removes the rows for which pred(TRowView) is true, keeping the others' order.
    template <class Pred>
    std::size_t RemoveIf(Pred pred);

    void Unlink(TRec* rec);
    void Compact();

    std::shared_ptr<const TRowLayout> FLayout;
    TIdMap<TRec> FMap;
    TPieces<TRec*> FOrder; // arrival order; null where a row was removed
    std::size_t FHoles = 0;
    std::size_t FOverflow = 0; // rows whose message did not fit their block
    std::size_t FInline = 0;   // the layout's message bytes a block holds
    std::size_t FTrailer = 0;  // the follower's bytes after them
    std::uint64_t FGeneration = 0;
    TBlockPool FPool; // the rows' blocks
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
