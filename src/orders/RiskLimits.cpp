#include "orders/RiskLimits.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace vorlen::orders {

namespace {

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string w; in >> w;) {
        out.push_back(w);
    }
    return out;
}

// Non-negative whole numbers, or for distance_pct a decimal with up to two places.
bool ReadValue(const std::string& key, const std::string& text, std::int64_t& out) {
    if (key == "distance_pct") {
        const std::optional<std::int64_t> units = ParsePrice(text);
        if (!units || *units < 0 || *units % (kPriceScale / 100) != 0) {
            return false;
        }
        out = *units / (kPriceScale / 100);
        return true;
    }
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc{} && p == end && out >= 0;
}

struct TKey {
    const char* Name;
    std::optional<std::int64_t> TLimitsPatch::*Field;
};

const TKey kKeys[] = {
    {"max_qty", &TLimitsPatch::MaxOrderQty},  {"max_pos", &TLimitsPatch::MaxPosition},
    {"max_active", &TLimitsPatch::MaxActive}, {"per_minute", &TLimitsPatch::MaxPerMinute},
    {"per_day", &TLimitsPatch::MaxPerDay},    {"distance_pct", &TLimitsPatch::MaxDistanceBp},
};

std::string FormatPatch(const TLimitsPatch& p) {
    std::string out;
    for (const TKey& k : kKeys) {
        if (const auto& v = p.*k.Field) {
            out += std::string(" ") + k.Name + "=";
            if (k.Field == &TLimitsPatch::MaxDistanceBp) {
                out += FormatPrice(*v * (kPriceScale / 100));
            } else {
                out += std::to_string(*v);
            }
        }
    }
    return out;
}

} // namespace

std::optional<std::int64_t> ParsePrice(const std::string& text) {
    std::size_t i = 0;
    bool neg = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        neg = text[i] == '-';
        ++i;
    }
    std::int64_t whole = 0;
    std::int64_t frac = 0;
    int fracDigits = 0;
    bool dot = false;
    bool digits = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '.' || c == ',') && !dot) {
            dot = true;
            continue;
        }
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        digits = true;
        if (!dot) {
            if (whole > 1'000'000'000'000LL) {
                return std::nullopt;
            }
            whole = whole * 10 + (c - '0');
        } else if (fracDigits < 5) {
            frac = frac * 10 + (c - '0');
            ++fracDigits;
        } else if (c != '0') {
            return std::nullopt;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    for (; fracDigits < 5; ++fracDigits) {
        frac *= 10;
    }
    const std::int64_t v = whole * kPriceScale + frac;
    return neg ? -v : v;
}

[[gnu::hot]] char* WritePrice(std::int64_t units, char* out) {
    // Every order writes its price: in place, without the temporaries of to_string.
    char* end = out;
    if (units < 0) {
        *end++ = '-';
    }
    const std::uint64_t a = units < 0 ? 0 - static_cast<std::uint64_t>(units) : units;
    end = std::to_chars(end, out + 21, a / kPriceScale).ptr;
    // The fraction's digits down to its last one that is not a zero.
    std::uint64_t frac = a % kPriceScale;
    if (frac != 0) {
        *end++ = '.';
        for (std::uint64_t unit = kPriceScale / 10; frac != 0; unit /= 10) {
            *end++ = static_cast<char>('0' + frac / unit);
            frac %= unit;
        }
    }
    return end;
}

std::string FormatPrice(std::int64_t units) {
    char buf[32];
    return {buf, WritePrice(units, buf)};
}

void TLimitsPatch::ApplyTo(TRiskLimits& l) const {
    l.MaxOrderQty = MaxOrderQty.value_or(l.MaxOrderQty);
    l.MaxPosition = MaxPosition.value_or(l.MaxPosition);
    l.MaxActive = MaxActive.value_or(l.MaxActive);
    l.MaxPerMinute = MaxPerMinute.value_or(l.MaxPerMinute);
    l.MaxPerDay = MaxPerDay.value_or(l.MaxPerDay);
    l.MaxDistanceBp = MaxDistanceBp.value_or(l.MaxDistanceBp);
}

TRiskLimits TLimitsBook::For(const std::string& client, const std::string& isin) const {
    TRiskLimits l;
    FAll.ApplyTo(l);
    if (const auto c = FClients.find(client); c != FClients.end()) {
        c->second.ApplyTo(l);
    }
    if (const auto i = FInstruments.find({client, isin}); i != FInstruments.end()) {
        i->second.ApplyTo(l);
    }
    return l;
}

bool TLimitsBook::Parse(const std::string& text, std::string& error) {
    TLimitsBook parsed;
    std::istringstream in(text);
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        if (const std::size_t hash = line.find('#'); hash != std::string::npos) {
            line.erase(hash);
        }
        const std::vector<std::string> words = Words(line);
        if (words.empty()) {
            continue;
        }
        std::size_t first = 1;
        std::string isin;
        if (words.size() > 1 && words[1].find('=') == std::string::npos) {
            if (words[0] == "*") {
                error = "строка " + std::to_string(lineNo) + ": для \"*\" инструмент не задаётся";
                return false;
            }
            isin = words[1];
            first = 2;
        }
        TLimitsPatch patch;
        for (std::size_t w = first; w < words.size(); ++w) {
            const std::size_t eq = words[w].find('=');
            const std::string key = words[w].substr(0, eq);
            const TKey* found = nullptr;
            for (const TKey& k : kKeys) {
                found = key == k.Name ? &k : found;
            }
            std::int64_t v = 0;
            if (eq == std::string::npos || found == nullptr ||
                !ReadValue(key, words[w].substr(eq + 1), v)) {
                error =
                    "строка " + std::to_string(lineNo) + ": неверное значение \"" + words[w] + "\"";
                return false;
            }
            patch.*found->Field = v;
        }
        if (words[0] == "*") {
            parsed.FAll = patch;
        } else if (isin.empty()) {
            parsed.FClients[words[0]] = patch;
        } else {
            parsed.FInstruments[{words[0], isin}] = patch;
        }
    }
    *this = std::move(parsed);
    return true;
}

std::string TLimitsBook::Format() const {
    std::string out =
        "# Лимиты заявок: *, код клиента или код клиента и инструмент; затем ключ=значение\n";
    out += "*" + FormatPatch(FAll) + "\n";
    for (const auto& [client, p] : FClients) {
        out += client + FormatPatch(p) + "\n";
    }
    for (const auto& [key, p] : FInstruments) {
        out += key.first + " " + key.second + FormatPatch(p) + "\n";
    }
    return out;
}

} // namespace vorlen::orders
