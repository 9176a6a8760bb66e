#include "spop/codec/varint.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "spop/codec/wire_bytes.hpp"
#include "support/test_name.hpp"

namespace vorn {
namespace {

using testing_wire::toVector;
using testing_wire::wire;

struct WorkedValue {
    std::uint64_t value;
    std::string encoded;
};

void PrintTo(const WorkedValue& row, std::ostream* out) {
    *out << row.value << " as " << row.encoded;
}

// The value and how many bytes it takes: "240In2Bytes", "0In1Byte".
std::string workedName(const testing::TestParamInfo<WorkedValue>& info) {
    const std::size_t bytes = (info.param.encoded.size() + 1) / 3;
    return test::testName({std::to_string(info.param.value), "in", std::to_string(bytes),
                           bytes == 1 ? "byte" : "bytes"});
}

class VarintWorked : public testing::TestWithParam<WorkedValue> {};

TEST_P(VarintWorked, Encodes) {
    std::array<std::byte, maxVarintSize> out{};
    std::size_t size = encodeVarint(GetParam().value, out);
    EXPECT_EQ(toVector(std::span(out).first(size)), wire(GetParam().encoded));
}

// Trailing bytes belong to whatever follows the varint.
TEST_P(VarintWorked, DecodesAndStopsAtItsLastByte) {
    auto bytes = wire(GetParam().encoded + " 05 FF");
    auto decoded = decodeVarint(bytes);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->value, GetParam().value);
    EXPECT_EQ(decoded->size, bytes.size() - 2);
}

TEST_P(VarintWorked, EveryShorterPrefixIsTruncated) {
    auto bytes = wire(GetParam().encoded);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        auto decoded = decodeVarint(std::span(bytes).first(n));
        ASSERT_FALSE(decoded.has_value()) << "prefix of " << n << " bytes";
        EXPECT_EQ(decoded.error(), Error::Truncated);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, VarintWorked,
                         testing::Values(WorkedValue{0, "00"}, WorkedValue{239, "EF"},
                                         WorkedValue{240, "F0 00"}, WorkedValue{255, "FF 00"},
                                         WorkedValue{256, "F0 01"}, WorkedValue{2287, "FF 7F"},
                                         WorkedValue{2288, "F0 80 00"},
                                         WorkedValue{16384, "F0 F1 06"},
                                         WorkedValue{65535, "FF F0 1E"},
                                         WorkedValue{4294967295, "FF F0 FE FE 7E"},
                                         WorkedValue{std::numeric_limits<std::uint64_t>::max(),
                                                     "FF F0 FE FE FE FE FE FE FE 0E"}),
                         workedName);

// Values around every power of two, plus a pseudo-random spread, survive
// encoding and decoding with the same size both ways.
TEST(Varint, RoundTrips) {
    std::vector<std::uint64_t> values;
    for (unsigned bit = 0; bit < 64; ++bit) {
        std::uint64_t power = std::uint64_t{1} << bit;
        values.insert(values.end(), {power - 1, power, power + 1});
    }
    std::uint64_t state = 0x9E3779B97F4A7C15;
    for (int i = 0; i < 100000; ++i) {
        state = state * 6364136223846793005 + 1442695040888963407;
        values.push_back(state >> (i % 64));
    }
    values.push_back(std::numeric_limits<std::uint64_t>::max());
    for (std::uint64_t value : values) {
        std::array<std::byte, maxVarintSize> out{};
        std::size_t size = encodeVarint(value, out);
        auto decoded = decodeVarint(std::span(out).first(size));
        ASSERT_TRUE(decoded.has_value()) << value;
        ASSERT_EQ(decoded->value, value);
        ASSERT_EQ(decoded->size, size);
    }
}

// Sequences that would need more than 64 bits are rejected like truncated
// ones, even when more bytes follow.
struct TooLong {
    std::string name;
    std::string bytes;
};

void PrintTo(const TooLong& row, std::ostream* out) {
    *out << row.name;
}

class VarintTooLong : public testing::TestWithParam<TooLong> {};

TEST_P(VarintTooLong, IsTruncated) {
    auto bytes = wire(GetParam().bytes);
    auto decoded = decodeVarint(bytes);
    ASSERT_FALSE(decoded.has_value());
    EXPECT_EQ(decoded.error(), Error::Truncated);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, VarintTooLong,
    testing::Values(TooLong{"TwoTo64", "F0 F1 FE FE FE FE FE FE FE 0E"},
                    TooLong{"Uint64MaxPlus2To60", "FF F0 FE FE FE FE FE FE FE 0F"},
                    TooLong{"TopByteFarTooLarge", "FF F0 FE FE FE FE FE FE FE 7F"},
                    TooLong{"ContinuationOnTheTenthByte", "F0 80 80 80 80 80 80 80 80 80 00"},
                    TooLong{"ElevenBytesAndMore", "FF FF FF FF FF FF FF FF FF FF FF 00"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
