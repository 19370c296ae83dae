#pragma once

// Fills one record of a table by field name; a name the table lacks is a bug in the seeding
// code and stops the router at once, so a typo cannot ship a silently empty column.

#include "../common/Row.h"
#include "../common/Text.h"
#include "Market.h"

#include <cstdio>
#include <cstdlib>

namespace vsim {

class RowMaker {
public:
    RowMaker(Market& m, Stream& s, std::string_view table)
        : m_(m), s_(s), t_(Market::TableIndex(s, table)) {
        if (t_ < 0) {
            Die(table);
        }
        def_ = s.tables[static_cast<std::size_t>(t_)].def;
        data_.assign(def_->size, '\0');
    }

    RowMaker& I(std::string_view f, std::int64_t v) {
        PutInt(data_.data(), F(f), v);
        return *this;
    }
    RowMaker& C(std::string_view f, std::string_view utf8) {
        PutText(data_.data(), F(f), Utf8ToCp1251(utf8));
        return *this;
    }
    RowMaker& D(std::string_view f, double v) {
        const FieldDef& fd = F(f);
        PutDecimal(&data_[fd.offset], v, fd.scale);
        return *this;
    }
    // A price kept in 1e-5 units.
    RowMaker& P(std::string_view f, std::int64_t price) {
        PutDecimal(&data_[F(f).offset], price, static_cast<std::int8_t>(5));
        return *this;
    }
    RowMaker& T(std::string_view f, const Time& t) {
        PutTime(&data_[F(f).offset], t);
        return *this;
    }
    // Stores the row under id, or under the table's next id when id is 0; returns the id.
    std::int64_t Put(std::int64_t id = 0) {
        if (id == 0) {
            id = m_.NextId(s_, t_);
        }
        m_.Upsert(s_, t_, id, std::move(data_));
        data_.assign(def_->size, '\0');
        return id;
    }

private:
    const FieldDef& F(std::string_view f) const {
        const FieldDef* fd = def_->Field(f);
        if (fd == nullptr) {
            Die(f);
        }
        return *fd;
    }
    [[noreturn]] void Die(std::string_view what) const {
        std::fprintf(stderr, "%s: no table or field %.*s\n", s_.def->name.c_str(),
                     static_cast<int>(what.size()), what.data());
        std::abort();
    }

    Market& m_;
    Stream& s_;
    int t_;
    const TableDef* def_ = nullptr;
    std::string data_;
};

} // namespace vsim
