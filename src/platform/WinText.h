#pragma once

// UTF-8 <-> UTF-16 for the Windows implementations only; the rest of the program never sees
// wide strings.

#include <string>
#include <string_view>

namespace vorlen::platform {

// Invalid input gives what the system converter makes of it (U+FFFD for bad sequences).
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
// The system's text for an error code of GetLastError, in UTF-8, with the code itself.
std::string SystemErrorText(unsigned long code);

} // namespace vorlen::platform
