#include "store/BlockPool.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define VORLEN_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORLEN_TEST_ASAN 1
#endif
#endif
#if defined(VORLEN_TEST_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace vorlen {
namespace {

// Fills a block with a pattern of its own, so that overlapping blocks show up as changed bytes.
void Stamp(void* block, std::size_t bytes, std::uint8_t seed) {
    auto* p = static_cast<std::uint8_t*>(block);
    for (std::size_t i = 0; i < bytes; ++i)
        p[i] = static_cast<std::uint8_t>(seed + i);
}
bool HasStamp(const void* block, std::size_t bytes, std::uint8_t seed) {
    const auto* p = static_cast<const std::uint8_t*>(block);
    for (std::size_t i = 0; i < bytes; ++i)
        if (p[i] != static_cast<std::uint8_t>(seed + i))
            return false;
    return true;
}

TEST(BlockPool, BlocksAreAlignedApartAndKeepTheirBytesWhileThePoolGrows) {
    TBlockPool pool;
    pool.Reset(61); // an odd row size: blocks are rounded up to stay aligned
    ASSERT_EQ(pool.BlockBytes(), 64u);
    // Enough blocks for many chunks, up to the largest chunk size and past it.
    std::vector<void*> blocks;
    for (int i = 0; i < 200000; ++i) {
        void* b = pool.Take();
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(b) % 8, 0u);
        Stamp(b, pool.BlockBytes(), static_cast<std::uint8_t>(i));
        blocks.push_back(b);
    }
    std::vector<void*> sorted = blocks;
    std::sort(sorted.begin(), sorted.end(), std::less<>());
    for (std::size_t i = 1; i < sorted.size(); ++i)
        ASSERT_GE(static_cast<char*>(sorted[i]) - static_cast<char*>(sorted[i - 1]), 64);
    for (std::size_t i = 0; i < blocks.size(); ++i)
        ASSERT_TRUE(HasStamp(blocks[i], 64, static_cast<std::uint8_t>(i))) << i;
}

TEST(BlockPool, AGivenBackBlockIsTheNextTakenAndTheOthersAreUntouched) {
    TBlockPool pool;
    pool.Reset(40);
    void* a = pool.Take();
    void* b = pool.Take();
    void* c = pool.Take();
    Stamp(a, 40, 1);
    Stamp(c, 40, 3);
    pool.Give(b);
    pool.Give(a);
    EXPECT_EQ(pool.Take(), a);
    EXPECT_EQ(pool.Take(), b);
    EXPECT_TRUE(HasStamp(c, 40, 3));
    // With nothing handed back, a new block is none of the live ones.
    void* d = pool.Take();
    EXPECT_NE(d, a);
    EXPECT_NE(d, b);
    EXPECT_NE(d, c);
}

TEST(BlockPool, ReleaseAndResetStartAfreshWithTheNewSize) {
    TBlockPool pool;
    EXPECT_EQ(pool.BlockBytes(), sizeof(void*));
    pool.Reset(24);
    for (int i = 0; i < 100; ++i)
        pool.Give(pool.Take());
    pool.Release();
    // Nothing handed back before the release is handed out again; the pool still works.
    Stamp(pool.Take(), 24, 7);
    pool.Reset(1000);
    EXPECT_EQ(pool.BlockBytes(), 1000u);
    void* big = pool.Take();
    Stamp(big, 1000, 9);
    EXPECT_TRUE(HasStamp(big, 1000, 9));
}

#if defined(VORLEN_TEST_ASAN)
// A row read after its removal must still be caught, as it was when rows came from the general
// allocator.
TEST(BlockPool, UnderAddressSanitizerOnlyBlocksHandedOutAreAddressable) {
    TBlockPool pool;
    pool.Reset(64);
    char* a = static_cast<char*>(pool.Take());
    char* b = static_cast<char*>(pool.Take());
    EXPECT_FALSE(__asan_address_is_poisoned(a + 63));
    EXPECT_TRUE(__asan_address_is_poisoned(b + 64)); // not yet handed out
    pool.Give(a);
    EXPECT_TRUE(__asan_address_is_poisoned(a + 8));
    EXPECT_TRUE(__asan_address_is_poisoned(a + 63));
    EXPECT_EQ(pool.Take(), a);
    EXPECT_FALSE(__asan_address_is_poisoned(a + 8));
    EXPECT_FALSE(__asan_address_is_poisoned(b));
}
#endif

} // namespace
} // namespace vorlen
