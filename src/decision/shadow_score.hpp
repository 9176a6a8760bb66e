#pragma once

#include <optional>

#include "decision/decision.hpp"
#include "decision/decision_state.hpp"
#include "decision/request_facts.hpp"

namespace vorn {

// Scores a decided request with the loaded model, if any, and counts the
// score in the statistics block. Call after the verdict rules, so that the
// rolling statistics include the request when the rules counted it; a
// gateway request is scored by the class its path would have. The result
// is never used by the verdict. Allocation-free.
[[nodiscard]] std::optional<double> shadowScore(DecisionState& state, const RequestFacts& facts,
                                                const Decision& decision);

}  // namespace vorn
