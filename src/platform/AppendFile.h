#pragma once

// A file that one writer keeps open and appends to for hours (the market's recordings), owner-only
// like every file of the user's data, and pushed to the disk when the writer says so rather than
// on every write.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace vorlen::platform {

// Why a file operation failed, in the terms a journal line gives the user.
enum class TFileFault {
    None,
    NoSpace,  // the disk is full
    TooLarge, // the file reached the size the system allows
    NoAccess, // permissions, or a path that is not a folder
    Gone,     // the file was deleted or replaced behind our back
    Other,
};

class TAppendFile {
public:
    TAppendFile() = default;
    ~TAppendFile();
    TAppendFile(const TAppendFile&) = delete;
    TAppendFile& operator=(const TAppendFile&) = delete;

    // Opens `file` for appending, creating it readable and writable by its owner only (an existing
    // file is narrowed to that); a symbolic link in its place is refused.
    TFileFault Open(const std::filesystem::path& file);
    bool IsOpen() const;
    // Appends all of `bytes`; a failure may leave part of them written.
    TFileFault Write(std::string_view bytes);
    // Puts what was written on the disk, then checks that the path still names this file: a file
    // deleted while open takes writes on some systems and would lose them silently.
    TFileFault Sync();
    // Bytes in the file, as this writer knows them.
    std::uint64_t Size() const { return FSize; }
    void Close();
    // The system's own words for the last fault, for the journal.
    const std::string& FaultText() const { return FFaultText; }

private:
    TFileFault Fail(std::uint32_t code);

    std::filesystem::path FPath;
    std::uint64_t FSize = 0;
    std::string FFaultText;
#ifdef _WIN32
    void* FHandle = nullptr;
#else
    int FFd = -1;
    std::uint64_t FDevice = 0;
    std::uint64_t FInode = 0;
#endif
};

} // namespace vorlen::platform
