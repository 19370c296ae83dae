#pragma once

// Frames between the gateway library and the router over one TCP connection. A frame is a
// 32-bit body length, a one-byte kind, then the body; integers are little-endian (both sides run
// on x86-64), strings are a 16-bit length and bytes. Rows and messages travel as the fixed-layout
// records of the catalogue, so neither side converts them.
//
//   library -> router                         router -> library
//   Hello     version, app, name               Welcome    version, server
//   Subscribe sub, stream, lifenum, tables     Opened     sub
//   Unsubscribe sub                            Refused    sub, reason
//   Post      post, msg id, name, record       LifeNum    sub, life, flags
//                                              Row        sub, slot, rev, record
//                                              Online     sub
//                                              ClearDel   sub, slot, rev
//                                              ReplState  sub, text
//                                              Reply      post, msg id, record

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace vsim::wire {

inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::uint32_t kHeaderSize = 5;
inline constexpr std::uint32_t kMaxBody = 16u << 20;

enum class Kind : std::uint8_t {
    Hello = 1,
    Subscribe = 2,
    Unsubscribe = 3,
    Post = 4,
    Welcome = 20,
    Opened = 21,
    Refused = 22,
    LifeNum = 23,
    Row = 24,
    Online = 25,
    ClearDeleted = 26,
    ReplState = 27,
    Reply = 28,
};

// Appends frames to a byte buffer; Begin/End bracket one frame and patch its length.
class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}

    void Begin(Kind kind) {
        start_ = out_.size();
        out_.append(4, '\0');
        out_.push_back(static_cast<char>(kind));
    }
    void End() {
        const auto body = static_cast<std::uint32_t>(out_.size() - start_ - kHeaderSize);
        std::memcpy(&out_[start_], &body, 4);
    }
    template <typename T>
    void Put(T v) {
        char b[sizeof(T)];
        std::memcpy(b, &v, sizeof(T));
        out_.append(b, sizeof(T));
    }
    void Str(std::string_view s) {
        Put(static_cast<std::uint16_t>(s.size()));
        out_.append(s.data(), s.size());
    }
    void Bytes(const void* p, std::size_t n) { out_.append(static_cast<const char*>(p), n); }

private:
    std::string& out_;
    std::size_t start_ = 0;
};

// A table row to a subscription: its listener, the table's slot in its subscription, the row's
// revision and its bytes in the stream's layout.
inline void PutRow(std::string& out, std::uint32_t sub, std::uint16_t slot, std::int64_t rev,
                   std::string_view data) {
    Writer w(out);
    w.Begin(Kind::Row);
    w.Put(sub);
    w.Put(slot);
    w.Put(rev);
    w.Bytes(data.data(), data.size());
    w.End();
}

// Reads one frame body; every read is bounds-checked and turns ok() false on overrun.
class Reader {
public:
    Reader(const char* p, std::size_t n) : p_(p), end_(p + n) {}

    template <typename T>
    T Get() {
        T v{};
        if (static_cast<std::size_t>(end_ - p_) < sizeof(T)) {
            ok_ = false;
            p_ = end_;
            return v;
        }
        std::memcpy(&v, p_, sizeof(T));
        p_ += sizeof(T);
        return v;
    }
    std::string Str() {
        const auto n = Get<std::uint16_t>();
        if (static_cast<std::size_t>(end_ - p_) < n) {
            ok_ = false;
            p_ = end_;
            return {};
        }
        std::string s(p_, n);
        p_ += n;
        return s;
    }
    const char* Rest(std::size_t& n) {
        n = static_cast<std::size_t>(end_ - p_);
        const char* r = p_;
        p_ = end_;
        return r;
    }
    bool ok() const { return ok_; }

private:
    const char* p_;
    const char* end_;
    bool ok_ = true;
};

// Splits a receive buffer into frames: true and the frame's kind and body when a whole frame
// starts at pos (pos then moves past it); bad is set on a frame longer than kMaxBody.
inline bool NextFrame(const char* buf, std::size_t len, std::size_t& pos, Kind& kind,
                      const char*& body, std::size_t& bodyLen, bool& bad) {
    if (len - pos < kHeaderSize) {
        return false;
    }
    std::uint32_t n = 0;
    std::memcpy(&n, buf + pos, 4);
    if (n > kMaxBody) {
        bad = true;
        return false;
    }
    if (len - pos - kHeaderSize < n) {
        return false;
    }
    kind = static_cast<Kind>(static_cast<unsigned char>(buf[pos + 4]));
    body = buf + pos + kHeaderSize;
    bodyLen = n;
    pos += kHeaderSize + n;
    return true;
}

} // namespace vsim::wire
