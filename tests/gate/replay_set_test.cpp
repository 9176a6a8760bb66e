#include "gate/replay_set.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vorn {
namespace {

using enum ReplaySet::Outcome;

struct Step {
    int tag;  // which nonce: its first and last byte
    std::int64_t expiresAt;
    std::int64_t now;
    ReplaySet::Outcome outcome;
};

// A table of 4 nonces, each kept at most 100 seconds. Nonce 1 is replayed
// at once; 5 is refused while 1 to 4 all live, and taken once the first
// three have expired, as are 6 and 7; then 8 is refused while 4 lives, and 4
// is still replayed in its last second.
TEST(ReplaySet, RefusesOnlyWhenEveryEntryIsLive) {
    ReplaySet set(4, 100);
    const std::vector<Step> steps = {
        {1, 100, 10, Fresh},  {1, 100, 10, Replayed}, {2, 100, 10, Fresh},    {3, 100, 10, Fresh},
        {4, 105, 10, Fresh},  {5, 200, 99, Full},     {5, 200, 100, Fresh},   {6, 200, 100, Fresh},
        {7, 200, 100, Fresh}, {8, 200, 100, Full},    {4, 200, 104, Replayed}};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        NonceId id{};
        id[0] = static_cast<std::byte>(steps[i].tag);
        id[15] = static_cast<std::byte>(steps[i].tag);
        EXPECT_EQ(set.remember(id, steps[i].expiresAt, steps[i].now), steps[i].outcome)
            << "step " << i;
    }
}

// Under a steady stream of answers, each kept its whole life, a table as
// large as the stream's rate times that life never refuses one.
TEST(ReplaySetLoad, AStreamAsLargeAsTheTableIsNeverRefused) {
    constexpr std::int64_t lifetime = 30;
    constexpr int perSecond = 100;
    ReplaySet set(lifetime * perSecond, lifetime);
    int refused = 0;
    std::uint64_t serial = 0;
    for (std::int64_t now = 1000; now < 1000 + 10 * lifetime; ++now) {
        for (int i = 0; i < perSecond; ++i) {
            NonceId id{};
            ++serial;
            std::memcpy(id.data(), &serial, sizeof(serial));
            if (set.remember(id, now + lifetime, now) != Fresh) ++refused;
        }
    }
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(set.size(), static_cast<std::size_t>(lifetime * perSecond));
}

}  // namespace
}  // namespace vorn
