#include "strategies/StrategyParams.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace vorlen {

bool CheckParamValue(TParamKind kind, std::string_view text, std::string& canonical,
                     std::string& error) {
    switch (kind) {
    case TParamKind::Integer: {
        std::int64_t v = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
            error = "ожидается целое число, а не \"" + std::string(text) + "\"";
            return false;
        }
        canonical = std::to_string(v);
        return true;
    }
    case TParamKind::Number: {
        std::string t(text);
        std::replace(t.begin(), t.end(), ',', '.');
        double v = 0;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        if (t.empty() || ec != std::errc{} || end != t.data() + t.size() || !std::isfinite(v)) {
            error = "ожидается число, а не \"" + std::string(text) + "\"";
            return false;
        }
        canonical = t;
        return true;
    }
    case TParamKind::Boolean:
        if (text == "true" || text == "1" || text == "да") {
            canonical = "true";
            return true;
        }
        if (text == "false" || text == "0" || text == "нет") {
            canonical = "false";
            return true;
        }
        error = "ожидается true или false, а не \"" + std::string(text) + "\"";
        return false;
    case TParamKind::String:
        canonical = std::string(text);
        return true;
    }
    return false;
}

bool SplitParamOverride(std::string_view text, TParamOverride& out) {
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos || eq == 0)
        return false;
    out = {std::string(text.substr(0, eq)), std::string(text.substr(eq + 1))};
    return true;
}

bool ApplyParamOverrides(TStrategyParams& params, const std::vector<TParamOverride>& overrides,
                         std::string& error) {
    std::vector<std::pair<std::size_t, std::string>> checked;
    for (const auto& [name, text] : overrides) {
        const auto it = std::find_if(params.begin(), params.end(),
                                     [&n = name](const TStrategyParam& p) { return p.Name == n; });
        if (it == params.end()) {
            error = "нет параметра " + name;
            return false;
        }
        std::string canonical;
        std::string why;
        if (!CheckParamValue(it->Kind, text, canonical, why)) {
            error = "параметр ";
            error.append(name).append(": ").append(why);
            return false;
        }
        checked.emplace_back(static_cast<std::size_t>(it - params.begin()), std::move(canonical));
    }
    for (auto& [index, value] : checked)
        params[index].Value = std::move(value);
    return true;
}

} // namespace vorlen
