#include "scorer/score_tally.hpp"

#include <algorithm>
#include <cmath>

namespace vorn {

namespace {

constexpr double millionths = 1e6;

}  // namespace

ScoreBand scoreBandOf(double p) {
    if (p < 0.2) return ScoreBand::le0_2;
    if (p < 0.5) return ScoreBand::le0_5;
    if (p < 0.8) return ScoreBand::le0_8;
    return ScoreBand::gt0_8;
}

std::uint64_t scoreMillionths(double p) {
    if (std::isnan(p)) return static_cast<std::uint64_t>(millionths);
    return static_cast<std::uint64_t>(std::clamp(p, 0.0, 1.0) * millionths);
}

void countScore(StatsBlock& stats, double p) {
    ++stats.scoreBands[indexOf(scoreBandOf(p))];
    stats.scoreSumMillionths += scoreMillionths(p);
}

}  // namespace vorn
