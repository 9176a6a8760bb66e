#include "decision/finish_decision.hpp"

#include <array>
#include <optional>

#include "common/decimal.hpp"
#include "decision/challenge_policy.hpp"
#include "observe/verdict_log.hpp"
#include "spop/codec/frame_writer.hpp"
#include "spop/connection_protocol.hpp"

namespace vorn {

namespace {

// A difficulty that needs more characters is not sent at all.
constexpr std::size_t difficultyTextCapacity = 32;

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

void writeAck(const AckAddress& ack, const Decision& final,
              std::optional<std::string_view> difficulty, ReceiptStatus receipt) {
    FrameWriter writer;
    writer.begin(FrameType::ack, ack.streamId, ack.frameId);
    writer.putSetVar("vorn_verdict", verdictName(final.verdict));
    if (difficulty) writer.putSetVar("vorn_difficulty", *difficulty);
    if (receipt != ReceiptStatus::none)
        writer.putSetVar("vorn_receipt", receiptStatusName(receipt));
    appendOutput(ack.connection, writer.finish());
}

void recordLatency(StatsBlock& stats, const RequestSummary& summary) {
    Nanos elapsed = wallClockNanos() - summary.arrival;
    auto nanos = static_cast<std::uint64_t>(elapsed < 0 ? 0 : elapsed);
    auto path = summary.waitedForVerify ? LatencyPath::verify : LatencyPath::direct;
    stats.latency[indexOf(path)].record(nanos);
}

}  // namespace

void finishDecision(DecisionState& state, const AckAddress& ack, const Decision& decision,
                    const RequestSummary& summary) {
    MeterLevel level = state.meter.level(wallClockNanos(), state.windows);
    ReceiptStatus receipt = summary.receiptStatus;
    Decision final = applyChallengePolicy(decision, state.challenge, summary.path, receipt, level);
    countOutcome(state, decision, final, receipt, level);

    std::array<char, difficultyTextCapacity> difficultyText{};
    std::optional<std::string_view> difficulty;
    if (final.verdict == Verdict::challenge || final.reason == Reason::gateway) {
        difficulty = formatDecimal(state.challenge.difficulty[indexOf(level)], difficultyText);
    }
    writeAck(ack, final, difficulty, receipt);
    recordLatency(state.stats, summary);

    VerdictRecord record{
        summary.ip,   final.verdict,
        final.reason, final.classSlot(),
        summary.path, summary.referer,
        receipt,      level,
        difficulty,   summary.scored ? std::optional(summary.score) : std::nullopt};
    logVerdict(record, state.logVerdicts, state.stats);
}

void writePassOnlyAck(const AckAddress& ack) {
    FrameWriter writer;
    writer.begin(FrameType::ack, ack.streamId, ack.frameId);
    writer.putSetVar("vorn_verdict", verdictName(Verdict::pass));
    appendOutput(ack.connection, writer.finish());
}

}  // namespace vorn
