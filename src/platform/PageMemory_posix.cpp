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
    // Pointer arithmetic on the mapping itself: the address is looked at, never made up.
    char* const base = static_cast<char*>(p);
    const std::size_t misalign = reinterpret_cast<std::uintptr_t>(base) % kLargePage;
    char* const start = base + (misalign == 0 ? 0 : kLargePage - misalign);
    if (start > base)
        munmap(base, static_cast<std::size_t>(start - base));
    char* const end = base + span;
    char* const used = start + bytes;
    if (end > used)
        munmap(used, static_cast<std::size_t>(end - used));
#if defined(MADV_HUGEPAGE)
    madvise(start, bytes, MADV_HUGEPAGE);
#endif
    return start;
}

void FreePages(void* block, std::size_t bytes) noexcept {
    if (block != nullptr)
        munmap(block, bytes);
}

} // namespace vorlen::platform
