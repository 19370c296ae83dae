#pragma once

// How the books read the few fields they need from a message's bytes. Positions and types are
// resolved once per table description; integers are then read straight from their bytes,
// decimals through the gateway's cg_bcd_get and the store's own scaling (so a price meets the
// same double the grids show), anything else through FieldToVariant.

#include "gateway/GatewayCInterface.h"
#include "store/Value.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace vorlen::book_detail {

enum class TRead : std::uint8_t { None, Signed, Unsigned, Decimal, Other };

struct TFieldRef {
    cg_field_desc_t Desc{};
    std::string Type; // the description's type string outlives the call that gave it only here
    TRead How = TRead::None;

    void Resolve(const cg_field_desc_t& f);
    bool Found() const { return How != TRead::None; }

    // The field as FieldToVariant gives it; empty when missing.
    TValue Read(const void* data, std::size_t size) const;

    // The field as an integer; 0 when it is missing or not one.
    std::int64_t Int(const void* data, std::size_t size) const {
        if (How != TRead::Signed && How != TRead::Unsigned)
            return How == TRead::None ? 0 : IntOf(Read(data, size));
        if (Desc.offset > size || Desc.size > size - Desc.offset)
            return 0;
        const auto* p = static_cast<const std::uint8_t*>(data) + Desc.offset;
        // One read of the field's own width: a copy of a width known only at run time goes byte
        // by byte, and reading the result back waits for every one of those stores.
        const bool sign = How == TRead::Signed;
        switch (Desc.size) {
        case 1:
            return sign ? Load<std::int8_t>(p) : Load<std::uint8_t>(p);
        case 2:
            return sign ? Load<std::int16_t>(p) : Load<std::uint16_t>(p);
        case 4:
            return sign ? Load<std::int32_t>(p) : Load<std::uint32_t>(p);
        default:
            return Load<std::int64_t>(p);
        }
    }

    // The field as a number; 0 when it is missing or not one.
    double Number(const void* data, std::size_t size) const;

    template <class T>
    static std::int64_t Load(const std::uint8_t* p) {
        T v;
        std::memcpy(&v, p, sizeof v);
        return static_cast<std::int64_t>(v);
    }

    static std::int64_t IntOf(const TValue& v);
    static double NumberOf(const TValue& v);
};

} // namespace vorlen::book_detail
