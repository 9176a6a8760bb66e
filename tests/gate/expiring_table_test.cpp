#include "gate/expiring_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

namespace vorn {
namespace {

TableKey keyOf(int n) {
    TableKey key{};
    key[0] = static_cast<std::byte>(n & 0xff);
    key[1] = static_cast<std::byte>(n >> 8);
    return key;
}

// The table against a plain map of keys to expiries, under random inserts,
// finds and extensions with time moving on by random steps, quiet spells
// longer than the wheel included: every find agrees (an entry lives until the
// second it expires at, and not in it), and an insert fails exactly when
// every entry of the map is live.
TEST(ExpiringTable, AgreesWithAMapOfExpiries) {
    constexpr std::size_t capacity = 48;
    constexpr std::int64_t horizon = 12;
    ExpiringTable<int> table(capacity, horizon);
    std::map<int, std::int64_t> model;
    std::mt19937 random(20261209);
    std::int64_t now = 1000;
    auto liveInModel = [&] {
        return static_cast<std::size_t>(
            std::ranges::count_if(model, [&](const auto& entry) { return entry.second > now; }));
    };
    for (int step = 0; step < 20000; ++step) {
        const int roll = static_cast<int>(random() % 100);
        if (roll < 3) now += static_cast<std::int64_t>(random() % 40);
        if (roll < 30) ++now;
        const int key = static_cast<int>(random() % 96);
        auto found = table.find(keyOf(key), now);
        auto modelled = model.find(key);
        const bool live = modelled != model.end() && modelled->second > now;
        ASSERT_EQ(found.has_value(), live) << "step " << step;
        const std::int64_t expiresAt = now + 1 + static_cast<std::int64_t>(random() % horizon);
        if (live) {
            EXPECT_EQ(table.value(*found), key);
            if (random() % 2 == 0) {
                table.extend(*found, expiresAt, now);
                modelled->second = expiresAt;
            }
            continue;
        }
        auto inserted = table.insert(keyOf(key), expiresAt, now);
        ASSERT_EQ(inserted.has_value(), liveInModel() < capacity) << "step " << step;
        if (!inserted) continue;
        table.value(*inserted) = key;
        model[key] = expiresAt;
        EXPECT_LE(table.size(), capacity);
    }
}

}  // namespace
}  // namespace vorn
