#include "decision/class_windows.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/test_name.hpp"

namespace vorn {
namespace {

constexpr Nanos second = nanosPerSecond;
// 2023-11-14 00:00:00 UTC.
constexpr Nanos midnight = Nanos{1'699'920'000} * second;

constexpr Nanos at(int hours, int minutes, int seconds) {
    return midnight + ((hours * 60 + minutes) * 60 + seconds) * second;
}

struct AgeingRow {
    std::string name;
    std::vector<Nanos> arrivals;
    std::vector<std::uint64_t> rates;  // the class rate after each arrival
};

void PrintTo(const AgeingRow& row, std::ostream* out) {
    *out << row.name;
}

class Ageing : public testing::TestWithParam<AgeingRow> {};

TEST_P(Ageing, MovesSlotsByWholeTenSeconds) {
    ClassWindows windows = *ClassWindows::create(1 << 20);
    const AgeingRow& row = GetParam();
    for (std::size_t i = 0; i < row.arrivals.size(); ++i) {
        windows.countRequest(PathClass::page, 0, row.arrivals[i]);
        EXPECT_EQ(windows.classRate(PathClass::page), row.rates[i]) << "arrival " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, Ageing,
    testing::Values(
        // The first request lands in slot 59 of 12:00:00 and is in slot 58
        // after 12:00:15, so it leaves when the epoch reaches 12:10:00.
        AgeingRow{"FirstSlotIsFloored",
                  {at(12, 0, 7), at(12, 0, 15), at(12, 9, 59), at(12, 10, 0)},
                  {1, 2, 3, 3}},
        AgeingRow{
            "StillInWindowJustBefore", {at(12, 0, 7), at(12, 0, 15), at(12, 10, 0) - 1}, {1, 2, 3}},
        AgeingRow{"WholeWindowGapClears", {at(12, 0, 7), at(12, 11, 7)}, {1, 1}},
        AgeingRow{"ClockBackKeepsSlot59",
                  {at(12, 0, 7), at(11, 59, 0), at(12, 9, 59), at(12, 10, 0)},
                  {1, 2, 3, 2}},
        AgeingRow{"FloorsBefore1970", {-5 * second, 5 * second - 1, 590 * second}, {1, 2, 2}}),
    [](const auto& info) { return info.param.name; });

TEST(ClassWindows, CountsRequestsAndDistinctAddresses) {
    ClassWindows windows = *ClassWindows::create(1 << 20);
    for (int i = 0; i < 50; ++i) windows.countRequest(PathClass::tracker, 42, at(12, 0, i));
    windows.countRequest(PathClass::tracker, 0, at(12, 0, 50));
    EXPECT_EQ(windows.classRate(PathClass::tracker), 51u);
    EXPECT_EQ(windows.classDistinctIps(PathClass::tracker), 1u);
    EXPECT_EQ(windows.classRate(PathClass::page), 0u);
    EXPECT_EQ(windows.classDistinctIps(PathClass::page), 0u);
}

TEST(ClassWindows, GapOfElevenMinutesClearsEveryClass) {
    ClassWindows windows = *ClassWindows::create(1 << 20);
    windows.countRequest(PathClass::tracker, 1, at(12, 0, 7));
    windows.countRequest(PathClass::expensive, 2, at(12, 0, 8));
    windows.countRequest(PathClass::page, 3, at(12, 11, 8));
    EXPECT_EQ(windows.classRate(PathClass::tracker), 0u);
    EXPECT_EQ(windows.classDistinctIps(PathClass::tracker), 0u);
    EXPECT_EQ(windows.classRate(PathClass::expensive), 0u);
    EXPECT_EQ(windows.classRate(PathClass::page), 1u);
    EXPECT_EQ(windows.classDistinctIps(PathClass::page), 1u);
}

// An address leaves with the slot of its latest request, as that request
// leaves the class rate.
TEST(ClassWindows, ShiftForgetsAddressesWithTheSlotOfTheirLastRequest) {
    for (auto [arrival, distinct] : {std::pair{at(12, 9, 59), 2u}, {at(12, 10, 0), 1u}}) {
        ClassWindows windows = *ClassWindows::create(1 << 20);
        windows.countRequest(PathClass::tracker, 1, at(12, 0, 7));
        windows.countRequest(PathClass::tracker, 2, at(12, 5, 0));
        windows.countRequest(PathClass::page, 0, arrival);
        EXPECT_EQ(windows.classDistinctIps(PathClass::tracker), distinct);
    }
}

// A full table drops new addresses until they age: ten minutes on, only
// the address refreshed since is left, and new ones fit again.
TEST(ClassWindows, AFullTableTakesNewAddressesOnceTheOldOnesExpire) {
    // Eight places a class: six addresses.
    auto windows = *ClassWindows::create(8 * AddressTable::bytesPerSlot * pathClassCount);
    for (std::uint64_t address = 1; address <= 7; ++address) {
        windows.countRequest(PathClass::api, address, at(12, 0, 0));
    }
    windows.countRequest(PathClass::api, 1, at(12, 5, 0));
    for (std::uint64_t address = 11; address <= 16; ++address) {
        windows.countRequest(PathClass::api, address, at(12, 10, 0));
    }
    EXPECT_EQ(windows.classDistinctIps(PathClass::api), 6u);
    EXPECT_EQ(windows.addressesDropped(PathClass::api), 2u) << "addresses 7 and 16";
    EXPECT_EQ(windows.classRate(PathClass::api), 7u);
}

struct HeatRow {
    PathClass pathClass;
    std::uint32_t threshold;
};

void PrintTo(const HeatRow& row, std::ostream* out) {
    *out << pathClassName(row.pathClass) << " above " << row.threshold;
}

std::string heatName(const testing::TestParamInfo<HeatRow>& info) {
    return test::testName(
        {pathClassName(info.param.pathClass), "above", std::to_string(info.param.threshold)});
}

class Heat : public testing::TestWithParam<HeatRow> {};

TEST_P(Heat, StartsAboveTheThresholdOnly) {
    const auto [pathClass, threshold] = GetParam();
    ClassWindows windows = *ClassWindows::create(1 << 20);
    const Nanos t = at(12, 0, 0);
    for (std::uint32_t i = 0; i < threshold; ++i) {
        windows.countRequest(pathClass, 0, t);
        ASSERT_FALSE(windows.evaluateHeat(pathClass, t)) << "at " << i + 1;
    }
    EXPECT_FALSE(windows.anyGroupHot(t));
    windows.countRequest(pathClass, 0, t);
    EXPECT_TRUE(windows.evaluateHeat(pathClass, t));
    EXPECT_TRUE(windows.groupHotNow(pathClass, t + 20 * second - 1));
    EXPECT_FALSE(windows.groupHotNow(pathClass, t + 20 * second));
    EXPECT_TRUE(windows.anyGroupHot(t));
    EXPECT_FALSE(windows.groupHotNow(PathClass::page, t));
}

INSTANTIATE_TEST_SUITE_P(Groups, Heat,
                         testing::Values(HeatRow{PathClass::tracker, 300},
                                         HeatRow{PathClass::expensive, 1500},
                                         HeatRow{PathClass::actions, 600}),
                         heatName);

TEST(Heat, GeneralGroupNeverHeats) {
    ClassWindows windows = *ClassWindows::create(1 << 20);
    const Nanos t = at(12, 0, 0);
    for (int i = 0; i < 5000; ++i) {
        windows.countRequest(i % 2 ? PathClass::page : PathClass::api, 0, t);
        ASSERT_FALSE(windows.evaluateHeat(PathClass::page, t));
    }
    EXPECT_FALSE(windows.anyGroupHot(t));
}

TEST(Heat, LastsTwentySecondsWithoutExtension) {
    ClassWindows windows = *ClassWindows::create(1 << 20);
    const Nanos t = at(12, 0, 0);
    for (int i = 0; i < 301; ++i) windows.countRequest(PathClass::tracker, 0, t);
    ASSERT_TRUE(windows.evaluateHeat(PathClass::tracker, t));
    windows.countRequest(PathClass::tracker, 0, t + 10 * second);
    EXPECT_TRUE(windows.evaluateHeat(PathClass::tracker, t + 10 * second));
    EXPECT_FALSE(windows.groupHotNow(PathClass::tracker, t + 20 * second));
    // Still above the threshold: the next request heats it again.
    windows.countRequest(PathClass::tracker, 0, t + 25 * second);
    EXPECT_TRUE(windows.evaluateHeat(PathClass::tracker, t + 25 * second));
    EXPECT_TRUE(windows.groupHotNow(PathClass::tracker, t + 45 * second - 1));
}

TEST(Heat, NothingIsHotBeforeTheFirstCount) {
    ClassWindows windows = *ClassWindows::create(1 << 20);
    EXPECT_FALSE(windows.started());
    EXPECT_FALSE(windows.anyGroupHot(-second));
    EXPECT_FALSE(windows.groupHotNow(PathClass::tracker, -second));
}

TEST(Heat, ClockBefore1970IsNotHotByItself) {
    ClassWindows windows = *ClassWindows::create(1 << 20);
    windows.countRequest(PathClass::tracker, 0, -100 * second);
    EXPECT_FALSE(windows.evaluateHeat(PathClass::tracker, -100 * second));
    EXPECT_FALSE(windows.groupHotNow(PathClass::tracker, -50 * second));
    EXPECT_FALSE(windows.anyGroupHot(-50 * second));
}

TEST(ClassWindows, ExpensiveShare) {
    ClassWindows windows = *ClassWindows::create(1 << 20);
    EXPECT_EQ(windows.expensiveShare(), 0.0);
    for (int i = 0; i < 25; ++i) windows.countRequest(PathClass::expensive, 0, at(12, 0, 0));
    for (int i = 0; i < 75; ++i) windows.countRequest(PathClass::other, 0, at(12, 0, 1));
    EXPECT_DOUBLE_EQ(windows.expensiveShare(), 0.25);
}

}  // namespace
}  // namespace vorn
