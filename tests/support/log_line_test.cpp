#include "support/log_line.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vorn::test {
namespace {

const std::string prefix = "ts=2024-05-01T07:03:09.042Z level=info ";

struct MessageCase {
    std::string line;
    std::optional<std::string> message;
};

class MessageOf : public testing::TestWithParam<MessageCase> {};

TEST_P(MessageOf, DecodesOrRefuses) {
    EXPECT_EQ(messageOf(GetParam().line), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Values, MessageOf,
    testing::Values(
        MessageCase{"ts=2024-05-01T07:03:09.042Z level=error msg=\"--challenge=on without receipt "
                    "keys: challenges are not sent\"",
                    "--challenge=on without receipt keys: challenges are not sent"},
        MessageCase{prefix + "msg=abc", "abc"}, MessageCase{prefix + "msg=\"\"", ""},
        MessageCase{prefix + "msg=\"a=b\"", "a=b"},
        MessageCase{prefix + "msg=\"\\x01\\x0d\\x7f\"", "\x01\x0d\x7f"},
        MessageCase{prefix + "msg=\"a\\tb\\nc\\\"d\\\\e\"", "a\tb\nc\"d\\e"},
        MessageCase{prefix + "msg=gr\xc3\xbc\xc3\x9f"
                             "e",
                    "gr\xc3\xbc\xc3\x9f"
                    "e"},
        MessageCase{prefix + "msg=\"SPOP on /var/run/vorn-spoa.sock\"",
                    "SPOP on /var/run/vorn-spoa.sock"},
        // Faults of the writer: needless quotes, missing quotes, wrong escapes.
        MessageCase{prefix + "msg=\"abc\"", std::nullopt},
        MessageCase{prefix + "msg=a\"b", std::nullopt},
        MessageCase{prefix + "msg=a=b", std::nullopt},
        MessageCase{prefix + "msg=\"\\x0D\"", std::nullopt},
        MessageCase{prefix + "msg=\"\\x41 \"", std::nullopt},
        MessageCase{prefix + "msg=\"\\r\"", std::nullopt},
        MessageCase{prefix + "msg=\"a\tb\"", std::nullopt},
        MessageCase{prefix + "msg=\"abc d", std::nullopt},
        MessageCase{prefix + "msg=\"a b\"c", std::nullopt},
        MessageCase{prefix + " msg=abc", std::nullopt},
        MessageCase{"ts=2024-05-01T07:03:09.042Z msg=abc", std::nullopt},
        MessageCase{"level=info ts=2024-05-01T07:03:09.042Z msg=abc", std::nullopt},
        MessageCase{prefix + "event=verdict", std::nullopt}));

TEST(FieldOf, ReadsVerdictLines) {
    std::string line = prefix + "event=verdict verdict=trap path=\"/a b\"";
    EXPECT_EQ(fieldOf(line, "level"), "info");
    EXPECT_EQ(fieldOf(line, "verdict"), "trap");
    EXPECT_EQ(fieldOf(line, "path"), "/a b");
    EXPECT_EQ(fieldOf(line, "reason"), std::nullopt);
}

TEST(LogFields, KeepsOrder) {
    auto fields = logFields(prefix + "a=1 b=2");
    ASSERT_TRUE(fields.has_value());
    ASSERT_EQ(fields->size(), 4U);
    EXPECT_EQ((*fields)[2], (std::pair<std::string, std::string>{"a", "1"}));
    EXPECT_EQ((*fields)[3].first, "b");
}

}  // namespace
}  // namespace vorn::test
