#pragma once

#include <cstdint>
#include <optional>

#include "common/nanos.hpp"
#include "common/path_class.hpp"
#include "scorer/scorer_model.hpp"

namespace vorn {

// What the model may look at for one request: its path class, the rolling
// statistics of that class as they stand after the verdict rules, and the
// arrival time.
struct ScoreInput {
    PathClass pathClass = PathClass::page;
    std::uint64_t classRate = 0;         // requests of the class in the window
    std::uint64_t classDistinctIps = 0;  // distinct addresses of the class in the window
    double expensiveShare = 0;
    Nanos arrival = 0;
};

// Hour of the day, 0 to 23, at a fixed five hours west of UTC (no daylight
// saving): the forge's audience keeps that clock.
[[nodiscard]] int arrivalHour(Nanos arrival);

// The model's bot probability for one request, or nothing when the model has
// more features than the fixed feature vector holds. Not-a-number when the
// model's values overflow. Allocation-free.
[[nodiscard]] std::optional<double> scoreRequest(const ScorerModel& model, const ScoreInput& input);

}  // namespace vorn
