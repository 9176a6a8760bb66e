#pragma once

#include <cstdint>
#include <string_view>

#include "common/path_class.hpp"

namespace vorn {

// What a model feature measures, decided once from its name when the model
// is loaded so that scoring compares no strings.
enum class FeatureKind : std::uint8_t {
    classRate,         // "class_rate_10m": ln(1 + requests of the class in the window)
    classDistinctIps,  // "class_dip_10m": ln(1 + distinct addresses of the class)
    expensiveShare,    // "expensive_share_10m"
    hour,              // "hour": hour of the day at UTC-5
    isClass,           // a path class name: 1 for requests of that class, else 0
    zero,              // any other name
};

struct Feature {
    FeatureKind kind = FeatureKind::zero;
    PathClass pathClass = PathClass::page;  // meaningful for isClass only
};

// The feature a name stands for; names are compared byte for byte, so "Page"
// is not "page".
[[nodiscard]] Feature resolveFeature(std::string_view name);

}  // namespace vorn
