#include "decision/finish_decision.hpp"

#include "common/decimal.hpp"
#include "decision/challenge_policy.hpp"
#include "observe/verdict_log.hpp"

namespace vorn {

namespace {

void countOutcome(DecisionState& state, const Decision& decision, const Decision& final,
                  ReceiptStatus receipt, MeterLevel level) {
    StatsBlock& stats = state.stats;
    ++stats.decisions[indexOf(final.verdict)][final.classSlot()][indexOf(final.reason)];
    if (receipt != ReceiptStatus::none) ++stats.receipts[indexOf(receipt)];
    if (final.verdict == Verdict::challenge) {
        ++stats.challenges[indexOf(level)];
    } else if (wouldChallenge(decision, final, state.challenge, receipt)) {
        ++stats.wouldChallenge[indexOf(level)];
    }
}

// A difficulty that needs more characters than the reply holds is not sent.
void setDifficulty(NotifyReply& reply, double difficulty) {
    if (auto text = formatDecimal(difficulty, reply.difficulty)) {
        reply.difficultyLength = static_cast<std::uint8_t>(text->size());
    }
}

}  // namespace

void recordAnswerTime(StatsBlock& stats, Nanos arrival, bool waitedForVerify, Nanos appended) {
    const Nanos elapsed = appended - arrival;
    auto nanos = static_cast<std::uint64_t>(elapsed < 0 ? 0 : elapsed);
    auto path = waitedForVerify ? LatencyPath::verify : LatencyPath::direct;
    stats.latency[indexOf(path)].record(nanos);
}

NotifyReply finishDecision(DecisionState& state, const Decision& decision,
                           const RequestSummary& summary) {
    // The level of the finishing moment: a resumed request sees the level
    // of the moment its check came back.
    MeterLevel level = state.meter.level(wallClockNanos(), state.windows);
    ReceiptStatus receipt = summary.receiptStatus;
    Decision final = applyChallengePolicy(decision, state.challenge, summary.path, receipt, level);
    countOutcome(state, decision, final, receipt, level);

    NotifyReply reply;
    reply.verdict = final.verdict;
    reply.receipt = receipt;
    reply.arrival = summary.arrival;
    if (final.verdict == Verdict::challenge || final.reason == Reason::gateway) {
        setDifficulty(reply, state.challenge.difficulty[indexOf(level)]);
    }
    std::optional<std::string_view> difficulty;
    if (reply.difficultyLength > 0) difficulty = reply.difficultyText();
    VerdictRecord record{summary.ip,   final.verdict,   final.reason, final.classSlot(),
                         summary.path, summary.referer, receipt,      level,
                         difficulty,   summary.score};
    logVerdict(record, state.logVerdicts, state.stats);
    return reply;
}

}  // namespace vorn
