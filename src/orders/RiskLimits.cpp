#include "orders/RiskLimits.h"

#include "orders/Decimal.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

namespace vorlen::orders {

namespace {

// The length of the UTF-8 sequence at `s[i]`, or 0 when it is not a well-formed one (overlong
// forms, surrogates and code points beyond U+10FFFF included).
std::size_t Utf8Length(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = b(0);
    if (c < 0x80) {
        return 1;
    }
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + n > s.size() || b(1) < lo || b(1) > hi) {
        return 0;
    }
    for (std::size_t k = 2; k < n; ++k) {
        if (b(k) < 0x80 || b(k) > 0xBF) {
            return 0;
        }
    }
    return n;
}

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string Hex(unsigned char c) {
    const char* const digits = "0123456789ABCDEF";
    return {'\\', 'x', digits[c >> 4], digits[c & 15]};
}

// Text of the file as an error may quote it: control bytes and what is not UTF-8 as \xNN, and
// no more than a screenful of it.
std::string Quoted(std::string_view s) {
    constexpr std::size_t kShown = 40;
    std::string out = "\"";
    std::size_t shown = 0;
    for (std::size_t i = 0; i < s.size(); ++shown) {
        if (shown == kShown) {
            out += "...";
            break;
        }
        const std::size_t n = Utf8Length(s, i);
        const auto c = static_cast<unsigned char>(s[i]);
        if (n == 0 || c < 0x20 || c == 0x7F) {
            out += Hex(c);
            ++i;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out + "\"";
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> out;
    for (std::size_t i = 0; i < line.size();) {
        if (Blank(line[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < line.size() && !Blank(line[end])) {
            ++end;
        }
        out.push_back(line.substr(i, end - i));
        i = end;
    }
    return out;
}

bool LatinOrDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
}

// As the account table writes it: the broker's four characters and the client's three, capital
// letters and digits. A code in lower case would match no order and so limit nothing.
bool IsClientCode(std::string_view w) {
    return w.size() == 7 && std::all_of(w.begin(), w.end(), LatinOrDigit);
}

// The reference's isin field holds 25 characters; an isin is printable ASCII without '='.
bool IsIsin(std::string_view w) {
    return !w.empty() && w.size() <= 25 &&
           std::all_of(w.begin(), w.end(), [](char c) { return c > ' ' && c < 0x7F && c != '='; });
}

enum class TRead { Ok, Bad, TooBig };

// Digits, and for `decimals` > 0 a point or comma and up to that many places (more only as
// trailing zeros), in units of 10^-decimals. No sign, no exponent, nothing around it.
TRead ReadValue(std::string_view text, int decimals, std::int64_t bound, std::int64_t& out) {
    std::int64_t scale = 1;
    for (int d = 0; d < decimals; ++d) {
        scale *= 10;
    }
    std::int64_t whole = 0;
    std::int64_t frac = 0;
    int places = -1; // none: no separator yet
    bool digits = false;
    bool over = false;
    for (const char c : text) {
        if ((c == '.' || c == ',') && decimals > 0 && places < 0 && digits) {
            places = 0;
            continue;
        }
        if (c < '0' || c > '9') {
            return TRead::Bad;
        }
        if (places < 0) {
            digits = true;
            // Saturates: the digits still have to be checked to the end.
            over = over || whole > bound;
            whole = over ? whole : whole * 10 + (c - '0');
        } else if (places < decimals) {
            frac = frac * 10 + (c - '0');
            ++places;
        } else if (c != '0') {
            return TRead::Bad;
        }
    }
    if (!digits || places == 0) {
        return TRead::Bad;
    }
    for (; places < decimals; ++places) {
        frac *= 10;
    }
    if (over || whole > bound / scale) {
        return TRead::TooBig;
    }
    out = whole * scale + (places < 0 ? 0 : frac);
    return out > bound ? TRead::TooBig : TRead::Ok;
}

struct TKey {
    const char* Name;
    std::optional<std::int64_t> TLimitsPatch::*Field;
    int Decimals; // of the value as written; the field holds it in units of 10^-Decimals
    std::int64_t Bound;
};

const TKey kKeys[] = {
    {"max_qty", &TLimitsPatch::MaxOrderQty, 0, kMaxLimitCount},
    {"max_pos", &TLimitsPatch::MaxPosition, 0, kMaxLimitCount},
    {"max_active", &TLimitsPatch::MaxActive, 0, kMaxLimitCount},
    {"per_minute", &TLimitsPatch::MaxPerMinute, 0, kMaxLimitCount},
    {"per_day", &TLimitsPatch::MaxPerDay, 0, kMaxLimitCount},
    {"distance_pct", &TLimitsPatch::MaxDistanceBp, 2, kMaxDistanceBp},
    {"opt_distance_steps", &TLimitsPatch::MaxOptionDistanceSteps, 0, kMaxDistanceSteps},
};

std::string BoundText(const TKey& k) {
    return k.Decimals == 0 ? std::to_string(k.Bound) : FormatPrice(k.Bound * (kPriceScale / 100));
}

// The bytes of a text file: no control characters but tab, CR and LF, and UTF-8 throughout.
// Empty when sound, else the reason for the line `lineNo` is set to.
std::string TextProblem(std::string_view text, int& lineNo) {
    lineNo = 1;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = Utf8Length(text, i);
        if (c == '\n') {
            ++lineNo;
        } else if (n == 0) {
            return "текст не в кодировке UTF-8 (байт " + Hex(c) + ")";
        } else if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7F) {
            return "недопустимый символ " + Hex(c);
        }
        i += n == 0 ? 1 : n;
    }
    return {};
}

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
    const std::optional<TDecimal> d = ParseDecimal(text, kPriceDecimals);
    return d ? ToUnits(*d, kPriceDecimals) : std::nullopt;
}

char* WritePrice(std::int64_t units, char* out) {
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

std::string FormatPrice(std::int64_t units, char decimalSeparator) {
    std::string text = FormatPrice(units);
    std::replace(text.begin(), text.end(), '.', decimalSeparator);
    return text;
}

void TLimitsPatch::ApplyTo(TRiskLimits& l) const {
    l.MaxOrderQty = MaxOrderQty.value_or(l.MaxOrderQty);
    l.MaxPosition = MaxPosition.value_or(l.MaxPosition);
    l.MaxActive = MaxActive.value_or(l.MaxActive);
    l.MaxPerMinute = MaxPerMinute.value_or(l.MaxPerMinute);
    l.MaxPerDay = MaxPerDay.value_or(l.MaxPerDay);
    l.MaxDistanceBp = MaxDistanceBp.value_or(l.MaxDistanceBp);
    l.MaxOptionDistanceSteps = MaxOptionDistanceSteps.value_or(l.MaxOptionDistanceSteps);
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

namespace {

// One line's rule into `patch`; empty when sound, else why not. `scope` is the client code (or
// "*") and the isin, empty for none.
std::string ParseRule(const std::vector<std::string_view>& words,
                      std::pair<std::string, std::string>& scope, TLimitsPatch& patch) {
    if (words[0] != "*" && !IsClientCode(words[0])) {
        return Quoted(words[0]) +
               " - не \"*\" и не код клиента (семь заглавных латинских букв или цифр)";
    }
    scope = {std::string(words[0]), {}};
    std::size_t first = 1;
    if (words.size() > 1 && words[1].find('=') == std::string_view::npos) {
        if (words[0] == "*") {
            return "для \"*\" инструмент не задаётся";
        }
        if (!IsIsin(words[1])) {
            return Quoted(words[1]) + " - не код инструмента";
        }
        scope.second = words[1];
        first = 2;
    }
    for (std::size_t w = first; w < words.size(); ++w) {
        const std::string_view word = words[w];
        const std::size_t eq = word.find('=');
        if (eq == std::string_view::npos) {
            return Quoted(word) + " - не ключ=значение";
        }
        const std::string_view name = word.substr(0, eq);
        const auto key = std::find_if(std::begin(kKeys), std::end(kKeys),
                                      [&](const TKey& k) { return name == k.Name; });
        if (key == std::end(kKeys)) {
            return "неизвестный ключ " + Quoted(name);
        }
        if (patch.*key->Field) {
            return "ключ " + std::string(key->Name) + " задан дважды";
        }
        std::int64_t v = 0;
        switch (ReadValue(word.substr(eq + 1), key->Decimals, key->Bound, v)) {
        case TRead::Ok:
            patch.*key->Field = v;
            break;
        case TRead::Bad:
            return "неверное значение " + Quoted(word);
        case TRead::TooBig:
            return "значение " + Quoted(word) + " больше допустимого (" + BoundText(*key) + ")";
        }
    }
    return {};
}

} // namespace

bool TLimitsBook::Parse(const std::string& whole, std::string& error) {
    std::string_view text = whole;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    int lineNo = 0;
    if (std::string problem = TextProblem(text, lineNo); !problem.empty()) {
        error = "строка " + std::to_string(lineNo) + ": " + problem;
        return false;
    }
    TLimitsBook parsed;
    std::map<std::pair<std::string, std::string>, int> said; // scope -> its line
    lineNo = 0;
    for (std::size_t from = 0; from < text.size();) {
        ++lineNo;
        const std::size_t nl = std::min(text.find('\n', from), text.size());
        std::string_view line = text.substr(from, nl - from);
        from = nl + 1;
        line = line.substr(0, line.find('#'));
        const std::vector<std::string_view> words = Words(line);
        if (words.empty()) {
            continue;
        }
        std::pair<std::string, std::string> scope;
        TLimitsPatch patch;
        std::string problem = ParseRule(words, scope, patch);
        if (const auto [at, added] = said.try_emplace(scope, lineNo); problem.empty() && !added) {
            problem = "правило для " + scope.first + (scope.second.empty() ? "" : " ") +
                      scope.second + " уже задано в строке " + std::to_string(at->second);
        }
        if (!problem.empty()) {
            error = "строка " + std::to_string(lineNo) + ": " + problem;
            return false;
        }
        if (scope.first == "*") {
            parsed.FAll = patch;
        } else if (scope.second.empty()) {
            parsed.FClients[scope.first] = patch;
        } else {
            parsed.FInstruments[scope] = patch;
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

std::vector<std::string> TLimitsBook::Stopping() const {
    std::vector<std::string> out;
    const auto check = [&out](const std::string& scope, const TLimitsPatch& p) {
        for (const TKey& k : kKeys) {
            // A distance of 0 still lets an order at the best opposite price through.
            if (const auto& v = p.*k.Field; v && *v == 0 && k.Field != &TLimitsPatch::MaxDistanceBp)
                out.push_back(scope + " " + k.Name + "=0");
        }
    };
    check("*", FAll);
    for (const auto& [client, p] : FClients) {
        check(client, p);
    }
    for (const auto& [key, p] : FInstruments) {
        check(key.first + " " + key.second, p);
    }
    return out;
}

const std::array<const char*, kLimitKeyCount>& LimitKeyCaptions() {
    static const std::array<const char*, kLimitKeyCount> captions{
        "Лотов в заявке", "Позиция",       "Активных заявок", "Заявок в минуту",
        "Заявок в день",  "Отклонение, %", "Опционы, шагов"};
    return captions;
}

const std::array<const char*, kLimitKeyCount>& LimitKeyHints() {
    static const std::array<const char*, kLimitKeyCount> hints{
        "Наибольшее количество лотов в одной заявке",
        "Наибольшая позиция по инструменту, лотов, с учётом активных заявок",
        "Наибольшее число активных заявок",
        "Наибольшее число заявок в минуту",
        "Наибольшее число заявок за день",
        "Наибольшее отклонение цены фьючерса от лучшей встречной цены, % (до двух знаков)",
        "Наибольшее отклонение цены опциона от лучшей встречной цены, в шагах цены"};
    return hints;
}

std::vector<TLimitsRow> LimitsRows(const TLimitsBook& book, char decimalSeparator) {
    static_assert(std::size(kKeys) == kLimitKeyCount);
    const auto row = [decimalSeparator](std::string client, std::string isin,
                                        const TLimitsPatch& p) {
        TLimitsRow r{std::move(client), std::move(isin), {}};
        for (std::size_t k = 0; k < kLimitKeyCount; ++k) {
            if (const auto& v = p.*kKeys[k].Field) {
                r.Values[k] = kKeys[k].Decimals == 0
                                  ? std::to_string(*v)
                                  : FormatPrice(*v * (kPriceScale / 100), decimalSeparator);
            }
        }
        return r;
    };
    std::vector<TLimitsRow> rows{row("*", {}, book.All())};
    for (const auto& [client, p] : book.Clients()) {
        rows.push_back(row(client, {}, p));
    }
    for (const auto& [key, p] : book.Instruments()) {
        rows.push_back(row(key.first, key.second, p));
    }
    return rows;
}

std::string LimitsRowsText(const std::vector<TLimitsRow>& rows) {
    // Spaces around what was typed go; spaces inside stay, for the parser to name the row.
    const auto trim = [](const std::string& s) {
        const std::size_t from = s.find_first_not_of(" \t");
        return from == std::string::npos ? std::string()
                                         : s.substr(from, s.find_last_not_of(" \t") - from + 1);
    };
    std::string out;
    for (const TLimitsRow& r : rows) {
        std::string line = trim(r.Client);
        if (const std::string isin = trim(r.Isin); !isin.empty()) {
            // An instrument without a client code still makes a line the parser can name.
            line += (line.empty() ? "" : " ") + isin;
        }
        bool values = false;
        for (std::size_t k = 0; k < kLimitKeyCount; ++k) {
            if (const std::string v = trim(r.Values[k]); !v.empty()) {
                line += std::string(" ") + kKeys[k].Name + "=" + v;
                values = true;
            }
        }
        // A rule's scope with no values is still a rule: said twice, it is a mistake to show.
        out += (values || !trim(r.Client).empty() || !trim(r.Isin).empty() ? line : "") + "\n";
    }
    return out;
}

} // namespace vorlen::orders
