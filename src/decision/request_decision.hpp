#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "common/error.hpp"
#include "common/notify_reply.hpp"
#include "decision/decision_state.hpp"
#include "decision/receipt_state.hpp"
#include "decision/request_facts.hpp"

namespace vorn {

// The per-request pipeline for each NOTIFY: read its facts, feed the meter,
// apply the verdict rules, judge the pass receipt, and finish with the
// reply. A receipt whose signature has not been checked yet parks the
// request until the check comes back. Belongs to the loop thread.
class RequestDecision {
public:
    RequestDecision(DecisionState& state, ReceiptState& receipts)
        : state_(state), receipts_(receipts) {}

    // The reply to one NOTIFY's message list: a bare pass when it holds no
    // "vorn-check" message (nothing is counted or logged then), a parked
    // slot when a signature check must come first, Truncated or BadType
    // when the list or an argument is malformed. Every time comparison for
    // the request uses `arrival`.
    [[nodiscard]] std::expected<NotifyReply, Error> handleNotify(std::span<const std::byte> payload,
                                                                 Nanos arrival);

    // The signature check for parked slot `slot` came back: the book learns
    // the result, the slot is freed, and the request is finished. Nothing
    // when its connection has gone meanwhile (then nothing is counted or
    // logged either).
    [[nodiscard]] std::optional<NotifyReply> resume(std::uint16_t slot, bool ok);

    // The connection of parked slot `slot` closed.
    void forgetParked(std::uint16_t slot) { receipts_.pending[slot].connectionGone = true; }

private:
    struct Judged {
        ReceiptStatus status = ReceiptStatus::none;
        std::optional<std::uint16_t> parkedSlot;
    };
    [[nodiscard]] Judged judgeReceipt(const RequestFacts& facts, const Decision& decision,
                                      std::optional<double> score);
    [[nodiscard]] std::optional<std::uint16_t> park(const RequestFacts& facts,
                                                    const Decision& decision,
                                                    std::optional<double> score,
                                                    const Receipt& receipt);

    DecisionState& state_;
    ReceiptState& receipts_;
};

}  // namespace vorn
