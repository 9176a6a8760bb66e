#include "observe/stats_block.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

struct Sample {
    std::uint64_t nanos;
    int bucket;  // -1: above the last bound
};

void PrintTo(const Sample& row, std::ostream* out) {
    *out << row.nanos << " ns";
}

std::string sampleName(const testing::TestParamInfo<Sample>& info) {
    const std::string nanos = std::to_string(info.param.nanos) + " ns";
    if (info.param.bucket < 0) return test::testName({nanos, "above the last bound"});
    return test::testName({nanos, "to bucket", std::to_string(info.param.bucket)});
}

class LatencyBuckets : public testing::TestWithParam<Sample> {};

TEST_P(LatencyBuckets, ASampleGoesToTheFirstBucketWhoseBoundItDoesNotExceed) {
    LatencyHistogram histogram;
    histogram.record(GetParam().nanos);
    for (int i = 0; i < static_cast<int>(histogram.buckets.size()); ++i) {
        EXPECT_EQ(histogram.buckets[static_cast<std::size_t>(i)], i == GetParam().bucket ? 1u : 0u)
            << i;
    }
    EXPECT_EQ(histogram.count, 1u);
    EXPECT_EQ(histogram.sumNanos, GetParam().nanos);
}

INSTANTIATE_TEST_SUITE_P(Bounds, LatencyBuckets,
                         testing::Values(Sample{0, 0}, Sample{50'000, 0}, Sample{50'001, 1},
                                         Sample{30'000'000, 9}, Sample{50'000'000, 9},
                                         Sample{60'000'000, -1}),
                         sampleName);

TEST(StatsBlock, AddingSumsEveryField) {
    StatsBlock a;
    StatsBlock b;
    a.decisions[1][11][4] = 2;
    b.decisions[1][11][4] = 3;
    b.decisions[3][0][7] = 1;
    a.latency[1].record(40'000);
    b.latency[1].record(60'000'000);
    b.receipts[6] = 4;
    b.chunks[2] = 64;
    b.reloads = 1;
    a.add(b);
    EXPECT_EQ(a.decisions[1][11][4], 5u);
    EXPECT_EQ(a.decisions[3][0][7], 1u);
    EXPECT_EQ(a.latency[1].count, 2u);
    EXPECT_EQ(a.latency[1].buckets[0], 1u);
    EXPECT_EQ(a.latency[1].sumNanos, 60'040'000u);
    EXPECT_EQ(a.receipts[6], 4u);
    EXPECT_EQ(a.chunks[2], 64u);
    EXPECT_EQ(a.reloads, 1u);
}

}  // namespace
}  // namespace vorn
