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

struct BoundRow {
    std::string name;
    double difficulty;
    std::string bound;  // 64 hex digits
};

void PrintTo(const BoundRow& row, std::ostream* out) {
    *out << row.name;
}

class WorkBounds : public testing::TestWithParam<BoundRow> {};

TEST_P(WorkBounds, AreTheDifficultyTimesTwoToThe256Exactly) {
    EXPECT_EQ(hexString(workBound(GetParam().difficulty)), GetParam().bound);
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
    [](const testing::TestParamInfo<BoundRow>& info) { return test::testName(info.param.name); });

// `number` plus `delta` (-1, 0 or 1), with carries.
Number256 nudged(Number256 number, int delta) {
    for (std::size_t i = number.size(); i-- > 0 && delta != 0;) {
        const int value = std::to_integer<int>(number[i]) + delta;
        number[i] = static_cast<std::byte>(value & 0xff);
        if (value >= 0 && value <= 0xff) break;
    }
    return number;
}

struct EdgeRow {
    std::string name;
    double difficulty;
    int delta;  // the digest is the bound plus this
    bool below;
};

void PrintTo(const EdgeRow& row, std::ostream* out) {
    *out << row.name;
}

class WorkEdge : public testing::TestWithParam<EdgeRow> {};

TEST_P(WorkEdge, OnlyDigestsBelowTheBoundCount) {
    const Number256 bound = workBound(GetParam().difficulty);
    EXPECT_EQ(belowBound(nudged(bound, GetParam().delta), bound), GetParam().below);
}

INSTANTIATE_TEST_SUITE_P(Rows, WorkEdge,
                         testing::Values(EdgeRow{"2^-13 one below", 0x1p-13, -1, true},
                                         EdgeRow{"2^-13 at the bound", 0x1p-13, 0, false},
                                         EdgeRow{"2^-13 one above", 0x1p-13, 1, false},
                                         EdgeRow{"0.0001 one below", 0.0001, -1, true},
                                         EdgeRow{"0.0001 at the bound", 0.0001, 0, false},
                                         EdgeRow{"0.0001 one above", 0.0001, 1, false},
                                         EdgeRow{"2^-64 one below", 0x1p-64, -1, true},
                                         EdgeRow{"2^-64 at the bound", 0x1p-64, 0, false}),
                         [](const testing::TestParamInfo<EdgeRow>& info) {
                             return test::testName(info.param.name);
                         });

TEST(WorkDigest, IsSha256OfNonceThenCounter) {
    EXPECT_EQ(hexString(workDigest("ab", "c")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    Number256 zero{};
    EXPECT_TRUE(belowBound(zero, workBound(0x1p-64)));
}

struct DifficultyRow {
    std::string name;
    std::string text;
    std::optional<double> value;
};

void PrintTo(const DifficultyRow& row, std::ostream* out) {
    *out << row.name;
}

class Difficulties : public testing::TestWithParam<DifficultyRow> {};

TEST_P(Difficulties, AreReadAsTheAgentWritesThem) {
    EXPECT_EQ(parseDifficulty(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Difficulties,
    testing::Values(DifficultyRow{"the default", "0.0001220703125", 0x1p-13},
                    DifficultyRow{"the largest", "0.00048828125", 1.0 / 2048},
                    DifficultyRow{"just above the largest", "0.00048828126", std::nullopt},
                    DifficultyRow{
                        "the smallest",
                        "0.0000000000000000000542101086242752217003726400434970855712890625",
                        0x1p-64},
                    DifficultyRow{"below the smallest", "0.00000000000000000005", std::nullopt},
                    DifficultyRow{"zero", "0", std::nullopt},
                    DifficultyRow{"exponent", "1e-4", std::nullopt},
                    DifficultyRow{"trailing text", "0.0001x", std::nullopt},
                    DifficultyRow{"not a number", "nan", std::nullopt},
                    DifficultyRow{"empty", "", std::nullopt}),
    [](const testing::TestParamInfo<DifficultyRow>& info) {
        return test::testName(info.param.name);
    });

}  // namespace
}  // namespace vorn
