#include "store/BlockPool.h"

#include "platform/PageMemory.h"
#include "store/Poison.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace vorlen {

namespace {
constexpr std::size_t kAlign = 8;
constexpr std::size_t kFirstChunkBlocks = 4;
// Small enough that the last, partly used chunk of a big table wastes little.
constexpr std::size_t kMaxChunkBytes = std::size_t{4} << 20;

// Chunks this big come straight from the system (platform/PageMemory.h): zeroed, backed by large
// pages where it can, and returned to it when freed. Smaller ones, the most a small table ever
// has, would waste most of a page: they come from the general allocator.
constexpr std::size_t kPageChunkBytes = std::size_t{1} << 20;

void* AllocateChunk(std::size_t bytes) {
    if (bytes >= kPageChunkBytes) {
        if (void* p = platform::AllocatePages(bytes))
            return p;
        throw std::bad_alloc();
    }
    return ::operator new(bytes);
}

void FreeChunk(void* chunk, std::size_t bytes) noexcept {
    if (bytes >= kPageChunkBytes)
        platform::FreePages(chunk, bytes);
    else
        ::operator delete(chunk);
}
} // namespace

void TBlockPool::Reset(std::size_t blockBytes) noexcept {
    Release();
    FBlock = (std::max(blockBytes, sizeof(void*)) + kAlign - 1) & ~(kAlign - 1);
    FNextChunk = FBlock * kFirstChunkBlocks;
}

void TBlockPool::Swap(TBlockPool& o) noexcept {
    std::swap(FBlock, o.FBlock);
    std::swap(FNextChunk, o.FNextChunk);
    FChunks.swap(o.FChunks);
    FSpare.swap(o.FSpare);
    std::swap(FNext, o.FNext);
    std::swap(FEnd, o.FEnd);
}

void* TBlockPool::Take() {
    void* block;
    if (!FSpare.empty()) {
        block = FSpare.back();
        FSpare.pop_back();
        Unpoison(block, FBlock);
    } else {
        if (static_cast<std::size_t>(FEnd - FNext) < FBlock) {
            Grow();
        }
        block = FNext;
        FNext += FBlock;
        Unpoison(block, FBlock);
    }
    return block;
}

void TBlockPool::Give(void* block) noexcept {
    // Out of memory for the list, the block stays unused until the pool is released.
    try {
        FSpare.push_back(block);
    } catch (...) {
        return;
    }
    Poison(block, FBlock);
}

void TBlockPool::Grow() {
    const std::size_t bytes = FNextChunk;
    // Room first, so that a failure below cannot lose the chunk.
    if (FChunks.size() == FChunks.capacity())
        FChunks.reserve(FChunks.size() * 2 + 4);
    char* chunk = static_cast<char*>(AllocateChunk(bytes));
    FChunks.push_back({chunk, bytes});
    Poison(chunk, bytes);
    FNext = chunk;
    FEnd = chunk + bytes / FBlock * FBlock;
    FNextChunk = std::max(FBlock, std::min(bytes * 2, kMaxChunkBytes));
}

void TBlockPool::Release() noexcept {
    for (const TChunk& chunk : FChunks) {
        Unpoison(chunk.Base, chunk.Bytes);
        FreeChunk(chunk.Base, chunk.Bytes);
    }
    FChunks.clear();
    FSpare.clear();
    FSpare.shrink_to_fit();
    FNext = FEnd = nullptr;
    FNextChunk = FBlock * kFirstChunkBlocks;
}

} // namespace vorlen
