#pragma once

// A growing array kept in pieces of a fixed size: appending never moves what is there.
//
// A table's arrival order takes a pointer per row, appended on the market-data thread under
// the store's lock. As one std::vector, every doubling copied the whole order into fresh memory
// and faulted it in: 0.5-2.6 ms of that thread in one message at 130 000 rows, twice that at
// each doubling after (bench_e2e --stalls). Here a new piece costs one allocation of 8 KB (a
// small table, most of them, holds no more), and reading an element one more load, which the
// piece's pointer usually saves from memory.

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace vorlen {

template <class T>
class TPieces {
public:
    static constexpr std::size_t kShift = 10;
    static constexpr std::size_t kPiece = std::size_t{1} << kShift; // elements
    static constexpr std::size_t kMask = kPiece - 1;

    TPieces() = default;
    TPieces(const TPieces&) = delete;
    TPieces& operator=(const TPieces&) = delete;
    // The one moved from is left empty, as a vector is.
    TPieces(TPieces&& o) noexcept { swap(o); }
    TPieces& operator=(TPieces&& o) noexcept {
        TPieces tmp(std::move(o));
        swap(tmp);
        return *this;
    }

    std::size_t size() const { return FSize; }
    bool empty() const { return FSize == 0; }

    T& operator[](std::size_t i) { return FPieces[i >> kShift][i & kMask]; }
    const T& operator[](std::size_t i) const { return FPieces[i >> kShift][i & kMask]; }

    void push_back(T value) {
        if (FSize == FPieces.size() * kPiece)
            FPieces.push_back(std::make_unique<T[]>(kPiece));
        (*this)[FSize++] = std::move(value);
    }

    // Keeps the first `n` elements (no more than there are) and frees the pieces past them.
    void shrink(std::size_t n) {
        if (n >= FSize)
            return;
        FSize = n;
        FPieces.resize((n + kPiece - 1) >> kShift);
    }

    void clear() noexcept {
        FPieces.clear();
        FSize = 0;
    }

    void swap(TPieces& o) noexcept {
        FPieces.swap(o.FPieces);
        std::swap(FSize, o.FSize);
    }

    template <class TArray, class TValue>
    class TIter {
    public:
        TIter(TArray* a, std::size_t i) : FA(a), FI(i) {}
        TValue& operator*() const { return (*FA)[FI]; }
        TIter& operator++() {
            ++FI;
            return *this;
        }
        bool operator==(const TIter& o) const { return FI == o.FI; }

    private:
        TArray* FA;
        std::size_t FI;
    };
    using iterator = TIter<TPieces, T>;
    using const_iterator = TIter<const TPieces, const T>;
    iterator begin() { return {this, 0}; }
    iterator end() { return {this, FSize}; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, FSize}; }

private:
    std::vector<std::unique_ptr<T[]>> FPieces;
    std::size_t FSize = 0;
};

} // namespace vorlen
