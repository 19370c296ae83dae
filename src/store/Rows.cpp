#include "store/Rows.h"

#include "store/FieldConversion.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <type_traits>
#include <unordered_set>
#include <utility>

namespace vorlen {

using rows_detail::TRowRec;

namespace {

// Message bytes a block holds at most; a longer message goes to a buffer of the row's own.
constexpr std::size_t kMaxInline = std::size_t{64} * 1024;
// Holes in the arrival order worth a compaction, and how many more than live rows.
constexpr std::size_t kMinHolesToCompact = 32;

// How Decode converts a field of a common type without going through FieldToVariant.
enum TDirect : std::uint8_t {
    kNoDirect,
    kDirectI1,
    kDirectI2,
    kDirectI4,
    kDirectI8,
    kDirectU1,
    kDirectU2,
    kDirectU4,
    kDirectU8,
    kDirectF8,
    kDirectText,
};

std::uint8_t DirectOf(const char* type) {
    const bool isSigned = type[0] == 'i';
    if (isSigned || type[0] == 'u') {
        switch (ParseTypeSize(type + 1)) {
        case 1:
            return isSigned ? kDirectI1 : kDirectU1;
        case 2:
            return isSigned ? kDirectI2 : kDirectU2;
        case 4:
            return isSigned ? kDirectI4 : kDirectU4;
        case 8:
            return isSigned ? kDirectI8 : kDirectU8;
        default:
            return kNoDirect;
        }
    }
    if (type[0] == 'f')
        return kDirectF8;
    if (type[0] == 'c')
        return kDirectText;
    return kNoDirect;
}

// Bytes a conversion reads beyond the field's declared size, from its type letter.
std::size_t IntrinsicWidth(const char* type) {
    switch (type[0]) {
    case 'a':
        return 1;
    case 'f':
        return 8;
    case 't':
        return sizeof(cg_time_t);
    case 'i':
    case 'u': {
        const auto n = ParseTypeSize(type + 1);
        return n == 1 || n == 2 || n == 4 || n == 8 ? static_cast<std::size_t>(n) : 0;
    }
    default:
        return 0;
    }
}

// The message size a field of `span` bytes at `offset` needs; SIZE_MAX when none would do.
std::size_t EndOf(std::size_t offset, std::size_t span) {
    return offset < SIZE_MAX - span ? offset + span : SIZE_MAX;
}

// Type strings and field names live as long as the process: a TField handed to an expert keeps
// a valid FType even after the gateway has freed the scheme it came from. There are a few dozen
// distinct ones in a run. Called only outside the store's lock.
const char* Intern(const char* text) {
    static std::mutex lock;
    static std::unordered_set<std::string> pool; // node-based: element addresses are stable
    std::lock_guard guard(lock);
    return pool.emplace(text != nullptr ? text : "").first->c_str();
}

std::uint8_t* BlockOf(TRowRec* rec) {
    return reinterpret_cast<std::uint8_t*>(rec + 1);
}

const std::uint8_t* BytesOf(const TRowRec* rec, std::size_t inlineBytes) {
    const auto* block = reinterpret_cast<const std::uint8_t*>(rec + 1);
    if (rec->Size <= inlineBytes)
        return block;
    const std::uint8_t* own;
    std::memcpy(&own, block, sizeof own);
    return own;
}

void DropOwn(TRowRec* rec, std::size_t inlineBytes) {
    if (rec->Size > inlineBytes)
        ::operator delete(const_cast<std::uint8_t*>(BytesOf(rec, inlineBytes)));
}

template <class T>
bool Number(const std::uint8_t* p, std::size_t available, TValue& out) {
    if (available < sizeof(T))
        return false;
    T v;
    std::memcpy(&v, p, sizeof v);
    out.emplace<T>(v);
    return true;
}

} // namespace

// --- TRowLayout ---------------------------------------------------------------------------------

TRowLayout::TRowLayout(const cg_message_desc_t& desc) : FSource(&desc) {
    std::size_t n = 0, extent = 0;
    for (const cg_field_desc_t* f = desc.fields; f != nullptr && n < desc.num_fields;
         f = f->next, ++n) {
        TFieldInfo info{};
        info.Desc.id = f->id;
        info.Desc.name = Intern(f->name);
        info.Desc.fild_type = Intern(f->fild_type);
        info.Desc.size = f->size;
        info.Desc.offset = f->offset;
        info.Direct = DirectOf(info.Desc.fild_type);
        const std::size_t width = std::max(f->size, IntrinsicWidth(info.Desc.fild_type));
        if (f->offset <= kMaxInline && width <= kMaxInline - f->offset)
            extent = std::max(extent, f->offset + width);
        FIndex.emplace_back(info.Desc.name, static_cast<int>(FFields.size()));
        FFields.push_back(info);
    }
    // The declared size covers fields that run to the end of the message; a size the fields
    // contradict is not trusted beyond them.
    if (desc.size > extent && desc.size <= kMaxInline)
        extent = desc.size;
    FInline = (std::max(extent, sizeof(void*)) + 7) & ~std::size_t{7};
    // Of equal names the last position stays: stable sorting keeps them in field order.
    std::stable_sort(FIndex.begin(), FIndex.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::size_t kept = 0;
    for (std::size_t i = 0; i < FIndex.size(); ++i) {
        if (kept != 0 && FIndex[kept - 1].first == FIndex[i].first)
            --kept;
        FIndex[kept++] = FIndex[i];
    }
    FIndex.resize(kept);
    FIsinId = IndexOf("isin_id");
    if (FFields.size() >= 3) {
        const TFieldInfo& mark = FFields[2];
        if (mark.Direct >= kDirectI1 && mark.Direct <= kDirectU8) {
            FMarkAt = mark.Desc.offset;
            FMarkWidth = IntrinsicWidth(mark.Desc.fild_type);
            FMarkEnd = EndOf(FMarkAt, std::max(mark.Desc.size, FMarkWidth));
        }
    }
    // Only a four-byte signed field reads as a 32-bit integer without conversion.
    if (FIsinId >= 0 && FFields[static_cast<std::size_t>(FIsinId)].Direct == kDirectI4) {
        const cg_field_desc_t& d = FFields[static_cast<std::size_t>(FIsinId)].Desc;
        FIsinAt = d.offset;
        FIsinEnd = EndOf(FIsinAt, std::max<std::size_t>(d.size, sizeof(std::int32_t)));
    }
}

int TRowLayout::IndexOf(std::string_view name) const {
    const auto it = std::lower_bound(FIndex.begin(), FIndex.end(), name,
                                     [](const auto& e, std::string_view n) { return e.first < n; });
    return it != FIndex.end() && it->first == name ? it->second : -1;
}

void TRowLayout::Decode(std::size_t pos, const std::uint8_t* data, std::size_t size,
                        TValue& out) const {
    const TFieldInfo& f = FFields[pos];
    const cg_field_desc_t& d = f.Desc;
    if (f.Direct != kNoDirect && data != nullptr && d.offset <= size && d.size <= size - d.offset) {
        const std::uint8_t* p = data + d.offset;
        const std::size_t available = size - d.offset;
        switch (f.Direct) {
        case kDirectI1:
            if (Number<std::int8_t>(p, available, out))
                return;
            break;
        case kDirectI2:
            if (Number<std::int16_t>(p, available, out))
                return;
            break;
        case kDirectI4:
            if (Number<std::int32_t>(p, available, out))
                return;
            break;
        case kDirectI8:
            if (Number<std::int64_t>(p, available, out))
                return;
            break;
        case kDirectU1:
            if (Number<std::uint8_t>(p, available, out))
                return;
            break;
        case kDirectU2:
            if (Number<std::uint16_t>(p, available, out))
                return;
            break;
        case kDirectU4:
            if (Number<std::uint32_t>(p, available, out))
                return;
            break;
        case kDirectU8:
            if (Number<std::uint64_t>(p, available, out))
                return;
            break;
        case kDirectF8:
            if (Number<double>(p, available, out))
                return;
            break;
        default: {
            // Text up to its first zero byte; plain ASCII reads as its own bytes, anything
            // else goes through the code page.
            std::size_t len = 0;
            bool ascii = true;
            for (; len < d.size && p[len] != 0; ++len)
                ascii = ascii && p[len] < 0x80;
            if (!ascii)
                break;
            const char* text = reinterpret_cast<const char*>(p);
            if (auto* str = std::get_if<std::string>(&out))
                str->assign(text, len);
            else
                out.emplace<std::string>(text, len);
            return;
        }
        }
    }
    out = FieldToVariant(d, data, size);
}

std::int32_t TRowLayout::AsInteger(std::size_t pos, const std::uint8_t* data,
                                   std::size_t size) const {
    const TFieldInfo& f = FFields[pos];
    const cg_field_desc_t& d = f.Desc;
    if (f.Direct == kNoDirect)
        return VarAsInteger(FieldToVariant(d, data, size));
    // Only a four-byte signed field converts to a 32-bit integer.
    if (f.Direct != kDirectI4 || data == nullptr || d.offset > size || d.size > size - d.offset ||
        size - d.offset < sizeof(std::int32_t))
        return kNoInteger;
    std::int32_t v;
    std::memcpy(&v, data + d.offset, sizeof v);
    return v;
}

bool TRowLayout::IsZero(std::size_t pos, const std::uint8_t* data, std::size_t size) const {
    const TFieldInfo& f = FFields[pos];
    const cg_field_desc_t& d = f.Desc;
    const std::size_t width = IntrinsicWidth(d.fild_type);
    const bool integer = f.Direct >= kDirectI1 && f.Direct <= kDirectU8;
    if (!integer || data == nullptr || d.offset > size || d.size > size - d.offset ||
        size - d.offset < width)
        return ValuesEqual(FieldToVariant(d, data, size), std::int32_t{0});
    // An integer of any width and sign is zero exactly when all its bytes are.
    for (std::size_t i = 0; i < width; ++i)
        if (data[d.offset + i] != 0)
            return false;
    return true;
}

// --- TRowView -----------------------------------------------------------------------------------

std::int64_t TRowView::ReplId() const {
    return FRec->ReplId;
}

TField TRowView::Field(std::string_view name) const {
    const int pos = FLayout->IndexOf(name);
    return pos < 0 ? TField{} : At(pos);
}

void TRowView::Get(int pos, TField& out) const {
    const auto p = static_cast<std::size_t>(pos);
    out.FType = FLayout->Type(p);
    FLayout->Decode(p, Data(), FRec->Size, out.Data);
}

TField TRowView::At(int pos) const {
    TField f;
    Get(pos, f);
    return f;
}

TValue TRowView::Value(int pos) const {
    TValue v;
    FLayout->Decode(static_cast<std::size_t>(pos), Data(), FRec->Size, v);
    return v;
}

// --- TRows --------------------------------------------------------------------------------------

TRows::TRows(std::shared_ptr<const TRowLayout> layout) {
    Reset(std::move(layout));
}

TRows::~TRows() {
    Clear();
}

TRows::TGarbage::~TGarbage() {
    if (Overflow)
        for (TRowRec* rec : Order)
            if (rec != nullptr)
                DropOwn(rec, InlineBytes);
}

TRowView TRows::Find(std::int64_t replId) const {
    return TRowView(FindRec(replId), FLayout.get());
}

std::vector<std::int64_t> TRows::Keys() const {
    std::vector<std::int64_t> keys;
    keys.reserve(FMap.Size());
    for (const TRec* rec : FOrder)
        if (rec != nullptr)
            keys.push_back(rec->ReplId);
    return keys;
}

TRowView TRows::TIterator::operator*() const {
    return TRowView(FRows->FOrder[FPos], FRows->FLayout.get());
}

TRows::TIterator& TRows::TIterator::operator++() {
    ++FPos;
    Skip();
    return *this;
}

void TRows::TIterator::Skip() {
    const auto& order = FRows->FOrder;
    while (FPos < order.size() && order[FPos] == nullptr)
        ++FPos;
}

void TRows::Reset(std::shared_ptr<const TRowLayout> layout) {
    Clear();
    FLayout = std::move(layout);
    FInline = FLayout ? FLayout->FInline : 0;
    FTrailer = 0;
    if (FLayout)
        FPool.Reset(sizeof(TRowRec) + FInline);
}

void TRows::SetTrailer(std::size_t bytes) {
    if (!FLayout || !Empty())
        return;
    Clear();
    FTrailer = (bytes + 7) & ~std::size_t{7};
    FPool.Reset(sizeof(TRowRec) + FInline + FTrailer);
}

void TRows::Clear() {
    TGarbage garbage = TakeAll();
}

TRows::TGarbage TRows::TakeAll() {
    TGarbage g;
    g.Pool.Reset(FPool.BlockBytes());
    g.Pool.Swap(FPool);
    g.Order.swap(FOrder);
    g.Map.Swap(FMap);
    g.InlineBytes = FLayout ? FLayout->FInline : 0;
    g.Overflow = FOverflow != 0;
    FHoles = 0;
    FOverflow = 0;
    ++FGeneration;
    return g;
}

TRows::TRec* TRows::Insert(std::int64_t replId, const std::uint8_t* data, std::size_t size,
                           const std::uint8_t* trailer) {
    if (FHoles >= kMinHolesToCompact && FHoles > FMap.Size())
        Compact();
    // A fresh row holds no buffer of its own, whatever its block held before.
    auto* rec = new (FPool.Take()) TRec{replId, static_cast<std::uint32_t>(FOrder.size()), 0};
    FOrder.push_back(rec);
    FMap.Insert(replId, rec);
    Refill(*rec, data, size);
    if (FTrailer != 0)
        CopyTrailer(TrailerOf(*rec), trailer);
    return rec;
}

void TRows::RefillOwn(TRec& rec, const std::uint8_t* data, std::size_t size) {
    const std::size_t inlineBytes = FInline;
    std::uint8_t* block = BlockOf(&rec);
    if (size <= inlineBytes) {
        if (rec.Size > inlineBytes) {
            DropOwn(&rec, inlineBytes);
            --FOverflow;
        }
        std::memcpy(block, data, size);
    } else {
        auto* own = static_cast<std::uint8_t*>(::operator new(size));
        std::memcpy(own, data, size);
        if (rec.Size > inlineBytes)
            DropOwn(&rec, inlineBytes);
        else
            ++FOverflow;
        std::memcpy(block, &own, sizeof own);
    }
    rec.Size = static_cast<std::uint32_t>(size);
}

bool TRows::Remove(std::int64_t replId) {
    TRec* rec = FindRec(replId);
    if (rec == nullptr)
        return false;
    Unlink(rec);
    return true;
}

void TRows::Unlink(TRec* rec) {
    FOrder[rec->Pos] = nullptr;
    ++FHoles;
    FMap.Erase(rec->ReplId);
    if (rec->Size > FInline) {
        DropOwn(rec, FInline);
        --FOverflow;
    }
    FPool.Give(rec);
}

// Closes the holes left by removals, keeping the arrival order. Only inserts call it, so a
// reader that removes rows while it walks them (the journal pass) never sees the order move.
void TRows::Compact() {
    std::size_t to = 0;
    for (TRec* rec : FOrder) {
        if (rec == nullptr)
            continue;
        rec->Pos = static_cast<std::uint32_t>(to);
        FOrder[to++] = rec;
    }
    FOrder.shrink(to);
    FHoles = 0;
    ++FGeneration;
}

} // namespace vorlen
