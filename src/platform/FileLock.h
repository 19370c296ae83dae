#pragma once

// One terminal per data folder: the day's order log holds the counts and the halt that the risk
// gate goes by, and two terminals writing one day would each count only their own orders and
// never see the other's kill switch.

#include <filesystem>

namespace vorlen::platform {

// An exclusive lock on a file (created owner-only when missing), held for as long as the object
// lives. The system lets it go when the process ends, however it ends, so a terminal killed
// outright never leaves its folder locked.
class TFileLock {
public:
    explicit TFileLock(const std::filesystem::path& file);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    // False when another holder has the lock, or the file could not be opened.
    bool Held() const { return FHeld; }
    // Another holder has the lock (not merely a file that could not be opened).
    bool Busy() const { return FBusy; }

private:
    bool FHeld = false;
    bool FBusy = false;
    // The open file that carries the lock: a descriptor, or a HANDLE's value.
    long long FHandle = -1;
};

} // namespace vorlen::platform
