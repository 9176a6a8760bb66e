#pragma once

#include <optional>
#include <string_view>

#include "common/nanos.hpp"
#include "common/notify_reply.hpp"
#include "common/receipt_status.hpp"
#include "decision/decision.hpp"
#include "decision/decision_state.hpp"

namespace vorn {

// What the finishing step needs besides the decision. For a request resumed
// after a signature check, `path` and `ip` are the kept copies and
// `referer` is empty.
struct RequestSummary {
    Nanos arrival = 0;
    std::string_view path;
    std::string_view ip;
    std::string_view referer;
    std::optional<double> score;
    ReceiptStatus receiptStatus = ReceiptStatus::none;
};

// Applies the challenge policy at the meter level of this moment, counts the
// outcome, hands the request to the verdict log and returns the reply:
// vorn_verdict, then vorn_difficulty and vorn_receipt when they apply, with
// the arrival for recordAnswerTime once the ACK is appended.
[[nodiscard]] NotifyReply finishDecision(DecisionState& state, const Decision& decision,
                                         const RequestSummary& summary);

// Records the NOTIFY-to-ACK time of an answered request at `appended`,
// labelled verify when it waited for a signature check.
void recordAnswerTime(StatsBlock& stats, Nanos arrival, bool waitedForVerify, Nanos appended);

}  // namespace vorn
