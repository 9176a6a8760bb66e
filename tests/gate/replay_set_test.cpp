#include "gate/replay_set.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/test_name.hpp"

namespace vorn {
namespace {

using Outcome = ReplaySet::Outcome;

struct Step {
    int tag;  // which nonce: its first and last byte
    std::int64_t expiresAt;
    std::int64_t now;
    Outcome outcome;
};

struct ReplayRow {
    std::string name;
    std::vector<Step> steps;
};

void PrintTo(const ReplayRow& row, std::ostream* out) {
    *out << row.name;
}

class ReplaySequences : public testing::TestWithParam<ReplayRow> {};

// A table of 4 nonces, each kept at most 100 seconds.
TEST_P(ReplaySequences, RefuseOnlyWhenEveryEntryIsLive) {
    ReplaySet set(4, 100);
    for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
        const Step& step = GetParam().steps[i];
        NonceId id{};
        id[0] = static_cast<std::byte>(step.tag);
        id[15] = static_cast<std::byte>(step.tag);
        EXPECT_EQ(set.remember(id, step.expiresAt, step.now), step.outcome) << "step " << i;
    }
}

std::vector<Step> four(std::int64_t expiresAt) {
    std::vector<Step> steps;
    for (int tag = 1; tag <= 4; ++tag) steps.push_back({tag, expiresAt, 10, Outcome::Fresh});
    return steps;
}

std::vector<Step> then(std::vector<Step> steps, std::initializer_list<Step> more) {
    steps.insert(steps.end(), more);
    return steps;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReplaySequences,
    testing::Values(
        ReplayRow{"twice", {{1, 100, 10, Outcome::Fresh}, {1, 100, 99, Outcome::Replayed}}},
        ReplayRow{"a fifth while all four live", then(four(100), {{5, 100, 10, Outcome::Full}})},
        ReplayRow{"expired entries make room and live ones stay",
                  {{1, 100, 10, Outcome::Fresh},
                   {2, 100, 10, Outcome::Fresh},
                   {3, 100, 10, Outcome::Fresh},
                   {4, 105, 10, Outcome::Fresh},
                   {5, 200, 99, Outcome::Full},
                   {5, 200, 100, Outcome::Fresh},
                   {6, 200, 100, Outcome::Fresh},
                   {7, 200, 100, Outcome::Fresh},
                   {8, 200, 100, Outcome::Full},
                   {4, 200, 104, Outcome::Replayed}}}),
    [](const testing::TestParamInfo<ReplayRow>& info) { return test::testName(info.param.name); });

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
            if (set.remember(id, now + lifetime, now) != Outcome::Fresh) ++refused;
        }
    }
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(set.size(), static_cast<std::size_t>(lifetime * perSecond));
}

}  // namespace
}  // namespace vorn
