#include "history/DayWriter.h"

#include "history/Reader.h"
#include "platform/OwnerFile.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>
#include <zstd.h>

namespace vorlen::history {

namespace fs = std::filesystem;

std::string PathText(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

void ApplyRetention(const fs::path& folder, const fs::path& current, const TRetention& keep) {
    std::error_code ec;
    std::vector<std::pair<fs::path, std::uint64_t>> days;
    for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
        if (e.path().extension() != ".vrec" || !e.is_regular_file(ec))
            continue;
        std::uint64_t bytes = e.file_size(ec);
        if (ec)
            continue;
        const std::uint64_t index = fs::file_size(IndexPathFor(e.path()), ec);
        days.emplace_back(e.path(), ec ? bytes : bytes + index);
    }
    std::sort(days.begin(), days.end());
    std::uint64_t total = 0;
    for (const auto& d : days)
        total += d.second;
    std::size_t count = days.size();
    for (const auto& [path, bytes] : days) {
        if (count <= keep.KeepDays && total <= keep.KeepBytes)
            break;
        if (fs::equivalent(path, current, ec))
            continue;
        fs::remove(path, ec);
        fs::remove(IndexPathFor(path), ec);
        --count;
        total -= bytes;
    }
}

TDayWriter::TDayWriter(int level) : FCtx(ZSTD_createCCtx()), FLevel(level) {}

TDayWriter::~TDayWriter() {
    Close();
    ZSTD_freeCCtx(FCtx);
}

bool TDayWriter::Failed(platform::TFileFault fault, const platform::TAppendFile& file,
                        const fs::path& path) {
    const std::string name = PathText(path);
    switch (fault) {
    case platform::TFileFault::None:
        return true;
    case platform::TFileFault::NoSpace:
        FFault = "нет места на диске для " + name;
        break;
    case platform::TFileFault::TooLarge:
        FFault = "файл " + name + " достиг предельного размера";
        break;
    case platform::TFileFault::NoAccess:
        FFault = "нет доступа к " + name;
        break;
    case platform::TFileFault::Gone:
        FFault = "файл " + name + " удалён или подменён";
        break;
    case platform::TFileFault::Other:
        FFault = "ошибка записи в " + name + " (" + file.FaultText() + ")";
        break;
    }
    Close();
    return false;
}

bool TDayWriter::Open(const fs::path& folder, const std::string& date, std::int64_t nowNs,
                      const TRetention& keep) {
    Close();
    FFault.clear();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
        FFault = "не удалось создать папку " + PathText(folder);
        return false;
    }
    FPath = DayFilePath(folder, date);
    FIndexPath = IndexPathFor(FPath);
    FLastNs = std::numeric_limits<std::int64_t>::min();

    // A file shorter than its header was cut while being created: it holds nothing.
    if (fs::exists(FPath, ec) && fs::file_size(FPath, ec) < kFileHeaderSize)
        fs::resize_file(FPath, 0, ec);
    std::string index = EncodeIndexHeader();
    if (fs::exists(FPath, ec) && fs::file_size(FPath, ec) > 0) {
        TRecordingReader earlier;
        if (!earlier.Open(FPath) || earlier.Header().TradingDate != date) {
            FFault = "файл " + PathText(FPath) + " не является записью истории этого дня";
            return false;
        }
        // Damage at the end stays where it is: the reader skips it and finds our next frame.
        for (const TFrameRef& f : earlier.Frames())
            index += EncodeIndexEntry(f);
        if (!earlier.Frames().empty())
            FLastNs = earlier.Frames().back().LastNs;
        if (!Failed(FFile.Open(FPath), FFile, FPath))
            return false;
    } else {
        if (!Failed(FFile.Open(FPath), FFile, FPath))
            return false;
        TFileHeader h;
        h.CreatedNs = nowNs;
        h.TradingDate = date;
        if (!Failed(FFile.Write(EncodeFileHeader(h)), FFile, FPath))
            return false;
    }
    // The index is rebuilt whole on opening, from what the file really holds.
    if (!platform::WriteOwnerOnlyFile(FIndexPath, index)) {
        FFault = "нет доступа к " + PathText(FIndexPath);
        Close();
        return false;
    }
    if (!Failed(FIndex.Open(FIndexPath), FIndex, FIndexPath))
        return false;
    ApplyRetention(folder, FPath, keep);
    return true;
}

bool TDayWriter::WriteFrame(std::string_view raw, std::uint32_t records, std::int64_t firstNs,
                            std::int64_t lastNs) {
    if (!IsOpen())
        return false;
    const std::size_t offset = kFrameHeaderSize;
    FPacked.resize(offset + ZSTD_compressBound(raw.size()));
    const std::size_t packed = ZSTD_compressCCtx(
        FCtx, FPacked.data() + offset, FPacked.size() - offset, raw.data(), raw.size(), FLevel);
    if (ZSTD_isError(packed) != 0) {
        FFault = std::string("ошибка сжатия: ") + ZSTD_getErrorName(packed);
        Close();
        return false;
    }
    FPacked.resize(offset + packed);
    TFrameHeader h;
    h.RawSize = static_cast<std::uint32_t>(raw.size());
    h.Records = records;
    h.FirstNs = firstNs;
    h.LastNs = lastNs;
    const std::string head = EncodeFrameHeader(h, std::string_view(FPacked).substr(offset));
    std::copy(head.begin(), head.end(), FPacked.begin());
    const TFrameRef ref{FFile.Size(), firstNs, lastNs};
    return Failed(FFile.Write(FPacked), FFile, FPath) &&
           Failed(FIndex.Write(EncodeIndexEntry(ref)), FIndex, FIndexPath);
}

bool TDayWriter::Sync() {
    if (!IsOpen())
        return false;
    return Failed(FFile.Sync(), FFile, FPath) && Failed(FIndex.Sync(), FIndex, FIndexPath);
}

void TDayWriter::Close() {
    FFile.Close();
    FIndex.Close();
}

} // namespace vorlen::history
