#pragma once

// Replication id → row, for the rows of one table.
//
// Open addressing with linear probing: a lookup reads one or two neighbouring slots of one
// array, where a node-based map would follow a pointer per step. A removal shifts the entries
// behind it back into the gap (no tombstones), so a table that sees many deletions never needs
// a rebuild to stay quick. An empty slot holds a null row. A big table's slots come straight
// from the system, on large pages where it can (platform/PageMemory.h): a probe then rarely
// waits for an address translation as well as for the slot.

#include "platform/Compiler.h"
#include "platform/PageMemory.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace vorlen {

template <class TRec>
class TIdMap {
public:
    TIdMap() = default;
    ~TIdMap() { Clear(); }
    TIdMap(const TIdMap&) = delete;
    TIdMap& operator=(const TIdMap&) = delete;
    TIdMap(TIdMap&& o) noexcept { Swap(o); }
    TIdMap& operator=(TIdMap&& o) noexcept {
        TIdMap tmp(std::move(o));
        Swap(tmp);
        return *this;
    }

    std::size_t Size() const { return FSize; }
    // Slots held, used or not.
    std::size_t Capacity() const { return FSlots ? FMask + 1 : 0; }

    TRec* Find(std::int64_t key) const {
        if (!FSlots)
            return nullptr;
        for (std::size_t i = Home(key);; i = (i + 1) & FMask) {
            const TSlot& s = FSlots[i];
            if (s.Rec == nullptr)
                return nullptr;
            if (s.Key == key)
                return s.Rec;
        }
    }

    // Asks for the cache line of `key`'s first slot, so that a Find a little later does not
    // wait for it from memory.
    void Prefetch(std::int64_t key) const {
        if (FSlots)
            platform::Prefetch(&FSlots[Home(key)]);
    }

    // `key` must not be present and `rec` must not be null.
    void Insert(std::int64_t key, TRec* rec) {
        if ((FSize + 1) * 4 > Capacity() * 3)
            Grow();
        std::size_t i = Home(key);
        while (FSlots[i].Rec != nullptr)
            i = (i + 1) & FMask;
        FSlots[i] = {key, rec};
        ++FSize;
    }

    bool Erase(std::int64_t key) {
        if (!FSlots)
            return false;
        std::size_t i = Home(key);
        for (;; i = (i + 1) & FMask) {
            if (FSlots[i].Rec == nullptr)
                return false;
            if (FSlots[i].Key == key)
                break;
        }
        // Every entry after the gap whose home lies at or before the gap moves into it; one
        // whose home lies between the gap and itself must stay, or a lookup would stop short.
        for (std::size_t j = i;;) {
            j = (j + 1) & FMask;
            if (FSlots[j].Rec == nullptr)
                break;
            const std::size_t home = Home(FSlots[j].Key);
            const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
            if (stays)
                continue;
            FSlots[i] = FSlots[j];
            i = j;
        }
        FSlots[i] = TSlot{};
        --FSize;
        return true;
    }

    // Forgets every entry and frees the slots.
    void Clear() noexcept {
        Free(FSlots, Capacity());
        FSlots = nullptr;
        FMask = 0;
        FShift = 64;
        FSize = 0;
    }

    void Swap(TIdMap& o) noexcept {
        std::swap(FSlots, o.FSlots);
        std::swap(FMask, o.FMask);
        std::swap(FShift, o.FShift);
        std::swap(FSize, o.FSize);
    }

private:
    struct TSlot {
        std::int64_t Key = 0;
        TRec* Rec = nullptr;
    };

    // Fibonacci hashing: the high bits of the product spread consecutive ids over the table.
    std::size_t Home(std::int64_t key) const {
        return static_cast<std::size_t>((static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull) >>
                                        FShift);
    }

    static constexpr std::size_t kPageSlots = (std::size_t{1} << 20) / sizeof(TSlot);

    // Zeroed slots: every one empty.
    static TSlot* Allocate(std::size_t capacity) {
        if (capacity < kPageSlots)
            return new TSlot[capacity]();
        void* p = platform::AllocatePages(capacity * sizeof(TSlot));
        if (p == nullptr)
            throw std::bad_alloc();
        return static_cast<TSlot*>(p);
    }
    static void Free(TSlot* block, std::size_t capacity) noexcept {
        if (block == nullptr)
            return;
        if (capacity < kPageSlots)
            delete[] block;
        else
            platform::FreePages(block, capacity * sizeof(TSlot));
    }

    void Grow() {
        const std::size_t capacity = FSlots ? (FMask + 1) * 2 : 16;
        TSlot* old = FSlots;
        const std::size_t oldCapacity = old ? FMask + 1 : 0;
        FSlots = Allocate(capacity);
        FMask = capacity - 1;
        FShift = 64;
        for (std::size_t c = capacity; c > 1; c >>= 1)
            --FShift;
        for (std::size_t k = 0; k < oldCapacity; ++k) {
            if (old[k].Rec == nullptr)
                continue;
            std::size_t i = Home(old[k].Key);
            while (FSlots[i].Rec != nullptr)
                i = (i + 1) & FMask;
            FSlots[i] = old[k];
        }
        Free(old, oldCapacity);
    }

    TSlot* FSlots = nullptr;
    std::size_t FMask = 0;
    unsigned FShift = 64;
    std::size_t FSize = 0;
};

} // namespace vorlen
