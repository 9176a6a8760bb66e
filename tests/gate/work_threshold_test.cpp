#include "gate/work_threshold.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

std::string hexString(const Number256& number) {
    const Hex256 digits = hexDigits(number);
    return {digits.data(), digits.size()};
}

// `number` plus `delta` (-1, 0 or 1), with carries.
Number256 nudged(Number256 number, int delta) {
    for (std::size_t i = number.size(); i-- > 0 && delta != 0;) {
        const int value = std::to_integer<int>(number[i]) + delta;
        number[i] = static_cast<std::byte>(value & 0xff);
        if (value >= 0 && value <= 0xff) break;
    }
    return number;
}

// Rows are printed and named by their `name`.
template <class Row>
requires requires(const Row& row) {
    row.name;
}
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

const auto rowName = [](const auto& info) { return test::testName(info.param.name); };

struct BoundRow {
    std::string name;
    double difficulty;
    std::string bound;  // 64 hex digits
};

class WorkBounds : public testing::TestWithParam<BoundRow> {};

// The bound is the difficulty times 2^256 exactly, and a digest counts only
// when below it.
TEST_P(WorkBounds, AreExactAndOnlyDigestsBelowCount) {
    const Number256 bound = workBound(GetParam().difficulty);
    EXPECT_EQ(hexString(bound), GetParam().bound);
    EXPECT_TRUE(belowBound(nudged(bound, -1), bound));
    EXPECT_FALSE(belowBound(bound, bound));
    EXPECT_FALSE(belowBound(nudged(bound, 1), bound));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WorkBounds,
    testing::Values(BoundRow{"1/2048", 1.0 / 2048,
                             "0020000000000000000000000000000000000000000000000000000000000000"},
                    BoundRow{"2^-13", 0x1p-13,
                             "0008000000000000000000000000000000000000000000000000000000000000"},
                    BoundRow{"3 x 2^-14", 3 * 0x1p-14,
                             "000c000000000000000000000000000000000000000000000000000000000000"},
                    BoundRow{"0.0001", 0.0001,
                             "00068db8bac710cb400000000000000000000000000000000000000000000000"},
                    BoundRow{"2^-64", 0x1p-64,
                             "0000000000000001000000000000000000000000000000000000000000000000"}),
    rowName);

TEST(WorkDigest, IsSha256OfNonceThenCounter) {
    EXPECT_EQ(hexString(workDigest("ab", "c")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

struct DifficultyRow {
    std::string name;
    std::string text;
    std::optional<double> value;
};

class Difficulties : public testing::TestWithParam<DifficultyRow> {};

TEST_P(Difficulties, AreReadAsTheAgentWritesThem) {
    EXPECT_EQ(parseDifficulty(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Difficulties,
    testing::Values(DifficultyRow{"the largest", "0.00048828125", 1.0 / 2048},
                    DifficultyRow{"just above the largest", "0.00048828126", std::nullopt},
                    DifficultyRow{
                        "the smallest",
                        "0.0000000000000000000542101086242752217003726400434970855712890625",
                        0x1p-64},
                    DifficultyRow{"below the smallest", "0.00000000000000000005", std::nullopt},
                    DifficultyRow{"exponent", "1e-4", std::nullopt},
                    DifficultyRow{"trailing text", "0.0001x", std::nullopt},
                    DifficultyRow{"not a number", "nan", std::nullopt},
                    DifficultyRow{"empty", "", std::nullopt}),
    rowName);

}  // namespace
}  // namespace vorn
