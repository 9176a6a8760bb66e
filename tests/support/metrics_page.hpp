#pragma once

#include <optional>
#include <string_view>

namespace vorn::test {

// The value of one sample on a Prometheus text page. `series` is the sample's
// name with its labels exactly as the page writes them, e.g.
// vorn_spoa_reloads_total or vorn_spoa_notify_seconds_count{path="direct"}.
// Nothing when no line holds that series or its value is not a number.
[[nodiscard]] std::optional<double> metricValue(std::string_view page, std::string_view series);

}  // namespace vorn::test
