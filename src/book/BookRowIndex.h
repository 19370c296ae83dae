#pragma once

// Replication id -> the book's copy of an aggregated row, the rows held in the index's own
// slots. A message then costs the book one cache line that the store does not touch itself;
// with the rows elsewhere, or behind a hash table's control bytes, it would be two lines, the
// second known only after waiting for the first.
//
// Open addressing with linear probing and no tombstones (a removal shifts the entries behind it
// back), so a table that sees as many removals as insertions never needs a rebuild. A row found
// stays where it is only until the next insertion or removal.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vorlen::book_detail {

// One aggregated row as the book keeps it, and the index's slot: one cache line.
struct alignas(64) TAggrRow {
    std::int64_t Id = 0;
    std::int64_t Rev = 0;
    double Price = 0;
    // The price's bytes as received (the first and the last eight), so that a message that
    // leaves the price as it was, most of them, is not decoded again.
    std::uint64_t PriceHead = 0, PriceTail = 0;
    std::int64_t Volume = 0;
    std::uint32_t Ladder = 0; // the instrument's ladder, by position
    std::uint32_t At = 0;     // the row's place in that ladder
    std::int8_t Side = -1;    // 0 bid, 1 ask, -1 not a level (no volume, or no known direction)
    bool Held = false;        // the slot holds a row
    bool PriceRead = false;   // Price was decoded from PriceHead and PriceTail
};

class TRowIndex {
public:
    std::size_t Size() const { return FSize; }

    TAggrRow* Find(std::int64_t id) {
        for (std::size_t i = Home(id);; i = (i + 1) & FMask) {
            TAggrRow& s = FSlots[i];
            if (!s.Held)
                return nullptr;
            if (s.Id == id)
                return &s;
        }
    }
    const TAggrRow* Find(std::int64_t id) const { return const_cast<TRowIndex*>(this)->Find(id); }

    // A new row under `id`, which must not be present.
    TAggrRow& Insert(std::int64_t id);
    void Erase(std::int64_t id);
    void Clear();

private:
    std::size_t Home(std::int64_t id) const {
        // Fibonacci hashing: the high bits of the product spread consecutive ids over the table.
        return static_cast<std::size_t>((static_cast<std::uint64_t>(id) * 0x9E3779B97F4A7C15ull) >>
                                        FShift);
    }
    void Rehash(std::size_t capacity);

    // Never empty, so a look-up needs no test for it.
    std::unique_ptr<TAggrRow[]> FSlots = std::make_unique<TAggrRow[]>(kMinSlots);
    std::size_t FMask = kMinSlots - 1;
    unsigned FShift = 64 - kMinBits;
    std::size_t FSize = 0;
    static constexpr unsigned kMinBits = 4;
    static constexpr std::size_t kMinSlots = std::size_t{1} << kMinBits;
};

} // namespace vorlen::book_detail
