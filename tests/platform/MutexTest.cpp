#include "platform/Mutex.h"

#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace vorlen {
namespace {

TEST(MutexTest, GuardsExcludeEachOtherAcrossThreads) {
    TMutex mutex;
    long counter = 0; // guarded only by `mutex`
    constexpr int Threads = 4;
    constexpr int Rounds = 20'000;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < Rounds; ++i) {
                // Both ways of holding it, as the store and the reply registry use them.
                if (t % 2 == 0) {
                    TMutexGuard guard(mutex);
                    ++counter;
                } else {
                    std::lock_guard guard(mutex);
                    ++counter;
                }
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, static_cast<long>(Threads) * Rounds);
}

} // namespace
} // namespace vorlen
