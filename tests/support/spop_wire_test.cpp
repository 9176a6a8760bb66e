#include "support/spop_wire.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "support/hex.hpp"
#include "support/test_name.hpp"
#include "support/vorn_check.hpp"

namespace vorn::test {
namespace {

Bytes hex(std::string_view text) {
    auto bytes = fromHex(text);
    EXPECT_TRUE(bytes.has_value()) << text;
    return bytes.value_or("");
}

struct VarintCase {
    std::uint64_t value;
    std::string hex;
};

void PrintTo(const VarintCase& row, std::ostream* out) {
    *out << row.value << " as " << row.hex;
}

// The value and how many bytes it takes: "240In2Bytes", "0In1Byte".
std::string varintName(const testing::TestParamInfo<VarintCase>& info) {
    const std::size_t bytes = (info.param.hex.size() + 1) / 3;
    return testName({std::to_string(info.param.value), "in", std::to_string(bytes),
                     bytes == 1 ? "byte" : "bytes"});
}

class VarintTable : public testing::TestWithParam<VarintCase> {};

TEST_P(VarintTable, EncodesAsWorked) {
    EXPECT_EQ(toHex(varint(GetParam().value)), GetParam().hex);
}

TEST_P(VarintTable, DecodesAsWorked) {
    auto bytes = hex(GetParam().hex);
    auto read = readVarint(bytes + "tail");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->value, GetParam().value);
    EXPECT_EQ(read->size, bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Worked, VarintTable,
    testing::Values(VarintCase{0, "00"}, VarintCase{239, "ef"}, VarintCase{240, "f0 00"},
                    VarintCase{255, "ff 00"}, VarintCase{256, "f0 01"}, VarintCase{2287, "ff 7f"},
                    VarintCase{2288, "f0 80 00"}, VarintCase{16384, "f0 f1 06"},
                    VarintCase{65535, "ff f0 1e"}, VarintCase{4294967295, "ff f0 fe fe 7e"},
                    VarintCase{std::numeric_limits<std::uint64_t>::max(),
                               "ff f0 fe fe fe fe fe fe fe 0e"}),
    varintName);

struct Rejected {
    std::string name;
    std::string hex;
};

void PrintTo(const Rejected& row, std::ostream* out) {
    *out << row.name;
}

class VarintRejected : public testing::TestWithParam<Rejected> {};

TEST_P(VarintRejected, IsNothing) {
    EXPECT_FALSE(readVarint(hex(GetParam().hex)).has_value());
}

INSTANTIATE_TEST_SUITE_P(Malformed, VarintRejected,
                         testing::Values(Rejected{"Empty", ""}, Rejected{"CutAfterOneByte", "f0"},
                                         Rejected{"CutAfterTwoBytes", "f0 80"},
                                         Rejected{"Above64Bits", "ff f0 fe fe fe fe fe fe fe 0f"},
                                         Rejected{"ElevenBytes",
                                                  "ff f0 fe fe fe fe fe fe fe fe 00"}),
                         [](const auto& info) { return info.param.name; });

struct ValueCase {
    std::string name;
    Bytes encoded;
    std::string hex;
};

void PrintTo(const ValueCase& row, std::ostream* out) {
    *out << row.name;
}

class TypedValues : public testing::TestWithParam<ValueCase> {};

TEST_P(TypedValues, EncodeTypeByteThenValue) {
    EXPECT_EQ(toHex(GetParam().encoded), GetParam().hex);
}

INSTANTIATE_TEST_SUITE_P(
    All, TypedValues,
    testing::Values(ValueCase{"Null", nullValue(), "00"},
                    ValueCase{"BoolTrue", boolValue(true), "11"},
                    ValueCase{"BoolFalse", boolValue(false), "01"},
                    ValueCase{"Int32", int32Value(5), "02 05"},
                    ValueCase{"Int32MinusOne", int32Value(-1), "02 ff f0 fe fe fe fe fe fe fe 0e"},
                    ValueCase{"Uint32", uint32Value(16384), "03 f0 f1 06"},
                    ValueCase{"Int64Zero", int64Value(0), "04 00"},
                    ValueCase{"Uint64", uint64Value(240), "05 f0 00"},
                    ValueCase{"Ipv4", ipv4Value({192, 0, 2, 1}), "06 c0 00 02 01"},
                    ValueCase{"Ipv6", ipv6Value({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}),
                              "07 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01"},
                    ValueCase{"String", stringValue("ab"), "08 02 61 62"},
                    ValueCase{"EmptyString", stringValue(""), "08 00"},
                    ValueCase{"Binary", binaryValue(std::string("\0\1", 2)), "09 02 00 01"}),
    [](const auto& info) { return info.param.name; });

TEST(SpopString, LongTextTakesAVarintLength) {
    auto encoded = spopString(std::string(300, 'x'));
    EXPECT_EQ(toHex(encoded.substr(0, 2)), toHex(varint(300)));
    EXPECT_EQ(encoded.size(), 302U);
}

TEST(Frames, HelloWithoutUsualItemsCarriesSizeAndHealthcheck) {
    Bytes expected = hex("00 00 00 27 01 00 00 00 01 00 00 0e") + "max-frame-size" +
                     hex("03 fc f0 06 0b") + "healthcheck" + hex("11");
    EXPECT_EQ(toHex(haproxyHello(16380, true, false)), toHex(expected));
}

TEST(Frames, HelloWithUsualItemsListsThemInHaproxyOrder) {
    Bytes expected_payload = hex("12") + "supported-versions" + hex("08 03") + "2.0" + hex("0e") +
                             "max-frame-size" + hex("03 f0 f1 06 0c") + "capabilities" +
                             hex("08 0a") + "pipelining" + hex("09") + "engine-id";
    auto hello = haproxyHello(16384);
    EXPECT_EQ(toHex(hello.substr(11, expected_payload.size())), toHex(expected_payload));
    EXPECT_EQ(hello.substr(0, 4), bigEndian32(static_cast<std::uint32_t>(hello.size() - 4)));
}

TEST(Frames, DisconnectCarriesStatusAndMessage) {
    Bytes expected = hex("00 00 00 20 02 00 00 00 01 00 00 0b") + "status-code" + hex("03 03 07") +
                     "message" + hex("08 01") + "x";
    EXPECT_EQ(toHex(haproxyDisconnect(3, "x")), toHex(expected));
}

TEST(Frames, NotifyCarriesIdsAndMessages) {
    Bytes expected = hex("00 00 00 1c 03 00 00 00 01 01 02 0a") + "vorn-check" + hex("01 04") +
                     "path" + hex("08 02") + "/a";
    Message check{.name = "vorn-check", .args = {{"path", stringValue("/a")}}, .nbArgs = {}};
    EXPECT_EQ(toHex(notify(1, 2, {check})), toHex(expected));
}

TEST(Frames, ArgumentCountCanLie) {
    Message lying{.name = "m", .args = {{"a", nullValue()}}, .nbArgs = 2};
    EXPECT_EQ(toHex(messageList({lying})), "01 6d 02 01 61 00");
}

TEST(Frames, RawFrameKeepsAnyTypeAndFlags) {
    EXPECT_EQ(toHex(frame(200, 0, 240, 1, "p")), "00 00 00 09 c8 00 00 00 00 f0 00 01 70");
}

TEST(VornCheckMessage, DefaultsAreAPlainGetOfTheFrontPage) {
    std::string headers = std::string("host: ") + VORN_SITE_DOMAIN + "\r\n\r\n";
    Bytes expected = hex("0a") + "vorn-check" + hex("05 02") + "ip" + hex("06 c0 00 02 01 07") +
                     "backlog" + hex("04 00 06") + "method" + hex("08 03") + "GET" + hex("04") +
                     "path" + hex("08 01") + "/" + hex("07") + "headers" + stringValue(headers);
    EXPECT_EQ(toHex(messageList({VornCheck{}.message()})), toHex(expected));
}

TEST(VornCheckMessage, AbsentArgumentsAreLeftOut) {
    VornCheck check{.ip = {},
                    .backlog = {},
                    .method = {},
                    .path = {},
                    .headers = {},
                    .extraArgs = {{"path", int32Value(1)}}};
    EXPECT_EQ(toHex(messageList({check.message()})),
              toHex(hex("0a") + "vorn-check" + hex("01 04") + "path" + hex("02 01")));
}

struct ArgumentCase {
    std::string name;
    VornCheck check;
    std::string argument;
    Bytes value;
};

void PrintTo(const ArgumentCase& row, std::ostream* out) {
    *out << row.name;
}

class VornCheckArguments : public testing::TestWithParam<ArgumentCase> {};

TEST_P(VornCheckArguments, TakeTheChosenType) {
    auto message = GetParam().check.message();
    const KvItem* found = nullptr;
    for (const auto& arg : message.args) {
        if (arg.key == GetParam().argument) found = &arg;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(toHex(found->value), toHex(GetParam().value));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, VornCheckArguments,
    testing::Values(ArgumentCase{"IpAsText", VornCheck{.ip = std::string("::1")}, "ip",
                                 stringValue("::1")},
                    ArgumentCase{"IpAsIpv6", VornCheck{.ip = Ipv6Bytes{0x20, 0x01, 0x0d, 0xb8}},
                                 "ip", ipv6Value({0x20, 0x01, 0x0d, 0xb8})},
                    ArgumentCase{"BacklogAsInt64", VornCheck{.backlog = std::int64_t{-5}},
                                 "backlog", int64Value(-5)},
                    ArgumentCase{"BacklogAsUint64", VornCheck{.backlog = std::uint64_t{1} << 40},
                                 "backlog", uint64Value(std::uint64_t{1} << 40)},
                    ArgumentCase{"BacklogAsText", VornCheck{.backlog = std::string("7")}, "backlog",
                                 stringValue("7")},
                    ArgumentCase{"HeadersAsBlock",
                                 VornCheck{.headers = headerBlock({{"a", "1"}, {"B", "x y"}})},
                                 "headers", stringValue("a: 1\r\nB: x y\r\n\r\n")}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn::test
