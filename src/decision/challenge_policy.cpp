#include "decision/challenge_policy.hpp"

namespace vorn {

Decision applyChallengePolicy(const Decision& decision, const ChallengePolicy& policy,
                              std::string_view path, ReceiptStatus receipt, MeterLevel level) {
    bool applies = decision.challengeable && policy.mode == ChallengeMode::on &&
                   policy.keysLoaded && path.starts_with(policy.prefix);
    if (!applies) return decision;
    Decision final = decision;
    if (receipt == ReceiptStatus::valid) {
        final.verdict = Verdict::pass;
        final.reason = Reason::receipt;
    } else if (indexOf(level) >= indexOf(policy.from)) {
        final.verdict = Verdict::challenge;
    }
    return final;
}

bool wouldChallenge(const Decision& decision, const Decision& final, const ChallengePolicy& policy,
                    ReceiptStatus receipt) {
    return final.verdict != Verdict::challenge && policy.mode != ChallengeMode::off &&
           decision.challengeable && receipt != ReceiptStatus::valid;
}

}  // namespace vorn
