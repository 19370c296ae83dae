#pragma once

// Small text helpers: splitting, trimming, key=value settings strings, code page 1251.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vsim {

std::string_view Trim(std::string_view s);
std::vector<std::string_view> Split(std::string_view s, char sep);
std::vector<std::string_view> SplitLines(std::string_view s);
std::vector<std::string_view> SplitWords(std::string_view s);
// What follows the first `words` words of a command line, trimmed: a text argument that may hold
// spaces of its own.
std::string AfterWords(std::string_view line, std::size_t words);
bool ParseInt(std::string_view s, std::int64_t& out);
std::string Lower(std::string_view s);

// "key=value;key=value" as a list in order; a part without '=' has an empty value and
// hasValue false.
struct KeyValue {
    std::string key;
    std::string value;
    bool hasValue = false;
};
std::vector<KeyValue> ParseKeyValues(std::string_view s, char sep = ';');

// UTF-8 to code page 1251; characters outside it become '?'.
std::string Utf8ToCp1251(std::string_view utf8);
std::string Cp1251ToUtf8(std::string_view text);

// Decimal text ("92000", "-1.25", "12,5") as a price in 1e-5 units; `offStep` is set when
// digits beyond the fifth decimal place are not zero: such a price is off every step.
bool ParsePrice(std::string_view s, std::int64_t& out, bool& offStep);

} // namespace vsim
