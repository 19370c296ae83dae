#include "history/Reader.h"

#include <algorithm>
#include <limits>
#include <zstd.h>

namespace vorlen::history {

std::filesystem::path DayFilePath(const std::filesystem::path& folder, const std::string& date) {
    return folder / (date + ".vrec");
}

std::filesystem::path IndexPathFor(const std::filesystem::path& dayFile) {
    std::filesystem::path p = dayFile;
    return p.replace_extension(".vidx");
}

bool TRecordingReader::ReadAt(std::uint64_t offset, std::size_t size, std::string& out) {
    out.resize(size);
    if (offset > FSize || size > FSize - offset)
        return false;
    FIn.clear();
    FIn.seekg(static_cast<std::streamoff>(offset));
    FIn.read(out.data(), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(FIn.gcount()) == size;
}

bool TRecordingReader::Open(const std::filesystem::path& file) {
    *this = TRecordingReader();
    std::error_code ec;
    FSize = std::filesystem::file_size(file, ec);
    FIn.open(file, std::ios::binary);
    if (ec || !FIn) {
        FError = "файл не читается";
        return false;
    }
    std::string head;
    const auto header = ReadAt(0, kFileHeaderSize, head) ? DecodeFileHeader(head) : std::nullopt;
    if (!header) {
        FError = "файл не является записью истории или записан более новой версией программы";
        return false;
    }
    FHeader = *header;
    FIntactEnd = FHeader.HeaderSize;
    LoadIndex(file);
    return true;
}

void TRecordingReader::LoadIndex(const std::filesystem::path& file) {
    std::ifstream in(IndexPathFor(file), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::uint64_t resume = FHeader.HeaderSize;
    const std::string expected = EncodeIndexHeader();
    if (bytes.size() >= kIndexHeaderSize &&
        std::string_view(bytes).substr(0, kIndexMagic.size()) ==
            std::string_view(expected).substr(0, kIndexMagic.size())) {
        // An entry is believed only if it lies after the previous one and inside the file; the
        // first that does not, and a torn last entry, end the index, and the walk takes over.
        std::string head;
        for (std::size_t at = kIndexHeaderSize; at + kIndexEntrySize <= bytes.size();
             at += kIndexEntrySize) {
            TFrameRef f;
            std::memcpy(&f.Offset, bytes.data() + at, 8);
            std::memcpy(&f.FirstNs, bytes.data() + at + 8, 8);
            std::memcpy(&f.LastNs, bytes.data() + at + 16, 8);
            if (f.Offset < resume || f.FirstNs > f.LastNs ||
                !ReadAt(f.Offset, kFrameHeaderSize, head))
                break;
            const auto h = DecodeFrameHeader(head);
            if (!h || h->FirstNs != f.FirstNs || h->LastNs != f.LastNs)
                break;
            const std::uint64_t end = f.Offset + kFrameHeaderSize + h->PackedSize;
            if (end > FSize)
                break;
            // Bytes between two indexed frames are what a resumed writer left behind damage.
            if (f.Offset > resume)
                ++FSkipped;
            FFrames.push_back(f);
            resume = end;
        }
    }
    FIntactEnd = resume;
    Scan(resume);
    FBad.assign(FFrames.size(), 0);
}

std::uint64_t TRecordingReader::FindMagic(std::uint64_t from) {
    constexpr std::size_t kChunk = 1 << 16;
    const std::string_view magic(kFrameMagic.data(), kFrameMagic.size());
    std::string chunk;
    while (from + kFrameHeaderSize <= FSize) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, FSize - from));
        if (!ReadAt(from, n, chunk))
            break;
        const std::size_t hit = std::string_view(chunk).find(magic);
        if (hit != std::string_view::npos)
            return from + hit;
        // A magic cut by the chunk's end is found by the next chunk.
        from += n - (magic.size() - 1);
    }
    return FSize;
}

void TRecordingReader::Scan(std::uint64_t from) {
    std::string head;
    bool inDamage = false;
    std::uint64_t pos = from;
    while (pos < FSize) {
        std::optional<TFrameHeader> h;
        if (pos + kFrameHeaderSize <= FSize && ReadAt(pos, kFrameHeaderSize, head))
            h = DecodeFrameHeader(head);
        if (h && h->PackedSize <= FSize - pos - kFrameHeaderSize &&
            ReadAt(pos + kFrameHeaderSize, h->PackedSize, FPacked) && FrameIntact(head, FPacked)) {
            FFrames.push_back({pos, h->FirstNs, h->LastNs});
            pos += kFrameHeaderSize + h->PackedSize;
            FIntactEnd = pos;
            inDamage = false;
            continue;
        }
        if (!inDamage)
            ++FSkipped;
        inDamage = true;
        pos = FindMagic(pos + 1);
    }
    FTornTail = inDamage;
    FPacked.clear();
}

void TRecordingReader::MarkBad(std::size_t i) {
    if (FBad[i] == 0)
        ++FSkipped;
    FBad[i] = 1;
}

bool TRecordingReader::LoadFrame(std::size_t i) {
    FRawSize = 0;
    FAt = 0;
    std::string head;
    const TFrameRef& f = FFrames[i];
    std::optional<TFrameHeader> h;
    if (ReadAt(f.Offset, kFrameHeaderSize, head))
        h = DecodeFrameHeader(head);
    if (!h || !ReadAt(f.Offset + kFrameHeaderSize, h->PackedSize, FPacked) ||
        !FrameIntact(head, FPacked)) {
        MarkBad(i);
        return false;
    }
    // Grown, never shrunk: a frame's bytes are all written by the decompression.
    if (FRaw.size() < h->RawSize)
        FRaw.resize(h->RawSize);
    const std::size_t got =
        ZSTD_decompress(FRaw.data(), h->RawSize, FPacked.data(), FPacked.size());
    FRawSize = h->RawSize;
    if (ZSTD_isError(got) != 0 || got != h->RawSize) {
        FRawSize = 0;
        MarkBad(i);
        return false;
    }
    return true;
}

bool TRecordingReader::Next(TRecordView& record) {
    for (;;) {
        if (FAt < FRawSize) {
            std::size_t taken = 0;
            if (!ParseRecord(std::string_view(FRaw.data(), FRawSize).substr(FAt), record, taken)) {
                // Intact by its CRC yet not records: a writer's fault, read no further in it.
                MarkBad(FNextFrame - 1);
                FRawSize = 0;
                continue;
            }
            FAt += taken;
            const auto kind = static_cast<std::uint8_t>(record.Kind);
            if (kind == 0 || kind > kLastKnownKind || record.TimeNs < FFloor)
                continue;
            return true;
        }
        if (FNextFrame >= FFrames.size())
            return false;
        LoadFrame(FNextFrame++);
    }
}

bool TRecordingReader::Seek(std::int64_t timeNs) {
    const auto it = std::partition_point(FFrames.begin(), FFrames.end(),
                                         [&](const TFrameRef& f) { return f.LastNs < timeNs; });
    FNextFrame = static_cast<std::size_t>(it - FFrames.begin());
    FRawSize = 0;
    FAt = 0;
    FFloor = timeNs;
    return it != FFrames.end();
}

} // namespace vorlen::history
