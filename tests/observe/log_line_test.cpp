#include "observe/log_line.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

struct EncodingCase {
    std::string name;
    std::string value;
    std::string encoded;
};

void PrintTo(const EncodingCase& row, std::ostream* out) {
    *out << row.name;
}

class ValueEncoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(ValueEncoding, WritesRawOrQuoted) {
    FixedText<256> out;
    writeEncodedValue(out, GetParam().value);
    EXPECT_EQ(out.view(), GetParam().encoded);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ValueEncoding,
    testing::Values(EncodingCase{"Plain", "abc", "abc"}, EncodingCase{"Empty", "", "\"\""},
                    EncodingCase{"Spaces", "SPOP on /var/run/vorn-spoa.sock",
                                 "\"SPOP on /var/run/vorn-spoa.sock\""},
                    EncodingCase{"EqualsSign", "a=b", "\"a=b\""},
                    EncodingCase{"ControlBytes", std::string("\x01\x0d\x7f"),
                                 "\"\\x01\\x0d\\x7f\""},
                    EncodingCase{"Utf8StaysRaw", "gr\xc3\xbc\xc3\x9f", "gr\xc3\xbc\xc3\x9f"},
                    EncodingCase{"DoubleQuotes", "say \"hi\"", "\"say \\\"hi\\\"\""},
                    EncodingCase{"Backslash", "C:\\dir", "\"C:\\\\dir\""},
                    EncodingCase{"Tab", "tab\there", "\"tab\\there\""},
                    EncodingCase{"Newline", "two\nlines", "\"two\\nlines\""},
                    EncodingCase{"Nul", std::string("nul\0", 4), "\"nul\\x00\""},
                    EncodingCase{"UnitSeparator", "\x1f", "\"\\x1f\""},
                    EncodingCase{"LoneQuote", "\"", "\"\\\"\""},
                    EncodingCase{"InvalidUtf8", "\xff x", "\"\xff x\""},
                    EncodingCase{"PunctuationStaysRaw", "!~", "!~"}),
    [](const auto& info) { return info.param.name; });

struct TimestampCase {
    std::int64_t millis;
    std::string text;
};

void PrintTo(const TimestampCase& row, std::ostream* out) {
    *out << row.millis << " ms";
}

std::string timestampName(const testing::TestParamInfo<TimestampCase>& info) {
    return test::testName(info.param.text);
}

class Timestamp : public testing::TestWithParam<TimestampCase> {};

TEST_P(Timestamp, CivilDateInUtc) {
    FixedText<64> out;
    writeTimestamp(out, GetParam().millis);
    EXPECT_EQ(out.view(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, Timestamp,
    testing::Values(TimestampCase{0, "1970-01-01T00:00:00.000Z"},
                    TimestampCase{1000, "1970-01-01T00:00:01.000Z"},
                    TimestampCase{1'709'251'199'999, "2024-02-29T23:59:59.999Z"},
                    TimestampCase{1'714'546'989'042, "2024-05-01T07:03:09.042Z"},
                    TimestampCase{-1, "1969-12-31T23:59:59.999Z"},
                    TimestampCase{-14'182'939'995, "1969-07-20T20:17:40.005Z"},
                    TimestampCase{-2'203'891'200'000, "1900-03-01T00:00:00.000Z"},
                    TimestampCase{-11'670'955'200'000, "1600-02-29T12:00:00.000Z"},
                    TimestampCase{-62'167'219'200'000, "0000-01-01T00:00:00.000Z"},
                    TimestampCase{-62'167'219'200'001, "-0001-12-31T23:59:59.999Z"},
                    TimestampCase{253'402'300'799'999, "9999-12-31T23:59:59.999Z"},
                    TimestampCase{253'402'300'800'000, "10000-01-01T00:00:00.000Z"}),
    timestampName);

TEST(Timestamp, ExtremesStayWellFormed) {
    for (std::int64_t millis :
         {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()}) {
        FixedText<64> out;
        writeTimestamp(out, millis);
        EXPECT_EQ(out.view().back(), 'Z');
        EXPECT_NE(out.view().find('T'), std::string_view::npos);
    }
}

TEST(LogLine, PrefixAndPairs) {
    LogLine line;
    line.begin(LogLevel::warning, 1'714'546'989'042);
    line.pair("msg", "disk full");
    line.raw(" x=1");
    EXPECT_EQ(line.view(), "ts=2024-05-01T07:03:09.042Z level=warning msg=\"disk full\" x=1");
}

TEST(LogLine, BeginStartsAfresh) {
    LogLine line;
    line.begin(LogLevel::info, 0);
    line.pair("msg", std::string(5000, 'a'));
    line.begin(LogLevel::error, 0);
    EXPECT_FALSE(line.overflowed());
    EXPECT_EQ(line.view(), "ts=1970-01-01T00:00:00.000Z level=error");
}

TEST(LogLine, CutAtCapacity) {
    LogLine line;
    line.begin(LogLevel::info, 0);
    line.pair("msg", "a " + std::string(5000, 'b'));
    line.pair("later", "missing");
    EXPECT_TRUE(line.overflowed());
    ASSERT_EQ(line.size(), logLineCapacity);
    EXPECT_TRUE(line.view().starts_with("ts=1970-01-01T00:00:00.000Z level=info msg=\"a bbb"));
    EXPECT_EQ(line.view().back(), 'b');
}

}  // namespace
}  // namespace vorn
