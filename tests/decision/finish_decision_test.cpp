#include "decision/finish_decision.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace vorn {
namespace {

using SetVars = std::vector<std::pair<std::string, std::string>>;

constexpr Decision expensiveWatch{PathClass::expensive, Verdict::watch, Reason::expensive, true};
constexpr Decision hotWatch{PathClass::tracker, Verdict::watch, Reason::hot, true};
constexpr Decision gateway{std::nullopt, Verdict::pass, Reason::gateway, false};

class FinishDecision : public testing::Test {
protected:
    StatsBlock stats;
    DecisionState state{BacklogMeter(4, 16, 300 * nanosPerSecond), *ClassWindows::create(1 << 20),
                        ChallengePolicy{}, LogVerdicts::none, stats};

    void SetUp() override { state.challenge.difficulty = {1.0 / 8192, 1.0 / 2048, 1.0 / 2048}; }

    void challengesOn(std::string_view prefix, MeterLevel from) {
        state.challenge.mode = ChallengeMode::on;
        state.challenge.prefix = prefix;
        state.challenge.from = from;
        state.challenge.keysLoaded = true;
    }
    void makeHot() { state.meter.recordBacklog(4, wallClockNanos()); }

    // Finishes one request and returns the reply's variables, in the order
    // the ACK carries them.
    SetVars finish(const Decision& decision, std::string_view path,
                   ReceiptStatus receipt = ReceiptStatus::none) {
        RequestSummary summary;
        summary.arrival = wallClockNanos();
        summary.path = path;
        summary.receiptStatus = receipt;
        NotifyReply reply = finishDecision(state, decision, summary);
        SetVars vars{{"vorn_verdict", std::string(verdictName(reply.verdict))}};
        if (reply.difficultyLength > 0) {
            vars.emplace_back("vorn_difficulty", std::string(reply.difficultyText()));
        }
        if (reply.receipt != ReceiptStatus::none) {
            vars.emplace_back("vorn_receipt", std::string(receiptStatusName(reply.receipt)));
        }
        return vars;
    }

    std::uint64_t decisions(Verdict verdict, std::size_t slot, Reason reason) const {
        return stats.decisions[indexOf(verdict)][slot][indexOf(reason)];
    }
};

TEST_F(FinishDecision, ChallengesOffNeverChallengeButGatewaysGetTheDifficulty) {
    makeHot();
    EXPECT_EQ(finish(expensiveWatch, "/o/r/commit/abcdef0"), (SetVars{{"vorn_verdict", "watch"}}));
    EXPECT_EQ(finish(gateway, "/.well-known/bramblegate/"),
              (SetVars{{"vorn_verdict", "pass"}, {"vorn_difficulty", "0.00048828125"}}));
    EXPECT_EQ(stats.wouldChallenge, (std::array<std::uint64_t, 3>{}));
    EXPECT_EQ(decisions(Verdict::watch, 0, Reason::expensive), 1u);
    EXPECT_EQ(decisions(Verdict::pass, gatewaySlot, Reason::gateway), 1u);
}

TEST_F(FinishDecision, ShadowModeCountsWouldChallengeUnlessTheReceiptIsValid) {
    state.challenge.mode = ChallengeMode::shadow;
    EXPECT_EQ(finish(hotWatch, "/o/r/issues", ReceiptStatus::expired),
              (SetVars{{"vorn_verdict", "watch"}, {"vorn_receipt", "expired"}}));
    EXPECT_EQ(finish(hotWatch, "/o/r/issues", ReceiptStatus::valid),
              (SetVars{{"vorn_verdict", "watch"}, {"vorn_receipt", "valid"}}));
    EXPECT_EQ(stats.wouldChallenge[indexOf(MeterLevel::calm)], 1u);
    EXPECT_EQ(stats.receipts[indexOf(ReceiptStatus::expired)], 1u);
    EXPECT_EQ(stats.receipts[indexOf(ReceiptStatus::valid)], 1u);
}

TEST_F(FinishDecision, OnModeChallengesUnderThePrefixFromTheLevel) {
    challengesOn("/o/", MeterLevel::hot);
    EXPECT_EQ(finish(expensiveWatch, "/o/r/commit/abcdef0"), (SetVars{{"vorn_verdict", "watch"}}));
    EXPECT_EQ(stats.wouldChallenge[indexOf(MeterLevel::calm)], 1u);
    makeHot();
    EXPECT_EQ(finish(expensiveWatch, "/o/r/commit/abcdef0"),
              (SetVars{{"vorn_verdict", "challenge"}, {"vorn_difficulty", "0.00048828125"}}));
    EXPECT_EQ(stats.challenges[indexOf(MeterLevel::hot)], 1u);
    EXPECT_EQ(decisions(Verdict::challenge, 0, Reason::expensive), 1u);
    // Outside the prefix nothing changes, and a valid receipt is no would-challenge.
    EXPECT_EQ(finish(expensiveWatch, "/p/r/commit/abcdef0", ReceiptStatus::valid),
              (SetVars{{"vorn_verdict", "watch"}, {"vorn_receipt", "valid"}}));
    EXPECT_EQ(stats.wouldChallenge[indexOf(MeterLevel::hot)], 0u);
}

TEST_F(FinishDecision, OnModeReceiptsDecide) {
    challengesOn("", MeterLevel::calm);
    EXPECT_EQ(finish(expensiveWatch, "/o/r/commit/abcdef0", ReceiptStatus::valid),
              (SetVars{{"vorn_verdict", "pass"}, {"vorn_receipt", "valid"}}));
    EXPECT_EQ(decisions(Verdict::pass, 0, Reason::receipt), 1u);
    EXPECT_EQ(finish(expensiveWatch, "/o/r/commit/abcdef0", ReceiptStatus::expired),
              (SetVars{{"vorn_verdict", "challenge"},
                       {"vorn_difficulty", "0.0001220703125"},
                       {"vorn_receipt", "expired"}}));
    // Not challengeable: signed in.
    Decision authed{PathClass::expensive, Verdict::watch, Reason::expensive_authed, false};
    EXPECT_EQ(finish(authed, "/o/r/commit/abcdef0"), (SetVars{{"vorn_verdict", "watch"}}));
}

TEST_F(FinishDecision, OnModeWithoutKeysChallengesNothing) {
    challengesOn("", MeterLevel::calm);
    state.challenge.keysLoaded = false;
    EXPECT_EQ(finish(hotWatch, "/o/r/issues"), (SetVars{{"vorn_verdict", "watch"}}));
    EXPECT_EQ(stats.wouldChallenge[indexOf(MeterLevel::calm)], 1u);
}

TEST_F(FinishDecision, ADifficultyTooLongForItsTextIsNotSent) {
    challengesOn("", MeterLevel::calm);
    state.challenge.difficulty[0] = 1.2345678901234567e-20;
    EXPECT_EQ(finish(hotWatch, "/o/r/issues"), (SetVars{{"vorn_verdict", "challenge"}}));
}

TEST_F(FinishDecision, TheReplyCarriesTheArrivalForTheAnswerTime) {
    RequestSummary summary;
    summary.path = "/";
    summary.arrival = 12345;
    EXPECT_EQ(finishDecision(state, gateway, summary).arrival, 12345);
    EXPECT_EQ(stats.latency[indexOf(LatencyPath::direct)].count, 0u) << "timed once appended";
}

TEST_F(FinishDecision, AnswerTimeIsMeasuredFromArrivalOnItsPath) {
    constexpr Nanos appended = 1'800'000'000'000'000'000;
    recordAnswerTime(stats, appended - 30'000'000, true, appended);
    recordAnswerTime(stats, appended - 60'000'000, true, appended);
    recordAnswerTime(stats, appended + 1'000'000'000, false, appended);  // clock set back: 0

    const LatencyHistogram& verify = stats.latency[indexOf(LatencyPath::verify)];
    EXPECT_EQ(verify.count, 2u);
    EXPECT_EQ(verify.buckets[9], 1u) << "30 ms is in the 50 ms bucket";
    EXPECT_EQ(verify.sumNanos, 90'000'000u);
    const LatencyHistogram& direct = stats.latency[indexOf(LatencyPath::direct)];
    EXPECT_EQ(direct.count, 1u);
    EXPECT_EQ(direct.buckets[0], 1u);
}

}  // namespace
}  // namespace vorn
