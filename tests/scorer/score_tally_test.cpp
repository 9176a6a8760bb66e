#include "scorer/score_tally.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace vorn {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct TallyCase {
    std::string name;
    double p;
    ScoreBand band;
    std::uint64_t millionths;
};

void PrintTo(const TallyCase& c, std::ostream* out) {
    *out << c.name;
}

class ScoreTally : public testing::TestWithParam<TallyCase> {};

TEST_P(ScoreTally, BandAndMillionths) {
    const TallyCase& c = GetParam();
    EXPECT_EQ(scoreBandName(scoreBandOf(c.p)), scoreBandName(c.band));
    EXPECT_EQ(scoreMillionths(c.p), c.millionths);
}

INSTANTIATE_TEST_SUITE_P(
    Probabilities, ScoreTally,
    testing::Values(TallyCase{"Zero", 0.0, ScoreBand::le0_2, 0},
                    TallyCase{"BelowOneMillionth", 0.0000009, ScoreBand::le0_2, 0},
                    TallyCase{"JustBelow0_2", 0.19999999, ScoreBand::le0_2, 199999},
                    TallyCase{"Exactly0_2", 0.2, ScoreBand::le0_5, 200000},
                    TallyCase{"Exactly0_5", 0.5, ScoreBand::le0_8, 500000},
                    TallyCase{"Truncated", 0.8734567, ScoreBand::gt0_8, 873456},
                    TallyCase{"JustBelow0_8", 0.7999999, ScoreBand::le0_8, 799999},
                    TallyCase{"Exactly0_8", 0.8, ScoreBand::gt0_8, 800000},
                    TallyCase{"One", 1.0, ScoreBand::gt0_8, 1000000},
                    TallyCase{"AboveOneIsClamped", 1.5, ScoreBand::gt0_8, 1000000},
                    TallyCase{"BelowZeroIsClamped", -0.5, ScoreBand::le0_2, 0},
                    TallyCase{"NotANumber", nan, ScoreBand::gt0_8, 1000000}),
    [](const auto& info) { return info.param.name; });

TEST(ScoreTally, CountsBandsAndTheSum) {
    StatsBlock stats;
    for (double p : {0.1, 0.2, 0.5, 0.8, nan}) countScore(stats, p);
    EXPECT_EQ(stats.scoreBands, (std::array<std::uint64_t, scoreBandCount>{1, 1, 1, 2}));
    EXPECT_EQ(stats.scoreSumMillionths, 100000u + 200000u + 500000u + 800000u + 1000000u);
}

}  // namespace
}  // namespace vorn
