#pragma once

#include <cstddef>
#include <vector>

#include "scorer/feature.hpp"

namespace vorn {

// Models with more features than this load but score nothing: the feature
// vector is a fixed array on the stack.
inline constexpr std::size_t maxScoredFeatures = 64;

// A logistic bot-probability model, held apart from the JSON it came from.
// The four arrays have one entry per feature, in model order. Belongs to the
// loop thread.
struct ScorerModel {
    std::vector<Feature> features;
    std::vector<double> mean;
    std::vector<double> scale;  // 0 divides by 1
    std::vector<double> coef;
    double intercept = 0;

    [[nodiscard]] std::size_t featureCount() const { return features.size(); }
};

}  // namespace vorn
