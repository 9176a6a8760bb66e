#include "decision/agent_message.hpp"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>

#include "decision/site.hpp"
#include "support/spop_wire.hpp"
#include "support/vorn_check.hpp"

namespace vorn {
namespace {

using test::KvItem;
using test::Message;

struct Read {
    std::expected<bool, Error> found;
    RequestFacts facts;
};

class AgentMessage : public testing::Test {
protected:
    std::string payload;
    std::array<char, ipTextCapacity> ipText{};

    Read read(const std::vector<Message>& messages) {
        payload = test::messageList(messages);
        Read result;
        result.found = readAgentMessage(
            std::span(reinterpret_cast<const std::byte*>(payload.data()), payload.size()),
            defaultSite.sessionCookie, result.facts, ipText);
        return result;
    }
};

TEST_F(AgentMessage, TheFirstMessageNamedExactlyVornCheckIsRead) {
    Read result = read({{"vorn-checker", {{"path", test::stringValue("/wrong")}}},
                        {"vorn-check", {{"path", test::stringValue("/right")}}},
                        {"other", {{"path", test::stringValue("/later")}}}});
    ASSERT_TRUE(result.found.has_value());
    EXPECT_TRUE(*result.found);
    EXPECT_EQ(result.facts.path, "/right");
}

TEST_F(AgentMessage, NoAgentMessageIsNotAnError) {
    Read result = read({{"other", {{"path", test::stringValue("/x")}}}});
    ASSERT_TRUE(result.found.has_value());
    EXPECT_FALSE(*result.found);
    EXPECT_FALSE(*read({}).found);
}

TEST_F(AgentMessage, ArgumentsByTypeAndTheLastOccurrenceWins) {
    Read result = read({{"vorn-check",
                         {{"ip", test::ipv4Value({10, 0, 0, 1})},
                          {"ip", test::ipv6Value({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})},
                          {"backlog", test::int64Value(-5)},
                          {"method", test::stringValue("GET")},
                          {"path", test::stringValue("/a")},
                          {"path", test::uint32Value(3)},
                          {"unknown", test::stringValue("x")},
                          {"headers", test::stringValue("host: a\r\n\r\n")},
                          {"headers", test::stringValue("referer: r\r\n\r\n")}}}});
    ASSERT_TRUE(result.found && *result.found);
    EXPECT_EQ(result.facts.ip, "0:0:0:0:0:0:0:1");
    EXPECT_EQ(result.facts.backlog, 0u);
    EXPECT_EQ(result.facts.path, "/a") << "a path of another type is ignored";
    EXPECT_EQ(result.facts.host, "") << "only the last header block is read";
    EXPECT_EQ(result.facts.referer, "r");
}

struct BacklogCase {
    std::string name;
    std::vector<KvItem> args;
    bool present;
    std::uint32_t value;
};

void PrintTo(const BacklogCase& row, std::ostream* out) {
    *out << row.name;
}

class Backlog : public AgentMessage, public testing::WithParamInterface<BacklogCase> {};

TEST_P(Backlog, IsClampedOrForgotten) {
    Read result = read({{"vorn-check", GetParam().args}});
    ASSERT_TRUE(result.found && *result.found);
    EXPECT_EQ(result.facts.backlog.has_value(), GetParam().present);
    EXPECT_EQ(result.facts.backlog.value_or(0), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Backlog,
    testing::Values(
        BacklogCase{"Signed", {{"backlog", test::int64Value(7)}}, true, 7},
        BacklogCase{"Negative", {{"backlog", test::int32Value(-5)}}, true, 0},
        BacklogCase{"Huge", {{"backlog", test::uint64Value(1ull << 40)}}, true, 4294967295u},
        BacklogCase{"HugeSigned", {{"backlog", test::int64Value(1ll << 40)}}, true, 4294967295u},
        BacklogCase{"TextForgetsAnEarlierOne",
                    {{"backlog", test::int64Value(9)}, {"backlog", test::stringValue("9")}},
                    false,
                    0},
        BacklogCase{"Absent", {}, false, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(AgentMessage, AnAddressOfAnotherTypeIsEmpty) {
    Read result = read(
        {{"vorn-check", {{"ip", test::stringValue("203.0.113.9")}, {"ip", test::nullValue()}}}});
    EXPECT_EQ(result.facts.ip, "");
    result = read({{"vorn-check", {{"ip", test::stringValue("203.0.113.9")}}}});
    EXPECT_EQ(result.facts.ip, "203.0.113.9");
}

TEST_F(AgentMessage, MalformedListsAreErrors) {
    EXPECT_EQ(read({{"vorn-check", {{"path", test::stringValue("/")}}, 2}}).found.error(),
              Error::Truncated);
    EXPECT_EQ(read({{"other", {{"x", std::string("\x0B", 1)}}}}).found.error(), Error::BadType);
    // A message name with no argument count byte after it.
    payload = test::spopString("vorn-check");
    RequestFacts facts;
    auto found = readAgentMessage(
        std::span(reinterpret_cast<const std::byte*>(payload.data()), payload.size()),
        defaultSite.sessionCookie, facts, ipText);
    EXPECT_EQ(found.error(), Error::Truncated);
}

}  // namespace
}  // namespace vorn
