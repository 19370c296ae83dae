#include "store/RowSlot.h"

#include "store/Functions.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

namespace vorlen::rows_detail {

namespace {

// An owned buffer: capacity, length, then the bytes.
constexpr std::size_t kOwnHeader = 2 * sizeof(std::uint32_t);

std::uint32_t OwnWord(const char* own, std::size_t i) {
    std::uint32_t w;
    std::memcpy(&w, own + i * sizeof w, sizeof w);
    return w;
}

// Text or bytes of a value: a reference into the kept bytes when they hold exactly this text
// inside the field's own bytes (ASCII text, byte arrays), else a buffer of the slot's own that
// is reused while it is large enough. Returns where the text lies.
std::uint8_t SetText(TSlot& s, std::uint8_t tag, const void* p, std::size_t len,
                     const cg_field_desc_t& f, std::uint32_t width, const char* kept,
                     std::size_t keptLen) {
    if (len != 0 && len <= width && f.offset <= keptLen && len <= keptLen - f.offset &&
        std::memcmp(kept + f.offset, p, len) == 0) {
        DropOwned(s, tag);
        s.Ref = {static_cast<std::uint32_t>(f.offset), static_cast<std::uint32_t>(len)};
        return kRaw;
    }
    if (len == 0 && (tag & kOwned) == 0) {
        // An empty value may come with no storage at all.
        s.U = 0;
        return 0;
    }
    // A buffer of the slot's own is kept for the next text, even across an empty one.
    const auto n = static_cast<std::uint32_t>(len);
    if ((tag & kOwned) == 0 || OwnWord(s.Own, 0) < n) {
        DropOwned(s, tag);
        const std::uint32_t cap = std::max<std::uint32_t>(n, 16);
        s.Own = static_cast<char*>(::operator new(kOwnHeader + cap));
        std::memcpy(s.Own, &cap, sizeof cap);
    }
    std::memcpy(s.Own + sizeof n, &n, sizeof n);
    if (n != 0)
        std::memcpy(s.Own + kOwnHeader, p, n);
    return kOwned;
}

} // namespace

void Encode(TSlot& s, std::uint8_t& tag, const TValue& v, const cg_field_desc_t& f,
            std::uint32_t width, const char* kept, std::size_t keptLen) {
    std::uint8_t where = 0;
    std::visit(
        [&](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, std::string> || std::is_same_v<X, TBytes>) {
                where = SetText(s, tag, x.data(), x.size(), f, width, kept, keptLen);
            } else {
                DropOwned(s, tag);
                if constexpr (std::is_same_v<X, std::monostate>)
                    s.U = 0;
                else if constexpr (std::is_same_v<X, bool>)
                    s.U = x ? 1 : 0;
                else if constexpr (std::is_integral_v<X> && std::is_signed_v<X>)
                    s.I = x;
                else if constexpr (std::is_integral_v<X>)
                    s.U = x;
                else if constexpr (std::is_same_v<X, double>)
                    s.D = x;
                else if constexpr (std::is_same_v<X, TDateTime>)
                    s.D = x.Days;
                else
                    static_assert(!sizeof(X), "a value kind the row cannot hold");
            }
        },
        v);
    tag = static_cast<std::uint8_t>(where | v.index());
}

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

namespace {

// Rebuilds the value of kind K into `out`, reusing out's string or byte storage.
template <std::size_t K>
void DecodeAs(const TSlot& s, const char* text, std::size_t len, TValue& out) {
    using X = std::variant_alternative_t<K, TValue>;
    if constexpr (std::is_same_v<X, std::string>) {
        if (auto* str = std::get_if<std::string>(&out))
            str->assign(text, len);
        else
            out.emplace<K>(text, len);
    } else if constexpr (std::is_same_v<X, TBytes>) {
        const auto* b = reinterpret_cast<const std::uint8_t*>(text);
        if (auto* bytes = std::get_if<TBytes>(&out))
            bytes->assign(b, b + len);
        else
            out.emplace<K>(b, b + len);
    } else if constexpr (std::is_same_v<X, std::monostate>) {
        out.emplace<K>();
    } else if constexpr (std::is_same_v<X, bool>) {
        out.emplace<K>(s.U != 0);
    } else if constexpr (std::is_integral_v<X> && std::is_signed_v<X>) {
        out.emplace<K>(static_cast<X>(s.I));
    } else if constexpr (std::is_integral_v<X>) {
        out.emplace<K>(static_cast<X>(s.U));
    } else if constexpr (std::is_same_v<X, double>) {
        out.emplace<K>(s.D);
    } else if constexpr (std::is_same_v<X, TDateTime>) {
        out.emplace<K>(TDateTime{s.D});
    } else {
        static_assert(!sizeof(X), "a value kind the row cannot hold");
    }
}

using TDecodeFn = void (*)(const TSlot&, const char*, std::size_t, TValue&);

template <std::size_t... K>
constexpr std::array<TDecodeFn, kKindMask + 1> DecodeTable(std::index_sequence<K...>) {
    return {&DecodeAs<K>...};
}

constexpr auto kDecode = DecodeTable(std::make_index_sequence<std::variant_size_v<TValue>>{});

} // namespace

void Decode(const TSlot& s, std::uint8_t tag, const char* kept, TValue& out) {
    const char* text = "";
    std::size_t len = 0;
    if ((tag & kRaw) != 0) {
        text = kept + s.Ref.Off;
        len = s.Ref.Len;
    } else if ((tag & kOwned) != 0) {
        text = s.Own + kOwnHeader;
        len = OwnWord(s.Own, 1);
    }
    kDecode[tag & kKindMask](s, text, len, out);
}

} // namespace vorlen::rows_detail
