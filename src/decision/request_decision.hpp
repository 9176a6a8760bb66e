#pragma once

#include <cstddef>
#include <expected>
#include <span>

#include "common/error.hpp"
#include "common/notify_reply.hpp"
#include "decision/decision_state.hpp"

namespace vorn {

// The per-request pipeline for each NOTIFY: read its facts, feed the meter,
// apply the verdict rules, and finish with the reply.
class RequestDecision {
public:
    explicit RequestDecision(DecisionState& state) : state_(state) {}

    // The reply to one NOTIFY's message list: a bare pass when it holds no
    // "vorn-check" message (nothing is counted or logged then), Truncated or
    // BadType when the list or an argument is malformed.
    [[nodiscard]] std::expected<NotifyReply, Error> handleNotify(
        std::span<const std::byte> payload);

private:
    DecisionState& state_;
};

}  // namespace vorn
