#include "decision/client_address.hpp"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "common/wyhash.hpp"

namespace vorn {
namespace {

template <std::size_t N>
std::array<std::byte, N> bytes(const std::vector<int>& values) {
    std::array<std::byte, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<std::byte>(values.at(i));
    return out;
}

struct AddressRow {
    std::string name;
    std::vector<int> address;
    std::string text;
};

void PrintTo(const AddressRow& row, std::ostream* out) {
    *out << row.text;
}

class Ipv4Text : public testing::TestWithParam<AddressRow> {};

TEST_P(Ipv4Text, IsDottedDecimal) {
    std::array<char, ipTextCapacity> buffer{};
    EXPECT_EQ(formatIpv4(bytes<4>(GetParam().address), buffer), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, Ipv4Text,
    testing::Values(AddressRow{"Documentation", {192, 0, 2, 1}, "192.0.2.1"},
                    AddressRow{"AllZeros", {0, 0, 0, 0}, "0.0.0.0"},
                    AddressRow{"MixedGroupLengths", {10, 0, 100, 9}, "10.0.100.9"},
                    AddressRow{"AllOnes", {255, 255, 255, 255}, "255.255.255.255"}),
    [](const auto& info) { return info.param.name; });

class Ipv6Text : public testing::TestWithParam<AddressRow> {};

TEST_P(Ipv6Text, IsEightGroupsUnshortened) {
    std::array<char, ipTextCapacity> buffer{};
    EXPECT_EQ(formatIpv6(bytes<16>(GetParam().address), buffer), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, Ipv6Text,
    testing::Values(
        AddressRow{"Loopback", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "0:0:0:0:0:0:0:1"},
        AddressRow{"Documentation",
                   {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0xff, 0x00, 0, 0x42, 0x83, 0x29},
                   "2001:db8:0:0:0:ff00:42:8329"},
        AddressRow{"AllOnes", std::vector<int>(16, 0xff),
                   "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}),
    [](const auto& info) { return info.param.name; });

TEST(IpHash, IsWyhashOfTheTextAndZeroForNone) {
    EXPECT_EQ(ipHash(""), 0u);
    EXPECT_EQ(ipHash("192.0.2.1"), wyhash("192.0.2.1", 0));
    EXPECT_NE(ipHash("192.0.2.1"), ipHash("192.0.2.2"));
}

}  // namespace
}  // namespace vorn
