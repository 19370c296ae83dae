#include "book/BookRowIndex.h"

#include <utility>

namespace vorlen::book_detail {

TAggrRow& TRowIndex::Insert(std::int64_t id) {
    if ((FSize + 1) * 4 > (FMask + 1) * 3)
        Rehash((FMask + 1) * 2);
    std::size_t i = Home(id);
    while (FSlots[i].Held)
        i = (i + 1) & FMask;
    TAggrRow& s = FSlots[i];
    s = TAggrRow{};
    s.Id = id;
    s.Held = true;
    ++FSize;
    return s;
}

void TRowIndex::Erase(std::int64_t id) {
    std::size_t i = Home(id);
    for (;; i = (i + 1) & FMask) {
        if (!FSlots[i].Held)
            return;
        if (FSlots[i].Id == id)
            break;
    }
    // Every entry after the gap whose home lies at or before the gap moves into it; one whose
    // home lies between the gap and itself must stay, or a look-up would stop short.
    for (std::size_t j = i;;) {
        j = (j + 1) & FMask;
        if (!FSlots[j].Held)
            break;
        const std::size_t home = Home(FSlots[j].Id);
        if (i <= j ? (i < home && home <= j) : (i < home || home <= j))
            continue;
        FSlots[i] = FSlots[j];
        i = j;
    }
    FSlots[i].Held = false;
    --FSize;
}

void TRowIndex::Clear() {
    TRowIndex empty;
    std::swap(FSlots, empty.FSlots);
    std::swap(FMask, empty.FMask);
    std::swap(FShift, empty.FShift);
    std::swap(FSize, empty.FSize);
}

void TRowIndex::Rehash(std::size_t capacity) {
    auto old = std::exchange(FSlots, std::make_unique<TAggrRow[]>(capacity));
    const std::size_t oldCapacity = FMask + 1;
    FMask = capacity - 1;
    FShift = 64;
    for (std::size_t c = capacity; c > 1; c >>= 1)
        --FShift;
    for (std::size_t k = 0; k < oldCapacity; ++k) {
        if (!old[k].Held)
            continue;
        std::size_t i = Home(old[k].Id);
        while (FSlots[i].Held)
            i = (i + 1) & FMask;
        FSlots[i] = old[k];
    }
}

} // namespace vorlen::book_detail
