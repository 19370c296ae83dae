#include "book/BookLadders.h"

#include <cstring>
#include <utility>

namespace vorlen::book_detail {

void TLadders::Apply(const TStoreObserver::TRowChange& c, std::uint64_t& counter) {
    // No bytes of ours: a deletion of a row the store does not have.
    if (c.Trailer == nullptr)
        return;
    if (!c.Deleted) {
        Place(c.Trailer, c.ReplId, IsinOf(c.Data, c.Size), counter);
        return;
    }
    TPlace place;
    std::memcpy(&place, c.Trailer, sizeof place);
    if (place.Ladder != 0) {
        Touch(place.Ladder, counter);
        Unlink(place);
    }
}

void TLadders::EndRun() noexcept {
    if (FTouched.empty())
        return;
    const TClock::time_point now = TClock::now();
    for (const std::uint32_t i : FTouched) {
        FLadders[i].Updated = now;
        FLadders[i].Touched = true;
    }
    FTouched.clear();
    ++FRun;
}

void TLadders::Place(void* trailer, std::int64_t id, std::int32_t isin, std::uint64_t& counter) {
    TPlace place;
    std::memcpy(&place, trailer, sizeof place);
    if (place.Ladder == 0) {
        Link(place, id, isin);
        std::memcpy(trailer, &place, sizeof place);
    } else if (FLadders[place.Ladder - 1].Isin != isin) {
        // The row moved to another instrument.
        Touch(place.Ladder, counter);
        Unlink(place);
        Link(place, id, isin);
        std::memcpy(trailer, &place, sizeof place);
    }
    Touch(place.Ladder, counter);
}

void TLadders::Describe(const TAggrFields& fields, std::shared_ptr<const TRows> rows) {
    Clear();
    F = fields;
    FRows = std::move(rows);
    // The exchange's own isin_id, a four-byte integer, is read without a test of its kind.
    const cg_field_desc_t& isin = F.Isin.Desc;
    FIsinEnd =
        F.Isin.How == TRead::Signed && isin.size == 4 ? std::size_t{isin.offset} + 4 : SIZE_MAX;
}

TLadder& TLadders::LadderOf(std::int32_t isin) {
    const auto [it, added] = FByIsin.try_emplace(isin, static_cast<std::uint32_t>(FLadders.size()));
    if (added)
        FLadders.emplace_back().Isin = isin;
    return FLadders[it->second];
}

void TLadders::Link(TPlace& place, std::int64_t id, std::int32_t isin) {
    TLadder& l = LadderOf(isin);
    place.Ladder = static_cast<std::uint32_t>(&l - FLadders.data()) + 1;
    if (l.Holes.empty()) {
        place.At = static_cast<std::uint32_t>(l.Rows.size());
        l.Rows.push_back(id);
    } else {
        place.At = l.Holes.back();
        l.Holes.pop_back();
        l.Rows[place.At] = id;
    }
}

void TLadders::Unlink(const TPlace& place) {
    TLadder& l = FLadders[place.Ladder - 1];
    if (place.At + 1 == l.Rows.size()) {
        l.Rows.pop_back();
    } else {
        l.Rows[place.At] = kHole;
        l.Holes.push_back(place.At);
    }
}

bool TLadders::Holds(const TLadder& l, std::size_t at, TRowView& row) const {
    row = l.Rows[at] == kHole || !FRows ? TRowView() : FRows->Find(l.Rows[at]);
    const void* trailer = row ? FRows->Trailer(row) : nullptr;
    if (trailer == nullptr)
        return false;
    TPlace place;
    std::memcpy(&place, trailer, sizeof place);
    return place.Ladder == static_cast<std::uint32_t>(&l - FLadders.data()) + 1 && place.At == at;
}

void TLadders::DropGone() {
    TRowView row;
    for (TLadder& l : FLadders) {
        for (std::size_t i = l.Rows.size(); i-- > 0;) {
            if (l.Rows[i] != kHole && !Holds(l, i, row))
                Unlink({static_cast<std::uint32_t>(&l - FLadders.data()) + 1,
                        static_cast<std::uint32_t>(i)});
        }
    }
}

void TLadders::Clear() {
    FTouched.clear();
    FLadders.clear();
    FByIsin.clear();
}

void TLadders::Read(const TLadder& l, std::vector<TAggrLevel>& out) const {
    out.clear();
    out.reserve(l.Rows.size());
    TRowView row;
    for (std::size_t i = 0; i < l.Rows.size(); ++i) {
        // A row the store let go of without a word (and perhaps took again under its id, placed
        // anew) is not counted twice: only the row that names this place is read.
        if (!Holds(l, i, row))
            continue;
        const std::uint8_t* data = row.Data();
        const std::size_t size = row.Size();
        TAggrLevel level;
        level.Volume = F.Volume.Int(data, size);
        const std::int64_t dir = F.Dir.Int(data, size);
        level.Side = static_cast<std::int8_t>(level.Volume <= 0 ? -1
                                              : dir == 1        ? 0
                                              : dir == 2        ? 1
                                                                : -1);
        if (level.Side >= 0)
            level.Price = F.Price.Number(data, size);
        out.push_back(level);
    }
}

} // namespace vorlen::book_detail
