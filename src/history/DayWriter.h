#pragma once

// Writes one day's recording: compressed frames appended to the day file, one index entry per
// frame appended beside it, both owner-only. Runs on the recorder's thread only.

#include "history/RecordFormat.h"
#include "platform/AppendFile.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

struct ZSTD_CCtx_s;

namespace vorlen::history {

struct TRetention {
    unsigned KeepDays = 30;
    std::uint64_t KeepBytes = 20ull << 30;
};

// Deletes the oldest day files of `folder` (with their indexes) until at most `keep.KeepDays`
// remain and they take at most `keep.KeepBytes`; `current` is never deleted. Day files are
// named by date, so the oldest sorts first.
void ApplyRetention(const std::filesystem::path& folder, const std::filesystem::path& current,
                    const TRetention& keep);

class TDayWriter {
public:
    explicit TDayWriter(int level);
    ~TDayWriter();
    TDayWriter(const TDayWriter&) = delete;
    TDayWriter& operator=(const TDayWriter&) = delete;

    // Opens the day's file in `folder`, creating both; a file of the same day written earlier
    // (the terminal restarted) is appended to after its last intact frame. False with Fault()
    // set when recording cannot go on.
    bool Open(const std::filesystem::path& folder, const std::string& date, std::int64_t nowNs,
              const TRetention& keep);
    bool IsOpen() const { return FFile.IsOpen(); }
    // Time of the last record already in the file when it was opened, so a resumed day's times
    // do not go back.
    std::int64_t LastNs() const { return FLastNs; }
    bool WriteFrame(std::string_view raw, std::uint32_t records, std::int64_t firstNs,
                    std::int64_t lastNs);
    bool Sync();
    void Close();
    // Why recording stopped, in the journal's words.
    const std::string& Fault() const { return FFault; }
    const std::filesystem::path& Path() const { return FPath; }

private:
    bool Failed(platform::TFileFault fault, const platform::TAppendFile& file,
                const std::filesystem::path& path);

    ZSTD_CCtx_s* FCtx = nullptr;
    int FLevel;
    platform::TAppendFile FFile;
    platform::TAppendFile FIndex;
    std::filesystem::path FPath;
    std::filesystem::path FIndexPath;
    std::int64_t FLastNs = 0;
    std::string FPacked;
    std::string FFault;
};

std::string PathText(const std::filesystem::path& p);

} // namespace vorlen::history
