#include "decision/shadow_score.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "decision/verdict_rules.hpp"
#include "scorer/feature.hpp"

namespace vorn {
namespace {

constexpr Nanos arrival = Nanos{1'796'774'400} * nanosPerSecond;

struct ShadowCase {
    std::string name;
    std::string path;
    std::string feature;  // the model's one feature, weight 1; empty: no model
    std::optional<double> featureValue;
};

void PrintTo(const ShadowCase& c, std::ostream* out) {
    *out << c.name;
}

class ShadowScore : public testing::TestWithParam<ShadowCase> {};

// One earlier page request is in the windows; the request under test goes
// through the verdict rules first, as in the daemon.
TEST_P(ShadowScore, ScoresAfterTheRulesAndCountsTheScore) {
    const ShadowCase& c = GetParam();
    StatsBlock stats;
    DecisionState state(BacklogMeter(4, 16, 300 * nanosPerSecond), *ClassWindows::create(1 << 20),
                        ChallengePolicy{}, LogVerdicts::none, stats);
    if (!c.feature.empty()) {
        state.model = ScorerModel{.features = {resolveFeature(c.feature)},
                                  .mean = {0.0},
                                  .scale = {1.0},
                                  .coef = {1.0},
                                  .intercept = 0.0};
    }
    state.windows.countRequest(PathClass::page, 1, arrival);
    RequestFacts facts;
    facts.arrival = arrival;
    facts.path = c.path;
    facts.ipHash = 2;
    const Decision decision = decide(facts, state.site.domain, state.windows);

    auto p = shadowScore(state, facts, decision);
    ASSERT_EQ(p.has_value(), c.featureValue.has_value());
    const std::uint64_t counted =
        stats.scoreBands[0] + stats.scoreBands[1] + stats.scoreBands[2] + stats.scoreBands[3];
    EXPECT_EQ(counted, p ? 1u : 0u);
    if (p) {
        EXPECT_DOUBLE_EQ(*p, 1.0 / (1.0 + std::exp(-*c.featureValue)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ShadowScore,
    testing::Values(ShadowCase{"NoModel", "/o/r", "", std::nullopt},
                    ShadowCase{"CountedPageSeesItself", "/o/r", "class_rate_10m", std::log(3.0)},
                    ShadowCase{"DistinctAddressesIncludeItsOwn", "/o/r", "class_dip_10m",
                               std::log(3.0)},
                    ShadowCase{"ExpensiveShareAfterCounting", "/o/r/commit/0123456",
                               "expensive_share_10m", 0.5},
                    ShadowCase{"TrappedRequestIsScoredButNotCounted",
                               "/o/r/commit/0123456789abcdef0123", "class_rate_10m", 0.0},
                    ShadowCase{"TrappedRequestKeepsItsClass", "/o/r/commit/0123456789abcdef0123",
                               "expensive", 1.0},
                    ShadowCase{"GatewayScoredByTheClassItsPathWouldHave",
                               "/.well-known/bramblegate/rss/", "feed", 1.0},
                    ShadowCase{"GatewayIsNotCounted", "/.well-known/bramblegate/", "class_rate_10m",
                               std::log(2.0)}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
