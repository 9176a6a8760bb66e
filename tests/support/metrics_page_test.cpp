#include "support/metrics_page.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vorn::test {
namespace {

const std::string page =
    "# HELP vorn_spoa_reloads_total Loads of keys and model.\n"
    "# TYPE vorn_spoa_reloads_total counter\n"
    "vorn_spoa_reloads_total 2\n"
    "vorn_spoa_reloads_total_extra 9\n"
    "vorn_spoa_notify_seconds_bucket{path=\"direct\",le=\"0.001\"} 15\n"
    "vorn_spoa_difficulty{level=\"calm\"} 0.0001220703125\n"
    "vorn_spoa_broken x\n";

struct MetricCase {
    std::string series;
    std::optional<double> value;
};

class MetricValue : public testing::TestWithParam<MetricCase> {};

TEST_P(MetricValue, FindsTheExactSeries) {
    EXPECT_EQ(metricValue(page, GetParam().series), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Series, MetricValue,
    testing::Values(MetricCase{"vorn_spoa_reloads_total", 2.0},
                    MetricCase{"vorn_spoa_notify_seconds_bucket{path=\"direct\",le=\"0.001\"}",
                               15.0},
                    MetricCase{"vorn_spoa_difficulty{level=\"calm\"}", 1.0 / 8192},
                    MetricCase{"vorn_spoa_difficulty", std::nullopt},
                    MetricCase{"vorn_spoa_broken", std::nullopt},
                    MetricCase{"vorn_spoa_missing", std::nullopt}));

}  // namespace
}  // namespace vorn::test
