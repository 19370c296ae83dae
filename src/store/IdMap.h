#pragma once

// Replication id → row, for the rows of one table.
//
// Open addressing with linear probing: a lookup reads one or two neighbouring slots of one
// array, where a node-based map would follow a pointer per step. A removal shifts the entries
// behind it back into the gap (no tombstones), so a table that sees many deletions never needs
// a rebuild to stay quick. An empty slot holds a null row. A big table's slots come straight
// from the system (platform/PageMemory.h), zeroed and given back whole when the map goes.
//
// The map is filled on the market-data thread under the store's lock, where a stall of a few
// milliseconds is a late market, so it never grows in one go: moving a hundred thousand entries
// and faulting in their new pages took 1-12 ms of that thread (bench_e2e --stalls). A big map
// asks for its next slots at 5/8 full and faults them in a page per insert; at 3/4 it switches
// to them, and every insert or erase after that moves a few of the old slots across. Until
// they are all across, a key is in exactly one of the two arrays, looked for first in the one
// where it most likely is (the old one while its home there has not been passed); a key taken
// from the old one leaves a mark there, so the probes of those behind it still reach them.

#include "platform/Compiler.h"
#include "platform/PageMemory.h"

#include <algorithm>
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
    // Slots of the array inserts go to, used or not.
    std::size_t Capacity() const { return FNew.Capacity(); }
    // Whether old slots are still waiting to move across.
    bool Moving() const { return FOld.Slots != nullptr; }

    TRec* Find(std::int64_t key) const {
        if (FOld.Slots != nullptr) [[unlikely]]
            return FindMoving(key);
        TSlot* s = FNew.template Find<false>(key);
        return s != nullptr ? s->Rec : nullptr;
    }

    // Asks for the cache line of `key`'s first slot, so that a Find a little later does not
    // wait for it from memory.
    void Prefetch(std::int64_t key) const {
        if (FNew.Slots)
            platform::Prefetch(&FNew.Slots[FNew.Home(key)]);
    }

    // `key` must not be present and `rec` must not be null.
    void Insert(std::int64_t key, TRec* rec) {
        if ((FSize + 1) * 4 > Capacity() * 3)
            Switch();
        else if (FNext.Slots == nullptr && FOld.Slots == nullptr &&
                 (FSize + 1) * 8 > Capacity() * 5 && Capacity() * 2 >= kPageSlots)
            FNext = TArray::Make(Capacity() * 2);
        FNew.Put(key, rec);
        ++FSize;
        Step();
    }

    bool Erase(std::int64_t key) {
        // Looked for first where it most likely is, as Find does.
        const bool oldFirst = FOld.Slots != nullptr && StillOld(key);
        if (!oldFirst || !TakeOld(key)) {
            if (!FNew.Erase(key) && (oldFirst || !TakeOld(key)))
                return false;
        }
        --FSize;
        Step();
        return true;
    }

    // Forgets every entry and frees the slots.
    void Clear() noexcept {
        FNew.Free();
        FOld.Free();
        FNext.Free();
        FMoved = FTouched = 0;
        FSize = 0;
    }

    void Swap(TIdMap& o) noexcept {
        std::swap(FNew, o.FNew);
        std::swap(FOld, o.FOld);
        std::swap(FNext, o.FNext);
        std::swap(FMoved, o.FMoved);
        std::swap(FTouched, o.FTouched);
        std::swap(FSize, o.FSize);
    }

private:
    struct TSlot {
        std::int64_t Key = 0;
        TRec* Rec = nullptr;
    };

    static constexpr std::size_t kPageSlots = (std::size_t{1} << 20) / sizeof(TSlot);
    // Old slots moved across per insert or erase: the old array is gone after an eighth of the
    // inserts that would fill the new one to 5/8, whatever the erases do. Few enough that an
    // insert costs microseconds, many enough that the lookups of two arrays do not last.
    static constexpr std::size_t kMovesPerStep = 16;
    // Slots a page of the next array holds: one write faults it in.
    static constexpr std::size_t kTouchSlots = 4096 / sizeof(TSlot);

    // An old slot whose entry was taken (moved across or erased): probes go on past it.
    static TRec* Gone() {
        static TRec mark{};
        return &mark;
    }

    struct TArray {
        TSlot* Slots = nullptr;
        std::size_t Mask = 0;
        unsigned Shift = 64;

        std::size_t Capacity() const { return Slots ? Mask + 1 : 0; }
        // Fibonacci hashing: the high bits of the product spread consecutive ids over the table.
        std::size_t Home(std::int64_t key) const {
            return static_cast<std::size_t>(
                (static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> Shift);
        }
        // Zeroed slots: every one empty.
        static TArray Make(std::size_t capacity) {
            TArray a;
            if (capacity < kPageSlots) {
                a.Slots = new TSlot[capacity]();
            } else {
                void* p = platform::AllocatePages(capacity * sizeof(TSlot));
                if (p == nullptr)
                    throw std::bad_alloc();
                a.Slots = static_cast<TSlot*>(p);
            }
            a.Mask = capacity - 1;
            for (std::size_t c = capacity; c > 1; c >>= 1)
                --a.Shift;
            return a;
        }
        void Free() noexcept {
            if (Slots != nullptr) {
                if (Capacity() < kPageSlots)
                    delete[] Slots;
                else
                    platform::FreePages(Slots, Capacity() * sizeof(TSlot));
            }
            *this = TArray{};
        }
        // `Marked`: the old array, where taken entries leave a mark.
        template <bool Marked>
        TSlot* Find(std::int64_t key) const {
            if (!Slots)
                return nullptr;
            for (std::size_t i = Home(key);; i = (i + 1) & Mask) {
                TSlot& s = Slots[i];
                if (s.Rec == nullptr)
                    return nullptr;
                if (s.Key == key && (!Marked || s.Rec != Gone()))
                    return &s;
            }
        }
        // Room is the caller's to ensure.
        void Put(std::int64_t key, TRec* rec) {
            std::size_t i = Home(key);
            while (Slots[i].Rec != nullptr)
                i = (i + 1) & Mask;
            Slots[i] = {key, rec};
        }
        // Only for an array without marks: every entry after the gap whose home lies at or
        // before the gap moves into it; one whose home lies between the gap and itself must
        // stay, or a lookup would stop short.
        bool Erase(std::int64_t key) {
            if (!Slots)
                return false;
            std::size_t i = Home(key);
            for (;; i = (i + 1) & Mask) {
                if (Slots[i].Rec == nullptr)
                    return false;
                if (Slots[i].Key == key)
                    break;
            }
            for (std::size_t j = i;;) {
                j = (j + 1) & Mask;
                if (Slots[j].Rec == nullptr)
                    break;
                const std::size_t home = Home(Slots[j].Key);
                const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
                if (stays)
                    continue;
                Slots[i] = Slots[j];
                i = j;
            }
            Slots[i] = TSlot{};
            return true;
        }
    };

    // Marks `key`'s old slot taken; false when the old array does not hold it.
    bool TakeOld(std::int64_t key) {
        TSlot* s = FOld.Slots != nullptr ? FOld.template Find<true>(key) : nullptr;
        if (s == nullptr)
            return false;
        s->Rec = Gone();
        return true;
    }

    // Whether `key`, if held, is most likely still in the old array: its home there is past the
    // slots moved so far (unless its probe wrapped round to the array's start).
    bool StillOld(std::int64_t key) const { return FOld.Home(key) >= FMoved; }

    // A key is looked for first where it most likely is: a change of a row not yet moved costs
    // one probe, as it did before the map grew.
    TRec* FindMoving(std::int64_t key) const {
        const bool old = StillOld(key);
        const TArray& first = old ? FOld : FNew;
        const TArray& second = old ? FNew : FOld;
        TSlot* s = old ? first.template Find<true>(key) : first.template Find<false>(key);
        if (s == nullptr)
            s = old ? second.template Find<false>(key) : second.template Find<true>(key);
        return s != nullptr ? s->Rec : nullptr;
    }

    // The next array takes the inserts from now on; the current one's entries follow a few at
    // a time (Step).
    void Switch() {
        // Moving is done long before the new array fills (kMovesPerStep); should a map ever get
        // here with some left, they go now.
        while (FOld.Slots != nullptr)
            MoveSome(FOld.Capacity());
        if (FNext.Slots == nullptr)
            FNext = TArray::Make(FNew.Slots ? Capacity() * 2 : 16);
        FTouched = 0;
        FOld = FNew;
        FNew = FNext;
        FNext = TArray{};
        FMoved = 0;
        if (FOld.Capacity() == 0)
            FOld = TArray{};
    }

    void Step() {
        if (FOld.Slots != nullptr) {
            MoveSome(kMovesPerStep);
        } else if (FNext.Slots != nullptr && FTouched < FNext.Capacity()) {
            // A store, not a read: a read of an untouched page maps the shared zero page and
            // the write would fault again later.
            FNext.Slots[FTouched].Key = 0;
            FTouched += kTouchSlots;
        }
    }

    void MoveSome(std::size_t count) {
        const std::size_t end = std::min(FOld.Capacity(), FMoved + count);
        for (; FMoved < end; ++FMoved) {
            TSlot& s = FOld.Slots[FMoved];
            if (s.Rec == nullptr || s.Rec == Gone())
                continue;
            FNew.Put(s.Key, s.Rec);
            s.Rec = Gone();
        }
        if (FMoved == FOld.Capacity()) {
            FOld.Free();
            FMoved = 0;
        }
    }

    TArray FNew;  // inserts go here
    TArray FOld;  // entries still to move into FNew, from FMoved on
    TArray FNext; // FNew's successor, its pages faulted in up to FTouched
    std::size_t FMoved = 0;
    std::size_t FTouched = 0;
    std::size_t FSize = 0;
};

} // namespace vorlen
