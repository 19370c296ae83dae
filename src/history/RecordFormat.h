#pragma once

// The layout of a recording of the trading day (docs/recording.md describes it byte by byte):
// a file header, then zstd-compressed frames of records, each frame checked by a CRC-32, and
// beside the file an index of the frames by time. Every integer is little-endian.

#include "gateway/GatewayCInterface.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen::history {

static_assert(std::endian::native == std::endian::little,
              "recordings are little-endian and written by memcpy");

// Version 1 is what this program writes. A later program reads every earlier version; a file of
// a later version than the reader knows is refused rather than misread.
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::array<char, 8> kFileMagic = {'V', 'O', 'R', 'L', 'E', 'N', 'R', 'C'};
constexpr std::array<char, 8> kIndexMagic = {'V', 'O', 'R', 'L', 'E', 'N', 'I', 'X'};
constexpr std::array<char, 4> kFrameMagic = {'V', 'F', 'R', 'M'};

constexpr std::size_t kFileHeaderSize = 32;
constexpr std::size_t kFrameHeaderSize = 40;
constexpr std::size_t kRecordHeaderSize = 20;
constexpr std::size_t kIndexHeaderSize = 16;
constexpr std::size_t kIndexEntrySize = 24;
// Above these a header is taken for damage, not for a frame: the writer never comes near them.
constexpr std::uint32_t kMaxFrameBytes = 64u << 20;

constexpr std::uint16_t kNoStream = 0xFFFF;
// The transaction connection's reply listener: above any market-data listener's position.
constexpr std::uint16_t kTransactionStream = 0xFFFE;
constexpr std::uint32_t kNoTable = 0xFFFFFFFF;

enum class TRecordKind : std::uint8_t {
    StreamOpen = 1,
    StreamData = 2,
    ReplState = 3,
    LifeNum = 4,
    ClearDeleted = 5,
    Online = 6,
    Offline = 7,
    TransReply = 8,
    Gap = 9,
    Keyframe = 10, // reserved: never written by this version, skipped by its reader
};
constexpr std::uint8_t kLastKnownKind = 9;

struct TFileHeader {
    std::uint32_t Version = kFormatVersion;
    std::uint32_t HeaderSize = kFileHeaderSize;
    std::int64_t CreatedNs = 0;
    std::string TradingDate; // "YYYY-MM-DD"
};

struct TFrameHeader {
    std::uint32_t PackedSize = 0;
    std::uint32_t RawSize = 0;
    std::uint32_t Records = 0;
    std::int64_t FirstNs = 0;
    std::int64_t LastNs = 0;
    std::uint32_t Crc = 0;
};

// One frame of the seek index: where it starts and the times of its first and last records.
struct TFrameRef {
    std::uint64_t Offset = 0;
    std::int64_t FirstNs = 0;
    std::int64_t LastNs = 0;
    bool operator==(const TFrameRef&) const = default;
};

// One record as it lies in a frame; Payload points into the frame being read.
struct TRecordView {
    TRecordKind Kind{};
    std::uint16_t Stream = kNoStream;
    std::uint32_t Table = kNoTable;
    std::int64_t TimeNs = 0;
    std::string_view Payload;
};

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

std::string EncodeFileHeader(const TFileHeader& h);
std::optional<TFileHeader> DecodeFileHeader(std::string_view bytes);

// The frame header's CRC covers its other fields and the compressed bytes.
std::string EncodeFrameHeader(const TFrameHeader& h, std::string_view packed);
std::optional<TFrameHeader> DecodeFrameHeader(std::string_view bytes);
bool FrameIntact(std::string_view header, std::string_view packed);

std::string EncodeIndexHeader();
std::string EncodeIndexEntry(const TFrameRef& f);

void PutRecordHeader(char* out, TRecordKind kind, std::uint16_t stream, std::uint32_t table,
                     std::int64_t timeNs, std::uint32_t payloadSize);
// The record at the start of `bytes`, its whole size in `taken`; nothing when it runs past them.
std::optional<TRecordView> TakeRecord(std::string_view bytes, std::size_t& taken);
// The same into `r`, for a reader's every record: filled in place, where a copied optional
// made the copy wait on the stores that had just filled it.
inline bool ParseRecord(std::string_view bytes, TRecordView& r, std::size_t& taken) {
    if (bytes.size() < kRecordHeaderSize)
        return false;
    std::uint32_t size = 0;
    std::memcpy(&size, bytes.data(), 4);
    if (bytes.size() - kRecordHeaderSize < size)
        return false;
    r.Kind = static_cast<TRecordKind>(static_cast<std::uint8_t>(bytes[4]));
    std::memcpy(&r.Stream, bytes.data() + 6, 2);
    std::memcpy(&r.Table, bytes.data() + 8, 4);
    std::memcpy(&r.TimeNs, bytes.data() + 12, 8);
    r.Payload = bytes.substr(kRecordHeaderSize, size);
    taken = kRecordHeaderSize + size;
    return true;
}

// Payloads. Writers append to a string; readers decode from a view and fail on a short one.
void EncodeScheme(std::string& out, std::string_view streamName, const cg_scheme_desc_t& scheme);

struct TStreamDataView {
    std::int64_t Rev = 0;
    std::string_view Bytes;
};
// Inline, as every replayed row goes through it.
inline std::optional<TStreamDataView> DecodeStreamData(std::string_view payload) {
    if (payload.size() < sizeof(std::int64_t))
        return std::nullopt;
    TStreamDataView v;
    std::memcpy(&v.Rev, payload.data(), sizeof v.Rev);
    v.Bytes = payload.substr(sizeof v.Rev);
    return v;
}

struct TTransReplyView {
    std::uint32_t MsgIndex = 0;
    std::uint32_t MsgId = 0;
    std::uint32_t UserId = 0;
    std::string_view MsgName;
    std::string_view Bytes;
};
std::optional<TTransReplyView> DecodeTransReply(std::string_view payload);

struct TGapEntry {
    std::uint16_t Stream = 0;
    std::uint64_t Lost = 0;
    bool operator==(const TGapEntry&) const = default;
};
std::string EncodeGap(const std::vector<TGapEntry>& lost);
std::optional<std::vector<TGapEntry>> DecodeGap(std::string_view payload);

// A stream's table layouts read back from a recording, as a scheme description of the gateway's
// own shape that lives as long as this object, so the store can be described from it exactly as
// from the gateway. Only what the terminal reads of a scheme is recorded: message names, ids and
// sizes, and per field its id, name, type, size and offset. Texts stay in the gateway's code page.
class TRecordedScheme {
public:
    static std::optional<TRecordedScheme> Decode(std::string_view payload);
    TRecordedScheme(TRecordedScheme&&) = default;
    TRecordedScheme& operator=(TRecordedScheme&&) = default;
    TRecordedScheme(const TRecordedScheme&) = delete;
    TRecordedScheme& operator=(const TRecordedScheme&) = delete;

    const std::string& StreamName() const { return FStreamName; }
    const cg_scheme_desc_t& Scheme() const { return *FScheme; }

private:
    TRecordedScheme() = default;
    void Link();

    std::string FStreamName;
    // Heap-held so that moving this object leaves every address the description hands out.
    std::unique_ptr<cg_scheme_desc_t> FScheme = std::make_unique<cg_scheme_desc_t>();
    std::deque<std::string> FTexts;
    std::deque<cg_message_desc_t> FMessages;
    std::deque<std::vector<cg_field_desc_t>> FFields;
};

} // namespace vorlen::history
