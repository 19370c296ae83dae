#pragma once

// Reads a recording of the trading day back: its records in order, or from a moment on. Damage
// is passed over, never read as data: a frame whose CRC does not match (a torn last frame after
// the program was killed, a bad sector in the middle) is skipped and counted, and reading goes on
// at the next intact frame. The file is only read; nothing is repaired.

#include "history/RecordFormat.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace vorlen::history {

// The recording's files: one day's records and its seek index beside it.
std::filesystem::path DayFilePath(const std::filesystem::path& folder, const std::string& date);
std::filesystem::path IndexPathFor(const std::filesystem::path& dayFile);

class TRecordingReader {
public:
    // False, with Error() saying why, when the file cannot be read or is not a recording of a
    // version this program knows. The frames are found through the index beside the file; those
    // written after its last entry, or all when it is missing, by walking the file.
    bool Open(const std::filesystem::path& file);
    const std::string& Error() const { return FError; }
    const TFileHeader& Header() const { return FHeader; }
    // Every frame believed intact, in file order; the seek index.
    const std::vector<TFrameRef>& Frames() const { return FFrames; }

    // The next record of a kind this version knows; false at the end. The view's payload stays
    // valid until the next call.
    bool Next(TRecordView& record);
    // Makes Next start at the first record at or after `timeNs`: one index look-up and one frame
    // read. False when no frame ends at or after it.
    bool Seek(std::int64_t timeNs);

    // Damaged places passed over so far (each a frame, or a run of bytes that holds none).
    std::uint64_t SkippedFrames() const { return FSkipped; }
    // The file ends in damage: the last frame was being written when the writer died.
    bool TornTail() const { return FTornTail; }
    // Where the last intact frame ends: a writer resuming the file appends here or later.
    std::uint64_t IntactEnd() const { return FIntactEnd; }

private:
    bool ReadAt(std::uint64_t offset, std::size_t size, std::string& out);
    void LoadIndex(const std::filesystem::path& file);
    void Scan(std::uint64_t from);
    std::uint64_t FindMagic(std::uint64_t from);
    bool LoadFrame(std::size_t i);
    void MarkBad(std::size_t i);

    std::ifstream FIn;
    std::uint64_t FSize = 0;
    std::string FError;
    TFileHeader FHeader;
    std::vector<TFrameRef> FFrames;
    std::vector<char> FBad; // per frame: found damaged when read
    std::uint64_t FSkipped = 0;
    bool FTornTail = false;
    std::uint64_t FIntactEnd = 0;

    std::size_t FNextFrame = 0;
    std::string FPacked;
    std::string FRaw;
    std::size_t FRawSize = 0; // of the frame in FRaw
    std::size_t FAt = 0;
    std::int64_t FFloor = std::numeric_limits<std::int64_t>::min();
};

} // namespace vorlen::history
