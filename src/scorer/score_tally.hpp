#pragma once

#include <cstdint>

#include "common/score_band.hpp"
#include "observe/stats_block.hpp"

namespace vorn {

// The band of probability `p`, by strict comparisons: 0.2 is in le0.5, 0.8
// in gt0.8. Not-a-number lands in gt0.8.
[[nodiscard]] ScoreBand scoreBandOf(double p);

// `p` in whole millionths, clamped to [0, 1] and truncated; not-a-number
// counts as 1.
[[nodiscard]] std::uint64_t scoreMillionths(double p);

// Counts one scored request in its band and the score sum. Loop thread.
void countScore(StatsBlock& stats, double p);

}  // namespace vorn
