#include "store/Rows.h"

#include "store/Functions.h"
#include "store/RowSlot.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>
#include <utility>

namespace vorlen {

namespace rows_detail {

// A row's record: this header, one slot per field, one tag byte per field (padded to 8), then
// the bytes the row last received.
struct TRowRec {
    std::int64_t ReplId;
    std::uint32_t Pos;    // index in the table's arrival order
    std::uint32_t RawLen; // how many leading bytes of the last message are kept
};
static_assert(sizeof(TRowRec) == 16 && alignof(TSlot) <= alignof(TRowRec));

} // namespace rows_detail

using rows_detail::DropOwned;
using rows_detail::Encode;
using rows_detail::EncodeDirect;
using rows_detail::TRowRec;
using rows_detail::TSlot;

namespace {

// Bytes a row keeps of a message at most; a field lying beyond is converted on every refill.
constexpr std::size_t kMaxKeptBytes = 64 * 1024;
// Holes in the arrival order worth a compaction, and how many more than live rows.
constexpr std::size_t kMinHolesToCompact = 32;

std::size_t TagBytes(std::size_t fields) {
    return (fields + 7) & ~std::size_t{7};
}
std::size_t RecordSize(std::size_t fields, std::size_t kept) {
    return sizeof(TRowRec) + fields * sizeof(TSlot) + TagBytes(fields) + kept;
}

TSlot* SlotsOf(TRowRec* rec) {
    return reinterpret_cast<TSlot*>(rec + 1);
}
const TSlot* SlotsOf(const TRowRec* rec) {
    return reinterpret_cast<const TSlot*>(rec + 1);
}
std::uint8_t* TagsOf(TRowRec* rec, std::size_t fields) {
    return reinterpret_cast<std::uint8_t*>(SlotsOf(rec) + fields);
}
const std::uint8_t* TagsOf(const TRowRec* rec, std::size_t fields) {
    return reinterpret_cast<const std::uint8_t*>(SlotsOf(rec) + fields);
}
char* RawOf(TRowRec* rec, std::size_t fields) {
    return reinterpret_cast<char*>(TagsOf(rec, fields) + TagBytes(fields));
}
const char* RawOf(const TRowRec* rec, std::size_t fields) {
    return reinterpret_cast<const char*>(TagsOf(rec, fields) + TagBytes(fields));
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

// Sets bit w of `bits` when the 8-byte word w of a and b differs, over their first n bytes
// (a last partial word counts as a word).
void MarkChangedWords(const char* a, const char* b, std::size_t n, std::uint64_t* bits) {
    const std::size_t words = n / 8;
    std::memset(bits, 0, (words / 64 + 1) * sizeof *bits);
    for (std::size_t w = 0; w < words; ++w) {
        std::uint64_t x, y;
        std::memcpy(&x, a + w * 8, 8);
        std::memcpy(&y, b + w * 8, 8);
        bits[w / 64] |= static_cast<std::uint64_t>(x != y) << (w % 64);
    }
    for (std::size_t i = words * 8; i < n; ++i) {
        if (a[i] != b[i]) {
            bits[words / 64] |= std::uint64_t{1} << (words % 64);
            break;
        }
    }
}

// Whether the bytes [offset, offset + width) of a and b differ, given the words MarkChangedWords
// found different. A word may be shared with a neighbour whose bytes changed; the field's own
// bytes then decide.
bool FieldChanged(const std::uint64_t* bits, const char* a, const char* b, std::size_t offset,
                  std::size_t width) {
    const std::size_t first = offset / 8, last = (offset + width - 1) / 8;
    bool hit = false;
    for (std::size_t w = first; w <= last && !hit; ++w)
        hit = ((bits[w / 64] >> (w % 64)) & 1) != 0;
    if (!hit || (offset % 8 == 0 && width % 8 == 0))
        return hit;
    for (std::size_t i = offset; i < offset + width; ++i)
        if (a[i] != b[i])
            return true;
    return false;
}

void Decode(const TRowRec* rec, std::size_t fields, std::size_t pos, TValue& out) {
    rows_detail::Decode(SlotsOf(rec)[pos], TagsOf(rec, fields)[pos], RawOf(rec, fields), out);
}

} // namespace

// --- TRowLayout ---------------------------------------------------------------------------------

TRowLayout::TRowLayout(const cg_message_desc_t& desc) : FSource(&desc) {
    std::size_t n = 0;
    for (const cg_field_desc_t* f = desc.fields; f != nullptr && n < desc.num_fields;
         f = f->next, ++n) {
        TFieldInfo info{};
        info.Desc.id = f->id;
        info.Desc.name = Intern(f->name);
        info.Desc.fild_type = Intern(f->fild_type);
        info.Desc.size = f->size;
        info.Desc.offset = f->offset;
        const std::size_t width = std::max(f->size, IntrinsicWidth(info.Desc.fild_type));
        // A 'z' value runs as far as its own length word says, past anything the scheme gives.
        info.Compare = info.Desc.fild_type[0] != 'z' && width != 0 && f->offset <= kMaxKeptBytes &&
                       width <= kMaxKeptBytes - f->offset;
        info.Width = info.Compare ? static_cast<std::uint32_t>(width) : 0;
        info.Direct = rows_detail::DirectOf(info.Desc.fild_type);
        if (info.Compare)
            FRawSize = std::max(FRawSize, f->offset + width);
        FIndex.emplace_back(info.Desc.name, static_cast<int>(FFields.size()));
        FFields.push_back(info);
    }
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
}

int TRowLayout::IndexOf(std::string_view name) const {
    const auto it = std::lower_bound(FIndex.begin(), FIndex.end(), name,
                                     [](const auto& e, std::string_view n) { return e.first < n; });
    return it != FIndex.end() && it->first == name ? it->second : -1;
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
    out.FType = FLayout->Type(static_cast<std::size_t>(pos));
    Decode(FRec, FLayout->Count(), static_cast<std::size_t>(pos), out.Data);
}

TField TRowView::At(int pos) const {
    TField f;
    Get(pos, f);
    return f;
}

TValue TRowView::Value(int pos) const {
    TValue v;
    Decode(FRec, FLayout->Count(), static_cast<std::size_t>(pos), v);
    return v;
}

// --- TRows --------------------------------------------------------------------------------------

TRows::TRows(std::shared_ptr<const TRowLayout> layout) {
    Reset(std::move(layout));
}

TRows::~TRows() {
    Clear();
}

TRowView TRows::Find(std::int64_t replId) const {
    return TRowView(FindRec(replId), FLayout.get());
}

std::vector<std::int64_t> TRows::Keys() const {
    std::vector<std::int64_t> keys;
    keys.reserve(FMap.size());
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
    if (FLayout)
        FPool.Reset(RecordSize(FLayout->Count(), FLayout->FRawSize));
}

void TRows::Clear() {
    for (TRec* rec : FOrder)
        if (rec != nullptr)
            DropTexts(rec);
    FOrder.clear();
    FMap.clear();
    FHoles = 0;
    FPool.Release();
}

TRows::TRec* TRows::FindRec(std::int64_t replId) const {
    const auto it = FMap.find(replId);
    return it == FMap.end() ? nullptr : it->second;
}

void TRows::Insert(std::int64_t replId, const std::uint8_t* data, std::size_t size) {
    if (FHoles >= kMinHolesToCompact && FHoles > FMap.size())
        Compact();
    const std::size_t fields = FLayout->Count();
    auto* rec = new (FPool.Take()) TRec{replId, static_cast<std::uint32_t>(FOrder.size()), 0};
    TSlot* slots = SlotsOf(rec);
    for (std::size_t i = 0; i < fields; ++i)
        new (slots + i) TSlot{};
    std::memset(TagsOf(rec, fields), 0, TagBytes(fields));
    FOrder.push_back(rec);
    FMap.emplace(replId, rec);
    Refill(*rec, data, size, false);
}

void TRows::Refill(TRec& rec, const std::uint8_t* data, std::size_t size, bool compare) {
    const TRowLayout& layout = *FLayout;
    const std::size_t fields = layout.FFields.size();
    const std::size_t keep = std::min(size, layout.FRawSize);
    TSlot* slots = SlotsOf(&rec);
    std::uint8_t* tags = TagsOf(&rec, fields);
    char* kept = RawOf(&rec, fields);
    // A row of a large table is rarely in cache: ask for all its lines at once, so that their
    // misses overlap instead of following one another as the passes below reach them.
    const char* line = reinterpret_cast<const char*>(&rec);
    for (const char* end = kept + keep; line < end; line += 64)
        __builtin_prefetch(line);
    const char* incoming = reinterpret_cast<const char*>(data);
    // One pass over the bytes both messages hold marks the 8-byte words that differ; a field
    // none of whose words differ is unchanged, without a comparison call per field.
    const std::size_t common = compare ? std::min<std::size_t>(rec.RawLen, keep) : 0;
    std::uint64_t changed[kMaxKeptBytes / 8 / 64 + 1];
    MarkChangedWords(kept, incoming, common, changed);
    for (std::size_t i = 0; i < fields; ++i) {
        const TRowLayout::TFieldInfo& f = layout.FFields[i];
        if (f.Compare && f.Desc.offset + f.Width <= common &&
            !FieldChanged(changed, kept, incoming, f.Desc.offset, f.Width))
            continue;
        // Text references are decided against the incoming bytes, which become the kept bytes
        // below; fields found unchanged keep references into bytes that stay the same.
        if (!EncodeDirect(slots[i], tags[i], f.Direct, f.Desc, f.Width, data, size, keep))
            Encode(slots[i], tags[i], FieldToVariant(f.Desc, data, size), f.Desc, f.Width, incoming,
                   keep);
    }
    if (keep != 0)
        std::memcpy(kept, data, keep);
    rec.RawLen = static_cast<std::uint32_t>(keep);
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
    FMap.erase(rec->ReplId);
    DropTexts(rec);
    FPool.Give(rec);
}

void TRows::DropTexts(TRec* rec) const {
    const std::size_t fields = FLayout->Count();
    TSlot* slots = SlotsOf(rec);
    const std::uint8_t* tags = TagsOf(rec, fields);
    for (std::size_t i = 0; i < fields; ++i)
        DropOwned(slots[i], tags[i]);
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
    FOrder.resize(to);
    FHoles = 0;
}

} // namespace vorlen
