// The SPOP handler over a fake connection and a scripted decision: what a
// parked NOTIFY does to the frames after it, where its answer goes and when,
// and what the decision hears back (replied, forgetParked).

#include "spop/spop_handler.hpp"

#include <gtest/gtest.h>

#include <deque>
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

// One thing that happens to the connection, in order.
enum class Step : std::uint8_t {
    notifyOne,    // NOTIFY 1 arrives (and is handled unless input is paused)
    notifyTwo,    // NOTIFY 2 arrives behind it
    answerSlot7,  // the decision answers slot 7: trap
    noRoom,       // the output has no room for a reply
    room,         // room again, and the handler is called
    closeIt,      // the connection closes
};

struct ParkRow {
    std::string name;
    std::deque<NotifyReply> script;
    std::vector<Step> steps;
    std::vector<std::pair<std::uint64_t, std::string>> acks;
    std::vector<Verdict> repliedWith;
    std::vector<std::uint16_t> forgotten;
    bool pausedAtEnd;
};

void PrintTo(const ParkRow& row, std::ostream* out) {
    *out << row.name;
}

class Parking : public testing::TestWithParam<ParkRow> {};

TEST_P(Parking, KeepsTheOrderAndTellsTheDecision) {
    const ParkRow& row = GetParam();
    Harness harness;
    harness.decision.script = row.script;
    FakeConnection& connection = harness.connection;
    for (Step step : row.steps) {
        switch (step) {
            case Step::notifyOne:
            case Step::notifyTwo:
                connection.in += notifyFrame(step == Step::notifyOne ? 1 : 2);
                if (!connection.paused) harness.handler.onInput(connection);
                break;
            case Step::answerSlot7:
                harness.handler.answerParked(7, answer(Verdict::trap));
                break;
            case Step::noRoom:
                connection.room = false;
                break;
            case Step::room:
                connection.room = true;
                harness.handler.onInput(connection);
                break;
            case Step::closeIt:
                harness.handler.onClosed(connection.word);
                break;
        }
    }
    EXPECT_EQ(harness.acks(), row.acks);
    EXPECT_EQ(harness.decision.repliedWith, row.repliedWith);
    EXPECT_EQ(harness.decision.forgotten, row.forgotten);
    EXPECT_EQ(connection.paused, row.pausedAtEnd);
    EXPECT_FALSE(connection.closed);
}

using enum Step;
const Verdict pass = Verdict::pass;
const Verdict trap = Verdict::trap;
const Verdict watch = Verdict::watch;

INSTANTIATE_TEST_SUITE_P(Notifies, Parking,
                         testing::Values(ParkRow{"DirectAnswerIsRepliedAtOnce",
                                                 {answer(pass)},
                                                 {notifyOne},
                                                 {{1, "pass"}},
                                                 {pass},
                                                 {},
                                                 false},
                                         ParkRow{"ParkedNotifyHoldsTheNextOneBack",
                                                 {parkedIn(7), answer(watch)},
                                                 {notifyOne, notifyTwo},
                                                 {},
                                                 {},
                                                 {},
                                                 true},
                                         ParkRow{"AnswerGoesOutBeforeTheFramesBehindIt",
                                                 {parkedIn(7), answer(watch)},
                                                 {notifyOne, notifyTwo, answerSlot7},
                                                 {{1, "trap"}, {2, "watch"}},
                                                 {trap, watch},
                                                 {},
                                                 false},
                                         ParkRow{"AnswerWaitsForRoomThenLeadsTheWay",
                                                 {parkedIn(7), answer(watch)},
                                                 {notifyOne, notifyTwo, noRoom, answerSlot7, room},
                                                 {{1, "trap"}, {2, "watch"}},
                                                 {trap, watch},
                                                 {},
                                                 false},
                                         ParkRow{"CloseWhileCheckingForgetsTheSlot",
                                                 {parkedIn(7)},
                                                 {notifyOne, closeIt},
                                                 {},
                                                 {},
                                                 {7},
                                                 true},
                                         ParkRow{"CloseWhileTheAnswerWaitsForRoomForgetsTheSlot",
                                                 {parkedIn(7)},
                                                 {notifyOne, noRoom, answerSlot7, closeIt},
                                                 {},
                                                 {},
                                                 {7},
                                                 false},
                                         ParkRow{"SlotIsFreeAgainAfterItsAnswer",
                                                 {parkedIn(7), parkedIn(7)},
                                                 {notifyOne, answerSlot7, notifyTwo, answerSlot7},
                                                 {{1, "trap"}, {2, "trap"}},
                                                 {trap, trap},
                                                 {},
                                                 false}),
                         [](const testing::TestParamInfo<ParkRow>& info) {
                             return info.param.name;
                         });

TEST(SpopHandler, AParkedConnectionCarriesItsSlotAsItsContext) {
    Harness harness;
    harness.decision.script = {parkedIn(1023)};
    harness.connection.in = notifyFrame(1);
    harness.handler.onInput(harness.connection);
    EXPECT_EQ(harness.connection.word, 1024u);
    EXPECT_TRUE(harness.connection.in.empty()) << "the parked frame is consumed";
    harness.handler.answerParked(1023, answer(pass));
    EXPECT_EQ(harness.connection.word, 0u);
    harness.handler.onClosed(harness.connection.word);
    EXPECT_TRUE(harness.decision.forgotten.empty());
}

}  // namespace
}  // namespace vorn
