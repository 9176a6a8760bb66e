#include "gate/client_key.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

struct KeyRow {
    std::string name;
    std::string address;
    std::string sameAs;  // empty: nothing else to compare with
    bool same = true;
};

void PrintTo(const KeyRow& row, std::ostream* out) {
    *out << row.name;
}

class ClientKeys : public testing::TestWithParam<KeyRow> {};

TEST_P(ClientKeys, GroupIpv6ByItsSlash64) {
    const KeyRow& row = GetParam();
    auto key = clientKey(row.address);
    ASSERT_TRUE(key) << row.address;
    auto other = clientKey(row.sameAs);
    ASSERT_TRUE(other) << row.sameAs;
    EXPECT_EQ(*key == *other, row.same);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ClientKeys,
    testing::Values(KeyRow{"one ipv4 address", "192.0.2.1", "192.0.2.1"},
                    KeyRow{"two ipv4 addresses", "192.0.2.1", "192.0.2.2", false},
                    KeyRow{"one /64", "2001:db8:1:2::1", "2001:db8:1:2:aaaa:bbbb:cccc:dddd"},
                    KeyRow{"two /64s", "2001:db8:1:2::1", "2001:db8:1:3::1", false},
                    KeyRow{"mapped ipv4", "::ffff:192.0.2.1", "192.0.2.1"},
                    KeyRow{"ipv4 and an ipv6 of the same bytes", "192.0.2.1", "c000:201::", false}),
    [](const testing::TestParamInfo<KeyRow>& info) { return test::testName(info.param.name); });

TEST(ClientKey, IsNothingForWhatIsNotAnAddress) {
    for (const char* text : {"", "forge.example", "192.0.2.1:80", "[::1]", "::1 ", "10.0.0.256"}) {
        EXPECT_FALSE(clientKey(text)) << text;
    }
}

}  // namespace
}  // namespace vorn
