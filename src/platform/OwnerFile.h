#pragma once

#include <filesystem>
#include <string_view>

namespace vorlen::platform {

// Writes `bytes` as the whole content of `file`, readable and writable by its owner only, also
// when the file exists already with wider permissions; a symbolic link in its place is refused.
// The data is flushed to the disk before the call returns. False when any step fails.
// On Windows the file gets the folder's inherited permissions, the user's profile being private.
bool WriteOwnerOnlyFile(const std::filesystem::path& file, std::string_view bytes);

} // namespace vorlen::platform
