#pragma once

// A strategy's parameters as the terminal keeps them between runs: declared by the script's
// top-level `params` table, edited in the expert window's dialog or given on the console's
// command line, and handed to each new run. No Lua here, so the windows can check a value
// before it reaches the expert's thread.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlen {

enum class TParamKind { Integer, Number, String, Boolean };

struct TStrategyParam {
    std::string Name;
    TParamKind Kind = TParamKind::String;
    std::string Value; // the value's text in its canonical form
    // What "Настройки" calls it and says of it (`qty = {1, "Лотов", "…"}`); empty when the
    // script gives only the value.
    std::string Label;
    std::string Description;
};

// Sorted by name: a Lua table keeps no order of declaration.
using TStrategyParams = std::vector<TStrategyParam>;

using TParamOverride = std::pair<std::string, std::string>;

// The canonical text of `text` read as a value of `kind` ("1,5" gives "1.5", "да" gives "true"),
// or an empty `error` being set to why it is not one.
bool CheckParamValue(TParamKind kind, std::string_view text, std::string& canonical,
                     std::string& error);

// "name=value" split at the first "="; false when there is no "=" or no name.
bool SplitParamOverride(std::string_view text, TParamOverride& out);

// Every override checked first, then all applied, or none with `error` set.
bool ApplyParamOverrides(TStrategyParams& params, const std::vector<TParamOverride>& overrides,
                         std::string& error);

} // namespace vorlen
