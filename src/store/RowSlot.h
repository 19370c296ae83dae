#pragma once

// How one converted value sits in a row: an 8-byte slot and a tag byte that tells what the slot
// holds. Shared by the row code only.

#include "gateway/GatewayCInterface.h"
#include "store/Value.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <variant>

namespace vorlen::rows_detail {

// One converted value: the number itself, or where its text or bytes lie. What it holds is told
// by the field's tag byte, kept apart so that a slot takes 8 bytes.
union TSlot {
    std::int64_t I;
    std::uint64_t U;
    double D;
    struct {
        std::uint32_t Off; // the text equals the kept bytes from here
        std::uint32_t Len;
    } Ref;
    char* Own; // text of its own: capacity and length words, then the bytes
};
static_assert(sizeof(TSlot) == 8);

// A tag: the TValue alternative's index in the low bits, and where text lies.
constexpr std::uint8_t kKindMask = 0x0F;
constexpr std::uint8_t kRaw = 0x10;   // a reference into the kept bytes
constexpr std::uint8_t kOwned = 0x20; // a buffer of the slot's own
static_assert(std::variant_size_v<TValue> <= kKindMask + 1);

// Frees the text buffer of the slot's own, if it has one.
inline void DropOwned(TSlot& s, std::uint8_t tag) {
    if ((tag & kOwned) != 0)
        ::operator delete(s.Own);
}

// Stores `v` in the slot. Text equal to the bytes at the field's offset in `kept` (of which
// keptLen bytes are there) becomes a reference into them.
void Encode(TSlot& s, std::uint8_t& tag, const TValue& v, const cg_field_desc_t& f,
            std::uint32_t width, const char* kept, std::size_t keptLen);

// The tag kind of values of type T.
template <class T, std::size_t K = 0>
constexpr std::uint8_t KindOf() {
    if constexpr (std::is_same_v<std::variant_alternative_t<K, TValue>, T>)
        return static_cast<std::uint8_t>(K);
    else
        return KindOf<T, K + 1>();
}

// The fields a refill converts straight into their slot, for the common types: numbers, and
// text that is plain ASCII (which then reads as its own bytes). Anything else, and any case
// the shortcut does not cover, goes through FieldToVariant, which decides the value.
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

// For a field of type `type`: how EncodeDirect may convert it, kNoDirect when only
// FieldToVariant can.
std::uint8_t DirectOf(const char* type);

// A number of type T read from p, when `available` bytes hold it.
template <class T>
inline bool SetNumber(TSlot& s, std::uint8_t& tag, const std::uint8_t* p, std::size_t available) {
    if (available < sizeof(T))
        return false;
    T v;
    std::memcpy(&v, p, sizeof v);
    DropOwned(s, tag);
    if constexpr (std::is_floating_point_v<T>)
        s.D = v;
    else if constexpr (std::is_signed_v<T>)
        s.I = v;
    else
        s.U = v;
    tag = KindOf<T>();
    return true;
}

// Converts one field as FieldToVariant and Encode would, without building the value; false
// when it leaves the field to them. `keep` is how many bytes of `data` the row keeps. Inline:
// a refill calls it for every field.
inline bool EncodeDirect(TSlot& s, std::uint8_t& tag, std::uint8_t direct, const cg_field_desc_t& f,
                         std::uint32_t width, const std::uint8_t* data, std::size_t size,
                         std::size_t keep) {
    if (direct == kNoDirect || f.offset > size || f.size > size - f.offset)
        return false;
    const std::uint8_t* p = data + f.offset;
    const std::size_t available = size - f.offset;
    switch (direct) {
    case kDirectI1:
        return SetNumber<std::int8_t>(s, tag, p, available);
    case kDirectI2:
        return SetNumber<std::int16_t>(s, tag, p, available);
    case kDirectI4:
        return SetNumber<std::int32_t>(s, tag, p, available);
    case kDirectI8:
        return SetNumber<std::int64_t>(s, tag, p, available);
    case kDirectU1:
        return SetNumber<std::uint8_t>(s, tag, p, available);
    case kDirectU2:
        return SetNumber<std::uint16_t>(s, tag, p, available);
    case kDirectU4:
        return SetNumber<std::uint32_t>(s, tag, p, available);
    case kDirectU8:
        return SetNumber<std::uint64_t>(s, tag, p, available);
    case kDirectF8:
        return SetNumber<double>(s, tag, p, available);
    default:
        break;
    }
    // Text up to its first zero byte. Only a non-empty ASCII text that the kept bytes hold is
    // taken here: it is then a reference into them, as SetText would make it.
    std::size_t len = 0;
    while (len < f.size && p[len] != 0) {
        if (p[len] >= 0x80)
            return false;
        ++len;
    }
    if (len == 0 || len > width || f.offset > keep || len > keep - f.offset)
        return false;
    DropOwned(s, tag);
    s.Ref = {static_cast<std::uint32_t>(f.offset), static_cast<std::uint32_t>(len)};
    tag = kRaw | KindOf<std::string>();
    return true;
}

// The value a slot holds, into `out` (reusing its string or byte storage); `kept` are the
// row's kept bytes, which references point into.
void Decode(const TSlot& s, std::uint8_t tag, const char* kept, TValue& out);

} // namespace vorlen::rows_detail
