#include "common/decimal.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <ostream>
#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

struct Case {
    double value;
    std::string text;
};

// The expected text, with the sign a NaN's text does not show: "-nan".
void PrintTo(const Case& row, std::ostream* out) {
    const bool hiddenSign = std::signbit(row.value) && !row.text.starts_with('-');
    *out << (hiddenSign ? "-" : "") << row.text;
}

std::string caseName(const testing::TestParamInfo<Case>& info) {
    return test::testName(testing::PrintToString(info.param));
}

class DecimalFormat : public testing::TestWithParam<Case> {};

TEST_P(DecimalFormat, ShortestPositional) {
    std::array<char, maxDecimalLength> buffer{};
    auto text = formatDecimal(GetParam().value, buffer);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, DecimalFormat,
                         testing::Values(Case{0.0, "0"}, Case{3.0, "3"}, Case{0.25, "0.25"},
                                         Case{5e-5, "0.00005"}, Case{1.0 / 8192, "0.0001220703125"},
                                         Case{1.0 / 2048, "0.00048828125"},
                                         Case{1e21, "1000000000000000000000"}, Case{0.1, "0.1"},
                                         Case{std::nan(""), "nan"}, Case{-std::nan(""), "nan"},
                                         Case{std::numeric_limits<double>::infinity(), "inf"},
                                         Case{-std::numeric_limits<double>::infinity(), "-inf"}),
                         caseName);

TEST(DecimalFormat, ExtremesFitTheLargestBuffer) {
    std::array<char, maxDecimalLength> buffer{};
    EXPECT_TRUE(formatDecimal(std::numeric_limits<double>::denorm_min(), buffer).has_value());
    EXPECT_TRUE(formatDecimal(-std::numeric_limits<double>::max(), buffer).has_value());
}

TEST(DecimalFormat, TooLongForTheBufferIsNothing) {
    std::array<char, 32> buffer{};
    // 38 characters in positional notation.
    EXPECT_FALSE(formatDecimal(1.2345678901234567e-20, buffer).has_value());
    EXPECT_TRUE(formatDecimal(1.0 / 2048, buffer).has_value());
}

}  // namespace
}  // namespace vorn
