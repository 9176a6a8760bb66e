#include "decision/ip_time_map.hpp"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>

namespace vorn {
namespace {

TEST(IpTimeMap, RecordsAndTouchesKeys) {
    IpTimeMap map;
    EXPECT_TRUE(map.insertOrTouch(7, 100));
    EXPECT_TRUE(map.insertOrTouch(9, 200));
    EXPECT_TRUE(map.insertOrTouch(7, 300));
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(map.lastSeen(7), Nanos{300});
    EXPECT_EQ(map.lastSeen(9), Nanos{200});
    EXPECT_EQ(map.lastSeen(8), std::nullopt);
}

TEST(IpTimeMap, NeverStoresKeyZero) {
    IpTimeMap map;
    EXPECT_FALSE(map.insertOrTouch(0, 1));
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.lastSeen(0), std::nullopt);
}

TEST(IpTimeMap, WhenGrowthFailsOnlyKnownKeysAreUpdated) {
    IpTimeMap map(16);
    for (std::uint64_t key = 1; key <= 12; ++key) EXPECT_TRUE(map.insertOrTouch(key, 1));
    EXPECT_FALSE(map.insertOrTouch(13, 2));
    EXPECT_TRUE(map.insertOrTouch(5, 3));
    EXPECT_EQ(map.size(), 12u);
    EXPECT_EQ(map.lastSeen(13), std::nullopt);
    EXPECT_EQ(map.lastSeen(5), Nanos{3});
}

TEST(IpTimeMap, ClearKeepsTheStorage) {
    IpTimeMap map;
    for (std::uint64_t key = 1; key <= 100; ++key) map.insertOrTouch(key, 1);
    std::size_t capacity = map.capacity();
    map.clear();
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.capacity(), capacity);
    EXPECT_EQ(map.lastSeen(50), std::nullopt);
    EXPECT_TRUE(map.insertOrTouch(50, 2));
    EXPECT_EQ(map.lastSeen(50), Nanos{2});
}

// Keys whose low bits pile up at both ends of every table size, so that probe
// runs are long and wrap around the end; removals must keep them reachable.
TEST(IpTimeMap, RemovalMatchesAReferenceUnderHeavyCollisions) {
    std::mt19937_64 random(12345);
    constexpr std::array<std::uint64_t, 4> lowBits = {0xfffff, 0xffffe, 0x0, 0x1};
    IpTimeMap map;
    std::map<std::uint64_t, Nanos> reference;
    Nanos time = 0;
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 400; ++i) {
            std::uint64_t key = (random() << 20) | lowBits[random() % lowBits.size()];
            if (i % 5 == 0 && !reference.empty()) key = reference.begin()->first;
            ++time;
            ASSERT_TRUE(map.insertOrTouch(key, time));
            reference[key] = time;
        }
        Nanos cutoff = time - 250;
        map.removeOlderThan(cutoff);
        std::erase_if(reference, [cutoff](const auto& entry) { return entry.second < cutoff; });
        ASSERT_EQ(map.size(), reference.size());
        for (const auto& [key, seen] : reference) ASSERT_EQ(map.lastSeen(key), seen);
    }
}

TEST(IpTimeMap, RemovingEverythingLeavesItEmpty) {
    IpTimeMap map;
    for (std::uint64_t key = 1; key <= 40; ++key) map.insertOrTouch(key << 32, 5);
    map.removeOlderThan(6);
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.lastSeen(1ull << 32), std::nullopt);
}

}  // namespace
}  // namespace vorn
