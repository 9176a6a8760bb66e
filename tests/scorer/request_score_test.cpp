#include "scorer/request_score.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// 2026-12-09T00:00:00Z.
constexpr Nanos dayStart = Nanos{1'796'774'400} * nanosPerSecond;

constexpr Nanos at(int hours, int minutes, int seconds) {
    return dayStart + Nanos{(hours * 60 + minutes) * 60 + seconds} * nanosPerSecond;
}

struct HourCase {
    std::string name;
    Nanos arrival;
    int hour;
};

void PrintTo(const HourCase& c, std::ostream* out) {
    *out << c.name;
}

class ArrivalHour : public testing::TestWithParam<HourCase> {};

TEST_P(ArrivalHour, FiveHoursWestOfUtc) {
    EXPECT_EQ(arrivalHour(GetParam().arrival), GetParam().hour);
}

INSTANTIATE_TEST_SUITE_P(
    Times, ArrivalHour,
    testing::Values(HourCase{"Utc0459", at(4, 59, 59), 23}, HourCase{"Utc0500", at(5, 0, 0), 0},
                    HourCase{"OneNanosecondBefore0500", at(5, 0, 0) - 1, 23},
                    HourCase{"Utc0559", at(5, 59, 59), 0}, HourCase{"Utc0600", at(6, 0, 0), 1},
                    HourCase{"UtcMidnight", at(0, 0, 0), 19},
                    HourCase{"Utc2359", at(23, 59, 59), 18}, HourCase{"Epoch", 0, 19},
                    HourCase{"JustBeforeEpoch", -1, 18},
                    HourCase{"ADayBeforeEpoch", -Nanos{86'400} * nanosPerSecond, 19}),
    [](const auto& info) { return info.param.name; });

struct Term {
    std::string_view name;
    double mean, scale, coef;
};

ScorerModel model(const std::vector<Term>& terms, double intercept) {
    ScorerModel m;
    for (const Term& term : terms) {
        m.features.push_back(resolveFeature(term.name));
        m.mean.push_back(term.mean);
        m.scale.push_back(term.scale);
        m.coef.push_back(term.coef);
    }
    m.intercept = intercept;
    return m;
}

ScorerModel neutral(std::size_t n) {
    return model(std::vector<Term>(n, Term{"page", 0.0, 1.0, 0.0}), 0.0);
}

double logistic(double z) {
    return 1.0 / (1.0 + std::exp(-z));
}

const ScoreInput pageAt10Utc{.pathClass = PathClass::page,
                             .classRate = 99,
                             .classDistinctIps = 3,
                             .expensiveShare = 0.25,
                             .arrival = at(10, 0, 0)};

ScoreInput ofClass(PathClass pathClass) {
    ScoreInput input = pageAt10Utc;
    input.pathClass = pathClass;
    return input;
}

struct ScoreCase {
    std::string name;
    ScorerModel model;
    ScoreInput input;
    std::optional<double> p;  // nothing: not scored; NaN: not a number
};

void PrintTo(const ScoreCase& c, std::ostream* out) {
    *out << c.name;
}

class ScoreRequest : public testing::TestWithParam<ScoreCase> {};

TEST_P(ScoreRequest, Probability) {
    const ScoreCase& c = GetParam();
    auto p = scoreRequest(c.model, c.input);
    ASSERT_EQ(p.has_value(), c.p.has_value());
    if (!p) return;
    if (std::isnan(*c.p)) {
        EXPECT_TRUE(std::isnan(*p)) << *p;
    } else {
        EXPECT_DOUBLE_EQ(*p, *c.p);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Models, ScoreRequest,
    testing::Values(
        ScoreCase{"NoFeaturesZeroInterceptIsOneHalf", model({}, 0.0), pageAt10Utc, 0.5},
        ScoreCase{"NoFeaturesIsTheIntercept", model({}, 2.0), pageAt10Utc, logistic(2.0)},
        ScoreCase{"ZeroWeightsAreOneHalf", neutral(5), pageAt10Utc, 0.5},
        ScoreCase{"PageOnAPage", model({{"page", 0.0, 1.0, 2.0}}, 0.0), pageAt10Utc, logistic(2.0)},
        ScoreCase{"PageOnAFeed", model({{"page", 0.0, 1.0, 2.0}}, 0.0), ofClass(PathClass::feed),
                  0.5},
        ScoreCase{"CapitalPageIsAlwaysZero", model({{"Page", 0.0, 1.0, 2.0}}, 0.0), pageAt10Utc,
                  0.5},
        ScoreCase{"GatewayNameIsAlwaysZero", model({{"gateway", 0.0, 1.0, 2.0}}, 0.0), pageAt10Utc,
                  0.5},
        ScoreCase{"ExpensiveOnAnExpensivePage", model({{"expensive", 0.5, 0.5, 1.0}}, 0.0),
                  ofClass(PathClass::expensive), logistic(1.0)},
        ScoreCase{"ClassRateIsLogOfOnePlus", model({{"class_rate_10m", 1.0, 2.0, 0.25}}, 0.5),
                  pageAt10Utc, logistic(0.5 + (std::log(100.0) - 1.0) / 2.0 * 0.25)},
        ScoreCase{"ClassDistinctIpsIsLogOfOnePlus", model({{"class_dip_10m", 0.0, 1.0, 1.0}}, 0.0),
                  pageAt10Utc, logistic(std::log(4.0))},
        ScoreCase{"ExpensiveShareAsItIs", model({{"expensive_share_10m", 0.5, 0.5, 1.0}}, 0.0),
                  pageAt10Utc, logistic(-0.5)},
        ScoreCase{"HourWithScaleZeroDividesByOne", model({{"hour", 0.0, 0.0, 0.5}}, 0.0),
                  pageAt10Utc, logistic(2.5)},
        ScoreCase{"NegativeZeroScaleDividesByOne", model({{"hour", 0.0, -0.0, 0.5}}, 0.0),
                  pageAt10Utc, logistic(2.5)},
        // The terms are added in model order onto the intercept: 1 is lost
        // against 1e16, then the two large terms cancel.
        ScoreCase{"TermsAddUpInModelOrder",
                  model({{"page", 0.0, 1.0, 1e16}, {"page", 0.0, 1.0, -1e16}}, 1.0), pageAt10Utc,
                  0.5},
        ScoreCase{"SixtyFourFeaturesAreScored", neutral(64), pageAt10Utc, 0.5},
        ScoreCase{"SixtyFiveFeaturesAreNot", neutral(65), pageAt10Utc, std::nullopt},
        ScoreCase{"OverflowUpwardIsOne", model({{"page", 0.0, 1e-300, 1e300}}, 0.0), pageAt10Utc,
                  1.0},
        ScoreCase{"OverflowDownwardIsZero", model({{"page", 0.0, 1e-300, -1e300}}, 0.0),
                  pageAt10Utc, 0.0},
        ScoreCase{"OpposedOverflowsAreNotANumber",
                  model({{"page", 0.0, 1e-300, 1e300}, {"page", 0.0, 1e-300, -1e300}}, 0.0),
                  pageAt10Utc, nan}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
