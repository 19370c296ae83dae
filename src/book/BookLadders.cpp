#include "book/BookLadders.h"

#include <algorithm>
#include <cstring>

namespace vorlen::book_detail {

namespace {

void Touch(TLadder& l, std::uint64_t& counter, TClock::time_point now) {
    l.Stamp = ++counter;
    l.Updated = now;
    l.Touched = true;
}

} // namespace

void TLadders::Apply(const TStoreObserver::TRowChange& c, std::uint64_t& counter,
                     TClock::time_point now) {
    if (c.Deleted) {
        if (const TAggrRow* row = FRows.Find(c.ReplId)) {
            Touch(FLadders[row->Ladder], counter, now);
            Unlink(*row);
            FRows.Erase(c.ReplId);
        }
        return;
    }
    // The message is read before the row is looked up: the look-up may wait for memory, and
    // the reading goes on meanwhile.
    TMessage m;
    Read(c, m);
    TAggrRow* row = FRows.Find(c.ReplId);
    if (row == nullptr) {
        row = &FRows.Insert(c.ReplId);
        Link(*row, m.Isin);
    } else if (FLadders[row->Ladder].Isin != m.Isin) {
        // The row moved to another instrument.
        Touch(FLadders[row->Ladder], counter, now);
        Unlink(*row);
        Link(*row, m.Isin);
    }
    row->Rev = m.Rev;
    if (!m.Raw || row->PriceHead != m.Head || row->PriceTail != m.Tail || !row->PriceRead) {
        row->Price = F.Price.Number(c.Data, c.Size);
        row->PriceHead = m.Head;
        row->PriceTail = m.Tail;
        row->PriceRead = m.Raw;
    }
    row->Volume = m.Volume;
    row->Side = static_cast<std::int8_t>(m.Volume <= 0 ? -1 : m.Dir == 1 ? 0 : m.Dir == 2 ? 1 : -1);
    Touch(FLadders[row->Ladder], counter, now);
}

void TLadders::Describe(const TAggrFields& fields) {
    F = fields;
    // The exchange's own widths: isin_id i4, replRev and volume i8, dir i1, the price a decimal
    // of 8 to 16 bytes. A table laid out so is read without a test per field.
    const auto is = [](const TFieldRef& f, TRead how, std::uint32_t size) {
        return f.How == how && f.Desc.size == size;
    };
    const cg_field_desc_t& price = F.Price.Desc;
    FFixed = is(F.Isin, TRead::Signed, 4) && is(F.Rev, TRead::Signed, 8) &&
             is(F.Volume, TRead::Signed, 8) && is(F.Dir, TRead::Signed, 1) &&
             F.Price.How == TRead::Decimal && price.size >= 8 && price.size <= 16;
    FFixedEnd = 0;
    for (const TFieldRef* f : {&F.Isin, &F.Rev, &F.Volume, &F.Dir, &F.Price})
        FFixedEnd = std::max<std::size_t>(FFixedEnd, std::size_t{f->Desc.offset} + f->Desc.size);
}

void TLadders::Read(const TStoreObserver::TRowChange& c, TMessage& m) const {
    const auto* p = static_cast<const std::uint8_t*>(c.Data);
    if (FFixed && c.Size >= FFixedEnd) {
        m.Isin = static_cast<std::int32_t>(TFieldRef::Load<std::int32_t>(p + F.Isin.Desc.offset));
        m.Rev = TFieldRef::Load<std::int64_t>(p + F.Rev.Desc.offset);
        m.Volume = TFieldRef::Load<std::int64_t>(p + F.Volume.Desc.offset);
        m.Dir = TFieldRef::Load<std::int8_t>(p + F.Dir.Desc.offset);
    } else {
        m.Isin = static_cast<std::int32_t>(F.Isin.Int(c.Data, c.Size));
        m.Rev = F.Rev.Int(c.Data, c.Size);
        m.Volume = F.Volume.Int(c.Data, c.Size);
        m.Dir = F.Dir.Int(c.Data, c.Size);
    }
    const cg_field_desc_t& d = F.Price.Desc;
    m.Raw = F.Price.How == TRead::Decimal && d.size >= 8 && d.size <= 16 && d.offset <= c.Size &&
            d.size <= c.Size - d.offset;
    if (m.Raw) {
        std::memcpy(&m.Head, p + d.offset, sizeof m.Head);
        std::memcpy(&m.Tail, p + d.offset + d.size - sizeof m.Tail, sizeof m.Tail);
    }
}

TLadder& TLadders::LadderOf(std::int32_t isin) {
    const auto [it, added] = FByIsin.try_emplace(isin, static_cast<std::uint32_t>(FLadders.size()));
    if (added)
        FLadders.emplace_back().Isin = isin;
    return FLadders[it->second];
}

void TLadders::Link(TAggrRow& row, std::int32_t isin) {
    TLadder& l = LadderOf(isin);
    row.Ladder = static_cast<std::uint32_t>(&l - FLadders.data());
    if (l.Holes.empty()) {
        row.At = static_cast<std::uint32_t>(l.Rows.size());
        l.Rows.push_back(row.Id);
    } else {
        row.At = l.Holes.back();
        l.Holes.pop_back();
        l.Rows[row.At] = row.Id;
    }
}

void TLadders::Unlink(const TAggrRow& row) {
    TLadder& l = FLadders[row.Ladder];
    if (row.At + 1 == l.Rows.size()) {
        l.Rows.pop_back();
    } else {
        l.Rows[row.At] = kHole;
        l.Holes.push_back(row.At);
    }
}

void TLadders::DropBelow(std::int64_t rev) {
    for (TLadder& l : FLadders) {
        for (std::size_t i = l.Rows.size(); i-- > 0;) {
            if (l.Rows[i] == kHole)
                continue;
            const std::int64_t id = l.Rows[i];
            if (const TAggrRow* row = FRows.Find(id); row->Rev < rev) {
                Unlink(*row);
                FRows.Erase(id);
            }
        }
    }
}

void TLadders::Clear() {
    FRows.Clear();
    FLadders.clear();
    FByIsin.clear();
}

} // namespace vorlen::book_detail
