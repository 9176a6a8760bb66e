#include "scorer/feature.hpp"

namespace vorn {

Feature resolveFeature(std::string_view name) {
    if (name == "class_rate_10m") return {FeatureKind::classRate};
    if (name == "class_dip_10m") return {FeatureKind::classDistinctIps};
    if (name == "expensive_share_10m") return {FeatureKind::expensiveShare};
    if (name == "hour") return {FeatureKind::hour};
    // The gateway slot is a counter slot, not a class: its name stays zero.
    for (std::size_t c = 0; c < pathClassCount; ++c) {
        if (name == classSlotNames[c]) return {FeatureKind::isClass, static_cast<PathClass>(c)};
    }
    return {FeatureKind::zero};
}

}  // namespace vorn
