#pragma once

// history.db made again from the day files of a history folder: after it was lost or damaged, or
// when the recorder could not write it (the day files hold every deal). The result is what the
// recorder would have written live from the same records.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace vorlen::history {

struct TRebuildStep {
    std::size_t Index = 0; // from 1
    std::size_t Count = 0;
    std::filesystem::path File;
    std::uint64_t Records = 0;
    std::uint64_t Skipped = 0; // damaged places the reader passed over
};

// Reads every day file of `folder` in date order into a new database beside history.db, then
// puts it in history.db's place in one rename: a failure on the way leaves the old database as
// it was. `step` is called after each file. False, with `error` in the journal's words, when the
// folder is missing or holds no day file, a day file cannot be read, the database cannot be
// written, or history.db is being written by a running terminal.
bool RebuildHistoryDb(const std::filesystem::path& folder,
                      const std::function<void(const TRebuildStep&)>& step, std::string& error);

} // namespace vorlen::history
