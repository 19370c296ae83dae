#pragma once

// Marks memory the store keeps but nobody may read (a free row block, the unused tail of a
// buffer) so that AddressSanitizer reports a read of it as it would one past a block of the
// general allocator. Outside such a build both calls do nothing.

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define VORLEN_STORE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORLEN_STORE_ASAN 1
#endif
#endif
#if defined(VORLEN_STORE_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace vorlen {

inline void Poison([[maybe_unused]] const void* p, [[maybe_unused]] std::size_t n) {
#if defined(VORLEN_STORE_ASAN)
    ASAN_POISON_MEMORY_REGION(p, n);
#endif
}

inline void Unpoison([[maybe_unused]] const void* p, [[maybe_unused]] std::size_t n) {
#if defined(VORLEN_STORE_ASAN)
    ASAN_UNPOISON_MEMORY_REGION(p, n);
#endif
}

} // namespace vorlen
