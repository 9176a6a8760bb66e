#include "decision/request_decision.hpp"

#include <array>

#include "decision/agent_message.hpp"
#include "decision/client_address.hpp"
#include "decision/finish_decision.hpp"
#include "decision/shadow_score.hpp"
#include "decision/verdict_rules.hpp"
#include "receipt/verify_job.hpp"

namespace vorn {

namespace {

// Receipts count whole seconds, cut toward zero.
std::int64_t wholeSeconds(Nanos time) {
    return static_cast<std::int64_t>(time / nanosPerSecond);
}

}  // namespace

std::expected<NotifyReply, Error> RequestDecision::handleNotify(std::span<const std::byte> payload,
                                                                Nanos arrival) {
    RequestFacts facts;
    facts.arrival = arrival;
    std::array<char, ipTextCapacity> ipText{};
    auto found = readAgentMessage(payload, state_.site.sessionCookie, facts, ipText);
    if (!found) return std::unexpected(found.error());
    if (!*found) return NotifyReply{};
    facts.ipHash = ipHash(facts.ip);
    if (facts.backlog) state_.meter.recordBacklog(*facts.backlog, facts.arrival);
    Decision decision = decide(facts, state_.site.domain, state_.windows);
    std::optional<double> score = shadowScore(state_, facts, decision);

    Judged receipt = judgeReceipt(facts, decision, score);
    if (receipt.parkedSlot) {
        NotifyReply parked;
        parked.parkedSlot = receipt.parkedSlot;
        return parked;
    }
    RequestSummary summary;
    summary.arrival = facts.arrival;
    summary.path = facts.path;
    summary.ip = facts.ip;
    summary.referer = facts.referer;
    summary.score = score;
    summary.receiptStatus = receipt.status;
    return finishDecision(state_, decision, summary);
}

// Form, expiry, audience and key first; then the book, which either knows
// the receipt or asks for its signature to be checked.
RequestDecision::Judged RequestDecision::judgeReceipt(const RequestFacts& facts,
                                                      const Decision& decision,
                                                      std::optional<double> score) {
    if (state_.challenge.mode == ChallengeMode::off || facts.passToken.empty()) return {};
    const std::int64_t now = wholeSeconds(facts.arrival);
    auto receipt = receipts_.checker.check(facts.passToken, facts.host, receipts_.keys, now);
    if (!receipt) return {receipt.error(), std::nullopt};
    BookAnswer answer = receipts_.book.lookup(*receipt, facts.ipHash, now);
    if (!answer.needsCheck) return {answer.status, std::nullopt};
    std::optional<std::uint16_t> slot = park(facts, decision, score, *receipt);
    if (!slot) return {ReceiptStatus::overload, std::nullopt};
    return {ReceiptStatus::none, slot};
}

// Takes a slot and queues the signature check; nothing, with nothing
// changed, when no slot is free or the job ring is full.
std::optional<std::uint16_t> RequestDecision::park(const RequestFacts& facts,
                                                   const Decision& decision,
                                                   std::optional<double> score,
                                                   const Receipt& receipt) {
    if (receipts_.pool == nullptr) return std::nullopt;
    std::optional<std::uint16_t> slot = pending_.take();
    if (!slot) return std::nullopt;
    if (!receipts_.pool->submit(makeVerifyJob(receipt, *slot, 0))) {
        pending_.release(*slot);
        return std::nullopt;
    }
    PendingRequest& parked = pending_[*slot];
    parked.arrival = facts.arrival;
    parked.decision = decision;
    parked.score = score;
    parked.ipHash = facts.ipHash;
    parked.receipt = receipt;
    parked.keepText(facts.ip, facts.path);
    return slot;
}

void RequestDecision::completeCheck(std::uint16_t slot, bool ok) {
    PendingRequest& parked = pending_[slot];
    if (!parked.inUse || parked.stage != PendingRequest::Stage::checking) return;
    std::optional<ReceiptStatus> status = settle(slot, ok);
    if (!status) return;
    if (parked.connectionGone) {
        pending_.release(slot);
        return;
    }
    parked.stage = PendingRequest::Stage::answered;
    RequestSummary summary;
    summary.arrival = parked.arrival;
    summary.path = parked.pathText();
    summary.ip = parked.ipText();
    summary.score = parked.score;
    summary.receiptStatus = *status;
    NotifyReply reply = finishDecision(state_, parked.decision, summary);
    reply.waitedInSlot = slot;
    parked_.answerParked(slot, reply);
}

// What the check of a parked receipt comes to. The book learns it, unless
// the key its id names was replaced or removed while it waited: a removed
// key makes the receipt bad, as it would on arrival; a replaced one has it
// checked again under the new key (nothing yet), or overload when no job
// can be queued for that.
std::optional<ReceiptStatus> RequestDecision::settle(std::uint16_t slot, bool ok) {
    PendingRequest& parked = pending_[slot];
    Receipt& receipt = parked.receipt;
    const PublicKey* key = receipts_.keys.lookup(receipt.keyId());
    if (key == nullptr) return ReceiptStatus::bad;
    if (*key != receipt.publicKey) {
        if (parked.connectionGone) return ReceiptStatus::none;
        receipt.publicKey = *key;
        receipt.keyDigest = keyDigest(*key);
        if (receipts_.pool->submit(makeVerifyJob(receipt, slot, 0))) return std::nullopt;
        return ReceiptStatus::overload;
    }
    return receipts_.book.complete(receipt, ok, parked.ipHash, wholeSeconds(wallClockNanos()));
}

void RequestDecision::replied(const NotifyReply& reply) {
    if (!reply.arrival) return;
    recordAnswerTime(state_.stats, *reply.arrival, reply.waitedInSlot.has_value(),
                     wallClockNanos());
    if (reply.waitedInSlot) pending_.release(*reply.waitedInSlot);
}

void RequestDecision::forgetParked(std::uint16_t slot) {
    PendingRequest& parked = pending_[slot];
    if (parked.stage == PendingRequest::Stage::answered) {
        pending_.release(slot);
    } else {
        parked.connectionGone = true;
    }
}

}  // namespace vorn
