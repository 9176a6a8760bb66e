#include "loop/connection_limits.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

constexpr std::uint64_t unlimited = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t mebibyte = 1 << 20;

struct Row {
    std::uint64_t mebibytes;
    std::uint64_t descriptorBudget;
    std::uint64_t connectionLimit;
    std::uint64_t chunkLimit;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.mebibytes << " MiB, descriptor budget " << row.descriptorBudget;
}

// The memory and the descriptor budget: "256MiB4032Descriptors".
std::string budgetName(const testing::TestParamInfo<Row>& info) {
    const Row& row = info.param;
    const std::string descriptors =
        row.descriptorBudget == unlimited ? "unlimited" : std::to_string(row.descriptorBudget);
    return test::testName({std::to_string(row.mebibytes), "MiB", descriptors, "descriptors"});
}

class ConnectionLimitsTable : public testing::TestWithParam<Row> {};

TEST_P(ConnectionLimitsTable, SplitsTheBudget) {
    const Row& row = GetParam();
    ConnectionLimits limits =
        computeConnectionLimits(row.mebibytes * mebibyte, row.descriptorBudget);
    EXPECT_EQ(limits.connectionLimit, row.connectionLimit);
    EXPECT_EQ(limits.chunkLimit, row.chunkLimit);
}

INSTANTIATE_TEST_SUITE_P(
    Budgets, ConnectionLimitsTable,
    testing::Values(Row{16, unlimited, 87'381, 64}, Row{256, unlimited, 1'398'101, 1'024},
                    Row{65536, unlimited, 357'913'941, 262'144},
                    // Soft descriptor limits 4096, 100 and 50 less the 64 kept back.
                    Row{256, 4'032, 4'032, 1'024}, Row{16, 36, 36, 64},
                    // A budget of 0 descriptors still allows one connection.
                    Row{16, 0, 1, 64}),
    budgetName);

TEST(ConnectionLimits, ChunkLimitIsAtLeastFour) {
    EXPECT_EQ(computeConnectionLimits(100'000, unlimited).chunkLimit, 4u);
}

}  // namespace
}  // namespace vorn
