#include "book/BookFields.h"

#include "gateway/Cgate.h"
#include "store/FieldConversion.h"

#include <type_traits>
#include <variant>

namespace vorlen::book_detail {

void TFieldRef::Resolve(const cg_field_desc_t& f) {
    Desc = f;
    Type = f.fild_type != nullptr ? f.fild_type : "";
    const char t = Type.empty() ? '\0' : Type[0];
    const bool width = f.size == 1 || f.size == 2 || f.size == 4 || f.size == 8;
    How = Type.empty()           ? TRead::None
          : t == 'i' && width    ? TRead::Signed
          : t == 'u' && width    ? TRead::Unsigned
          : t == 'd' || t == 's' ? TRead::Decimal
                                 : TRead::Other;
}

TValue TFieldRef::Read(const void* data, std::size_t size) const {
    if (!Found())
        return {};
    cg_field_desc_t d = Desc;
    d.fild_type = Type.c_str();
    return FieldToVariant(d, data, size);
}

double TFieldRef::Number(const void* data, std::size_t size) const {
    if (How == TRead::Decimal) {
        const auto bcdGet = CG().cg_bcd_get;
        if (bcdGet == nullptr || Desc.offset > size || Desc.size > size - Desc.offset)
            return 0;
        std::int64_t mantissa = 0;
        std::int8_t scale = 0;
        if (bcdGet(static_cast<const std::uint8_t*>(data) + Desc.offset, &mantissa, &scale) != 0)
            return 0;
        return ScaledDecimal(mantissa, scale);
    }
    if (How == TRead::Signed || How == TRead::Unsigned)
        return static_cast<double>(Int(data, size));
    return How == TRead::None ? 0 : NumberOf(Read(data, size));
}

double TFieldRef::NumberOf(const TValue& v) {
    return std::visit(
        [](const auto& x) -> double {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_arithmetic_v<X> && !std::is_same_v<X, bool>)
                return static_cast<double>(x);
            else
                return 0;
        },
        v);
}

std::int64_t TFieldRef::IntOf(const TValue& v) {
    return std::visit(
        [](const auto& x) -> std::int64_t {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_integral_v<X> && !std::is_same_v<X, bool>)
                return static_cast<std::int64_t>(x);
            else
                return 0;
        },
        v);
}

} // namespace vorlen::book_detail
