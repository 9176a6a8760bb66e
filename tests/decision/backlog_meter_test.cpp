#include "decision/backlog_meter.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vorn {
namespace {

constexpr Nanos second = nanosPerSecond;

// One moment: an optional queue length received, then the level expected.
struct Step {
    Nanos time;
    std::optional<std::uint32_t> backlog;
    MeterLevel level;
};

struct MeterRow {
    std::string name;
    std::vector<Step> steps;
};

void PrintTo(const MeterRow& row, std::ostream* out) {
    *out << row.name;
}

class Meter : public testing::TestWithParam<MeterRow> {};

TEST_P(Meter, FollowsTheHolds) {
    BacklogMeter meter(4, 16, 300 * second);
    ClassWindows windows = *ClassWindows::create(1 << 20);
    for (const Step& step : GetParam().steps) {
        if (step.backlog) meter.recordBacklog(*step.backlog, step.time);
        EXPECT_EQ(meter.level(step.time, windows), step.level)
            << "at " << static_cast<long long>(step.time / second) << " s";
    }
}

constexpr MeterLevel calm = MeterLevel::calm;
constexpr MeterLevel hot = MeterLevel::hot;
constexpr MeterLevel severe = MeterLevel::severe;

std::vector<Step> severeEveryHundredSeconds() {
    std::vector<Step> steps;
    for (int i = 0; i <= 10; ++i) {
        steps.push_back({i * 100 * second, 16, severe});
        steps.push_back({(i * 100 + 99) * second, std::nullopt, severe});
    }
    return steps;
}

INSTANTIATE_TEST_SUITE_P(
    Defaults, Meter,
    testing::Values(
        MeterRow{"BelowHotStaysCalm", {{0, 3, calm}, {1 * second, 3, calm}, {2 * second, 3, calm}}},
        MeterRow{"HotHoldsDespiteZero",
                 {{0, 4, hot},
                  {10 * second, 0, hot},
                  {300 * second - 1, std::nullopt, hot},
                  {300 * second, std::nullopt, calm}}},
        MeterRow{"SevereThenHot",
                 {{0, 16, severe},
                  {200 * second, 8, severe},
                  {300 * second - 1, std::nullopt, severe},
                  {300 * second, std::nullopt, hot},
                  {500 * second - 1, std::nullopt, hot},
                  {500 * second, std::nullopt, calm}}},
        MeterRow{"JustBelowSevereIsHot", {{0, 15, hot}}},
        MeterRow{"SevereKeptByRepeats", severeEveryHundredSeconds()},
        MeterRow{"BeforeAnyBacklog", {{-second, std::nullopt, calm}, {0, std::nullopt, calm}}},
        MeterRow{"ClockBefore1970", {{-600 * second, 3, calm}, {-400 * second, 4, hot}}}),
    [](const auto& info) { return info.param.name; });

TEST(Meter, RemembersTheLastBacklog) {
    BacklogMeter meter(4, 16, 300 * second);
    EXPECT_FALSE(meter.lastBacklog());
    meter.recordBacklog(7, 0);
    meter.recordBacklog(2, second);
    EXPECT_EQ(meter.lastBacklog(), 2u);
}

TEST(Meter, GroupHeatLiftsCalmToHotOnly) {
    BacklogMeter meter(4, 16, 300 * second);
    ClassWindows windows = *ClassWindows::create(1 << 20);
    const Nanos t = 1000 * second;
    for (int i = 0; i < 301; ++i) windows.countRequest(PathClass::tracker, 0, t);
    ASSERT_TRUE(windows.evaluateHeat(PathClass::tracker, t));
    EXPECT_EQ(meter.level(t, windows), hot);
    EXPECT_EQ(meter.level(t + 20 * second, windows), calm);
    meter.recordBacklog(16, t);
    EXPECT_EQ(meter.level(t, windows), severe);
}

}  // namespace
}  // namespace vorn
