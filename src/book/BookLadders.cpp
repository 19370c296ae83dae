#include "book/BookLadders.h"

#include <cstring>
#include <utility>

namespace vorlen::book_detail {

void TLadders::Apply(const TStoreObserver::TRowChange& c) {
    // No bytes of ours: a deletion of a row the store does not have.
    if (c.Trailer == nullptr)
        return;
    FRunRev = std::max(FRunRev, F.Rev.Int(c.Data, c.Size));
    if (!c.Deleted) {
        Place(c.Trailer, c.ReplId, IsinOf(c.Data, c.Size));
        return;
    }
    const TPlace place = TPlace::From(c.Trailer);
    Gone(place, c.ReplId);
}

void TLadders::EndRun() noexcept {
    if (FTouched.empty() && FRunRev <= FTimes.Highest())
        return;
    const std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
    for (const std::uint32_t i : FTouched) {
        FLadders[i].Updated = now;
        FLadders[i].Touched = true;
    }
    FTouched.clear();
    ++FRun;
    try {
        FTimes.Note(FRunRev, now);
    } catch (...) {
        // Out of memory for a mark: the rows of this run take the next run's time.
    }
}

void TLadders::Place(void* trailer, std::int64_t id, std::int32_t isin) {
    TPlace place = TPlace::From(trailer);
    if (place.Ladder != 0) {
        // The row moved to another instrument.
        Touch(place.Ladder);
        Unlink(place);
        place = {};
        place.To(trailer);
    }
    if (IsHole(id) || !Link(place, id, isin))
        return;
    place.To(trailer);
    Touch(place.Ladder);
}

void TLadders::Gone(const TPlace& place, std::int64_t id) {
    // Only a place that still holds the row: bytes from before a clear name nothing of ours.
    if (place.Ladder == 0 || place.Ladder > FLadders.size())
        return;
    const TLadder& l = FLadders[place.Ladder - 1];
    if (place.At >= l.Rows.size() || l.Rows[place.At] != id)
        return;
    Touch(place.Ladder);
    Unlink(place);
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

bool TLadders::IsinKey(std::size_t& at) const {
    if (FIsinEnd == SIZE_MAX)
        return false;
    at = F.Isin.Desc.offset;
    return true;
}

TLadder& TLadders::LadderOf(std::int32_t isin) {
    TRecent& recent =
        FRecent[(static_cast<std::uint32_t>(isin) * 0x9E3779B9u) >> (32 - kRecentBits)];
    if (recent.Ladder != 0 && recent.Isin == isin)
        return FLadders[recent.Ladder - 1];
    const auto [it, added] = FByIsin.try_emplace(isin, static_cast<std::uint32_t>(FLadders.size()));
    if (added)
        FLadders.emplace_back().Isin = isin;
    recent = {isin, it->second + 1};
    return FLadders[it->second];
}

bool TLadders::Link(TPlace& place, std::int64_t id, std::int32_t isin) {
    TLadder& l = LadderOf(isin);
    const auto ladder = static_cast<std::uint32_t>(&l - FLadders.data()) + 1;
    // Beyond what a place can name (no exchange sends so many) a row stays out of the books.
    if (ladder > TPlace::kMostLadders || (l.FreeAt == kNoHole && l.Rows.size() > TPlace::kMostAt))
        return false;
    if (l.FreeAt == kNoHole) {
        l.Rows.push_back(id);
        place.At = static_cast<std::uint32_t>(l.Rows.size() - 1);
    } else {
        place.At = l.FreeAt;
        l.FreeAt = static_cast<std::uint32_t>(l.Rows[place.At]);
        l.Rows[place.At] = id;
    }
    place.Ladder = ladder;
    place.Isin = isin;
    return true;
}

void TLadders::Unlink(const TPlace& place) {
    TLadder& l = FLadders[place.Ladder - 1];
    if (place.At + 1 == l.Rows.size()) {
        l.Rows.pop_back();
    } else {
        l.Rows[place.At] = kHoleTag | l.FreeAt;
        l.FreeAt = place.At;
    }
}

bool TLadders::Holds(const TLadder& l, std::size_t at, TRowView& row) const {
    row = IsHole(l.Rows[at]) || !FRows ? TRowView() : FRows->Find(l.Rows[at]);
    const void* trailer = row ? FRows->Trailer(row) : nullptr;
    if (trailer == nullptr)
        return false;
    TPlace place = TPlace::From(trailer);
    return place.Ladder == static_cast<std::uint32_t>(&l - FLadders.data()) + 1 && place.At == at;
}

void TLadders::DropGone() {
    TRowView row;
    for (TLadder& l : FLadders) {
        for (std::size_t i = l.Rows.size(); i-- > 0;) {
            if (!IsHole(l.Rows[i]) && !Holds(l, i, row))
                Unlink({l.Isin, static_cast<std::uint32_t>(&l - FLadders.data()) + 1,
                        static_cast<std::uint32_t>(i)});
        }
    }
}

void TLadders::Clear() {
    FTouched.clear();
    FLadders.clear();
    FByIsin.clear();
    FRecent.fill({});
    FSeen.clear();
    FTimes.Clear();
    FRunRev = std::numeric_limits<std::int64_t>::min();
}

const TSeen& TLadders::Look(const TLadder& l, std::size_t depth, std::uint64_t& counter) const {
    const auto index = static_cast<std::size_t>(&l - FLadders.data());
    if (FSeen.size() <= index)
        FSeen.resize(FLadders.size());
    TSeen& seen = FSeen[index];

    FRead.clear();
    std::optional<std::int64_t> newest;
    TRowView row;
    for (std::size_t i = 0; i < l.Rows.size(); ++i) {
        // A row the store let go of without a word (and perhaps took again under its id, placed
        // anew) is not counted twice: only the row that names this place is read.
        if (!Holds(l, i, row))
            continue;
        const std::uint8_t* data = row.Data();
        const std::size_t size = row.Size();
        const std::int64_t rev = F.Rev.Int(data, size);
        newest = std::max(newest.value_or(rev), rev);
        TAggrLevel level;
        level.Volume = F.Volume.Int(data, size);
        const std::int64_t dir = F.Dir.Int(data, size);
        level.Side = static_cast<std::int8_t>(level.Volume <= 0 ? -1
                                              : dir == 1        ? 0
                                              : dir == 2        ? 1
                                                                : -1);
        if (level.Side < 0)
            continue;
        level.Price = F.Price.Number(data, size);
        FRead.push_back(level);
    }
    // Rows sorted best first per side; rows at one price make one level of their sum.
    std::sort(FRead.begin(), FRead.end(), [](const TAggrLevel& a, const TAggrLevel& b) {
        if (a.Side != b.Side)
            return a.Side < b.Side;
        return a.Side == 0 ? a.Price > b.Price : a.Price < b.Price;
    });
    FBids.clear();
    FAsks.clear();
    for (const TAggrLevel& r : FRead) {
        auto& side = r.Side == 0 ? FBids : FAsks;
        if (!side.empty() && side.back().Price == r.Price) {
            side.back().Volume += r.Volume;
            continue;
        }
        if (side.size() < depth)
            side.push_back({r.Price, r.Volume, 0});
    }
    std::optional<std::chrono::system_clock::time_point> updated;
    if (l.Touched)
        updated = l.Updated;
    if (newest) {
        if (const auto came = FTimes.When(*newest))
            updated = std::max(updated.value_or(*came), *came);
    }
    if (seen.Bids != FBids || seen.Asks != FAsks || seen.Updated != updated) {
        seen.Bids.swap(FBids);
        seen.Asks.swap(FAsks);
        seen.Updated = updated;
        seen.Stamp = ++counter;
    }
    return seen;
}

} // namespace vorlen::book_detail
