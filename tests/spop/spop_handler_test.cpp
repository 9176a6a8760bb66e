// The SPOP handler over a fake connection and a scripted decision: what a
// parked NOTIFY does to the frames after it, where its answer goes and when,
// and what the decision hears back (replied, forgetParked).

#include "spop/spop_handler.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/agent_frame.hpp"
#include "support/spop_wire.hpp"

namespace vorn {
namespace {

class FakeConnection final : public ConnectionIo {
public:
    std::string in;
    std::string out;
    bool room = true;
    bool paused = false;
    bool closed = false;
    std::uintptr_t word = 0;

    std::span<const std::byte> input() const override {
        return std::as_bytes(std::span(in.data(), in.size()));
    }
    std::size_t inputSeen() const override { return 0; }
    void markSeen(std::size_t) override {}
    void consume(std::size_t bytes) override { in.erase(0, bytes); }
    bool reserveReply() override { return room; }
    void appendReply(std::span<const std::byte> bytes) override {
        out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    std::span<std::byte> wholeOutput() override { return {}; }
    void queueOutput(std::size_t, std::size_t) override {}
    void closeAfterFlush() override {}
    void close() override { closed = true; }
    void pauseInput() override { paused = true; }
    bool inputPaused() const override { return paused; }
    std::uintptr_t context() const override { return word; }
    void setContext(std::uintptr_t context) override { word = context; }
    ConnectionRef ref() const override { return {const_cast<FakeConnection*>(this)}; }
};

// Answers NOTIFYs from a script: a verdict, or parking in a slot. Records
// what the handler tells it.
class ScriptedDecision final : public NotifyHandler {
public:
    std::deque<NotifyReply> script;
    std::vector<Verdict> repliedWith;
    std::vector<std::uint16_t> forgotten;

    std::expected<NotifyReply, Error> handleNotify(std::span<const std::byte>, Nanos) override {
        NotifyReply next = script.front();
        script.pop_front();
        return next;
    }
    void replied(const NotifyReply& reply) override { repliedWith.push_back(reply.verdict); }
    void forgetParked(std::uint16_t slot) override { forgotten.push_back(slot); }
};

struct Harness final : PausedConnections {
    ScriptedDecision decision;
    SpopHandler handler{decision, *this};
    FakeConnection connection;

    void resumeInput(ConnectionRef ref) override {
        auto* resumed = static_cast<FakeConnection*>(ref.connection);
        resumed->paused = false;
        handler.onInput(*resumed);
    }
    // The frame ids and verdicts of the ACKs sent so far.
    std::vector<std::pair<std::uint64_t, std::string>> acks() const {
        std::vector<std::pair<std::uint64_t, std::string>> seen;
        std::string_view rest = connection.out;
        while (!rest.empty()) {
            auto size = test::wholeFrameSize(rest);
            if (!size || *size == 0) break;
            auto frame = test::decodeAgentFrame(rest.substr(0, *size));
            if (frame) seen.emplace_back(frame->frameId, frame->vars["vorn_verdict"]);
            rest.remove_prefix(*size);
        }
        return seen;
    }
};

NotifyReply answer(Verdict verdict) {
    NotifyReply reply;
    reply.verdict = verdict;
    reply.arrival = 1;
    return reply;
}

NotifyReply parkedIn(std::uint16_t slot) {
    NotifyReply reply;
    reply.parkedSlot = slot;
    return reply;
}

std::string notifyFrame(std::uint64_t frameId) {
    return test::notify(1, frameId, {{"vorn-check", {}}});
}

// A row's script and steps are words. The decision answers each NOTIFY with
// the next script word: "park" parks it in slot 7, "pass" or "watch" answers
// at once. Steps: "1" and "2", NOTIFY 1 or 2 arrives (and is handled unless
// input is paused); "answer", slot 7 is answered trap; "full", the output
// has no room; "room", it has again and the handler is called; "close".
struct ParkRow {
    std::string name;
    std::string script;
    std::string steps;
    std::string acks;     // "frame-id:verdict" words, in the order sent
    std::string replied;  // verdicts the decision heard were appended
    bool forgotten;       // the decision was told slot 7 is gone
    bool pausedAtEnd;
};

void PrintTo(const ParkRow& row, std::ostream* out) {
    *out << row.name;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

class Parking : public testing::TestWithParam<ParkRow> {};

TEST_P(Parking, KeepsTheOrderAndTellsTheDecision) {
    const ParkRow& row = GetParam();
    Harness harness;
    for (const std::string& word : words(row.script)) {
        harness.decision.script.push_back(word == "park"   ? parkedIn(7)
                                          : word == "pass" ? answer(Verdict::pass)
                                                           : answer(Verdict::watch));
    }
    FakeConnection& connection = harness.connection;
    for (const std::string& step : words(row.steps)) {
        if (step == "1" || step == "2") {
            connection.in += notifyFrame(std::stoull(step));
            if (!connection.paused) harness.handler.onInput(connection);
        } else if (step == "answer") {
            harness.handler.answerParked(7, answer(Verdict::trap));
        } else if (step == "full" || step == "room") {
            connection.room = step == "room";
            if (connection.room) harness.handler.onInput(connection);
        } else {
            harness.handler.onClosed(connection.word);
        }
    }
    std::string acks;
    for (const auto& [frameId, verdict] : harness.acks()) {
        acks.append(acks.empty() ? "" : " ").append(std::to_string(frameId)).append(":" + verdict);
    }
    std::string replied;
    for (Verdict verdict : harness.decision.repliedWith) {
        replied.append(replied.empty() ? "" : " ").append(verdictName(verdict));
    }
    EXPECT_EQ(acks, row.acks);
    EXPECT_EQ(replied, row.replied);
    EXPECT_EQ(harness.decision.forgotten,
              row.forgotten ? std::vector<std::uint16_t>{7} : std::vector<std::uint16_t>{});
    EXPECT_EQ(connection.paused, row.pausedAtEnd);
    EXPECT_FALSE(connection.closed);
}

INSTANTIATE_TEST_SUITE_P(
    Notifies, Parking,
    testing::Values(
        ParkRow{"DirectAnswerIsRepliedAtOnce", "pass", "1", "1:pass", "pass", false, false},
        ParkRow{"ParkedNotifyHoldsTheNextOneBack", "park watch", "1 2", "", "", false, true},
        ParkRow{"AnswerGoesOutBeforeTheFramesBehindIt", "park watch", "1 2 answer",
                "1:trap 2:watch", "trap watch", false, false},
        ParkRow{"AnswerWaitsForRoomThenLeadsTheWay", "park watch", "1 2 full answer room",
                "1:trap 2:watch", "trap watch", false, false},
        ParkRow{"CloseWhileCheckingForgetsTheSlot", "park", "1 close", "", "", true, true},
        ParkRow{"CloseWhileTheAnswerWaitsForRoomForgetsTheSlot", "park", "1 full answer close", "",
                "", true, false},
        ParkRow{"SlotIsFreeAgainAfterItsAnswer", "park park", "1 answer 2 answer", "1:trap 2:trap",
                "trap trap", false, false}),
    [](const testing::TestParamInfo<ParkRow>& info) { return info.param.name; });

TEST(SpopHandler, AParkedConnectionCarriesItsSlotAsItsContext) {
    Harness harness;
    harness.decision.script = {parkedIn(1023)};
    harness.connection.in = notifyFrame(1);
    harness.handler.onInput(harness.connection);
    EXPECT_EQ(harness.connection.word, 1024u);
    EXPECT_TRUE(harness.connection.in.empty()) << "the parked frame is consumed";
    harness.handler.answerParked(1023, answer(Verdict::pass));
    EXPECT_EQ(harness.connection.word, 0u);
    harness.handler.onClosed(harness.connection.word);
    EXPECT_TRUE(harness.decision.forgotten.empty());
}

}  // namespace
}  // namespace vorn
