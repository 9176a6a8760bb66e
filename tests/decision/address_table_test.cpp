#include "decision/address_table.hpp"

#include <gtest/gtest.h>

#include <map>
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

std::string sizeName(const testing::TestParamInfo<std::size_t>& info) {
    return test::testName({std::to_string(info.param), "places"});
}

class Churn : public testing::TestWithParam<std::size_t> {};

// Against a plain map of last-seen slots, over many windows: addresses are
// refreshed, expire with the slot of their latest request (also over a gap
// longer than the window, and making room in a full table before the sweep
// reaches them), and are refused when it is full; a clock that steps back
// changes nothing. Up to the probe limit, any address reaches every place,
// so whether a new one fits depends only on the count of live ones.
TEST_P(Churn, MatchesAReference) {
    const std::size_t slots = GetParam();
    AddressTable table = tableOf(slots);
    std::map<std::uint64_t, std::int64_t> lastSeen;
    std::mt19937_64 random(slots);
    std::int64_t slot = start;
    const std::uint64_t pool = slots * 2 + 1;
    std::uint64_t drops = 0;
    for (int i = 0; i < 40'000; ++i) {
        if (random() % 16 == 0) slot += static_cast<std::int64_t>(random() % 12);
        if (random() % 8192 == 0) slot += 5000;
        table.advanceTo(slot);
        if (random() % 64 == 0) table.advanceTo(slot - 30);
        std::erase_if(lastSeen, [slot](const auto& e) { return slot - e.second >= 60; });
        const std::uint64_t key = random() % pool + 1;
        Outcome expected = lastSeen.contains(key)               ? Outcome::refreshed
                           : lastSeen.size() < table.capacity() ? Outcome::recorded
                                                                : Outcome::dropped;
        ASSERT_EQ(table.record(key), expected) << "request " << i;
        if (expected != Outcome::dropped) lastSeen[key] = slot;
        drops += expected == Outcome::dropped;
        table.sweep();
        ASSERT_EQ(table.entries(), lastSeen.size()) << "request " << i;
    }
    EXPECT_EQ(table.dropped(), drops);
}

// 0 places: the table of a class given no memory records nothing.
INSTANTIATE_TEST_SUITE_P(Sizes, Churn,
                         testing::ValuesIn(std::vector<std::size_t>{0, 1, 7, 64,
                                                                    AddressTable::probeLimit}),
                         sizeName);

class Sweep : public testing::TestWithParam<std::size_t> {};

// A table filled to its capacity and left to expire is swept down to the
// slack the sweep allows, a budget of places per request, and fills again.
TEST_P(Sweep, EmptiesAnExpiredTableAndItFillsAgain) {
    const std::size_t slots = GetParam();
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
                         testing::ValuesIn(std::vector<std::size_t>{7, AddressTable::probeLimit,
                                                                    1000, 20'000}),
                         sizeName);

}  // namespace
}  // namespace vorn
