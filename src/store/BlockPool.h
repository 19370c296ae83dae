#pragma once

// Equal-sized blocks for the rows of one table.
//
// Every row of a table has the same size, so the rows are carved out of chunks that grow with
// the table (a few rows' worth first, then twice the previous chunk, up to a few megabytes) and a
// removed row's block goes on a list for the next insert. An insert then costs a pointer bump
// or a pop instead of a trip through the general allocator, and a row carries no allocator
// header.
//
// Memory goes back only when the pool is released (the table is cleared or described again):
// a table that shrank keeps its blocks for the rows that will come.

#include <cstddef>
#include <vector>

namespace vorlen {

class TBlockPool {
public:
    // Blocks of a pointer's size until Reset says otherwise.
    TBlockPool() { Reset(0); }
    ~TBlockPool() { Release(); }
    TBlockPool(const TBlockPool&) = delete;
    TBlockPool& operator=(const TBlockPool&) = delete;
    // The chunks move with the pool; the pool moved from is left empty.
    TBlockPool(TBlockPool&& o) noexcept : TBlockPool() { Swap(o); }
    TBlockPool& operator=(TBlockPool&& o) noexcept {
        Release();
        Swap(o);
        return *this;
    }
    void Swap(TBlockPool& o) noexcept;

    std::size_t BlockBytes() const { return FBlock; }
    // Uninitialised storage of BlockBytes() bytes, 8-aligned.
    void* Take();
    // The block Take would give now, without taking it; null when Take would need a new chunk.
    const void* Next() const {
        if (!FSpare.empty())
            return FSpare.back();
        return static_cast<std::size_t>(FEnd - FNext) >= FBlock ? FNext : nullptr;
    }
    // Hands back a block Take gave; its bytes may be overwritten at once.
    void Give(void* block) noexcept;
    // Frees every chunk. Blocks handed out earlier must no longer be used.
    void Release() noexcept;
    // Release, then blocks of `blockBytes` from now on (at least a pointer's size, rounded up
    // to keep blocks 8-aligned).
    void Reset(std::size_t blockBytes) noexcept;

private:
    void Grow();

    std::size_t FBlock = 0;
    std::size_t FNextChunk = 0; // bytes of the next chunk
    struct TChunk {
        void* Base;
        std::size_t Bytes;
    };
    std::vector<TChunk> FChunks;
    // Blocks handed back. Kept apart from the blocks, so that taking one does not first wait
    // for a block that has long left the cache.
    std::vector<void*> FSpare;
    char* FNext = nullptr; // the current chunk's unused part
    char* FEnd = nullptr;
};

} // namespace vorlen
