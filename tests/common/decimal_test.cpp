#include "common/decimal.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <expected>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

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

// One text for parseDecimal and what it reads: a value, or the fault.
struct Reading {
    std::string name;
    std::string text;
    std::chars_format format;
    std::expected<double, DecimalFault> read;
};

void PrintTo(const Reading& row, std::ostream* out) {
    *out << '"' << row.text << '"';
}

class DecimalParse : public testing::TestWithParam<Reading> {};

TEST_P(DecimalParse, ReadsTheWholeTextOrNamesTheFault) {
    const auto& [name, text, format, expected] = GetParam();
    auto read = parseDecimal(text, format);
    ASSERT_EQ(read.has_value(), expected.has_value());
    if (!read) {
        EXPECT_EQ(read.error(), expected.error());
    } else if (std::isnan(*expected)) {
        EXPECT_TRUE(std::isnan(*read));
    } else {
        EXPECT_EQ(*read, *expected);
    }
}

constexpr auto general = std::chars_format::general;
constexpr auto fixed = std::chars_format::fixed;
constexpr double infinity = std::numeric_limits<double>::infinity();
const std::unexpected bad(DecimalFault::notANumber);
const std::unexpected outOfRange(DecimalFault::outOfRange);

INSTANTIATE_TEST_SUITE_P(Texts, DecimalParse,
                         testing::ValuesIn(std::vector<Reading>{
                             Reading{"Fraction", "0.0001220703125", general, 1.0 / 8192},
                             Reading{"NoWholePart", ".5", general, 0.5},
                             Reading{"NoFractionDigits", "5.", general, 5.0},
                             Reading{"Negative", "-0.25", general, -0.25},
                             Reading{"Exponent", "5E-5", general, 5e-5},
                             Reading{"ExponentWithPlus", "1e+2", general, 100.0},
                             Reading{"Infinity", "INFINITY", general, infinity},
                             Reading{"NegativeInf", "-inf", general, -infinity},
                             Reading{"NotANumberWord", "NaN", general, std::nan("")},
                             Reading{"FixedFraction", "0.00048828125", fixed, 1.0 / 2048},
                             Reading{"FixedRefusesAnExponent", "5e-5", fixed, bad},
                             Reading{"Empty", "", general, bad},
                             Reading{"LonePoint", ".", general, bad},
                             Reading{"LoneMinus", "-", general, bad},
                             Reading{"Plus", "+1", general, bad},
                             Reading{"LeadingSpace", " 1", general, bad},
                             Reading{"TrailingSpace", "1 ", general, bad},
                             Reading{"ExponentWithoutDigits", "1e", general, bad},
                             Reading{"TwoPoints", "1.2.3", general, bad},
                             Reading{"Hexadecimal", "0x10", general, bad},
                             Reading{"TooLong", "0." + std::string(maxDecimalLength, '1'), general,
                                     bad},
                             Reading{"Overflow", "1e400", general, outOfRange},
                             Reading{"Underflow", "1e-400", general, outOfRange},
                         }),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
