#include "scorer/request_score.hpp"

#include <array>
#include <cmath>

namespace vorn {

namespace {

constexpr Nanos hoursWestOfUtc = 5;
constexpr Nanos secondsPerHour = 3600;
constexpr Nanos hoursPerDay = 24;

double featureValue(const Feature& feature, const ScoreInput& input) {
    switch (feature.kind) {
        case FeatureKind::classRate:
            return std::log(1.0 + static_cast<double>(input.classRate));
        case FeatureKind::classDistinctIps:
            return std::log(1.0 + static_cast<double>(input.classDistinctIps));
        case FeatureKind::expensiveShare:
            return input.expensiveShare;
        case FeatureKind::hour:
            return static_cast<double>(arrivalHour(input.arrival));
        case FeatureKind::isClass:
            return feature.pathClass == input.pathClass ? 1.0 : 0.0;
        case FeatureKind::zero:
            break;
    }
    return 0.0;
}

}  // namespace

int arrivalHour(Nanos arrival) {
    const Nanos seconds = floorDiv(arrival, nanosPerSecond);
    const Nanos hours = floorDiv(seconds - hoursWestOfUtc * secondsPerHour, secondsPerHour);
    return static_cast<int>(hours - floorDiv(hours, hoursPerDay) * hoursPerDay);
}

std::optional<double> scoreRequest(const ScorerModel& model, const ScoreInput& input) {
    const std::size_t n = model.featureCount();
    if (n > maxScoredFeatures) return std::nullopt;
    std::array<double, maxScoredFeatures> x;
    for (std::size_t i = 0; i < n; ++i) x[i] = featureValue(model.features[i], input);
    // Terms are added one by one in model order onto the intercept, so that
    // every build gives the same sum.
    double z = model.intercept;
    for (std::size_t i = 0; i < n; ++i) {
        const double divisor = model.scale[i] == 0.0 ? 1.0 : model.scale[i];
        z += (x[i] - model.mean[i]) / divisor * model.coef[i];
    }
    return 1.0 / (1.0 + std::exp(-z));
}

}  // namespace vorn
