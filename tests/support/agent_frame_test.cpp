#include "support/agent_frame.hpp"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>

#include "support/hex.hpp"

namespace vorn::test {
namespace {

Bytes hex(std::string_view text) {
    auto bytes = fromHex(text);
    EXPECT_TRUE(bytes.has_value()) << text;
    return bytes.value_or("");
}

// The two replies worked out byte for byte in the protocol notes.
Bytes workedAgentHello() {
    return hex("00 00 00 36 65 00 00 00 01 00 00 07") + "version" + hex("08 03") + "2.0" +
           hex("0e") + "max-frame-size" + hex("03 f0 f1 06 0c") + "capabilities" + hex("08 00");
}

Bytes workedAgentDisconnect() {
    return hex("00 00 00 22 66 00 00 00 01 00 00 0b") + "status-code" + hex("03 00 07") +
           "message" + hex("08 03") + "bye";
}

Bytes setVar(std::string_view name, std::string_view value) {
    return hex("01 03 02") + spopString(name) + stringValue(value);
}

Bytes ack(std::uint64_t streamId, std::uint64_t frameId, std::string_view actions) {
    return frame(FrameType::Ack, finFlag, streamId, frameId, actions);
}

TEST(AgentFrame, WorkedHelloDecodes) {
    auto bytes = workedAgentHello();
    ASSERT_EQ(bytes.size(), 58U);
    auto frame = parseAgentFrame(bytes);
    ASSERT_TRUE(frame.has_value()) << frame.error();
    EXPECT_TRUE(frame->is(FrameType::AgentHello));
    EXPECT_EQ(frame->flags, 1U);
    ASSERT_EQ(frame->items.size(), 3U);
    EXPECT_EQ(frame->items[0].first, "version");
    EXPECT_EQ(frame->stringItem("version"), "2.0");
    EXPECT_EQ(frame->item("max-frame-size")->type, ValueType::Uint32);
    EXPECT_EQ(frame->uintItem("max-frame-size"), 16384U);
    EXPECT_EQ(frame->stringItem("capabilities"), "");
}

TEST(AgentFrame, WorkedDisconnectDecodes) {
    auto bytes = workedAgentDisconnect();
    ASSERT_EQ(bytes.size(), 38U);
    auto frame = parseAgentFrame(bytes);
    ASSERT_TRUE(frame.has_value()) << frame.error();
    EXPECT_TRUE(frame->is(FrameType::AgentDisconnect));
    EXPECT_EQ(frame->uintItem("status-code"), 0U);
    EXPECT_EQ(frame->stringItem("message"), "bye");
}

TEST(AgentFrame, AckKeepsVariablesInOrderAndByName) {
    auto frame = parseAgentFrame(
        ack(300, 7, setVar("vorn_verdict", "challenge") + setVar("vorn_difficulty", "0.001")));
    ASSERT_TRUE(frame.has_value()) << frame.error();
    EXPECT_EQ(frame->streamId, 300U);
    EXPECT_EQ(frame->frameId, 7U);
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(frame->setVars, (Pairs{{"vorn_verdict", "challenge"}, {"vorn_difficulty", "0.001"}}));
    EXPECT_EQ(frame->vars.at("vorn_difficulty"), "0.001");
}

TEST(AgentFrame, EmptyAckIsWellFormed) {
    auto frame = parseAgentFrame(ack(1, 1, ""));
    ASSERT_TRUE(frame.has_value()) << frame.error();
    EXPECT_TRUE(frame->setVars.empty());
}

TEST(AgentFrame, ItemsOfEveryTypeDecode) {
    auto payload = kvList({{"n", nullValue()},
                           {"t", boolValue(true)},
                           {"i", int64Value(-1)},
                           {"a", ipv4Value({10, 0, 0, 1})},
                           {"b", binaryValue("xy")}});
    auto decoded = parseAgentFrame(frame(FrameType::AgentHello, finFlag, 0, 0, payload));
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(decoded->item("t")->flag, true);
    EXPECT_EQ(decoded->item("i")->number, ~std::uint64_t{0});
    EXPECT_EQ(decoded->item("a")->bytes, hex("0a 00 00 01"));
    EXPECT_EQ(decoded->item("b")->type, ValueType::Binary);
    EXPECT_FALSE(decoded->stringItem("b").has_value());
}

struct RejectCase {
    std::string name;
    Bytes bytes;
    std::string problem;  // part of the error text
};

class AgentFrameRejected : public testing::TestWithParam<RejectCase> {};

TEST_P(AgentFrameRejected, NamesTheProblem) {
    auto frame = parseAgentFrame(GetParam().bytes);
    ASSERT_FALSE(frame.has_value());
    EXPECT_NE(frame.error().find(GetParam().problem), std::string::npos) << frame.error();
}

const Bytes verdict = setVar("vorn_verdict", "pass");

INSTANTIATE_TEST_SUITE_P(
    Strict, AgentFrameRejected,
    testing::Values(
        RejectCase{"LengthFour", hex("00 00 00 04 67 00 00 00"), "length 4"},
        RejectCase{"LengthTooLarge", bigEndian32(16385), "length 16385"},
        RejectCase{"Incomplete", workedAgentHello().substr(0, 57), "incomplete"},
        RejectCase{"TrailingBytes", workedAgentHello() + "x", "after the frame"},
        RejectCase{"NoFrameId", hex("00 00 00 06 67 00 00 00 01 00"), "frame-id"},
        RejectCase{"StreamIdTruncated", hex("00 00 00 06 67 00 00 00 01 f0"), "stream-id"},
        RejectCase{"NotAnAgentType", frame(FrameType::Notify, finFlag, 1, 1, ""), "type 3"},
        RejectCase{"FlagsNotFin", frame(FrameType::Ack, 0, 1, 1, verdict), "flags 0"},
        RejectCase{"HelloWithStreamId", frame(FrameType::AgentHello, finFlag, 1, 0, ""),
                   "stream-id"},
        RejectCase{"ItemTypeTen", frame(FrameType::AgentHello, finFlag, 0, 0, hex("01 6b 0a")),
                   "bad type"},
        RejectCase{"ItemTypeFlags", frame(FrameType::AgentHello, finFlag, 0, 0, hex("01 6b 23 00")),
                   "type flags"},
        RejectCase{"ItemWithoutValue", frame(FrameType::AgentHello, finFlag, 0, 0, hex("01 6b")),
                   "missing"},
        RejectCase{"ActionNotSetVar", ack(1, 1, hex("02") + verdict.substr(1)), "action type is 2"},
        RejectCase{"ThreeArgsExpected", ack(1, 1, hex("01 02") + verdict.substr(2)), "nb-args"},
        RejectCase{"NotTransactionScope", ack(1, 1, hex("01 03 01") + verdict.substr(3)), "scope"},
        RejectCase{"BinaryValue", ack(1, 1, hex("01 03 02 01 76 09 01 70")), "value of v type"},
        RejectCase{"ValueTruncated", ack(1, 1, hex("01 03 02 01 76 08 05 70")), "truncated"},
        RejectCase{"SetTwice", ack(1, 1, verdict + verdict), "set twice"}),
    [](const auto& info) { return info.param.name; });

TEST(WholeFrameSize, WaitsForTheWholeFrame) {
    auto bytes = workedAgentDisconnect();
    EXPECT_EQ(wholeFrameSize(bytes.substr(0, 3)), 0U);
    EXPECT_EQ(wholeFrameSize(bytes.substr(0, 37)), 0U);
    EXPECT_EQ(wholeFrameSize(bytes + workedAgentHello()), 38U);
}

TEST(WholeFrameSize, RejectsABadLengthAtOnce) {
    EXPECT_FALSE(wholeFrameSize(hex("00 00 40 01")).has_value());
    EXPECT_FALSE(wholeFrameSize(hex("00 00 00 00")).has_value());
    EXPECT_EQ(wholeFrameSize(hex("00 00 40 00")), 0U);
}

TEST(DecodeAgentFrame, BadBytesFailTheTest) {
    auto bytes = frame(FrameType::Ack, 0, 1, 1, "");
    EXPECT_NONFATAL_FAILURE(static_cast<void>(decodeAgentFrame(bytes)), "flags 0");
}

}  // namespace
}  // namespace vorn::test
