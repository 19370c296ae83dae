#include "history/RecordFormat.h"

#include <algorithm>

namespace vorlen::history {

namespace {

template <typename T>
void Put(std::string& out, T v) {
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    out.append(b, sizeof(T));
}

template <typename T>
void PutAt(char* out, std::size_t at, T v) {
    std::memcpy(out + at, &v, sizeof(T));
}

void PutText(std::string& out, const char* text) {
    const std::string_view s = text != nullptr ? std::string_view(text) : std::string_view();
    Put<std::uint32_t>(out, static_cast<std::uint32_t>(s.size()));
    out.append(s);
}

// Reads a payload front to back; any read past its end makes it fail for good.
class TCursor {
public:
    explicit TCursor(std::string_view bytes) : FBytes(bytes) {}

    template <typename T>
    T Get() {
        T v{};
        if (FBad || FBytes.size() - FAt < sizeof(T)) {
            FBad = true;
            return v;
        }
        std::memcpy(&v, FBytes.data() + FAt, sizeof(T));
        FAt += sizeof(T);
        return v;
    }
    std::string_view Bytes(std::size_t n) {
        if (FBad || FBytes.size() - FAt < n) {
            FBad = true;
            return {};
        }
        const std::string_view s = FBytes.substr(FAt, n);
        FAt += n;
        return s;
    }
    std::string_view Text() { return Bytes(Get<std::uint32_t>()); }
    std::string_view Rest() { return Bytes(FBytes.size() - FAt); }
    bool Bad() const { return FBad; }
    std::size_t Left() const { return FBad ? 0 : FBytes.size() - FAt; }

private:
    std::string_view FBytes;
    std::size_t FAt = 0;
    bool FBad = false;
};

// Eight tables, so the checksum takes eight bytes a step: frames are checked on every write and
// read, and a byte at a time it cost a fifth of what compressing them does.
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeCrcTables() {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (std::size_t n = 1; n < 8; ++n)
        for (std::size_t i = 0; i < 256; ++i)
            t[n][i] = (t[n - 1][i] >> 8) ^ t[0][t[n - 1][i] & 0xFFu];
    return t;
}
constexpr auto kCrcTables = MakeCrcTables();

bool SameMagic(std::string_view bytes, const char* magic, std::size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

} // namespace

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    const auto& t = kCrcTables;
    crc = ~crc;
    for (; size >= 8; size -= 8, p += 8) {
        // Little-endian order, whatever the machine's.
        const std::uint32_t lo = crc ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                        std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
        crc = t[7][lo & 0xFFu] ^ t[6][(lo >> 8) & 0xFFu] ^ t[5][(lo >> 16) & 0xFFu] ^
              t[4][lo >> 24] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; size > 0; --size, ++p)
        crc = t[0][(crc ^ *p) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

std::string EncodeFileHeader(const TFileHeader& h) {
    std::string out(kFileMagic.data(), kFileMagic.size());
    Put<std::uint32_t>(out, h.Version);
    Put<std::uint32_t>(out, static_cast<std::uint32_t>(kFileHeaderSize));
    Put<std::int64_t>(out, h.CreatedNs);
    // "YYYYMMDD" without the dashes fits the eight bytes left.
    std::string compact;
    for (char c : h.TradingDate)
        if (c != '-')
            compact += c;
    char date[8] = {};
    std::copy_n(compact.data(), std::min(compact.size(), sizeof date), date);
    out.append(date, sizeof date);
    return out;
}

std::optional<TFileHeader> DecodeFileHeader(std::string_view bytes) {
    if (!SameMagic(bytes, kFileMagic.data(), kFileMagic.size()))
        return std::nullopt;
    TCursor c(bytes.substr(kFileMagic.size()));
    TFileHeader h;
    h.Version = c.Get<std::uint32_t>();
    h.HeaderSize = c.Get<std::uint32_t>();
    h.CreatedNs = c.Get<std::int64_t>();
    const std::string_view date = c.Bytes(8);
    if (c.Bad() || h.Version == 0 || h.Version > kFormatVersion || h.HeaderSize < kFileHeaderSize ||
        bytes.size() < kFileHeaderSize)
        return std::nullopt;
    const std::string compact(date.substr(0, date.find('\0')));
    h.TradingDate = compact.size() == 8 ? compact.substr(0, 4) + "-" + compact.substr(4, 2) + "-" +
                                              compact.substr(6)
                                        : compact;
    return h;
}

std::string EncodeFrameHeader(const TFrameHeader& h, std::string_view packed) {
    std::string out(kFrameMagic.data(), kFrameMagic.size());
    Put<std::uint32_t>(out, static_cast<std::uint32_t>(packed.size()));
    Put<std::uint32_t>(out, h.RawSize);
    Put<std::uint32_t>(out, h.Records);
    Put<std::int64_t>(out, h.FirstNs);
    Put<std::int64_t>(out, h.LastNs);
    Put<std::uint32_t>(out, 0); // reserved
    const std::uint32_t crc = Crc32(packed.data(), packed.size(), Crc32(out.data(), out.size()));
    Put<std::uint32_t>(out, crc);
    return out;
}

std::optional<TFrameHeader> DecodeFrameHeader(std::string_view bytes) {
    if (bytes.size() < kFrameHeaderSize ||
        !SameMagic(bytes, kFrameMagic.data(), kFrameMagic.size()))
        return std::nullopt;
    TCursor c(bytes.substr(kFrameMagic.size(), kFrameHeaderSize - kFrameMagic.size()));
    TFrameHeader h;
    h.PackedSize = c.Get<std::uint32_t>();
    h.RawSize = c.Get<std::uint32_t>();
    h.Records = c.Get<std::uint32_t>();
    h.FirstNs = c.Get<std::int64_t>();
    h.LastNs = c.Get<std::int64_t>();
    c.Get<std::uint32_t>();
    h.Crc = c.Get<std::uint32_t>();
    if (h.PackedSize > kMaxFrameBytes || h.RawSize > kMaxFrameBytes || h.FirstNs > h.LastNs)
        return std::nullopt;
    return h;
}

bool FrameIntact(std::string_view header, std::string_view packed) {
    const auto h = DecodeFrameHeader(header);
    if (!h || h->PackedSize != packed.size())
        return false;
    const std::uint32_t crc =
        Crc32(packed.data(), packed.size(), Crc32(header.data(), kFrameHeaderSize - 4));
    return crc == h->Crc;
}

std::string EncodeIndexHeader() {
    std::string out(kIndexMagic.data(), kIndexMagic.size());
    Put<std::uint32_t>(out, kFormatVersion);
    Put<std::uint32_t>(out, 0);
    return out;
}

std::string EncodeIndexEntry(const TFrameRef& f) {
    std::string out;
    Put<std::uint64_t>(out, f.Offset);
    Put<std::int64_t>(out, f.FirstNs);
    Put<std::int64_t>(out, f.LastNs);
    return out;
}

void PutRecordHeader(char* out, TRecordKind kind, std::uint16_t stream, std::uint32_t table,
                     std::int64_t timeNs, std::uint32_t payloadSize) {
    PutAt<std::uint32_t>(out, 0, payloadSize);
    PutAt<std::uint8_t>(out, 4, static_cast<std::uint8_t>(kind));
    PutAt<std::uint8_t>(out, 5, 0);
    PutAt<std::uint16_t>(out, 6, stream);
    PutAt<std::uint32_t>(out, 8, table);
    PutAt<std::int64_t>(out, 12, timeNs);
}

std::optional<TRecordView> TakeRecord(std::string_view bytes, std::size_t& taken) {
    TRecordView r;
    if (!ParseRecord(bytes, r, taken))
        return std::nullopt;
    return r;
}

void EncodeScheme(std::string& out, std::string_view streamName, const cg_scheme_desc_t& scheme) {
    Put<std::uint32_t>(out, static_cast<std::uint32_t>(streamName.size()));
    out.append(streamName);
    Put<std::uint32_t>(out, scheme.scheme_type);
    Put<std::uint32_t>(out, scheme.features);
    // The count is written after the list has been walked: a num_messages that promises more
    // than the list holds must not be believed by the reader either.
    const std::size_t countAt = out.size();
    Put<std::uint32_t>(out, 0);
    std::uint32_t count = 0;
    for (const cg_message_desc_t* m = scheme.messages; m != nullptr && count < scheme.num_messages;
         m = m->next, ++count) {
        Put<std::uint64_t>(out, m->size);
        Put<std::uint32_t>(out, m->id);
        PutText(out, m->name);
        const std::size_t fieldsAt = out.size();
        Put<std::uint32_t>(out, 0);
        std::uint32_t fields = 0;
        for (const cg_field_desc_t* f = m->fields; f != nullptr && fields < m->num_fields;
             f = f->next, ++fields) {
            Put<std::uint32_t>(out, f->id);
            PutText(out, f->name);
            PutText(out, f->fild_type);
            Put<std::uint64_t>(out, f->size);
            Put<std::uint64_t>(out, f->offset);
        }
        std::memcpy(out.data() + fieldsAt, &fields, sizeof fields);
    }
    std::memcpy(out.data() + countAt, &count, sizeof count);
}

std::optional<TRecordedScheme> TRecordedScheme::Decode(std::string_view payload) {
    TCursor c(payload);
    TRecordedScheme s;
    s.FStreamName = std::string(c.Text());
    s.FScheme->scheme_type = c.Get<std::uint32_t>();
    s.FScheme->features = c.Get<std::uint32_t>();
    const auto count = c.Get<std::uint32_t>();
    const auto text = [&]() -> const char* { return s.FTexts.emplace_back(c.Text()).c_str(); };
    for (std::uint32_t i = 0; i < count && !c.Bad(); ++i) {
        cg_message_desc_t& m = s.FMessages.emplace_back();
        m = {};
        m.size = c.Get<std::uint64_t>();
        m.id = c.Get<std::uint32_t>();
        m.name = text();
        const auto fields = c.Get<std::uint32_t>();
        // A field takes at least 28 bytes: a count beyond what is left is damage, not a size to
        // reserve.
        if (fields > c.Left() / 28)
            return std::nullopt;
        std::vector<cg_field_desc_t>& list = s.FFields.emplace_back(fields);
        for (cg_field_desc_t& f : list) {
            f = {};
            f.id = c.Get<std::uint32_t>();
            f.name = text();
            f.fild_type = text();
            f.size = c.Get<std::uint64_t>();
            f.offset = c.Get<std::uint64_t>();
        }
    }
    if (c.Bad())
        return std::nullopt;
    s.Link();
    return s;
}

void TRecordedScheme::Link() {
    cg_message_desc_t* prev = nullptr;
    for (std::size_t i = 0; i < FMessages.size(); ++i) {
        cg_message_desc_t& m = FMessages[i];
        std::vector<cg_field_desc_t>& fields = FFields[i];
        for (std::size_t j = 0; j < fields.size(); ++j)
            fields[j].next = j + 1 < fields.size() ? &fields[j + 1] : nullptr;
        m.fields = fields.empty() ? nullptr : fields.data();
        m.num_fields = fields.size();
        m.next = nullptr;
        if (prev != nullptr)
            prev->next = &m;
        prev = &m;
    }
    FScheme->num_messages = FMessages.size();
    FScheme->messages = FMessages.empty() ? nullptr : &FMessages.front();
}

std::optional<TTransReplyView> DecodeTransReply(std::string_view payload) {
    TCursor c(payload);
    TTransReplyView v;
    v.MsgIndex = c.Get<std::uint32_t>();
    v.MsgId = c.Get<std::uint32_t>();
    v.UserId = c.Get<std::uint32_t>();
    v.MsgName = c.Text();
    v.Bytes = c.Rest();
    if (c.Bad())
        return std::nullopt;
    return v;
}

std::string EncodeGap(const std::vector<TGapEntry>& lost) {
    std::string out;
    Put<std::uint32_t>(out, static_cast<std::uint32_t>(lost.size()));
    for (const TGapEntry& e : lost) {
        Put<std::uint16_t>(out, e.Stream);
        Put<std::uint64_t>(out, e.Lost);
    }
    return out;
}

std::optional<std::vector<TGapEntry>> DecodeGap(std::string_view payload) {
    TCursor c(payload);
    const auto n = c.Get<std::uint32_t>();
    if (n > c.Left() / 10)
        return std::nullopt;
    std::vector<TGapEntry> lost(n);
    for (TGapEntry& e : lost) {
        e.Stream = c.Get<std::uint16_t>();
        e.Lost = c.Get<std::uint64_t>();
    }
    if (c.Bad())
        return std::nullopt;
    return lost;
}

} // namespace vorlen::history
