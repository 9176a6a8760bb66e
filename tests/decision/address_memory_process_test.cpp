// The distinct-address tables at a small --address-memory: a class's table
// fills, and from then on new addresses are counted in the rate but not
// recorded, while the addresses it holds are still refreshed.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/metrics_page.hpp"
#include "support/running_agent.hpp"

namespace vorn::test {
namespace {

// 1 MiB over eleven classes: 7,943 places each, three quarters of them
// addresses.
constexpr int capacity = 5958;

// 2001:db8::/96 with `index` in the last four bytes.
VornCheck fromAddress(std::uint32_t index) {
    Ipv6Bytes address{0x20, 0x01, 0x0d, 0xb8};
    for (std::size_t i = 0; i < 4; ++i) {
        address[15 - i] = static_cast<std::uint8_t>(index >> (8 * i));
    }
    VornCheck check;
    check.ip = address;
    return check;
}

// One NOTIFY from each address in [first, first + count).
bool decideFrom(SpopClient& client, std::uint32_t first, std::uint32_t count) {
    std::vector<VornCheck> checks;
    for (std::uint32_t index = first; index < first + count; ++index) {
        checks.push_back(fromAddress(index));
    }
    return client.decideAll(checks);
}

struct PageFigures {
    double rate, distinct, entries, capacity, dropped;
};

PageFigures pageFigures(const RunningAgent& agent) {
    const std::string page = agent.metrics();
    auto value = [&page](const char* family) {
        return metricValue(page, std::string("vorn_spoa_") + family + "{class=\"page\"}")
            .value_or(-1);
    };
    return {value("class_rate10m"), value("class_dip10m"), value("address_table_entries"),
            value("address_table_capacity"), value("addresses_dropped_total")};
}

TEST(AddressMemory, AFullTableCountsRequestsButNotNewAddresses) {
    RunningAgent agent({"--address-memory=1"});
    ASSERT_TRUE(agent.ready());
    auto client = agent.connect();
    ASSERT_TRUE(client && client->hello());

    ASSERT_TRUE(decideFrom(*client, 0, capacity + 100));
    PageFigures full = pageFigures(agent);
    EXPECT_EQ(full.rate, capacity + 100);
    EXPECT_EQ(full.distinct, capacity);
    EXPECT_EQ(full.entries, capacity);
    EXPECT_EQ(full.capacity, capacity);
    EXPECT_EQ(full.dropped, 100);

    // Addresses it holds are refreshed, not dropped; a new one is dropped.
    ASSERT_TRUE(decideFrom(*client, 0, 10));
    ASSERT_TRUE(decideFrom(*client, capacity + 100, 1));
    PageFigures later = pageFigures(agent);
    EXPECT_EQ(later.rate, capacity + 111);
    EXPECT_EQ(later.distinct, capacity);
    EXPECT_EQ(later.dropped, 101);

    // Other classes have tables of their own.
    EXPECT_EQ(agent.metric("vorn_spoa_address_table_entries{class=\"expensive\"}"), 0);
    EXPECT_EQ(agent.metric("vorn_spoa_address_table_capacity{class=\"expensive\"}"), capacity);
    EXPECT_EQ(agent.metric("vorn_spoa_addresses_dropped_total{class=\"expensive\"}"), 0);
}

}  // namespace
}  // namespace vorn::test
