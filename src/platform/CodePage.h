#pragma once

#include <string>
#include <string_view>

namespace vorlen::platform {

// The gateway speaks single-byte code page 1251; the terminal keeps UTF-8 inside. These are the
// only conversions between the two.
std::string Cp1251ToUtf8(std::string_view text);
// Characters that code page 1251 cannot hold become '?'.
std::string Utf8ToCp1251(std::string_view text);

} // namespace vorlen::platform
