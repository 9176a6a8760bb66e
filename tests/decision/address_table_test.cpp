#include "decision/address_table.hpp"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "support/test_name.hpp"

namespace vorn {
namespace {

using Outcome = AddressTable::Outcome;

constexpr std::int64_t start = 170'000'000;  // a slot number of this century

AddressTable tableOf(std::size_t slots) {
    auto table = AddressTable::create(slots);
    EXPECT_TRUE(table.has_value());
    AddressTable created = table ? std::move(*table) : AddressTable();
    created.startAt(start);
    return created;
}

// One step of a scripted run on a table of eight places (six addresses):
// move the window to `slot` (slots after `start`), then record `key`, or
// only move when it is 0.
struct Step {
    std::int64_t slot;
    std::uint64_t key;
    Outcome outcome = Outcome::recorded;
};

struct ScriptRow {
    std::string name;
    std::vector<Step> steps;
    std::size_t entries;  // live addresses at the end
    std::uint64_t dropped;
};

void PrintTo(const ScriptRow& row, std::ostream* out) {
    *out << row.name;
}

class Script : public testing::TestWithParam<ScriptRow> {};

TEST_P(Script, RecordsRefreshesAndDrops) {
    AddressTable table = tableOf(8);
    ASSERT_EQ(table.capacity(), 6u);
    std::size_t index = 0;
    for (const Step& step : GetParam().steps) {
        table.advanceTo(start + step.slot);
        if (step.key != 0) {
            EXPECT_EQ(table.record(step.key), step.outcome) << "step " << index;
        }
        table.sweep();
        ++index;
    }
    EXPECT_EQ(table.entries(), GetParam().entries);
    EXPECT_EQ(table.dropped(), GetParam().dropped);
}

constexpr Outcome refreshed = Outcome::refreshed;
constexpr Outcome dropped = Outcome::dropped;

INSTANTIATE_TEST_SUITE_P(
    Runs, Script,
    testing::Values(
        ScriptRow{"SameAddressTwice", {{0, 7}, {0, 7, refreshed}}, 1, 0},
        ScriptRow{"FullTableDropsNewAndRefreshesPresent",
                  {{0, 1},
                   {0, 2},
                   {0, 3},
                   {0, 4},
                   {0, 5},
                   {0, 6},
                   {0, 7, dropped},
                   {1, 3, refreshed},
                   {1, 8, dropped}},
                  6,
                  2},
        // An address lives while the slot of its latest request is one of
        // the window's sixty, as its request does in the class rate.
        ScriptRow{"LastSlotOfTheWindow", {{0, 1}, {59, 0}}, 1, 0},
        ScriptRow{"ExpiresWhenItsSlotLeaves", {{0, 1}, {60, 0}}, 0, 0},
        ScriptRow{"ComesBackAsNew", {{0, 1}, {60, 1}}, 1, 0},
        ScriptRow{"RefreshMovesItsSlot", {{0, 1}, {0, 2}, {30, 1, refreshed}, {60, 0}}, 1, 0},
        ScriptRow{"LongGapExpiresAll", {{0, 1}, {0, 2}, {5000, 0}}, 0, 0},
        // Expired addresses make room at once, before the sweep reaches them.
        ScriptRow{"ExpiredMakeRoomInAFullTable",
                  {{0, 1},
                   {0, 2},
                   {0, 3},
                   {10, 4},
                   {10, 5},
                   {10, 6},
                   {10, 7, dropped},
                   {60, 7},
                   {60, 8},
                   {60, 9},
                   {60, 10, dropped},
                   {60, 4, refreshed}},
                  6,
                  2},
        ScriptRow{"WindowThatDidNotMoveKeepsAll", {{5, 1}, {3, 2}, {5, 1, refreshed}}, 2, 0}),
    [](const auto& info) { return info.param.name; });

TEST(AddressTable, WithoutPlacesRecordsNothing) {
    AddressTable table;
    table.startAt(start);
    EXPECT_EQ(table.record(1), Outcome::dropped);
    table.sweep();
    EXPECT_EQ(table.entries(), 0u);
    EXPECT_EQ(table.capacity(), 0u);
}

struct SizeRow {
    std::size_t slots;
};

void PrintTo(const SizeRow& row, std::ostream* out) {
    *out << row.slots << " places";
}

class Churn : public testing::TestWithParam<SizeRow> {};

// Against a plain map of last-seen slots, over many windows: addresses
// come back, expire, are swept and are refused when the table is full.
// Tables up to the probe limit let any address reach every place, so
// whether a new address fits depends only on the count of live ones.
TEST_P(Churn, MatchesAReference) {
    const std::size_t slots = GetParam().slots;
    AddressTable table = tableOf(slots);
    std::map<std::uint64_t, std::int64_t> lastSeen;
    std::mt19937_64 random(slots);
    std::int64_t slot = start;
    const std::uint64_t pool = slots * 2;
    for (int i = 0; i < 40'000; ++i) {
        if (random() % 16 == 0) slot += static_cast<std::int64_t>(random() % 12);
        table.advanceTo(slot);
        std::erase_if(lastSeen, [slot](const auto& e) { return slot - e.second >= 60; });
        const std::uint64_t key = random() % pool + 1;
        Outcome expected = lastSeen.contains(key)               ? Outcome::refreshed
                           : lastSeen.size() < table.capacity() ? Outcome::recorded
                                                                : Outcome::dropped;
        ASSERT_EQ(table.record(key), expected) << "request " << i;
        if (expected != Outcome::dropped) lastSeen[key] = slot;
        table.sweep();
        ASSERT_EQ(table.entries(), lastSeen.size()) << "request " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Churn,
                         testing::Values(SizeRow{1}, SizeRow{7}, SizeRow{64},
                                         SizeRow{AddressTable::probeLimit}),
                         [](const auto& info) {
                             return test::testName({std::to_string(info.param.slots), "places"});
                         });

class Sweep : public testing::TestWithParam<SizeRow> {};

// A table filled to its capacity and left to expire is swept down to the
// slack the sweep allows, a budget of places per request, and fills again.
TEST_P(Sweep, EmptiesAnExpiredTableAndItFillsAgain) {
    const std::size_t slots = GetParam().slots;
    AddressTable table = tableOf(slots);
    std::uint64_t key = 0;
    for (int round = 0; round < 3; ++round) {
        const std::int64_t slot = start + round * 60;
        table.advanceTo(slot);
        EXPECT_EQ(table.entries(), 0u);
        // A new address is refused before the table is full only when its
        // whole probe window is taken, which is rare: others then fill it.
        for (std::size_t attempts = 0; table.entries() < table.capacity() && attempts < 2 * slots;
             ++attempts) {
            (void)table.record(++key);
        }
        EXPECT_EQ(table.entries(), table.capacity());
        table.advanceTo(slot + 60);
        // A pass costs about one place per empty place and two per removal;
        // a removal that finds the run after it not yet swept waits for the
        // next pass.
        const std::size_t slack = slots / AddressTable::sweepSlack;
        for (std::size_t i = 0; i < slots && table.occupied() > slack; ++i) table.sweep();
        EXPECT_LE(table.occupied(), slack) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Sweep,
                         testing::Values(SizeRow{7}, SizeRow{AddressTable::probeLimit},
                                         SizeRow{1000}, SizeRow{20'000}),
                         [](const auto& info) {
                             return test::testName({std::to_string(info.param.slots), "places"});
                         });

}  // namespace
}  // namespace vorn
