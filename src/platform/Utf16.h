#pragma once

#include <string>
#include <string_view>

namespace vorlen::platform {

// UTF-16 as a registry export file holds it, on every system (WinText.h serves the Windows
// calls). Invalid sequences become U+FFFD rather than being dropped, so a damaged name is still
// visibly damaged.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);

} // namespace vorlen::platform
