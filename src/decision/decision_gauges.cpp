#include "decision/decision_gauges.hpp"

namespace vorn {

void fillDecisionGauges(const DecisionState& state, Nanos now, MetricsGauges& gauges) {
    gauges.difficulty = state.challenge.difficulty;
    gauges.challengeMode = state.challenge.mode;
    gauges.challengeFrom = state.challenge.from;
    gauges.level = state.meter.level(now, state.windows);
    gauges.backlog = state.meter.lastBacklog();
    for (std::size_t c = 0; c < pathClassCount; ++c) {
        auto pathClass = static_cast<PathClass>(c);
        gauges.classRate[c] = state.windows.classRate(pathClass);
        gauges.classDistinctIps[c] = state.windows.classDistinctIps(pathClass);
        gauges.addressesDropped[c] = state.windows.addressesDropped(pathClass);
        gauges.addressCapacity[c] = state.windows.addressCapacity(pathClass);
    }
    gauges.expensiveShare = state.windows.expensiveShare();
    gauges.scorerEnabled = state.model.has_value();
}

}  // namespace vorn
