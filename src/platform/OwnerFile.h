#pragma once

// Files only their owner may read: saved settings hold the program key, dumps, the order log and
// the risk limits hold what a trader has and did, which is nobody else's business on a shared
// machine.

#include <filesystem>
#include <string_view>

namespace vorlen::platform {

// Writes `bytes` as the whole content of `file`, readable and writable by its owner only, also
// when the file exists already with wider permissions; a symbolic link in its place is refused.
// The data is flushed to the disk before the call returns. False when any step fails.
// On Windows the file gets the folder's inherited permissions, the user's profile being private.
bool WriteOwnerOnlyFile(const std::filesystem::path& file, std::string_view bytes);
// Appends `bytes` to `file`, creating it (and its folder) owner-only as above; an existing file is
// narrowed to that too. False when the bytes were not all written.
bool AppendOwnerOnlyFile(const std::filesystem::path& file, std::string_view bytes);

} // namespace vorlen::platform
