#include "platform/PageMemory.h"
#include "platform/WinApi.h"

namespace vorlen::platform {

void* AllocatePages(std::size_t bytes) noexcept {
    if (bytes == 0)
        return nullptr;
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreePages(void* block, std::size_t) noexcept {
    if (block != nullptr)
        VirtualFree(block, 0, MEM_RELEASE);
}

} // namespace vorlen::platform
