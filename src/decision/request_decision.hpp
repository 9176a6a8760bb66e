#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "common/error.hpp"
#include "common/notify_reply.hpp"
#include "decision/decision_state.hpp"
#include "decision/pending_requests.hpp"
#include "decision/request_facts.hpp"
#include "receipt/receipt_state.hpp"
#include "spop/notify_handler.hpp"

namespace vorn {

// The per-request pipeline for each NOTIFY: read its facts, feed the meter,
// apply the verdict rules, judge the pass receipt, and finish with the
// reply. A receipt whose signature has not been checked yet parks the
// request in one of its slots until the check comes back; the slot is held
// until the answer's ACK has been appended. Belongs to the loop thread.
class RequestDecision final : public NotifyHandler {
public:
    RequestDecision(DecisionState& state, ReceiptState& receipts, ParkedNotifies& parked)
        : state_(state), receipts_(receipts), parked_(parked) {}

    // The reply to one NOTIFY's message list: a bare pass when it holds no
    // "vorn-check" message (nothing is counted or logged then), a parked
    // slot when a signature check must come first, Truncated or BadType
    // when the list or an argument is malformed. Every time comparison for
    // the request uses `arrival`.
    [[nodiscard]] std::expected<NotifyReply, Error> handleNotify(std::span<const std::byte> payload,
                                                                 Nanos arrival) override;
    // Records the answer time, and frees the slot of a request that waited.
    void replied(const NotifyReply& reply) override;
    void forgetParked(std::uint16_t slot) override;

    // The signature check for parked slot `slot` came back: the book learns
    // the result and the request is finished, its answer handed to the SPOP
    // handler. When its connection has gone meanwhile, only the book learns
    // it and the slot is freed (nothing is counted or logged).
    void completeCheck(std::uint16_t slot, bool ok);

    // Requests parked or waiting for their ACK to be appended.
    [[nodiscard]] std::uint32_t parkedRequests() const { return pending_.parked(); }

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
    [[nodiscard]] std::optional<ReceiptStatus> settle(std::uint16_t slot, bool ok);

    DecisionState& state_;
    ReceiptState& receipts_;
    ParkedNotifies& parked_;
    PendingRequests pending_;
};

}  // namespace vorn
