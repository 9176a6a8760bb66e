// The SPOP connection protocol against the real daemon: HELLO variants,
// health checks, DISCONNECT, NOTIFYs in one write, and every malformed input
// closing only its own connection without a reply.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/metrics_page.hpp"
#include "support/running_agent.hpp"
#include "support/spop_wire.hpp"
#include "support/vorn_check.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

class SpopProtocol : public testing::Test {
protected:
    RunningAgent agent;
    SpopClient client = *agent.connect();

    Bytes helloWith(const std::vector<KvItem>& items) {
        return frame(FrameType::HaproxyHello, finFlag, 0, 0, kvList(items));
    }
    // The agent answers on another connection afterwards: a fault closed
    // only the connection it arrived on.
    void expectOthersUnharmed() {
        auto other = agent.connect();
        ASSERT_TRUE(other);
        EXPECT_TRUE(other->hello());
    }
};

struct HelloCase {
    std::string name;
    std::vector<KvItem> items;
    std::uint64_t announced;
};

void PrintTo(const HelloCase& row, std::ostream* out) {
    *out << row.name;
}

class HelloMaxFrameSize : public SpopProtocol, public testing::WithParamInterface<HelloCase> {};

TEST_P(HelloMaxFrameSize, AnswersTheSmallerOfTheOfferAndTheFrameLimit) {
    ASSERT_TRUE(client.send(helloWith(GetParam().items)));
    auto reply = client.receive();
    ASSERT_TRUE(reply && reply->is(FrameType::AgentHello));
    EXPECT_EQ(reply->stringItem("version"), "2.0");
    EXPECT_EQ(reply->uintItem("max-frame-size"), GetParam().announced);
    EXPECT_EQ(reply->stringItem("capabilities"), "");
    EXPECT_TRUE(client.quietFor(50ms)) << "not a health check: the connection stays open";
}

INSTANTIATE_TEST_SUITE_P(
    Offers, HelloMaxFrameSize,
    testing::Values(
        HelloCase{"HaproxysOffer", {{"max-frame-size", uint32Value(16380)}}, 16380},
        HelloCase{"Small", {{"max-frame-size", uint32Value(1024)}}, 1024},
        HelloCase{"Large", {{"max-frame-size", uint32Value(100000)}}, 16384},
        HelloCase{"Negative", {{"max-frame-size", int32Value(-5)}}, 0},
        HelloCase{"AsText", {{"max-frame-size", stringValue("1024")}}, 16384},
        HelloCase{"Missing", {{"supported-versions", stringValue("2.0")}}, 16384},
        HelloCase{"LastWins",
                  {{"max-frame-size", uint32Value(1000)}, {"max-frame-size", uint64Value(2000)}},
                  2000},
        HelloCase{"HealthcheckAsText",
                  {{"healthcheck", stringValue("true")}, {"max-frame-size", uint32Value(16380)}},
                  16380}),
    [](const auto& info) { return info.param.name; });

TEST_F(SpopProtocol, AHealthCheckIsAnsweredAndClosed) {
    ASSERT_TRUE(client.send(haproxyHello(haproxyMaxFrameSize, true, false)));
    auto reply = client.receive();
    ASSERT_TRUE(reply && reply->is(FrameType::AgentHello));
    EXPECT_EQ(reply->uintItem("max-frame-size"), haproxyMaxFrameSize);
    EXPECT_TRUE(client.waitClosed());
}

TEST_F(SpopProtocol, ADisconnectIsAnsweredAloneEvenWithANotifyBehindIt) {
    ASSERT_TRUE(client.hello());
    ASSERT_TRUE(
        client.send(haproxyDisconnect(2, "a timeout occurred") + notify(1, 1, VornCheck{})));
    auto reply = client.receive();
    ASSERT_TRUE(reply && reply->is(FrameType::AgentDisconnect));
    EXPECT_EQ(reply->uintItem("status-code"), 0u);
    EXPECT_EQ(reply->stringItem("message"), "bye");
    EXPECT_TRUE(client.waitClosed());
}

TEST_F(SpopProtocol, TwoNotifiesInOneWriteAreAnsweredInOrder) {
    ASSERT_TRUE(client.hello());
    VornCheck page;
    page.path = "/o/r/src/branch/main";
    VornCheck commit;
    commit.path = "/o/r/commit/0123abc";
    ASSERT_TRUE(client.send(notify(7, 1, page) + notify(0, 2, commit)));
    auto first = client.receive();
    auto second = client.receive();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->streamId, 7u);
    EXPECT_EQ(first->frameId, 1u);
    EXPECT_EQ(first->vars.at("vorn_verdict"), "pass");
    EXPECT_EQ(second->streamId, 0u);
    EXPECT_EQ(second->frameId, 2u);
    EXPECT_EQ(second->vars.at("vorn_verdict"), "watch");
}

TEST_F(SpopProtocol, ANotifyBeforeAnyHelloIsAnswered) {
    auto reply = client.decide(VornCheck{});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->vars.at("vorn_verdict"), "pass");
}

TEST_F(SpopProtocol, ANotifyWithoutTheAgentsMessageGetsPassAndCountsNothing) {
    ASSERT_TRUE(client.hello());
    Message other{"vorn-check-extra", {{"path", stringValue("/o/r/commit/0123abc")}}};
    ASSERT_TRUE(client.send(notify(3, 9, {other})));
    auto reply = client.receive();
    ASSERT_TRUE(reply && reply->is(FrameType::Ack));
    EXPECT_EQ(reply->setVars,
              (std::vector<std::pair<std::string, std::string>>{{"vorn_verdict", "pass"}}));
    std::string page = agent.metrics();
    EXPECT_EQ(page.find("vorn_spoa_decisions_total{"), std::string::npos);
    EXPECT_NE(page.find("vorn_spoa_notify_seconds_count{path=\"direct\"} 0\n"), std::string::npos);
}

TEST_F(SpopProtocol, UnknownFrameTypesAreSkipped) {
    ASSERT_TRUE(client.send(frame(50, finFlag, 1, 1, "anything") + notify(4, 1, VornCheck{})));
    auto reply = client.receive();
    ASSERT_TRUE(reply && reply->is(FrameType::Ack));
    EXPECT_EQ(reply->streamId, 4u);
}

TEST_F(SpopProtocol, FramesSplitAtEveryByteDecodeTheSame) {
    VornCheck check;
    check.path = "/o/r/commit/0123abc";
    Bytes bytes = haproxyHello() + notify(5, 6, check);
    std::vector<std::size_t> cuts;
    for (std::size_t i = 1; i < bytes.size(); ++i) cuts.push_back(i);
    ASSERT_TRUE(client.sendSplit(bytes, cuts, 1ms));
    auto hello = client.receive();
    ASSERT_TRUE(hello && hello->is(FrameType::AgentHello));
    auto ack = client.receive();
    ASSERT_TRUE(ack && ack->is(FrameType::Ack));
    EXPECT_EQ(ack->streamId, 5u);
    EXPECT_EQ(ack->vars.at("vorn_verdict"), "watch");
}

TEST_F(SpopProtocol, AFrameAtTheLengthLimitIsAnswered) {
    VornCheck check;
    // Pad the header block so that the frame's length field reads 16384.
    check.headers = headerBlock({{"host", VORN_SITE_DOMAIN}, {"x-pad", ""}});
    std::size_t base = notify(1, 1, check).size();
    check.headers =
        headerBlock({{"host", VORN_SITE_DOMAIN}, {"x-pad", std::string(16388 - base - 2, 'p')}});
    Bytes big = notify(1, 1, check);
    ASSERT_EQ(big.substr(0, 4), bigEndian32(16384)) << big.size();
    ASSERT_TRUE(client.send(big));
    auto reply = client.receive();
    ASSERT_TRUE(reply && reply->is(FrameType::Ack));
}

TEST_F(SpopProtocol, EveryConnectionAndChunkComesBackAfterTraffic) {
    std::vector<SpopClient> clients;
    for (int i = 0; i < 20; ++i) {
        auto other = agent.connect();
        ASSERT_TRUE(other && other->hello());
        ASSERT_TRUE(other->decide(VornCheck{}));
        clients.push_back(std::move(*other));
    }
    // Some leave half a frame behind, some a malformed one.
    ASSERT_TRUE(clients[0].send(notify(1, 1, VornCheck{}).substr(0, 20)));
    ASSERT_TRUE(clients[1].send(bigEndian32(16385)));
    EXPECT_TRUE(clients[1].waitClosed());
    clients.clear();
    std::optional<double> open;
    std::optional<double> inUse;
    for (int i = 0; i < 100; ++i) {
        std::string page = agent.metrics();
        open = metricValue(page, "vorn_spoa_connections");
        inUse = metricValue(page, "vorn_spoa_buffer_chunks{state=\"in_use\"}");
        if (open == 2 && inUse == 0) break;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(open, 2) << "the fixture's client and the metrics request";
    EXPECT_EQ(inUse, 0);
    EXPECT_GE(agent.metric("vorn_spoa_buffer_chunks{state=\"allocated\"}"), 2);
}

struct Malformed {
    std::string name;
    Bytes bytes;
};

void PrintTo(const Malformed& row, std::ostream* out) {
    *out << row.name;
}

class MalformedInput : public SpopProtocol, public testing::WithParamInterface<Malformed> {};

TEST_P(MalformedInput, ClosesThatConnectionWithoutAReply) {
    ASSERT_TRUE(client.hello());
    ASSERT_TRUE(client.send(GetParam().bytes));
    EXPECT_TRUE(client.waitClosed());
    expectOthersUnharmed();
}

Bytes notifyPayload(const std::vector<Message>& messages) {
    return frame(FrameType::Notify, finFlag, 1, 1, messageList(messages));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, MalformedInput,
    testing::Values(
        // A length above the limit closes before the body arrives.
        Malformed{"LengthAboveTheLimit", bigEndian32(16385)},
        Malformed{"LengthFour", bigEndian32(4) + "\x03\x00\x00\x00"},
        Malformed{"LengthZero", bigEndian32(0)},
        Malformed{"NoFrameId", bigEndian32(6) + Bytes("\x03\x00\x00\x00\x01\x05", 6)},
        Malformed{"StreamIdRunsPastTheFrame",
                  bigEndian32(7) + Bytes("\x03\x00\x00\x00\x01\xF0\xF0", 7)},
        Malformed{"MoreArgumentsThanItems",
                  notifyPayload({{"vorn-check", {{"path", stringValue("/")}}, 2}})},
        Malformed{"ReservedTypeCode",
                  notifyPayload({{"vorn-check", {{"path", Bytes("\x0A", 1)}}}})},
        Malformed{"TruncatedArgumentInAnotherMessage", notifyPayload({{"other",
                                                                       {{"x", Bytes("\x08\x05"
                                                                                    "ab",
                                                                                    4)}}}})},
        Malformed{"HelloItemTruncated",
                  frame(FrameType::HaproxyHello, finFlag, 0, 0, spopString("max-frame-size"))}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn::test
