#include "spop/codec/typed_value.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "spop/codec/varint.hpp"
#include "spop/codec/wire_bytes.hpp"

namespace vorn {
namespace {

using testing_wire::toVector;
using testing_wire::wire;

// Ten-byte varint of the 64-bit pattern of -1.
constexpr const char* minusOne = "FF F0 FE FE FE FE FE FE FE 0E";

struct ValueCase {
    std::string name;
    std::string input;
    ValueTag tag;
    std::size_t consumed;
    std::uint64_t integer = 0;
    bool boolean = false;
    // Address bytes for ipv4/ipv6, viewed bytes for string/binary.
    std::string content = "";
};

void PrintTo(const ValueCase& row, std::ostream* out) {
    *out << row.name;
}

class TypedValueDecode : public testing::TestWithParam<ValueCase> {};

TEST_P(TypedValueDecode, Decodes) {
    const auto& row = GetParam();
    auto bytes = wire(row.input);
    TypedValue value;
    auto decoded = decodeTypedValue(bytes, value);
    ASSERT_TRUE(decoded.has_value()) << errorName(decoded.error());
    EXPECT_EQ(value.tag, row.tag);
    EXPECT_EQ(*decoded, row.consumed);
    EXPECT_EQ(value.integer, row.integer);
    EXPECT_EQ(value.boolean, row.boolean);
    auto content = wire(row.content);
    if (row.tag == ValueTag::ipv4 || row.tag == ValueTag::ipv6) {
        EXPECT_EQ(toVector(std::span(value.address).first(content.size())), content);
    } else {
        EXPECT_EQ(toVector(value.bytes), content);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, TypedValueDecode,
    testing::Values(
        ValueCase{"Null", "00", ValueTag::null, 1},
        ValueCase{"BoolFalse", "01", ValueTag::boolean, 1, 0, false},
        ValueCase{"BoolTrue", "11", ValueTag::boolean, 1, 0, true},
        ValueCase{"BoolOtherFlagIsFalse", "21", ValueTag::boolean, 1, 0, false},
        ValueCase{"BoolTrueWithOtherFlags", "F1", ValueTag::boolean, 1, 0, true},
        ValueCase{"Int32", "02 05", ValueTag::signedInt, 2, 5},
        ValueCase{"Int32TenByteNegative", std::string("02 ") + minusOne, ValueTag::signedInt, 11,
                  UINT64_MAX},
        ValueCase{"Uint32", "03 F0 F1 06", ValueTag::unsignedInt, 4, 16384},
        ValueCase{"Uint32NotRangeChecked", "03 F0 F1 FE FE FE FE 00", ValueTag::unsignedInt, 8,
                  std::uint64_t{1} << 40},
        ValueCase{"Int64", "04 FC 03", ValueTag::signedInt, 3, 300},
        ValueCase{"Uint64Max", std::string("05 ") + minusOne, ValueTag::unsignedInt, 11,
                  UINT64_MAX},
        ValueCase{"FlagsOnIntegerIgnored", "13 07", ValueTag::unsignedInt, 2, 7},
        ValueCase{"Ipv4", "06 C0 00 02 01", ValueTag::ipv4, 5, 0, false, "C0 00 02 01"},
        ValueCase{"Ipv6", "07 20 01 0D B8 00 00 00 00 00 00 00 00 00 00 00 01", ValueTag::ipv6, 17,
                  0, false, "20 01 0D B8 00 00 00 00 00 00 00 00 00 00 00 01"},
        ValueCase{"EmptyString", "08 00", ValueTag::string, 2},
        ValueCase{"String", "08 03 \"abc\" \"def\"", ValueTag::string, 5, 0, false, "\"abc\""},
        ValueCase{"Binary", "09 03 00 FF 80", ValueTag::binary, 5, 0, false, "00 FF 80"}),
    [](const auto& info) { return info.param.name; });

TEST(TypedValue, SignedIntegerReadsTwosComplement) {
    auto bytes = wire(std::string("02 ") + minusOne);
    TypedValue value;
    ASSERT_TRUE(decodeTypedValue(bytes, value).has_value());
    EXPECT_EQ(value.signedInteger(), -1);
}

struct ErrorCase {
    std::string name;
    std::string input;
    Error error;
};

void PrintTo(const ErrorCase& row, std::ostream* out) {
    *out << row.name;
}

class TypedValueError : public testing::TestWithParam<ErrorCase> {};

TEST_P(TypedValueError, Fails) {
    auto bytes = wire(GetParam().input);
    TypedValue value;
    auto decoded = decodeTypedValue(bytes, value);
    ASSERT_FALSE(decoded.has_value());
    EXPECT_EQ(decoded.error(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TypedValueError,
    testing::Values(
        ErrorCase{"Empty", "", Error::Truncated}, ErrorCase{"Code10", "0A", Error::BadType},
        ErrorCase{"Code11", "0B 00", Error::BadType}, ErrorCase{"Code12", "0C", Error::BadType},
        ErrorCase{"Code13", "0D", Error::BadType}, ErrorCase{"Code14", "0E", Error::BadType},
        ErrorCase{"Code15", "0F", Error::BadType},
        ErrorCase{"Code10WithFlag", "1A", Error::BadType},
        ErrorCase{"IntWithoutVarint", "02", Error::Truncated},
        ErrorCase{"IntVarintCut", "04 F0", Error::Truncated},
        ErrorCase{"Ipv4ThreeBytes", "06 7F 00 00", Error::Truncated},
        ErrorCase{"Ipv6FifteenBytes", "07 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
                  Error::Truncated},
        ErrorCase{"StringWithoutLength", "08", Error::Truncated},
        ErrorCase{"StringShort", "08 04 \"abc\"", Error::Truncated},
        ErrorCase{"StringHugeLength", std::string("09 ") + minusOne, Error::Truncated}),
    [](const auto& info) { return info.param.name; });

TEST(ReadString, EmptyInputIsTruncated) {
    auto read = readString({});
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error(), Error::Truncated);
}

TEST(ReadString, EmptyStringTakesOneByte) {
    auto bytes = wire("00 41");
    auto read = readString(bytes);
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(read->value.empty());
    EXPECT_EQ(read->size, 1u);
}

TEST(ReadString, LongStringHasVarintLength) {
    std::vector<std::byte> bytes = wire("FC 03");  // 300
    bytes.resize(2 + 300, std::byte{'x'});
    auto read = readString(bytes);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->value.size(), 300u);
    EXPECT_EQ(read->value.data(), bytes.data() + 2);
    EXPECT_EQ(read->size, 302u);

    bytes.pop_back();
    auto shortRead = readString(bytes);
    ASSERT_FALSE(shortRead.has_value());
    EXPECT_EQ(shortRead.error(), Error::Truncated);
}

}  // namespace
}  // namespace vorn
