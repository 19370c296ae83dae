#pragma once

#include <string>
#include <string_view>

namespace vorlen::platform {

// The gateway speaks single-byte code page 1251; the terminal keeps UTF-8 inside. These are the
// only conversions between the two.
// Byte 0x98, which the code page leaves undefined, becomes '?'.
std::string Cp1251ToUtf8(std::string_view text);
// Characters that code page 1251 cannot hold become '?', and so does each broken UTF-8
// sequence (once per sequence; the bytes after it are read afresh).
std::string Utf8ToCp1251(std::string_view text);

} // namespace vorlen::platform
