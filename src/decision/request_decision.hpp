#pragma once

#include "decision/decision_state.hpp"
#include "spop/connection_protocol.hpp"

namespace vorn {

// The per-request pipeline for each NOTIFY: read its facts, feed the meter,
// apply the verdict rules, and finish with the reply.
class RequestDecision : public NotifyHandler {
public:
    explicit RequestDecision(DecisionState& state) : state_(state) {}

    [[nodiscard]] std::expected<void, Error> handleNotify(Connection& connection,
                                                          const Frame& frame) override;

private:
    DecisionState& state_;
};

}  // namespace vorn
