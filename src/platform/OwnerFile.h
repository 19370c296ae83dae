#pragma once

// Files only their owner may read: the order log and the risk limits hold what a trader did and
// may do, which is nobody else's business on a shared machine.

#include <filesystem>
#include <string>

namespace vorlen {

// Appends `bytes` to `file`, creating it (and its folder) readable and writable by the owner
// only; an existing file is narrowed to that too. False when the bytes were not all written.
bool AppendOwnerOnly(const std::filesystem::path& file, const std::string& bytes);
// Replaces `file` with `bytes` through a temporary beside it, owner-only.
bool WriteOwnerOnly(const std::filesystem::path& file, const std::string& bytes);

} // namespace vorlen
