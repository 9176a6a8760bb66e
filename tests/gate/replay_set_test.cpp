#include "replay_set.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_name.hpp"

namespace vorn::gate {
namespace {

using Outcome = ReplaySet::Outcome;

struct Step {
    int home;  // the id's first byte: where it lands in the table
    int tag;   // its last byte: which nonce it is
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

// A table of 32 slots; every nonce expires at 100.
TEST_P(ReplaySequences, RememberEachNonceUntilItExpires) {
    ReplaySet set(32);
    for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
        const Step& step = GetParam().steps[i];
        NonceId id{};
        id[0] = static_cast<std::byte>(step.home);
        id[15] = static_cast<std::byte>(step.tag);
        EXPECT_EQ(set.remember(id, 100, step.now), step.outcome) << "step " << i;
    }
}

std::vector<Step> sixteenAtHome(int home) {
    std::vector<Step> steps;
    for (int tag = 0; tag < 16; ++tag) steps.push_back({home, tag, 10, Outcome::Fresh});
    return steps;
}

std::vector<Step> then(std::vector<Step> steps, std::initializer_list<Step> more) {
    steps.insert(steps.end(), more);
    return steps;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReplaySequences,
    testing::Values(
        ReplayRow{"once", {{1, 1, 10, Outcome::Fresh}}},
        ReplayRow{"twice", {{1, 1, 10, Outcome::Fresh}, {1, 1, 99, Outcome::Replayed}}},
        ReplayRow{"two nonces in one slot",
                  {{1, 1, 10, Outcome::Fresh},
                   {1, 2, 10, Outcome::Fresh},
                   {1, 2, 10, Outcome::Replayed}}},
        ReplayRow{"again once expired", {{1, 1, 10, Outcome::Fresh}, {1, 1, 100, Outcome::Fresh}}},
        ReplayRow{"a seventeenth is refused", then(sixteenAtHome(3), {{3, 16, 10, Outcome::Full}})},
        ReplayRow{"a neighbour takes the next free slot",
                  then(sixteenAtHome(3), {{4, 17, 10, Outcome::Fresh}})},
        ReplayRow{"elsewhere is still free",
                  then(sixteenAtHome(3), {{20, 16, 10, Outcome::Fresh}})},
        ReplayRow{"the full slots free up as they expire",
                  then(sixteenAtHome(3), {{3, 16, 100, Outcome::Fresh}})},
        ReplayRow{"a full run still knows its nonces",
                  then(sixteenAtHome(3), {{3, 15, 10, Outcome::Replayed}})},
        ReplayRow{"the run wraps round the table",
                  then(sixteenAtHome(31), {{31, 16, 10, Outcome::Full},
                                           {0, 17, 10, Outcome::Fresh},
                                           {0, 17, 10, Outcome::Replayed}})}),
    [](const testing::TestParamInfo<ReplayRow>& info) { return test::testName(info.param.name); });

}  // namespace
}  // namespace vorn::gate
