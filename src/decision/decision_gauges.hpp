#pragma once

#include "common/nanos.hpp"
#include "decision/decision_state.hpp"
#include "observe/metrics_page.hpp"

namespace vorn {

// The decision's figures on the metrics page at `now`: the challenge
// settings, the meter and the rolling class statistics.
void fillDecisionGauges(const DecisionState& state, Nanos now, MetricsGauges& gauges);

}  // namespace vorn
