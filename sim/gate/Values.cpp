// Field values as text (cg_getstr, cg_msg_dump) and result-code texts.

#include "Decimal.h"
#include "Env.h"
#include "Row.h"
#include "Scheme.h"

#include <cstdio>
#include <cstring>

namespace vsim::gate {

bool FieldText(const char* type, const void* data, std::string& out) {
    FieldKind kind{};
    std::uint32_t size = 0;
    std::uint8_t scale = 0;
    if (type == nullptr || data == nullptr || !ParseFieldType(type, kind, size, scale)) {
        return false;
    }
    FieldDef f;
    f.kind = kind;
    f.size = size;
    const char* p = static_cast<const char*>(data);
    char buf[160];
    switch (kind) {
    case FieldKind::Int:
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(GetInt(p, f)));
        out = buf;
        return true;
    case FieldKind::UInt:
        std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(GetInt(p, f)));
        out = buf;
        return true;
    case FieldKind::Text:
        out = GetText(p, f);
        return true;
    case FieldKind::Char:
        out = std::string(1, *p);
        return true;
    case FieldKind::Float: {
        double v = 0;
        std::memcpy(&v, p, 8);
        std::snprintf(buf, sizeof buf, "%.15g", v);
        out = buf;
        return true;
    }
    case FieldKind::Decimal: {
        std::int64_t m = 0;
        std::int8_t s = 0;
        GetDecimal(p, m, s);
        const bool neg = m < 0;
        const unsigned long long mag =
            neg ? 0ULL - static_cast<unsigned long long>(m) : static_cast<unsigned long long>(m);
        unsigned long long div = 1;
        for (int i = 0; i < s; ++i) {
            div *= 10;
        }
        if (s > 0) {
            std::snprintf(buf, sizeof buf, "%s%llu.%0*llu", neg ? "-" : "", mag / div,
                          static_cast<int>(s), mag % div);
        } else {
            std::snprintf(buf, sizeof buf, "%s%llu", neg ? "-" : "", mag);
        }
        out = buf;
        return true;
    }
    case FieldKind::Time: {
        const Time t = GetTime(p);
        std::snprintf(buf, sizeof buf, "%04u/%02u/%02u %02u:%02u:%02u.%03u", t.year, t.month, t.day,
                      t.hour, t.minute, t.second, t.msec);
        out = buf;
        return true;
    }
    }
    return false;
}

} // namespace vsim::gate
