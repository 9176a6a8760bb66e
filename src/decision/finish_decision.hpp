#pragma once

#include <cstdint>
#include <string_view>

#include "common/nanos.hpp"
#include "common/receipt_status.hpp"
#include "decision/decision.hpp"
#include "decision/decision_state.hpp"
#include "loop/connection.hpp"

namespace vorn {

// What the finishing step needs besides the decision. For a request resumed
// after a signature check, `path` and `ip` are the kept copies and
// `referer` is empty.
struct RequestSummary {
    Nanos arrival = 0;
    std::string_view path;
    std::string_view ip;
    std::string_view referer;
    double score = 0;
    bool scored = false;
    ReceiptStatus receiptStatus = ReceiptStatus::none;
    bool waitedForVerify = false;
};

// Where the ACK goes: the NOTIFY's connection and identifiers.
struct AckAddress {
    Connection& connection;
    std::uint64_t streamId;
    std::uint64_t frameId;
};

// Applies the challenge policy at the meter level of this moment, counts the
// outcome, appends the ACK (vorn_verdict, then vorn_difficulty and
// vorn_receipt when they apply) to the connection's output, records the
// NOTIFY-to-ACK time and hands the request to the verdict log. The output
// must have room for one reply.
void finishDecision(DecisionState& state, const AckAddress& ack, const Decision& decision,
                    const RequestSummary& summary);

// The ACK for a NOTIFY without the agent's message: vorn_verdict "pass"
// only; nothing is counted or logged.
void writePassOnlyAck(const AckAddress& ack);

}  // namespace vorn
