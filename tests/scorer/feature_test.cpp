#include "scorer/feature.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vorn {
namespace {

struct FeatureCase {
    std::string testName;
    std::string name;
    FeatureKind kind;
    PathClass pathClass = PathClass::page;
};

void PrintTo(const FeatureCase& c, std::ostream* out) {
    *out << c.testName;
}

class ResolveFeature : public testing::TestWithParam<FeatureCase> {};

TEST_P(ResolveFeature, ByExactName) {
    const FeatureCase& c = GetParam();
    Feature feature = resolveFeature(c.name);
    EXPECT_EQ(feature.kind, c.kind);
    if (c.kind == FeatureKind::isClass) {
        EXPECT_EQ(feature.pathClass, c.pathClass);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, ResolveFeature,
    testing::Values(
        FeatureCase{"ClassRate", "class_rate_10m", FeatureKind::classRate},
        FeatureCase{"ClassDistinctIps", "class_dip_10m", FeatureKind::classDistinctIps},
        FeatureCase{"ExpensiveShare", "expensive_share_10m", FeatureKind::expensiveShare},
        FeatureCase{"Hour", "hour", FeatureKind::hour},
        FeatureCase{"Page", "page", FeatureKind::isClass, PathClass::page},
        FeatureCase{"Expensive", "expensive", FeatureKind::isClass, PathClass::expensive},
        FeatureCase{"Other", "other", FeatureKind::isClass, PathClass::other},
        FeatureCase{"CapitalPage", "Page", FeatureKind::zero},
        FeatureCase{"CapitalHour", "Hour", FeatureKind::zero},
        FeatureCase{"GatewayIsNoClass", "gateway", FeatureKind::zero},
        FeatureCase{"TrailingSpace", "class_rate_10m ", FeatureKind::zero},
        FeatureCase{"Empty", "", FeatureKind::zero},
        FeatureCase{"Unknown", "ua_entropy", FeatureKind::zero}),
    [](const auto& info) { return info.param.testName; });

}  // namespace
}  // namespace vorn
