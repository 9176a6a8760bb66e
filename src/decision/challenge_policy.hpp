#pragma once

#include <string_view>

#include "common/meter_level.hpp"
#include "common/receipt_status.hpp"
#include "decision/decision.hpp"
#include "decision/decision_state.hpp"

namespace vorn {

// The final decision for a request: a challengeable watch becomes a pass
// with a valid receipt, or a challenge once the meter reaches the policy's
// level, when challenges are on, a key is loaded and the path lies under the
// prefix. Anything else stays as the rules decided.
[[nodiscard]] Decision applyChallengePolicy(const Decision& decision, const ChallengePolicy& policy,
                                            std::string_view path, ReceiptStatus receipt,
                                            MeterLevel level);

// Whether a request counts as one that would have been challenged: a
// challengeable decision without a valid receipt that was not challenged,
// while challenges are not off.
[[nodiscard]] bool wouldChallenge(const Decision& decision, const Decision& final,
                                  const ChallengePolicy& policy, ReceiptStatus receipt);

}  // namespace vorn
