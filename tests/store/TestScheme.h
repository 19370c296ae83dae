#pragma once

// Hand-made gateway schemes and the bytes of stream-data messages for them, for the store's
// tests, its fuzzer and its benchmark.

#include "gateway/GatewayCInterface.h"
#include "store/Value.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace vorlen::test {

struct TFieldSpec {
    std::string Name;
    std::string Type; // gateway type string: "i8", "c20", "d16.5", "t", ...
    std::size_t Size; // bytes the field takes in the message
};

// The three service fields every replicated table starts with.
inline std::vector<TFieldSpec> ReplFields(std::vector<TFieldSpec> more) {
    std::vector<TFieldSpec> all = {{"replID", "i8", 8}, {"replRev", "i8", 8}, {"replAct", "i8", 8}};
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

// A scheme of fixed-layout records; fields are laid out one after another in the given order.
// Addresses stay put once built, as the gateway's own do while a listener is open.
class TTestScheme {
public:
    TTestScheme& Table(const std::string& name, const std::vector<TFieldSpec>& fields) {
        TMsg& m = FMsgs.emplace_back();
        m.Name = name;
        m.FieldList = fields;
        std::size_t offset = 0;
        for (const TFieldSpec& f : m.FieldList) {
            cg_field_desc_t& d = m.Fields.emplace_back();
            d = {};
            d.name = f.Name.c_str();
            d.fild_type = f.Type.c_str();
            d.size = f.Size;
            d.offset = offset;
            offset += f.Size;
        }
        m.Desc = {};
        m.Desc.name = m.Name.c_str();
        m.Desc.size = offset;
        Link();
        return *this;
    }

    const cg_scheme_desc_t& Desc() const { return FDesc; }
    cg_scheme_desc_t& Desc() { return FDesc; }
    std::size_t Count() const { return FMsgs.size(); }
    std::size_t Index(const std::string& table) const {
        for (std::size_t i = 0; i < FMsgs.size(); ++i)
            if (FMsgs[i].Name == table)
                return i;
        throw std::out_of_range("no table " + table);
    }
    const cg_message_desc_t& Message(std::size_t i) const { return FMsgs[i].Desc; }

private:
    struct TMsg {
        std::string Name;
        std::vector<TFieldSpec> FieldList;
        std::vector<cg_field_desc_t> Fields;
        cg_message_desc_t Desc;
    };

    void Link() {
        cg_message_desc_t* prev = nullptr;
        for (TMsg& m : FMsgs) {
            for (std::size_t i = 0; i < m.Fields.size(); ++i)
                m.Fields[i].next = i + 1 < m.Fields.size() ? &m.Fields[i + 1] : nullptr;
            m.Desc.fields = m.Fields.empty() ? nullptr : m.Fields.data();
            m.Desc.num_fields = m.Fields.size();
            m.Desc.next = nullptr;
            if (prev != nullptr)
                prev->next = &m.Desc;
            prev = &m.Desc;
        }
        FDesc = {};
        FDesc.scheme_type = CG_SCHEME_BIN;
        FDesc.num_messages = FMsgs.size();
        FDesc.messages = FMsgs.empty() ? nullptr : &FMsgs.front().Desc;
    }

    std::deque<TMsg> FMsgs;
    cg_scheme_desc_t FDesc{};
};

// The decimals of these tests: 8 bytes of mantissa, then one byte of scale.
inline std::uint32_t CG_CALL TestBcdGet(const void* bcd, std::int64_t* mantissa,
                                        std::int8_t* scale) {
    std::memcpy(mantissa, bcd, 8);
    std::memcpy(scale, static_cast<const std::uint8_t*>(bcd) + 8, 1);
    return CG_ERR_OK;
}

// The bytes of one message of a table, written field by field.
class TRowBytes {
public:
    TRowBytes(const TTestScheme& scheme, const std::string& table)
        : FDesc(&scheme.Message(scheme.Index(table))), FIndex(scheme.Index(table)),
          Bytes(FDesc->size, 0) {}

    // Integer fields (i and u of any width) take the value's low bytes.
    TRowBytes& Int(const std::string& name, std::int64_t v) {
        const cg_field_desc_t& f = Field(name);
        std::memcpy(Bytes.data() + f.offset, &v, f.size < 8 ? f.size : 8);
        return *this;
    }
    TRowBytes& Text(const std::string& name, const std::string& v) {
        const cg_field_desc_t& f = Field(name);
        std::memset(Bytes.data() + f.offset, 0, f.size);
        std::memcpy(Bytes.data() + f.offset, v.data(), v.size() < f.size ? v.size() : f.size);
        return *this;
    }
    TRowBytes& Decimal(const std::string& name, std::int64_t mantissa, std::int8_t scale) {
        const cg_field_desc_t& f = Field(name);
        std::memcpy(Bytes.data() + f.offset, &mantissa, 8);
        std::memcpy(Bytes.data() + f.offset + 8, &scale, 1);
        return *this;
    }
    TRowBytes& Time(const std::string& name, const cg_time_t& t) {
        std::memcpy(Bytes.data() + Field(name).offset, &t, sizeof t);
        return *this;
    }
    TRowBytes& Key(std::int64_t replId, std::int64_t rev = 1, std::int64_t act = 0) {
        return Int("replID", replId).Int("replRev", rev).Int("replAct", act);
    }

    // A stream-data message over Bytes; valid while this object lives unchanged in size.
    cg_msg_streamdata_t Msg() const { return Msg(Bytes.size()); }
    cg_msg_streamdata_t Msg(std::size_t size) const {
        cg_msg_streamdata_t m{};
        m.type = CG_MSG_STREAM_CHANGED;
        m.data_size = size;
        m.data = const_cast<std::uint8_t*>(Bytes.data());
        m.msg_index = FIndex;
        m.msg_name = FDesc->name;
        return m;
    }

    const cg_field_desc_t& Field(const std::string& name) const {
        for (const cg_field_desc_t* f = FDesc->fields; f != nullptr; f = f->next)
            if (name == f->name)
                return *f;
        throw std::out_of_range("no field " + name);
    }

private:
    const cg_message_desc_t* FDesc;
    std::size_t FIndex;

public:
    std::vector<std::uint8_t> Bytes;
};

// The same value: same kind and same contents, doubles compared bit for bit (NaN included).
inline bool SameValue(const TValue& a, const TValue& b) {
    if (a.index() != b.index())
        return false;
    return std::visit(
        [&](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            const X& y = std::get<X>(b);
            if constexpr (std::is_same_v<X, double>)
                return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
            else if constexpr (std::is_same_v<X, TDateTime>)
                return std::bit_cast<std::uint64_t>(x.Days) == std::bit_cast<std::uint64_t>(y.Days);
            else
                return x == y;
        },
        a);
}

} // namespace vorlen::test
