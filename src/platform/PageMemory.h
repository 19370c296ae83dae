#pragma once

// Large blocks of memory straight from the operating system, for the store's row chunks.
//
// Pages come zeroed and are handed back to the system the moment a block is freed, so a table
// cleared on a new life number really gives its memory back. They are the system's ordinary
// pages: asking for transparent huge pages made fills faster but stalled the thread that first
// touched one for milliseconds while the kernel compacted memory.

#include <cstddef>

namespace vorlen::platform {

// The block's size is rounded up to whole pages; null when the system refuses.
void* AllocatePages(std::size_t bytes) noexcept;
// `bytes` as given to AllocatePages.
void FreePages(void* block, std::size_t bytes) noexcept;

} // namespace vorlen::platform
