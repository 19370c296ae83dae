#include "platform/PageMemory.h"

#include <sys/mman.h>

namespace vorlen::platform {

// No transparent huge pages asked for: where the system grants them on request it compacts
// memory on the spot at the first touch, and the market-data thread that touches a new chunk
// stalled 5-20 ms there (bench_e2e --stalls). Small pages fault more often, each for a few
// microseconds, which the delay tail does not feel.
void* AllocatePages(std::size_t bytes) noexcept {
    if (bytes == 0)
        return nullptr;
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void FreePages(void* block, std::size_t bytes) noexcept {
    if (block != nullptr)
        munmap(block, bytes);
}

} // namespace vorlen::platform
