#include "store/IdMap.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace vorlen {
namespace {

struct TRec {
    std::int64_t Id = 0;
};

// The map against a plain one, through a script of inserts and erases: every key it holds is
// found with its own record, every key it let go is not, whether the map is filling its next
// slots, moving its old ones across or neither.
struct TScript {
    const char* Name;
    std::size_t Inserts;      // new keys
    std::int64_t KeyStride;   // ids are multiples of it: replication ids are not always dense
    std::size_t CheckEvery;   // steps between full checks
    unsigned ErasePercent;    // chance that a step erases a key held instead of inserting
    unsigned ReinsertPercent; // chance that an insert brings back a key erased before
};

void PrintTo(const TScript& s, std::ostream* os) {
    *os << s.Name;
}

class IdMapScript : public ::testing::TestWithParam<TScript> {};

TEST_P(IdMapScript, FindsWhatItHoldsAndNothingElse) {
    const TScript sc = GetParam();
    std::mt19937_64 rng(42);
    TIdMap<TRec> map;
    std::unordered_map<std::int64_t, TRec*> ref;
    std::vector<std::int64_t> held, gone;
    std::vector<std::unique_ptr<TRec>> recs;
    std::int64_t next = 1;
    bool sawMoving = false;
    const auto check = [&] {
        ASSERT_EQ(map.Size(), ref.size());
        for (const auto& [key, rec] : ref)
            ASSERT_EQ(map.Find(key), rec) << "key " << key;
        for (const std::int64_t key : gone)
            ASSERT_EQ(map.Find(key), nullptr) << "erased key " << key;
    };
    // While slots move, a sample each time: the moving lasts a few thousand steps.
    const auto sample = [&] {
        for (int i = 0; i < 500 && !held.empty(); ++i) {
            const std::int64_t key = held[rng() % held.size()];
            ASSERT_EQ(map.Find(key), ref[key]) << "key " << key;
        }
        for (int i = 0; i < 200 && !gone.empty(); ++i) {
            const std::int64_t key = gone[rng() % gone.size()];
            ASSERT_EQ(map.Find(key), nullptr) << "erased key " << key;
        }
    };
    for (std::size_t step = 0; static_cast<std::size_t>(next - 1) < sc.Inserts; ++step) {
        const bool erase = !held.empty() && rng() % 100 < sc.ErasePercent;
        if (erase) {
            const std::size_t at = rng() % held.size();
            const std::int64_t key = held[at];
            held[at] = held.back();
            held.pop_back();
            ASSERT_TRUE(map.Erase(key));
            ASSERT_FALSE(map.Erase(key));
            ref.erase(key);
            gone.push_back(key);
        } else {
            std::int64_t key;
            if (!gone.empty() && rng() % 100 < sc.ReinsertPercent) {
                const std::size_t at = rng() % gone.size();
                key = gone[at];
                gone[at] = gone.back();
                gone.pop_back();
            } else {
                key = next++ * sc.KeyStride;
            }
            recs.push_back(std::make_unique<TRec>(TRec{key}));
            map.Insert(key, recs.back().get());
            ref[key] = recs.back().get();
            held.push_back(key);
        }
        sawMoving = sawMoving || map.Moving();
        if (step % sc.CheckEvery == 0)
            check();
        else if (map.Moving() && step % 61 == 0)
            sample();
    }
    check();
    EXPECT_TRUE(sawMoving) << "the script never made the map move its slots";
    EXPECT_GE(map.Capacity() * 3, map.Size() * 4);

    // Moving the map, while it may still be moving its slots, keeps every entry.
    TIdMap<TRec> moved(std::move(map));
    for (const auto& [key, rec] : ref)
        ASSERT_EQ(moved.Find(key), rec);
    moved.Clear();
    EXPECT_EQ(moved.Size(), 0U);
    for (const auto& [key, rec] : ref)
        ASSERT_EQ(moved.Find(key), nullptr);
}

// Past 20 000 keys the next slots are large pages, faulted in a page per insert before the
// switch; below, only the moving is spread. Erasing while slots move takes keys from either
// array, and a key brought back must not find its old entry.
const TScript kScripts[] = {
    {"SmallGrowOnly", 5'000, 1, 97, 0, 0},
    {"PagesGrowOnly", 140'000, 1, 6'007, 0, 0},
    {"PagesWithErases", 110'000, 7, 5'003, 30, 0},
    {"SparseIdsChurn", 70'000, 1'000'003, 2'003, 45, 50},
    {"EraseEveryOther", 60'000, 2, 1'999, 50, 20},
};

INSTANTIATE_TEST_SUITE_P(Scripts, IdMapScript, ::testing::ValuesIn(kScripts),
                         [](const ::testing::TestParamInfo<TScript>& i) {
                             return std::string(i.param.Name);
                         });

} // namespace
} // namespace vorlen
