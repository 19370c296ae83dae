#include "platform/PageMemory.h"

#include <cstdint>
#include <sys/mman.h>

namespace vorlen::platform {

namespace {
// A transparent huge page; a block that starts on such a boundary can be backed by them.
constexpr std::size_t kLargePage = std::size_t{2} << 20;
} // namespace

void* AllocatePages(std::size_t bytes) noexcept {
    if (bytes == 0)
        return nullptr;
    // Room to slide the block onto a large-page boundary; the slack is unmapped at once.
    const std::size_t span = bytes + kLargePage;
    void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    const auto base = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t start = (base + kLargePage - 1) & ~(kLargePage - 1);
    if (start > base)
        munmap(p, start - base);
    const std::uintptr_t end = base + span;
    const std::uintptr_t used = start + bytes;
    if (end > used)
        munmap(reinterpret_cast<void*>(used), end - used);
#if defined(MADV_HUGEPAGE)
    madvise(reinterpret_cast<void*>(start), bytes, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(start);
}

void FreePages(void* block, std::size_t bytes) noexcept {
    if (block != nullptr)
        munmap(block, bytes);
}

} // namespace vorlen::platform
