#pragma once

// Large blocks of memory straight from the operating system, for the store's row chunks.
//
// Pages come zeroed and are handed back to the system the moment a block is freed, so a table
// cleared on a new life number really gives its memory back. Where the system offers large
// pages for the asking (Linux's transparent huge pages), a block asks for them: a million rows
// then cost a few hundred page faults instead of a hundred thousand.

#include <cstddef>

namespace vorlen::platform {

// The block's size is rounded up to whole pages; null when the system refuses.
void* AllocatePages(std::size_t bytes) noexcept;
// `bytes` as given to AllocatePages.
void FreePages(void* block, std::size_t bytes) noexcept;

} // namespace vorlen::platform
